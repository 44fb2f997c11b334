// The type being built in the type picker, without a window: the purpose and
// constraint, the rules they give, the picked type with its pointer level,
// array style, bounds and parameter flags, and what each choice offers next.
// The picker widget turns clicks into these calls and shows the result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/TypeUsageRule.h"
#include "platform/automation/Unknown.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"
#include "typelib/CustomVarTypeInfo.h"

namespace zephrin::dialogs {

// Array style values: the array bits of the VARTYPE, 0x4000 for the extra
// pointer of SAFEARRAY**.
inline constexpr int32_t kArrayNone = 0;
inline constexpr int32_t kArraySafe = 0x2000;
inline constexpr int32_t kArraySafePtr = 0x6000;
inline constexpr int32_t kArrayFixed = 0x1000;

class TypePickerState {
public:
    TypePickerState();

    // Values outside their range raise error 5 and keep the old value. A
    // parameter usage (3, 5, 7) raises ParamUsage from 0 to 1; any other
    // usage sets it to 0.
    int32_t TypeUsage() const { return usage_; }
    void TypeUsage(int32_t value);
    int32_t TypeCompatibility() const { return compatibility_; }
    void TypeCompatibility(int32_t value);
    int32_t ParamUsage() const { return paramUsage_; }
    void ParamUsage(int32_t value);
    int32_t RedirectionType() const { return redirectionType_; }
    void RedirectionType(int32_t value);

    bool LibrarySession() const { return usage_ >= kUsageRedirectLibrary; }

    // Evaluates the rules and starts over with current (may be null) copied.
    void StartSession(ole::ITypeLib* library, tli::VarTypeInfo* current, int32_t paramFlags, bool variantOnly);
    const TypeUsageRule& Rule() const { return rule_; }

    // Picks. PickType takes an interface, dispinterface or coclass as an
    // object type (with its implied pointer) and a record as a record.
    void PickNothing();
    void PickIntrinsic(ole::VARTYPE vt);
    void PickType(tli::TypeInfo* type);
    // The library session: the library's first type stands for it; false
    // (nothing picked) when it has none.
    bool PickLibrary(ole::ITypeLib* library);
    ole::ITypeLib* PickedLibrary() const { return pickedLibrary_.get(); }
    // Whether the picked type lives in library.
    bool PickedFrom(ole::ITypeLib* library) const;

    // A picked type the rules don't offer: set by the session, cleared by
    // the next pick.
    bool Mismatch() const { return mismatch_; }
    void Mismatch(bool value) { mismatch_ = value; }

    // The offered values of each choice, and the current ones. A current
    // value not among the offered leaves its combo without selection.
    std::vector<int16_t> PointerLevels() const;
    std::vector<int32_t> ArrayStyles() const;
    std::vector<int32_t> ParamFlagChoices() const;
    int16_t PointerLevel() const;
    int32_t ArrayStyle() const;
    int32_t CurrentParamFlags() const { return paramFlags_; }
    // Parameter-flag choice value of the current flags ([in] 1, [out] 2, ...).
    int32_t ParamFlagChoice() const { return paramFlags_ & 11; }

    void SetPointerLevel(int16_t level);
    void SetArrayStyle(int32_t style);
    void SetParamFlags(int32_t choice);
    // Live only for a fixed-size array: valid text sets the bounds; false
    // (and no change) otherwise. Bounds whose array the layout can't hold
    // (more than 0x7FFFFFFF bytes, where the element's size is known) are
    // invalid text.
    bool SetBoundsText(std::u16string_view text);
    std::u16string BoundsText() const { return boundsText_; }
    bool BoundsValid() const { return boundsValid_; }
    bool BoundsLive() const { return rule_.BoundsAllowed && ArrayStyle() == kArrayFixed; }

    // The first shown choice that holds a value its list doesn't offer, or
    // the bounds when their text is invalid: what is built then differs from
    // what is shown, so the host accepts nothing.
    enum class Pair { None, ArrayStyle, PointerLevel, ParamFlags, Bounds };
    Pair MarkedPair() const;
    bool PairMarked() const { return MarkedPair() != Pair::None; }

    bool HasType() const { return !noType_ && !type_->IsNothingTypeInfo(); }
    // The built type, or null while none is picked.
    ole::ComPtr<CustomVarTypeInfo> CurrentType() const;
    // What the prototype line shows (without its leading blank).
    std::u16string PrototypeText() const;

private:
    int16_t ImpliedLevels() const;
    int32_t OfferedFlags() const;
    // Whether the parameter's own lack of direction flags is offered: where
    // [in] is, which the platform reads it as.
    bool NoFlagsOffered() const;
    // [in] alone, or no direction flags.
    bool InOnly() const { return (paramFlags_ & 11) == 1 || (paramFlags_ & 11) == 0; }
    void PointerRange(int16_t& min, int16_t& max) const;
    void AfterPick(bool wasArray, bool wasRecord, bool recordLevelRemoved, bool voidChanged);
    void DropObjectLevel(int16_t& level);
    void DropRecordLevel(int16_t& level, bool& removed);
    void SetFlagBits(int32_t bits) { paramFlags_ = (paramFlags_ & ~11) | bits; }
    // The bytes of one array element, or 0 when not known.
    uint32_t ElementSize() const;

    int32_t usage_ = kUsageInterfaceParam;
    int32_t compatibility_ = kCompatVBCallable;
    int32_t paramUsage_ = 1;
    int32_t redirectionType_ = 0;
    TypeUsageRule rule_;
    ole::ComPtr<CustomVarTypeInfo> type_;
    ole::ComPtr<ole::ITypeLib> pickedLibrary_;
    int32_t paramFlags_ = 0;
    bool noType_ = true;
    bool object_ = false;       // an object type is picked, its implied level counted
    bool objectRaised_ = false; // ...and got the least level its list offers
    bool record_ = false;       // a record is picked
    bool recordAdded_ = false;  // ...and got a pointer level for it
    bool voidAdded_ = false;    // VOID got a pointer level
    bool noFlags_ = false;      // the parameter came without direction flags
    bool mismatch_ = false;
    bool boundsValid_ = true;
    std::u16string boundsText_;
    uint32_t pointerSize_ = 4;  // of the library edited: 8 on 64-bit systems
};

}  // namespace zephrin::dialogs
