// Replay: the run loop of the history engine, the finding of each item's
// target in the library being replayed on, and the Select Target command.
#include <algorithm>
#include <cwctype>
#include <exception>
#include <vector>

#include "changes/history/INameChooser.h"
#include "changes/history/Playback.h"
#include "changes/history/modChooseName.h"
#include "changes/hub/IAttributeChange.h"
#include "changes/hub/TargetText.h"
#include "changes/kinds/AddTypeChange.h"
#include "changes/kinds/LibChange.h"
#include "changes/kinds/TypeChange.h"
#include "foundation/ErrorRecord.h"
#include "foundation/ScopeGuard.h"
#include "typelib/NodeTypeKind.h"
#include "typelib/TypeLibSupport.h"
#include "typelib/modITypeInfoHelper.h"

namespace zephrin {

using ole::ComPtr;
using typelib_detail::FuncDescHolder;
using typelib_detail::TypeAttr;

namespace {

constexpr int32_t kErrObjectNotSet = 91;

[[noreturn]] void RaiseNotFound() { RaiseError(ole::TYPE_E_ELEMENTNOTFOUND); }

// Names of a library compare without regard to case.
bool SameName(std::u16string_view a, std::u16string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
        return std::towlower(static_cast<wint_t>(x)) == std::towlower(static_cast<wint_t>(y));
    });
}

ComPtr<ole::ITypeInfo> BindTypeName(ole::ITypeLib* library, const std::u16string& name) {
    ComPtr<ole::ITypeComp> comp;
    CheckHr(library->GetTypeComp(comp.put()));
    std::u16string text = name;
    ComPtr<ole::ITypeInfo> type;
    ComPtr<ole::ITypeComp> typeComp;
    if (ole::FAILED(comp->BindType(text.data(), 0, type.put(), typeComp.put()))) return nullptr;
    return type;
}

// The index of the function memberId of one of the invoke kinds in the set
// invokeKind: a change may name the accessors of a property together (get
// and put, 6), and then the first of them that the type has, in the order
// function, get, put, putref, is the one found.
ole::HRESULT FuncIndexOfKinds(ole::ITypeInfo2* type, ole::MEMBERID memberId, int32_t invokeKind, ole::UINT& index) {
    ole::HRESULT hr = ole::TYPE_E_ELEMENTNOTFOUND;
    for (ole::INVOKEKIND kind : {ole::INVOKE_FUNC, ole::INVOKE_PROPERTYGET, ole::INVOKE_PROPERTYPUT,
                                 ole::INVOKE_PROPERTYPUTREF}) {
        if (!(invokeKind & kind)) continue;
        hr = type->GetFuncIndexOfMemId(memberId, kind, &index);
        if (ole::SUCCEEDED(hr)) return hr;
    }
    return hr;
}

// The MEMBERID of a member named name (-1 when there is none); index receives
// its place among the functions of invokeKind (variables for 0), or -1 when it
// has no member of that invoke kind. Errors of the lookups count as not found.
ole::MEMBERID LookUpMember(ole::ITypeInfo* type, const std::u16string& name, int32_t invokeKind, int32_t& index) {
    index = -1;
    ole::MEMBERID id = ole::MEMBERID_NIL;
    std::u16string text = name;
    ole::LPOLESTR names[] = {text.data()};
    if (ole::FAILED(type->GetIDsOfNames(names, 1, &id)) || id == ole::MEMBERID_NIL) return ole::MEMBERID_NIL;
    const ComPtr<ole::ITypeInfo2> type2 = ComPtr<ole::ITypeInfo>(type).As<ole::ITypeInfo2>();
    ole::UINT found = 0;
    const ole::HRESULT hr = !type2 ? ole::E_NOINTERFACE
                            : invokeKind == 0 ? type2->GetVarIndexOfMemId(id, &found)
                                              : FuncIndexOfKinds(type2.get(), id, invokeKind, found);
    if (ole::SUCCEEDED(hr)) index = static_cast<int32_t>(found);
    return id;
}

// The function memberId/invokeKind of type.
ole::UINT FunctionIndex(ole::ITypeInfo* type, ole::MEMBERID memberId, int32_t invokeKind) {
    const ComPtr<ole::ITypeInfo2> type2 = ComPtr<ole::ITypeInfo>(type).As<ole::ITypeInfo2>();
    if (!type2) RaiseError(ole::E_NOINTERFACE);
    ole::UINT index = 0;
    CheckHr(FuncIndexOfKinds(type2.get(), memberId, invokeKind, index));
    return index;
}

