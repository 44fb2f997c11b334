// An editing session as the editor window holds one: an editable copy of a
// library file made the one way the program makes it, changes applied through
// the hub as the editor view applies them and recorded by a history engine,
// File > Save's writing of the library, and batch mode's run of the recorded
// history on the same file.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/modCorvaneExe.h"
#include "changes/ChangesTestSupport.h"
#include "changes/history/Playback.h"
#include "changes/hub/ChangeListener.h"
#include "changes/hub/IAttributeChange.h"
#include "support/FileContents.h"
#include "support/TempDir.h"
#include "typelib/CustomTypeLib.h"

namespace sessiontest {

using namespace changestest;
namespace fs = std::filesystem;

class EditSession {
public:
    // Opens the library file at input (empty: a new library) for editing.
    explicit EditSession(fs::path folder, fs::path input = {}) : folder_(std::move(folder)), input_(std::move(input)) {
        if (input_.empty()) {
            lib_ = modCorvaneExe::CreateNewTypeLib();
        } else {
            lib_ = modCorvaneExe::OpenLibraryForEditing(modCorvaneExe::LoadLibraryFile(input_.string()).get(), false,
                                                        unresolved_);
        }
        view_.Attach(lib_.get());
        recorder_.ChangeListener(hub_);
        recorder_.CurrentITypeLib(lib_.get());
    }

    ITypeLib* Lib() { return view_.ReadView().get(); }
    CustomTypeLib& View() { return view_; }
    Playback& Recorder() { return recorder_; }

    // Applies a change as the editor view does; a refusal is raised.
    void Apply(const ChangePtr& change, ChangeTarget target) {
        change->Apply(view_, nullptr, target, hub_.get(), 0);
        if (target.ReplacementLibrary) lib_ = target.ReplacementLibrary;
    }
    // An attribute edit: the pane's values captured, changed by set, applied.
    void Edit(const std::shared_ptr<IAttributeChange>& captured, ChangeTarget target,
              const std::function<void(IAttributeChange&)>& set) {
        captured->InitFromTarget(target);
        auto change = std::dynamic_pointer_cast<IAttributeChange>(captured->Clone());
        set(*change);
        change->Apply(view_, captured.get(), target, hub_.get(), 0);
    }

    // File > Save to file in the session's folder (raises what the save raises).
    void Save(const std::string& file) {
        modCorvaneExe::SaveEditedLibrary(view_.GenerateDirect(false).get(), unresolved_.get(),
                                         ole::FromUtf8((folder_ / file).string()), false);
    }
    // The recorded history, saved as file, run in batch mode on the session's
    // input (or on newLibrary) and written to saveAs.
    void Replay(const std::string& history, const std::string& saveAs, ITypeLib* newLibrary = nullptr) {
        if (!recorder_.SaveState(ole::FromUtf8(folder_.string()), ole::FromUtf8(history)))
            RaiseError(kErrInternal, u"the history was not saved");
        ComPtr<ITypeLib> unresolved;
        const ComPtr<ITypeLib> result = modCorvaneExe::RunHistory((folder_ / history).string(), input_.string(),
                                                                  newLibrary, false, unresolved);
        modCorvaneExe::SaveEditedLibrary(result.get(), unresolved.get(), ole::FromUtf8((folder_ / saveAs).string()),
                                         false);
    }

private:
    fs::path folder_, input_;
    ComPtr<ITypeLib> lib_, unresolved_;
    std::shared_ptr<ChangeListener> hub_ = std::make_shared<ChangeListener>();
    CustomTypeLib view_;
    Playback recorder_;
};

// The functions of a type as a reader sees them: "name:invkind@oVft" each,
// in index order.
inline std::string FunctionsOf(ITypeLib* lib, const char16_t* type) {
    ComPtr<ITypeInfo> ti = TypeNamed(lib, type);
    if (!ti) return "<none>";
    // A dual's vtable half.
    ole::HREFTYPE half = 0;
    ComPtr<ITypeInfo> vtable;
    if (typelib_detail::TypeAttr(ti.get())->typekind == TKIND_DISPATCH &&
        SUCCEEDED(ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &half)) &&
        SUCCEEDED(ti->GetRefTypeInfo(half, vtable.put())))
        ti = vtable;
    std::string out;
    using typelib_detail::FuncDescHolder;
    using typelib_detail::TypeAttr;
    for (UINT i = 0; i < TypeAttr(ti.get())->cFuncs; ++i) {
        FuncDescHolder fd(ti.get(), i);
        ole::BSTR name = nullptr;
        (void)ti->GetDocumentation(fd->memid, &name, nullptr, nullptr, nullptr);
        out += (out.empty() ? "" : " ") + Utf8(typelib_detail::TakeBstr(name)) + ":" + std::to_string(fd->invkind) +
               "@" + std::to_string(fd->oVft) + "/" + std::to_string(fd->cParams);
    }
    return out;
}

inline ComPtr<ITypeLib> LoadFile(const fs::path& file) {
    ComPtr<ITypeLib> lib;
    EXPECT_OK(ole::LoadTypeLibEx(ole::FromUtf8(file.string()).c_str(), ole::REGKIND_NONE, lib.put()));
    return lib;
}

}  // namespace sessiontest
