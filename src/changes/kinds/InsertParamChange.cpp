#include "changes/kinds/InsertParamChange.h"

#include <array>

#include "changes/hub/ChangeKind.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/TargetText.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/ParamData.h"

namespace zephrin {

namespace {

struct Form {
    int32_t code;
    int32_t word;  // string table entry of its word in the description
    int32_t paramFlags;
    ole::VARTYPE type;
    int16_t pointerLevel;
    bool safeArray;  // a SAFEARRAY of the type, and the ParamArray marker
    enum { kNone, kLongZero, kNull } defaultValue;
};

constexpr std::array<Form, 7> kForms = {{
    {InsertParamChange::kRequired, 661, ole::PARAMFLAG_FIN, ole::VT_I4, 0, false, Form::kNone},
    {InsertParamChange::kTypedOptional, 662, 0x31, ole::VT_I4, 0, false, Form::kLongZero},
    {InsertParamChange::kVariantOptional, 663, 0x11, ole::VT_VARIANT, 0, false, Form::kNone},
    {InsertParamChange::kParamArray, 666, 3, ole::VT_VARIANT, 0, true, Form::kNone},
    {InsertParamChange::kReturnValue, 664, 10, ole::VT_I4, 1, false, Form::kNone},
    {InsertParamChange::kLcid, 665, 5, ole::VT_I4, 0, false, Form::kNone},
    // Described with the word of the typed optional form.
    {InsertParamChange::kNullOptional, 662, 0x11, ole::VT_I4, 0, false, Form::kNull},
}};

const Form& FormOf(int32_t code) {
    for (const Form& f : kForms)
        if (f.code == code) return f;
    RaiseError(kErrInvalidArgument);
}

ParamData MakeParam(const Form& form) {
    ParamData p;
    const ole::ComPtr<CustomVarTypeInfo> type = CustomVarTypeInfo::New();
    if (form.safeArray) type->SetSafeArrayData(1);
    type->PointerLevel(form.pointerLevel);
    type->SetType(form.type, nullptr);
    p.VTInfo = type->GetVarTypeInfo();
    p.Flags = form.paramFlags;
    p.ParamArray = form.safeArray;
    if (form.defaultValue == Form::kLongZero) p.DefaultValue = ole::Variant(int32_t{0});
    if (form.defaultValue == Form::kNull) p.DefaultValue = ole::Variant::Null();
    return p;
}

}  // namespace

bool InsertParamChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                              int32_t flags) {
    RequireTargetKind(ChangeKind::InsertParamChange, target);
    const Form& form = FormOf(paramForm_);
    if (target.Kind != kTargetMember && target.Kind != kTargetParam) RaiseError(kErrInvalidArgument);
    const int32_t position = target.Kind == kTargetMember ? 0 : target.ParamIndex + 1;
    ChangeTarget copy = target;
    ParamData param = MakeParam(form);
    library.GetCustomTypeInfoByNumber(target.TypeIndex)->InsertParameter(target.MemberId, position, param, true,
                                                                         target.InvokeKind);
    newParamName_ = std::move(param.Name);
    if (listener) NotifyListener(*listener, ChangeKind::InsertParamChange, copy, *this, flags);
    return true;
}

std::u16string InsertParamChange::Describe(ChangeTarget& target) {
    std::u16string word;
    for (const Form& f : kForms)
        if (f.code == paramForm_) word = modSupport::LoadResStringById(f.word);
    return modSupport::LoadResStringFormat(target.Kind == kTargetParam ? 659 : 660,
                                           {word, modRecorder::DescribeTarget(target)});
}

ChangePtr InsertParamChange::Clone() {
    auto copy = modInsertParamChange::NewInsertParamChange(false);
    copy->paramForm_ = paramForm_;
    return copy;
}

void InsertParamChange::Save(HistoryFileWriter& out, int32_t) { out.PutLong(paramForm_); }

void InsertParamChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    paramForm_ = in.GetLong();
    newParamName_.clear();
}

namespace modInsertParamChange {
std::shared_ptr<InsertParamChange> NewInsertParamChange(bool) { return std::make_shared<InsertParamChange>(); }
}  // namespace modInsertParamChange

}  // namespace zephrin
