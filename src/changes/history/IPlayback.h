// The history engine as the application shell uses it (the history window,
// its list control and batch mode).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "changes/hub/ChangeNode.h"
#include "changes/history/PlaybackCommand.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "platform/tlbinf/TliInterfaces.h"

namespace zephrin {

class ChangeListener;
class IPlaybackUIActivation;

class IPlayback {
public:
    virtual ~IPlayback() = default;

    // The PlaybackCommand bits that apply to line index holding item.
    virtual int32_t EnabledCommands(int32_t index, PlaybackItem item) = 0;
    // Runs one command. False when a run was cancelled, a step was impossible
    // or Run to Cursor was refused. Errors of the replayed changes, and
    // TYPE_E_ELEMENTNOTFOUND for a target that cannot be found, are raised.
    virtual bool ExecuteCommand(int32_t command, int32_t index, PlaybackItem item) = 0;
    // The item's text; empty for 0 and the end item.
    virtual std::u16string Text(PlaybackItem item) = 0;
    // The item's PlaybackGlyph (the end item shows the current position).
    virtual int32_t Glyph(PlaybackItem item) = 0;

    virtual std::shared_ptr<zephrin::ChangeListener> ChangeListener() = 0;
    // Leaves the old hub, empties the history and, with a hub, registers with it.
    virtual void ChangeListener(std::shared_ptr<zephrin::ChangeListener> hub) = 0;

    virtual void LoadState(std::u16string_view folder, std::u16string_view fileName) = 0;
    // False, writing nothing, for an empty history. The file is replaced as
    // a library file is: never left half written, its other names kept, and
    // not when it is the file this history was read from or last saved to
    // and another writer has saved, replaced or removed it since.
    virtual bool SaveState(std::u16string_view folder, std::u16string_view fileName) = 0;
    // Whether a save to that file is refused because of such a change.
    virtual bool FileChanged(std::u16string_view folder, std::u16string_view fileName) = 0;
    // As SaveState, over whatever the file holds now (still never when it
    // changes while it is written): the user chose the file and agreed to
    // replace it.
    virtual bool SaveStateReplacing(std::u16string_view folder, std::u16string_view fileName) = 0;

    virtual IPlaybackUIActivation* UIActivator() = 0;
    // Keeps the activator (not owned) and lets go of the attached list.
    virtual void UIActivator(IPlaybackUIActivation* activator) = 0;

    // The library the history is replayed on (laid out); null when none is attached.
    virtual ole::ComPtr<tli::TypeLibInfo> CurrentLibrary() = 0;
    virtual void CurrentLibrary(tli::TypeLibInfo* library) = 0;
    virtual ole::ComPtr<ole::ITypeLib> CurrentITypeLib() = 0;
    // Attaches the library (null: none) and empties the history.
    virtual void CurrentITypeLib(ole::ITypeLib* library) = 0;
    // Makes the history window show itself; true when a list is attached.
    virtual bool ActivateUI() = 0;
    // Attaches the library, keeping the history, and moves to its first item.
    virtual void AttachITypeLib(ole::ITypeLib* library) = 0;
    // Whether the attached library is a new one, made by the program rather
    // than read from a file. Recording on a new library first records its
    // GUID, so that the history builds the same library at every replay; a
    // replay gives a new library the GUID a history records, and leaves a
    // library read from a file its own. Attaching a library sets it to false:
    // whoever attaches a new library says so after.
    virtual bool LibraryIsNew() = 0;
    virtual void LibraryIsNew(bool isNew) = 0;
    // Empties the history, which then belongs to no file.
    virtual void ClearState() = 0;
    // The glyph pictures belong to the list control, which reloads them itself.
    virtual void ReloadGlyphs() = 0;
    virtual ole::ComPtr<ole::ITypeLib> UnresolvedITypeLib() = 0;
    // A library must carry the unresolved-types marker (error 5 otherwise);
    // null clears the companion library.
    virtual void UnresolvedITypeLib(ole::ITypeLib* library) = 0;
};

}  // namespace zephrin
