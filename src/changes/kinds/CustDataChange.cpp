#include "changes/kinds/CustDataChange.h"

#include <algorithm>

#include "changes/hub/ChangeKind.h"
#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "changes/hub/TargetText.h"
#include "changes/kinds/ChangeRegeneration.h"
#include "changes/kinds/ChangeSupport.h"
#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modStorableText.h"
#include "foundation/modSupport.h"
#include "platform/automation/CustData.h"
#include "regen/TLBModifier.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"
#include "typelib/modMarbrel.h"

namespace zephrin {

namespace helper = modITypeInfoHelper;
using ole::ComPtr;

namespace {

using ItemList = std::vector<CustDataItem>;

ItemList::iterator FindItem(ItemList& list, const ole::GUID& guid) {
    return std::find_if(list.begin(), list.end(), [&](const CustDataItem& i) { return i.Guid == guid; });
}
ItemList::const_iterator FindItem(const ItemList& list, const ole::GUID& guid) {
    return std::find_if(list.begin(), list.end(), [&](const CustDataItem& i) { return i.Guid == guid; });
}

// The item of a library whose custom data a target names.
struct SelectedItem {
    int32_t Kind = CustDataContext::kLibrary;
    int32_t TypeIndex = -1;
    ole::UINT Index = 0;  // implemented interface, variable or function
    ole::UINT Param = 0;
    ComPtr<ole::ITypeLib2> Library;
    ComPtr<ole::ITypeInfo2> Type;

