// The large library set up for recording: written to a file and loaded, with
// an editable copy whose changes, applied through view, the recorder records
// as the editor records them.
#pragma once

#include <filesystem>
#include <memory>

#include "LargeLibrary.h"
#include "changes/history/Playback.h"
#include "changes/hub/ChangeListener.h"
#include "regen/TLBModifier.h"
#include "typelib/CustomTypeLib.h"

namespace benchlib {

// An editable copy of loaded, as the editor makes to edit it.
inline ComPtr<ITypeLib> EditableCopy(ITypeLib* loaded) {
    ComPtr<ITypeLib> unresolved;
    zephrin::TLBModifier copy;
    copy.StartingLibDirect(loaded);
    return copy.GenerateDirectFindUnresolved(unresolved);
}

struct LargeRecording {
    explicit LargeRecording(const std::filesystem::path& file) {
        RegisterFileServices();
        zephrin::InstallLibraryCopier();
        BuildLarge(U16(file.string()));
        Require(LoadTypeLibEx(U16(file.string()).c_str(), REGKIND_NONE, loaded.put()), "LoadTypeLibEx");
        live = EditableCopy(loaded.get());
        recorder.ChangeListener(hub);
        recorder.CurrentITypeLib(live.get());
        view.Attach(live.get());
    }

    ComPtr<ITypeLib> loaded;
    ComPtr<ITypeLib> live;
    std::shared_ptr<zephrin::ChangeListener> hub = std::make_shared<zephrin::ChangeListener>();
    zephrin::Playback recorder;
    zephrin::CustomTypeLib view;
};

}  // namespace benchlib