// The position of the parameter of that role, or TYPE_E_ELEMENTNOTFOUND.
int16_t SpecialParamIndex(ole::ITypeInfo* type, ole::MEMBERID memberId, int32_t invokeKind, int16_t role) {
    const FuncDescHolder func(type, FunctionIndex(type, memberId, invokeKind));
    const int32_t last = func->cParams - 1;
    if (last < 0) RaiseNotFound();
    const auto flagsAt = [&](int32_t i) { return func->lprgelemdescParam[i].paramdesc.wParamFlags; };
    if (role == kParamRightHandSide) return static_cast<int16_t>(last);
    if (role == kParamReturnValue) {
        if (!(flagsAt(last) & ole::PARAMFLAG_FRETVAL)) RaiseNotFound();
        return static_cast<int16_t>(last);
    }
    for (int32_t i = last; i >= 0; --i)
        if (flagsAt(i) & ole::PARAMFLAG_FLCID) return static_cast<int16_t>(i);
    RaiseNotFound();
}

// The number of parameters the function memberId/invokeKind has, or, for a
// property accessor, the most any accessor of the property has: the type
// reads a property's names from the accessor it stores first, which may be a
// put whose value has a name where the Get, returning the value itself, has
// no parameter, and a parameter is known by that name with the kind of any
// accessor. Raises when there is no function memberId/invokeKind.
int32_t ParamCount(ole::ITypeInfo* type, ole::MEMBERID memberId, int32_t invokeKind) {
    int32_t count = FuncDescHolder(type, FunctionIndex(type, memberId, invokeKind))->cParams;
    if (invokeKind & ole::INVOKE_FUNC) return count;
    const ComPtr<ole::ITypeInfo2> type2 = ComPtr<ole::ITypeInfo>(type).As<ole::ITypeInfo2>();
    for (ole::INVOKEKIND kind : {ole::INVOKE_PROPERTYGET, ole::INVOKE_PROPERTYPUT, ole::INVOKE_PROPERTYPUTREF}) {
        ole::UINT index = 0;
        if (type2 && ole::SUCCEEDED(type2->GetFuncIndexOfMemId(memberId, kind, &index)))
            count = std::max<int32_t>(count, FuncDescHolder(type, index)->cParams);
    }
    return count;
}

// The position of the parameter named name, or -1 (errors count as not found).
int32_t NamedParamIndex(ole::ITypeInfo* type, ole::MEMBERID memberId, int32_t invokeKind, const std::u16string& name) {
    try {
        const ole::UINT count = static_cast<ole::UINT>(ParamCount(type, memberId, invokeKind)) + 1;
        std::vector<ole::BSTR> names(count, nullptr);
        ole::UINT got = 0;
        const ole::HRESULT hr = type->GetNames(memberId, names.data(), count, &got);
        ScopeGuard freeNames([&] {
            for (ole::BSTR b : names) ole::SysFreeString(b);
        });
        if (ole::FAILED(hr)) return -1;
        for (ole::UINT i = 1; i < got && i < count; ++i)
            if (SameName(ole::BstrView(names[i]), name)) return static_cast<int32_t>(i - 1);
    } catch (const ErrorRecord&) {
    }
    return -1;
}

// An unnamed parameter is known only by its position: index when the function
// has a parameter there, else -1 (errors count as not found).
int32_t UnnamedParamIndex(ole::ITypeInfo* type, ole::MEMBERID memberId, int32_t invokeKind, int16_t index) {
    try {
        if (index >= 0 && index < ParamCount(type, memberId, invokeKind)) return index;
    } catch (const ErrorRecord&) {
    }
    return -1;
}

// Clears the hub's marks when a replayed change is done with, however it ended.
class ClearMarksAfterApply {
public:
    explicit ClearMarksAfterApply(ChangeListener* hub) : hub_(hub) {}
    ~ClearMarksAfterApply() {
        if (hub_) hub_->ClearListenerMarks();
    }
    ClearMarksAfterApply(const ClearMarksAfterApply&) = delete;
    ClearMarksAfterApply& operator=(const ClearMarksAfterApply&) = delete;

private:
    ChangeListener* hub_;
};