    helper::GetCustDataFn Getter() const {
        switch (Kind) {
            case CustDataContext::kLibrary: return helper::GetLibCustData(Library.get());
            case CustDataContext::kType: return helper::GetTypeCustData(Type.get());
            case CustDataContext::kImplType: return helper::GetImplTypeCustData(Type.get(), Index);
            case CustDataContext::kVariable: return helper::GetVarCustData(Type.get(), Index);
            case CustDataContext::kFunction: return helper::GetFuncCustData(Type.get(), Index);
            default: return helper::GetParamCustData(Type.get(), Index, Param);
        }
    }
    helper::SetCustDataFn Setter() const {
        if (Kind == CustDataContext::kLibrary) {
            ComPtr<ole::ICreateTypeLib2> create = Library.As<ole::ICreateTypeLib2>();
            if (!create) RaiseError(kErrTypeMismatch);
            return helper::SetLibCustData(create.get());
        }
        ComPtr<ole::ICreateTypeInfo2> create = Type.As<ole::ICreateTypeInfo2>();
        if (!create) RaiseError(kErrTypeMismatch);
        switch (Kind) {
            case CustDataContext::kType: return helper::SetTypeCustData(create.get());
            case CustDataContext::kImplType: return helper::SetImplTypeCustData(create.get(), Index);
            case CustDataContext::kVariable: return helper::SetVarCustData(create.get(), Index);
            case CustDataContext::kFunction: return helper::SetFuncCustData(create.get(), Index);
            default: return helper::SetParamCustData(create.get(), Index, Param);
        }
    }
    ItemList Read() const {
        ole::CUSTDATA data{};
        ScopeGuard clear([&] { ole::ClearCustData(&data); });
        Getter()(data);
        ItemList items;
        for (ole::DWORD i = 0; i < data.cCustData; ++i)
            items.push_back({data.prgCustData[i].guid, ole::Variant(data.prgCustData[i].varValue)});
        return items;
    }
};

// The item the target names in lib (the target's library or one regenerated from it).
SelectedItem SelectItem(const ChangeTarget& t, ole::ITypeLib* lib) {
    SelectedItem item;
    if (!lib) RaiseError(typelib_detail::kErrObjectNotSet);
    if (t.Kind == kTargetLibrary) {
        item.Library = ComPtr<ole::ITypeLib>(lib).As<ole::ITypeLib2>();
        if (!item.Library) RaiseError(kErrTypeMismatch);
        return item;
    }
    if (t.Kind < kTargetType || t.Kind > kTargetParam) RaiseError(kErrInvalidArgument);
    if (t.TypeIndex < 0 || static_cast<ole::UINT>(t.TypeIndex) >= lib->GetTypeInfoCount())
        RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
    item.TypeIndex = t.TypeIndex;
    item.Type = helper::GetInterfaceTypeInfo2(lib, static_cast<ole::UINT>(t.TypeIndex));
    if (!item.Type) RaiseError(kErrTypeMismatch);
    switch (t.Kind) {
        case kTargetType: item.Kind = CustDataContext::kType; return item;
        case kTargetImplType: {
            if (t.MemberId < 0 || t.MemberId >= typelib_detail::TypeAttr(item.Type.get())->cImplTypes)
                RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
            item.Kind = CustDataContext::kImplType;
            item.Index = static_cast<ole::UINT>(t.MemberId);
            return item;
        }
        default: break;
    }
    // The members a dispinterface declared over an interface shows, and their
    // parameters, are those of the interface of the library that declares them.
    if (ComPtr<ole::ITypeInfo2> declarer = helper::DispatchedDeclarer(item.Type.get(), t.MemberId, lib)) {
        ole::UINT index = 0;
        ComPtr<ole::ITypeLib> holder;
        CheckHr(declarer->GetContainingTypeLib(holder.put(), &index));
        item.TypeIndex = static_cast<int32_t>(index);
        item.Type = helper::GetInterfaceTypeInfo2(lib, index);
    }
    if (t.Kind == kTargetMember && t.InvokeKind == 0) {
        const int32_t index = helper::VarIndexOfMemId(item.Type.get(), t.MemberId);
        if (index < 0) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
        item.Kind = CustDataContext::kVariable;
        item.Index = static_cast<ole::UINT>(index);
        return item;
    }
    CheckHr(item.Type->GetFuncIndexOfMemId(t.MemberId, static_cast<ole::INVOKEKIND>(t.InvokeKind), &item.Index));
    item.Kind = CustDataContext::kFunction;
    if (t.Kind == kTargetParam) {
        typelib_detail::FuncDescHolder fd(item.Type.get(), item.Index);
        if (t.ParamIndex < 0 || t.ParamIndex >= fd->cParams) RaiseError(ole::TYPE_E_ELEMENTNOTFOUND);
        item.Kind = CustDataContext::kParameter;
        item.Param = static_cast<ole::UINT>(t.ParamIndex);
    }
    return item;
}

}  // namespace

// The custom-data modifier of a removal's regeneration: drops the removed
// GUIDs from the one item the target names, the first time the engine copies it.
class CustDataChange::Modifier final : public ole::RefCounted<IModifyCustData> {
public:
    Modifier(const SelectedItem& item, const ItemList& removes) : item_(item) {
        for (const CustDataItem& r : removes) removed_.push_back(r.Guid);
    }
    ole::HRESULT QueryInterface(const ole::IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<IModifyCustData>(this, riid, ppv);
    }
    ole::HRESULT ModifyCustData(const CustDataContext& context, ole::CUSTDATA& data, bool&) override {
        if (data.cCustData == 0 || done_ || !Matches(context)) return ole::S_OK;
        done_ = true;
        // Filtered in place: the engine clears what is left as usual.
        ole::DWORD kept = 0;
        for (ole::DWORD i = 0; i < data.cCustData; ++i) {
            ole::CUSTDATAITEM& entry = data.prgCustData[i];
            if (std::find(removed_.begin(), removed_.end(), entry.guid) != removed_.end())
                ole::VariantClear(&entry.varValue);
            else
                data.prgCustData[kept++] = entry;
        }
        data.cCustData = kept;
        return ole::S_OK;
    }
    ole::HRESULT FreeCustData(ole::CUSTDATA& data) override {
        ole::ClearCustData(&data);
        return ole::S_OK;
    }

private:
    bool Matches(const CustDataContext& c) const {
        if (c.ItemKind != item_.Kind) return false;
        if (c.ItemKind == CustDataContext::kLibrary) return true;
        if (c.TypeIndex != item_.TypeIndex) return false;
        if (c.ItemKind == CustDataContext::kType) return true;
        if (static_cast<ole::UINT>(c.ItemIndex) != item_.Index) return false;
        return c.ItemKind != CustDataContext::kParameter || static_cast<ole::UINT>(c.ParamIndex) == item_.Param;
    }

