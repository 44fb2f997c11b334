#include "changes/kinds/AddImplTypeChange.h"

#include "changes/hub/ChangeKind.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/TargetText.h"
#include "changes/kinds/ChangeSupport.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

using changes_detail::NamedType;

void AddImplTypeChange::VarTypeInfo(tli::VarTypeInfo* type) {
    varTypeInfo_ = ole::ComPtr<tli::VarTypeInfo>(type);
    cachedType_ = nullptr;
}

bool AddImplTypeChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                              int32_t flags) {
    RequireTargetKind(ChangeKind::AddImplTypeChange, target);
    const ole::ComPtr<tli::TypeInfo> type = NamedType(varTypeInfo_.get());
    target.MemberId = library.GetCustomTypeInfoByNumber(target.TypeIndex)->AddImplType(type.get(), 0);
    if (listener) {
        ChangeTarget copy = target;
        NotifyListener(*listener, ChangeKind::AddImplTypeChange, copy, *this, flags);
    }
    return true;
}

std::u16string AddImplTypeChange::Describe(ChangeTarget& target) {
    std::u16string name;
    if (varTypeInfo_) {
        const ole::ComPtr<tli::TypeInfo> type = NamedType(varTypeInfo_.get());
        CheckHr(type->get_Name(&name));
        bool external = false;
        CheckHr(varTypeInfo_->get_IsExternalType(&external));
        ole::ComPtr<tli::TypeLibInfo> lib;
        if (external && ole::SUCCEEDED(varTypeInfo_->get_TypeLibInfoExternal(lib.put())) && lib) {
            std::u16string libName;
            CheckHr(lib->get_Name(&libName));
            name = libName + u"." + name;
        }
    }
    return modSupport::LoadResStringFormat(620, {name, modRecorder::DescribeTarget(target)});
}

ChangePtr AddImplTypeChange::Clone() {
    auto copy = modAddImplTypeChange::NewAddImplTypeChange(false);
    copy->VarTypeInfo(varTypeInfo_.get());
    return copy;
}

void AddImplTypeChange::Save(HistoryFileWriter& out, int32_t) { out.PutTypeOrdinal(cachedType_); }

void AddImplTypeChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    varTypeInfo_ = nullptr;
    cachedType_ = in.GetTypeOrdinal();
}

void AddImplTypeChange::BindToLibrary(ole::ITypeLib* context, IChange*) {
    if (cachedType_) varTypeInfo_ = cachedType_->GetVarTypeInfo(context);
}

void AddImplTypeChange::DetachFromLibrary(IHistoryReferenceCache& cache) {
    if (varTypeInfo_ && !cache.Holds(cachedType_.get())) cachedType_ = cache.AddVarType(varTypeInfo_.get());
    varTypeInfo_ = nullptr;
}

namespace modAddImplTypeChange {
std::shared_ptr<AddImplTypeChange> NewAddImplTypeChange(bool) { return std::make_shared<AddImplTypeChange>(); }
}  // namespace modAddImplTypeChange

}  // namespace zephrin