// The item after an add that gives the added type its GUID, as the engine
// records it after every add of a type with a GUID of its own: when a run goes
// on through both, the add gives the type that GUID at once instead of a
// fresh one that the item would replace.
void GiveRecordedGuid(IChange& change, const ChangeNode& next) {
    auto* add = dynamic_cast<AddTypeChange*>(&change);
    auto* guid = dynamic_cast<IAttributeChange*>(next.Change.get());
    if (!add || !guid || next.KindCode() != Code(ChangeKind::TypeChange) || next.TargetKind() != kTargetType ||
        next.TypeKind != add->TypeKind() || guid->ChangeMask() != TypeChange::kGuidBit)
        return;
    add->GiveGuidOnce(next.TypeName, guid->Guid());
}

}  // namespace

bool Playback::RunTo(int32_t mode, NodeIt stop) {
    // Below level 2 the views keep their panes as they were: once a run has
    // applied items, they show what the library now holds.
    const bool refreshAfter = mode < 2;
    executedCount_ = 0;
    NodeIt loop = current_;
    ChangePtr bound;  // a change bound to the library, detached again whatever happens
    bool cancelled = false;
    try {
        while (loop != stop) {
            ChangeNode& item = *loop;
            ChangeTarget target;
            bool intervened = false;
            if (!ResolveTarget(item, target, intervened)) {
                cancelled = true;
                break;
            }
            // The target the user chose is the item's from now on: should its
            // change fail, the item still reads as naming it, and the window
            // hears of it, as after a change applied.
            ScopeGuard retargeted;
            if (intervened) {
                retargeted.OnFailure([&] {
                    if (ui_) ui_->OnInterventionRequired();
                });
                retargeted.OnFailure([&] { item.Text = item.Change->Describe(target); });
            }
            const uint8_t code = item.KindCode();
            ChangePtr captured;
            if (CapturesTarget(code) && (captured = factory_(code))) captured->InitFromTarget(target);
            const ChangePtr change = item.Change;
            if (!change) RaiseError(kErrObjectNotSet);
            const NodeIt next = std::next(loop);
            if (next != items_.end()) {
                if (next == stop) {
                    mode = std::min(mode + 1, 2);
                } else if (next->Flags & ChangeNode::kBreakpoint) {
                    stop = next;
                    mode = std::min(mode + 1, 2);
                }
            }
            if (!IsStatelessKind(code)) {
                bound = change;
                change->BindToLibrary(currentITypeLib_.get(), captured.get());
            }
            std::exception_ptr listenerError;
            {
                // The engine must not record its own replay, and a change that
                // sends no notification must not leave the mark for the next edit.
                ClearMarksAfterApply clearMarks(hub_.get());
                bool marked = false;
                if (hub_) {
                    hub_->SkipListenerOnce(node_);
                    marked = hub_->SkipsOnce(node_);
                }
                try {
                    if (next != items_.end() && next != stop) GiveRecordedGuid(*change, *next);
                    // A library read from a file keeps its own GUID: the GUID
                    // of the new library a history was recorded on is passed over.
                    const auto* identity = dynamic_cast<const LibChange*>(change.get());
                    if (libraryIsNew_ || !identity || !identity->IsNewLibraryIdentity())
                        change->Apply(Library(), captured.get(), target, hub_.get(), mode);
                } catch (...) {
                    // Once the change's notification has gone round (it used up the
                    // skip mark), the change is applied: a listener's error then
                    // leaves the item applied, and is raised when the item is done.
                    if (!marked || hub_->SkipsOnce(node_)) throw;
                    listenerError = std::current_exception();
                }
            }
            if (intervened) item.Text = change->Describe(target);
            if (bound) {
                Detach(*bound);
                bound.reset();
            }
            TrackTargetLibrary(target);
            if (intervened && ui_) ui_->OnInterventionRequired();
            retargeted.Dismiss();
            ++executedCount_;
            loop = next;
            if (listenerError) std::rethrow_exception(listenerError);
        }
        const bool applied = executedCount_ != 0;
        SetCurrentItem(loop, currentIndex_ + executedCount_);
        executedCount_ = 0;
        if (ui_) ui_->ListIndex(currentIndex_);
        if (applied && refreshAfter) RefreshViews();
        return cancelled;
    } catch (...) {
        ErrorRecord error = CurrentErrorRecord();
        if (bound) {
            try {
                Detach(*bound);  // so the change stays usable in the history
            } catch (...) {
            }
        }
        bool runPending = false;
        try {
            ActivateUserInterface(runPending);
        } catch (...) {
        }
        const bool dropped = ui_ && runPending;
        if (executedCount_ != 0) {
            SetCurrentItem(loop, currentIndex_ + executedCount_);
            if (ui_) ui_->ListIndex(currentIndex_);
            if (refreshAfter) {
                try {
                    RefreshViews();
                } catch (...) {
                    // The run's own error is the one reported.
                }
            }
        }
        executedCount_ = 0;
        if (!dropped) throw error;
        return true;
    }
}

