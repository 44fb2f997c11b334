// Inserts a parameter of one of the predefined forms into a function: as its
// first parameter (member target) or after a parameter (parameter target).
// The parameter gets a generated name.
#pragma once

#include <string>

#include "changes/hub/IChange.h"

namespace zephrin {

class InsertParamChange final : public IChange {
public:
    // The forms; the menu offers them in this order.
    static constexpr int32_t kRequired = 0x1000;
    static constexpr int32_t kTypedOptional = 0x4000;
    static constexpr int32_t kVariantOptional = 0x8000;
    static constexpr int32_t kParamArray = 0x10000;
    static constexpr int32_t kReturnValue = 0x2000;
    static constexpr int32_t kLcid = 0x20000;
    // An optional Long whose default is Null; not offered by the menu.
    static constexpr int32_t kNullOptional = 0x40000;

    int32_t ParamForm() const { return paramForm_; }
    void ParamForm(int32_t form) { paramForm_ = form; }
    // The name the inserted parameter received, from Apply until the change
    // is detached from the library.
    const std::u16string& NewParamName() const { return newParamName_; }

    // A form that is none of the above raises error 5 before anything changes.
    bool Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
               int32_t flags) override;
    // "Add <form> parameter after <target>" or "Add <form> parameter as first
    // parameter of <target>"
    std::u16string Describe(ChangeTarget& target) override;
    void InitFromTarget(ChangeTarget&) override {}
    ChangePtr Clone() override;
    bool Differs(IChange&) override { return true; }
    // ParamForm, a Long.
    void Save(HistoryFileWriter& out, int32_t version) override;
    void Load(HistoryFileReader& in, int32_t version, IHistoryReferenceCache& cache) override;
    void BindToLibrary(ole::ITypeLib*, IChange*) override {}
    void DetachFromLibrary(IHistoryReferenceCache&) override { newParamName_.clear(); }

private:
    int32_t paramForm_ = kRequired;
    std::u16string newParamName_;
};

namespace modInsertParamChange {
std::shared_ptr<InsertParamChange> NewInsertParamChange(bool forceHeap);
}  // namespace modInsertParamChange

}  // namespace zephrin
