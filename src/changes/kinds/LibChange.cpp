#include "changes/kinds/LibChange.h"

#include "changes/hub/HistoryFileReader.h"
#include "changes/hub/HistoryFileWriter.h"
#include "foundation/ScopeGuard.h"
#include "foundation/modSupport.h"
#include "platform/automation/Guid.h"
#include "typelib/CustomTypeLib.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin {

bool LibChange::Apply(CustomTypeLib& library, IChange* captured, ChangeTarget& target, IChangeListener* listener,
                      int32_t flags) {
    RequireTargetKind(ChangeKind::LibChange, target);
    std::shared_ptr<LibChange> own;
    LibChange& base = Baseline(captured, target, own);
    int32_t applied = 0;
    const bool changed = ApplyFields(base, applied, [&] {
        ScopeGuard undo;
        WriteField(undo, applied, kGuidBit, guid_, base.guid_, [&](const ole::GUID& v) { library.SetGuidDirect(v); });
        WriteField(undo, applied, kMajorBit, major_, base.major_, [&](int16_t v) { library.MajorVersion(v); });
        WriteField(undo, applied, kMinorBit, minor_, base.minor_, [&](int16_t v) { library.MinorVersion(v); });
        WriteField(undo, applied, kLcidBit, lcid_, base.lcid_, [&](int32_t v) { library.LCID(v); });
        WriteField(undo, applied, kFlagsBit, flags_, base.flags_, [&](int16_t v) { library.Attributes(v); });
        undo.Dismiss();
    });
    if (!changed) return false;
    Notify(listener, ChangeKind::LibChange, target, flags);
    return true;
}

std::shared_ptr<LibChange> LibChange::NewLibraryIdentity(ChangeTarget& target) {
    auto change = New();
    change->InitFromTarget(target);
    change->mask_ = kGuidBit | kNewLibraryBit;
    return change;
}

std::u16string LibChange::Describe(ChangeTarget&) {
    if (IsNewLibraryIdentity()) return modSupport::LoadResStringFormat(678, {ole::GuidToString(guid_)});
    return modSupport::LoadResStringFormat(
        672, {Items(mask_, {{kGuidBit, 673}, {kFlagsBit, 674}, {kMajorBit, 675}, {kMinorBit, 676}, {kLcidBit, 677}})});
}

void LibChange::InitFromTarget(ChangeTarget& target) {
    if (!target.Library) RaiseError(typelib_detail::kErrObjectNotSet);
    ole::TLIBATTR* attr = nullptr;
    CheckHr(target.Library->GetLibAttr(&attr));
    if (!attr) RaiseError(ole::E_UNEXPECTED);
    guid_ = attr->guid;
    lcid_ = static_cast<int32_t>(attr->lcid);
    flags_ = static_cast<int16_t>(attr->wLibFlags);
    major_ = static_cast<int16_t>(attr->wMajorVerNum);
    minor_ = static_cast<int16_t>(attr->wMinorVerNum);
    target.Library->ReleaseTLibAttr(attr);
}

ChangePtr LibChange::Clone() { return Copy(*this); }

int32_t LibChange::DiffMask(IAttributeChange& other) {
    auto* o = dynamic_cast<LibChange*>(&other);
    if (!o) RaiseError(kErrInvalidArgument);
    int32_t mask = 0;
    if (guid_ != o->guid_) mask |= kGuidBit;
    if (major_ != o->major_) mask |= kMajorBit;
    if (minor_ != o->minor_) mask |= kMinorBit;
    if (lcid_ != o->lcid_) mask |= kLcidBit;
    if (flags_ != o->flags_) mask |= kFlagsBit;
    return mask;
}

void LibChange::Save(HistoryFileWriter& out, int32_t) {
    out.PutGuid(guid_);
    out.PutLong(lcid_);
    out.PutInteger(flags_);
    out.PutInteger(static_cast<int16_t>(mask_));
    out.PutInteger(major_);
    out.PutInteger(minor_);
}

void LibChange::Load(HistoryFileReader& in, int32_t, IHistoryReferenceCache&) {
    guid_ = in.GetGuid();
    lcid_ = in.GetLong();
    flags_ = in.GetInteger();
    mask_ = in.GetInteger();
    major_ = in.GetInteger();
    minor_ = in.GetInteger();
}

void LibChange::BindToLibrary(ole::ITypeLib*, IChange* current) {
    bound_ = true;
    auto* now = dynamic_cast<LibChange*>(current);
    if (!now) return;
    if (!(mask_ & kGuidBit)) guid_ = now->guid_;
    if (!(mask_ & kMajorBit)) major_ = now->major_;
    if (!(mask_ & kMinorBit)) minor_ = now->minor_;
    if (!(mask_ & kLcidBit)) lcid_ = now->lcid_;
    if (!(mask_ & kFlagsBit)) flags_ = now->flags_;
}

std::shared_ptr<IAttributeChange> modLibChange::NewLibChange() { return LibChange::New(); }

}  // namespace zephrin