    SelectedItem item_;
    std::vector<ole::GUID> removed_;
    bool done_ = false;
};

void CustDataChange::SetItem(const ole::GUID& guid, const ole::Variant& value) {
    if (auto r = FindItem(removes_, guid); r != removes_.end()) removes_.erase(r);
    auto pending = FindItem(sets_, guid);
    const auto now = FindItem(current_, guid);
    const bool unchanged = now != current_.end() && modMarbrel::VariantsEqual(now->Value.get(), value.get());
    if (unchanged) {
        if (pending != sets_.end()) sets_.erase(pending);
        return;
    }
    ole::Variant copy;
    CheckHr(ole::VariantCopyInd(copy.ptr(), value.ptr()));
    if (pending == sets_.end()) pending = sets_.insert(sets_.begin(), CustDataItem{guid, {}});
    pending->Value = std::move(copy);
}

void CustDataChange::RemoveItem(const ole::GUID& guid) {
    if (auto pending = FindItem(sets_, guid); pending != sets_.end()) {
        sets_.erase(pending);
        if (FindItem(current_, guid) == current_.end()) return;
    }
    removes_.insert(removes_.begin(), CustDataItem{guid, {}});
}

ole::Variant CustDataChange::GetItem(const ole::GUID& guid) const {
    if (auto pending = FindItem(sets_, guid); pending != sets_.end()) return pending->Value;
    if (auto now = FindItem(current_, guid); now != current_.end()) return now->Value;
    return {};
}

bool CustDataChange::Apply(CustomTypeLib& library, IChange*, ChangeTarget& target, IChangeListener* listener,
                           int32_t flags) {
    RequireTargetKind(ChangeKind::CustDataChange, target);
    if (sets_.empty() && removes_.empty()) return false;
    // Refused before anything is written or regenerated.
    for (const CustDataItem& s : sets_) modStorableText::RequireStorable(s.Value.get());
    const SelectedItem item = SelectItem(target, changes_detail::TargetLibrary(target));
    const ItemList held = item.Read();
    // The library can't take an added item away again: in place, only the
    // last write may be an addition, so that a failing write can still be
    // undone. More additions than one go into a regenerated library, as
    // removals do.
    const auto additions = std::count_if(sets_.begin(), sets_.end(),
                                         [&](const CustDataItem& s) { return FindItem(held, s.Guid) == held.end(); });
    ComPtr<ole::ITypeLib> regenerated;
    if (!removes_.empty() || additions > 1) {
        TLBModifier engine;
        engine.StartingLibDirect(target.Library.get());
        ComPtr<Modifier> modifier;
        if (!removes_.empty()) {
            modifier = ole::MakeCom<Modifier>(item, removes_);
            engine.CustDataModifier(modifier.get());
        }
        regenerated = engine.GenerateDirect(u"");
    }
    if (!sets_.empty()) {
        // Into the regenerated library, which nobody sees until it is attached;
        // in place, each write is undone should a later one fail. The values
        // the item holds are replaced first and the addition comes last (the
        // item's order comes out the same).
        const SelectedItem into = regenerated ? SelectItem(target, regenerated.get()) : item;
        const ItemList before = regenerated ? ItemList{} : held;
        const helper::SetCustDataFn set = into.Setter();
        ScopeGuard undo;
        for (const bool replacing : {true, false}) {
            for (CustDataItem& s : sets_) {
                const auto old = FindItem(before, s.Guid);
                if ((old != before.end()) != replacing) continue;
                ole::Variant value = s.Value;
                set(s.Guid, *value.ptr());
                if (replacing)
                    undo.OnFailure([&set, old] {
                        ole::Variant previous = old->Value;
                        set(old->Guid, *previous.ptr());
                    });
            }
        }
        undo.Dismiss();
    }
    if (regenerated) {
        changes_detail::AdoptRegenerated(library, target, regenerated.get());
    }
    ChangeTarget copy = target;
    if (listener) NotifyListener(*listener, ChangeKind::CustDataChange, copy, *this, flags);
    return true;
}

std::u16string CustDataChange::Describe(ChangeTarget& target) {
    return modSupport::LoadResStringFormat(643, {modRecorder::DescribeTarget(target)});
}

void CustDataChange::InitFromTarget(ChangeTarget& target) {
    current_ = SelectItem(target, changes_detail::TargetLibrary(target)).Read();
}

ChangePtr CustDataChange::Clone() {
    auto copy = modCustDataChange::NewCustDataChange(false);
    copy->sets_ = sets_;
    copy->removes_ = removes_;
    return copy;
}

void CustDataChange::Save(HistoryFileWriter& out, int32_t) {
    if (sets_.size() > 0x7FFF || removes_.size() > 0x7FFF) RaiseError(kErrOverflow);
    out.PutInteger(static_cast<int16_t>(removes_.size()));
    out.PutInteger(static_cast<int16_t>(sets_.size()));
    for (const CustDataItem& r : removes_) out.PutGuid(r.Guid);
    for (const CustDataItem& s : sets_) {
        out.PutGuid(s.Guid);
        modMarbrel::WriteVariant(out, s.Value.get());
    }
}

void CustDataChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    const int16_t removeCount = in.GetIntegerCount(16);
    const int16_t setCount = in.GetIntegerCount(20);
    ItemList removes, sets;
    for (int16_t i = 0; i < removeCount; ++i) removes.push_back({in.GetGuid(), {}});
    for (int16_t i = 0; i < setCount; ++i) {
        CustDataItem s{in.GetGuid(), {}};
        s.Value = modMarbrel::ReadVariant(in);
        sets.push_back(std::move(s));
    }
    removes_ = std::move(removes);
    sets_ = std::move(sets);
    current_.clear();
}

namespace modCustDataChange {
std::shared_ptr<CustDataChange> NewCustDataChange(bool) { return std::make_shared<CustDataChange>(); }
}  // namespace modCustDataChange

}  // namespace zephrin
