// Changes the help data of the library, of a type or of a member: the
// description (doc string), help file, help string DLL, help context and help
// string context. The editor's help pane keeps two of these: one holding the
// target's current values (InitFromTarget) and one being edited; Apply
// receives the first as the captured object and changes only what differs.
//
// Doc string and contexts are set in place. A help file and a help string DLL
// belong to the library as a whole, so changing them regenerates the library,
// with the change serving as the regeneration's help-data provider.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "changes/hub/IChange.h"
#include "typelib/HelpData.h"

namespace zephrin {

class HelpChange final : public IChange {
public:
    // How a new help file or help string DLL of a type or member applies:
    // kScopeItem to the target alone, kScopeShared to every item that uses
    // the old one (and to the library when it is the library's), kScopeLibrary
    // to the library, which all types and members then use. For the library
    // itself, kScopeItem changes the library alone.
    static constexpr int16_t kScopeItem = 0;
    static constexpr int16_t kScopeShared = 1;
    static constexpr int16_t kScopeLibrary = 2;

    // The fields Apply found changed (HelpData bits); kept in the history.
    int32_t ChangeMask() const { return changeMask_; }
    void ChangeMask(int32_t value) { changeMask_ = value; }
    const HelpData& Help() const { return help_; }
    void DocString(std::u16string_view value) { help_.DocString = value; }
    void HelpFile(std::u16string_view value) { help_.HelpFile = value; }
    void HelpStringDll(std::u16string_view value) { help_.HelpStringDll = value; }
    void HelpContext(uint32_t value) { help_.HelpContext = value; }
    void HelpStringContext(uint32_t value) { help_.HelpStringContext = value; }
    int16_t HelpFileScope() const { return helpFileScope_; }
    void HelpFileScope(int16_t value) { helpFileScope_ = value; }
    int16_t HelpStringDllScope() const { return helpStringDllScope_; }
    void HelpStringDllScope(int16_t value) { helpStringDllScope_ = value; }

    // Targets the library, a type or a member. Without a captured object the
    // target's present values are read first. A failure leaves the library
    // as it was: a regenerated library is dropped again and the in-place
    // writes are undone. A new help file or help string DLL of a member with
    // kScopeItem raises error 5 before anything changes: the file keeps one
    // of each for the library, none for a member alone. A change being
    // replayed (between BindToLibrary and DetachFromLibrary) keeps the fields
    // it records in its mask, also those already in place.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Change help settings for <target> (<fields>)"
    std::u16string Describe(ChangeTarget& target) override;
    // Errors leave the fields as they are.
    void InitFromTarget(ChangeTarget& target) override;
    ChangePtr Clone() override;
    bool Differs(IChange& other) override;
    // Mask and both scopes (Bytes), both contexts (Longs), the three strings.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    // The fields this change does not modify come from current.
    void BindToLibrary(ole::ITypeLib* context, IChange* current) override;
    void DetachFromLibrary(IHistoryReferenceCache& cache) override;

private:
    class Provider;
    struct Plan;

    Plan PlanRegeneration(const HelpChange& base, const ChangeTarget& target, int32_t mask) const;
    ole::ComPtr<ole::ITypeLib> Regenerate(const Plan& plan, const HelpChange& base, const ChangeTarget& target) const;
    void WriteInPlace(CustomTypeLib& library, ole::ITypeLib* lib, const ChangeTarget& target, int32_t mask,
                      const HelpChange& base) const;

    int32_t changeMask_ = 0;
    HelpData help_;
    int16_t helpFileScope_ = 0;
    int16_t helpStringDllScope_ = 0;
    // Set between BindToLibrary and DetachFromLibrary: the change is replayed.
    bool bound_ = false;
};

namespace modHelpChange {
std::shared_ptr<HelpChange> NewHelpChange(bool forceHeap);
}  // namespace modHelpChange

}  // namespace zephrin
