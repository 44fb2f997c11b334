// What the five attribute kinds (library, type, implemented interface, member,
// parameter) share: the change mask, the flag word, the baseline they are
// compared with, and the texts and type descriptions of their fields.
//
// Apply compares the change with a baseline of the same kind holding the
// item's current values (the view's captured change, or in replay the object
// that the engine filled with InitFromTarget; made here from the target when
// none is given), writes only the fields that differ, and stores their bits
// as the change mask. Afterwards the baseline holds the values now in place,
// with mask 0. A change replayed from a history keeps the bits it records,
// even where this library had the value already, so that the item still
// carries its edit when the history is saved or run again; and when its
// Apply fails it keeps its recorded values too (a change being edited in the
// view goes back to the baseline's).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <typeinfo>
#include <utility>

#include "changes/hub/ChangeKind.h"
#include "changes/hub/IAttributeChange.h"
#include "changes/hub/IHistoryReferenceCache.h"
#include "foundation/ScopeGuard.h"

namespace zephrin {

class AttributeChange : public IAttributeChange {
public:
    static constexpr int32_t kFlagsBit = 0x10;
    static constexpr int32_t kTypeBit = 0x20;

    int32_t ChangeMask() override { return mask_; }
    // The flag word, widened with its sign; a set keeps the low 16 bits.
    int32_t Flags() override { return flags_; }
    void Flags(int32_t value) override {
        flags_ = static_cast<int16_t>(value);
        mask_ |= kFlagsBit;
    }
    bool FlagsSet(int32_t bits) override { return (Flags() & bits) == bits; }
    void SetFlags(int32_t bits, bool on) override { Flags(on ? (Flags() | bits) : (Flags() & ~bits)); }
    // Another kind of change, or one of the same kind with a field that differs.
    bool Differs(IChange& other) override {
        auto* o = dynamic_cast<IAttributeChange*>(&other);
        return !o || typeid(*o) != typeid(*this) || DiffMask(*o) != 0;
    }

protected:
    // The words of the mask's bits in the order given (bit, resource id),
    // joined with ", ".
    static std::u16string Items(int32_t mask, std::initializer_list<std::pair<int32_t, int32_t>> words);

    // A live description of type for lib, as the model's own kind (null stays null).
    static ole::ComPtr<CustomVarTypeInfo> LiveType(tli::VarTypeInfo* type, ole::ITypeLib* lib);
    // The description that a cache entry yields in context (null for no entry).
    static ole::ComPtr<CustomVarTypeInfo> BoundType(const std::shared_ptr<ICachedVarType>& entry,
                                                    ole::ITypeLib* context);

    // Whether two descriptions name the same type (both none, or equal in
    // VARTYPE, pointer levels, array form and user-defined type), whichever
    // objects hold them.
    static bool SameType(const ole::ComPtr<CustomVarTypeInfo>& a, const ole::ComPtr<CustomVarTypeInfo>& b);

    // The user-defined type a description names (null for none).
    static tli::TypeInfo* InterfaceOf(const ole::ComPtr<CustomVarTypeInfo>& type) {
        return type ? type->TypeInfo().get() : nullptr;
    }

    // The baseline of an Apply: captured, which must be of the same kind, or,
    // without one, a new object (kept in own) filled from the target.
    template <class Kind>
    static Kind& Baseline(IChange* captured, ChangeTarget& target, std::shared_ptr<Kind>& own) {
        if (!captured) {
            own = Kind::New();
            own->InitFromTarget(target);
            return *own;
        }
        auto* kind = dynamic_cast<Kind*>(captured);
        if (!kind) RaiseError(kErrInvalidArgument);
        return *kind;
    }

    // A field's set: the value, and its bit in the mask.
    template <class T>
    void SetField(T& field, const T& value, int32_t bit) {
        field = value;
        mask_ |= bit;
    }
    // Copies every value of from into to; to keeps its mask and replay state.
    template <class Kind>
    static void CopyValues(Kind& to, const Kind& from) {
        const int32_t mask = to.mask_;
        const bool bound = to.bound_;
        to = from;
        to.mask_ = mask;
        to.bound_ = bound;
    }
    // After an Apply: the baseline takes the change's values, with mask 0.
    template <class Kind>
    static void UpdateBaseline(Kind& baseline, const Kind& applied) {
        CopyValues(baseline, applied);
        baseline.mask_ = 0;
    }
    // A copy of the change as the history keeps it: not being replayed.
    template <class Kind>
    static std::shared_ptr<Kind> Copy(const Kind& from) {
        auto copy = std::make_shared<Kind>(from);
        copy->bound_ = false;
        return copy;
    }

    // The frame of an Apply: write() writes the fields that differ from base
    // and adds their bits to applied. A failure puts the baseline's values
    // back where ResetsOnFailure says so and is raised again; afterwards the
    // change keeps its mask and the baseline takes its values. Returns
    // whether any field was written.
    template <class Kind, class Write>
    bool ApplyFields(Kind& base, int32_t& applied, Write&& write) {
        Kind& self = static_cast<Kind&>(*this);
        try {
            write();
        } catch (...) {
            if (ResetsOnFailure()) CopyValues(self, base);
            throw;
        }
        mask_ = KeptMask(applied);
        UpdateBaseline(base, self);
        return applied != 0;
    }
    // Writes value with set when it differs from old, adds bit to applied,
    // and has undo write old back should a later step fail.
    template <class T, class Set>
    static void WriteField(ScopeGuard& undo, int32_t& applied, int32_t bit, const T& value, const T& old, Set set) {
        if (value == old) return;
        set(value);
        applied |= bit;
        undo.OnFailure([set, &old] { set(old); });
    }

    // Sends the kind's notification for this change, with a copy of target.
    void Notify(IChangeListener* listener, ChangeKind kind, const ChangeTarget& target, int32_t flags) {
        if (!listener) return;
        ChangeTarget copy = target;
        NotifyListener(*listener, kind, copy, *this, flags);
    }

    // The mask an Apply leaves on the change: the fields it wrote, and in
    // replay also those the change records.
    int32_t KeptMask(int32_t applied) const { return applied | (bound_ ? mask_ : 0); }
    // Whether a failed Apply puts the baseline's values back into the change.
    bool ResetsOnFailure() const { return !bound_; }

    int16_t flags_ = 0;
    int32_t mask_ = 0;
    // Set between BindToLibrary and DetachFromLibrary: the change is replayed.
    bool bound_ = false;
};

}  // namespace zephrin