bool Playback::PrepareToAsk(ChangeNode& item, INameChooser*& chooser) {
    bool runPending = false;
    if (!ActivateUserInterface(runPending)) RaiseNotFound();
    RefreshSelection(item);
    if (runPending) return false;
    chooser = ui_ ? ui_->UIOwner() : nullptr;
    if (!chooser) RaiseNotFound();
    return true;
}

bool Playback::ResolveTarget(ChangeNode& item, ChangeTarget& t, bool& intervened) {
    intervened = false;
    if (!currentITypeLib_) RaiseError(kErrObjectNotSet);
    ole::ITypeLib* library = currentITypeLib_.get();
    t.Library = currentITypeLib_;
    t.UnresolvedLibrary = unresolved_;
    t.Kind = item.TargetKind();
    t.TypeName = item.TypeName;
    if (t.Kind == kTargetLibrary) return true;
    if (t.Kind < kTargetType || t.Kind > kTargetParam) RaiseError(kErrInvalidArgument);
    INameChooser* chooser = nullptr;
    // The names are looked up and chosen on a copy, which the item takes only
    // once the whole target is found: a choice cancelled half-way (a type
    // chosen, then no member) leaves the item as it was.
    ChangeNode names = item;
    const auto found = [&] {
        item.TypeName = std::move(names.TypeName);
        item.MemberName = std::move(names.MemberName);
        item.ParamName = std::move(names.ParamName);
        item.IndexByte = names.IndexByte;
        item.ParamIndex = names.ParamIndex;
        return true;
    };

    // What is being looked for: a target that can't be found names it.
    int32_t seeking = kTargetType;
    try {
        // The type: by name, and of the recorded kind.
        t.TypeKind = names.TypeKind;
        ComPtr<ole::ITypeInfo> type = BindTypeName(library, t.TypeName);
        if (type && !modChooseName::HasRecordedKind(type.get(), t.TypeKind)) type = nullptr;
        if (!type) {
            if (!PrepareToAsk(item, chooser)) return false;
            if (!modChooseName::ChooseType(*chooser, library, t.TypeKind, names.TypeName)) RaiseNotFound();
            t.TypeName = names.TypeName;
            intervened = true;
            type = BindTypeName(library, t.TypeName);
            if (!type) RaiseNotFound();
        }
        ComPtr<ole::ITypeLib> containing;
        ole::UINT typeIndex = 0;
        CheckHr(type->GetContainingTypeLib(containing.put(), &typeIndex));
        t.TypeIndex = static_cast<int32_t>(typeIndex);
        // The kinds act on the kind the editor shows, whichever kind the item recorded.
        try {
            t.TypeKind = NodeTypeKind(type.get());
        } catch (const ErrorRecord&) {
        }
        if (t.Kind == kTargetType) return found();
        // Members live in the interface half of a dual.
        modITypeInfoHelper::ResolveDualInterface(type);
        seeking = t.Kind == kTargetImplType ? kTargetImplType : kTargetMember;

        if (t.Kind == kTargetImplType) {
            const int32_t count = TypeAttr(type.get())->cImplTypes;
            const auto nameAt = [&](int32_t i) {
                return modITypeInfoHelper::GetImplTypeName(type.get(), static_cast<ole::UINT>(i));
            };
            int32_t index = names.IndexByte;
            t.MemberId = index;
            t.MemberName = names.MemberName;
            if (index < count && SameName(nameAt(index), names.MemberName)) return found();
            index = -1;
            for (int32_t i = 0; i < count && index < 0; ++i)
                if (SameName(nameAt(i), names.MemberName)) index = i;
            if (index >= 0) {
                names.MemberName = nameAt(index);
            } else {
                if (count == 0) RaiseNotFound();
                if (!PrepareToAsk(item, chooser)) return false;
                if (!modChooseName::ChooseImplementedType(*chooser, type.get(), count, names.MemberName, index))
                    RaiseNotFound();
            }
            names.IndexByte = static_cast<uint8_t>(index);
            t.MemberId = index;
            t.MemberName = names.MemberName;
            intervened = true;
            return found();
        }

        // The member: by name, with the recorded invoke kind.
        t.MemberName = names.MemberName;
        t.InvokeKind = names.IndexByte;
        int32_t memberIndex = -1;
        t.MemberId = LookUpMember(type.get(), t.MemberName, t.InvokeKind, memberIndex);
        if (t.MemberId == ole::MEMBERID_NIL || memberIndex < 0) {
            if (!PrepareToAsk(item, chooser)) return false;
            if (!modChooseName::ChooseMember(*chooser, type.get(), t.TypeKind, t.InvokeKind, names.MemberName, t.MemberId))
                RaiseNotFound();
            t.MemberName = names.MemberName;
            intervened = true;
        }
        if (t.Kind == kTargetMember) return found();
        seeking = kTargetParam;

        // The parameter: by its role, by name, or, unnamed, by its position.
        t.SpecialParam = names.SpecialParam();
        if (t.SpecialParam != kParamNamed) {
            names.ParamIndex = SpecialParamIndex(type.get(), t.MemberId, t.InvokeKind, t.SpecialParam);
        } else {
            int32_t index = names.ParamName.empty()
                                ? UnnamedParamIndex(type.get(), t.MemberId, t.InvokeKind, names.ParamIndex)
                                : NamedParamIndex(type.get(), t.MemberId, t.InvokeKind, names.ParamName);
            if (index < 0) {
                if (!PrepareToAsk(item, chooser)) return false;
                if (!modChooseName::ChooseParameter(*chooser, type.get(), t.MemberId, t.InvokeKind, names.ParamName, index))
                    RaiseNotFound();
                intervened = true;
            }
            names.ParamIndex = static_cast<int16_t>(index);
        }
        t.ParamIndex = names.ParamIndex;
        t.ParamName = names.ParamName;
        return found();
    } catch (ErrorRecord& e) {
        if (e.Number != ole::TYPE_E_ELEMENTNOTFOUND || !e.Description.empty()) throw;
        ChangeTarget missing;
        missing.Kind = seeking;
        missing.TypeKind = item.TypeKind;
        missing.TypeName = item.TypeName;
        missing.MemberName = item.MemberName;
        missing.InvokeKind = item.IndexByte;
        missing.SpecialParam = item.SpecialParam();
        missing.ParamName = item.ParamName;
        e.Description = u"Element not found: " + modRecorder::DescribeTarget(missing) + u".";
        throw;
    }
}

void Playback::RefreshViews() {
    // Untagged, the engines on the hub (this one too) leave their lists alone.
    if (hub_) hub_->RefreshCurrentSelection(0);
}

void Playback::RefreshSelection(ChangeNode& item) {
    if (hub_) {
        hub_->TagListenerOnce(node_, item.Id);
        hub_->RefreshCurrentSelection(0);
    } else {
        RefreshCurrentSelection(item.Id);
    }
}

bool Playback::SelectTargetOfCurrent() {
    if (!hub_ || current_ == items_.end()) return true;
    ChangeNode& item = *current_;
    ChangeTarget target;
    bool intervened = false;
    try {
        if (!ResolveTarget(item, target, intervened)) return false;
    } catch (...) {
        ErrorRecord error = CurrentErrorRecord();
        bool runPending = false;
        try {
            ActivateUserInterface(runPending);
        } catch (...) {
        }
        if (ui_ && runPending) return false;
        throw error;
    }
    // The item names the target the user chose from now on: should showing
    // or describing it fail, the item still reads as naming it, and the
    // window hears of it.
    ScopeGuard retargeted;
    if (intervened) {
        retargeted.OnFailure([&] {
            if (!ui_) return;
            ui_->OnInterventionRequired();
            ui_->RefreshAll();
        });
        retargeted.OnFailure([&] { item.Text = item.Change->Describe(target); });
    }
    hub_->SelectTarget(target, 0);
    if (!intervened) return true;
    // The item names a new target: describe it anew.
    const ChangePtr change = item.Change;
    const uint8_t code = item.KindCode();
    if (IsStatelessKind(code)) {
        item.Text = change->Describe(target);
    } else {
        ChangePtr captured;
        if (CapturesTarget(code) && (captured = factory_(code))) captured->InitFromTarget(target);
        change->BindToLibrary(currentITypeLib_.get(), captured.get());
        ScopeGuard detach([&] { Detach(*change); });
        item.Text = change->Describe(target);
        detach.Dismiss();
        Detach(*change);
    }
    retargeted.Dismiss();
    if (ui_) {
        ui_->OnInterventionRequired();
        ui_->RefreshAll();
    }
    return true;
}

}  // namespace zephrin
