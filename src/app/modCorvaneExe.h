// The program's entry and its work without windows: the command line, batch
// mode (running a Library Edit History against a library and saving the
// result), the help-data run (rewriting a library's help data through an
// IModifyHelpData provider), message reporting, and the file tests the shell
// uses (standalone type library files, history file headers, paths).
//
// Nothing here needs a display: showing a message box and opening the editor
// window are services the executable may hand in (Shell); without them
// messages go to standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/CommandLine.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modCOMDllLoader.h"
#include "platform/tlbengine/TypeLibInterfaces.h"
#include "regen/IModifyHelpData.h"

namespace zephrin {
class IPlaybackUIActivation;
class Playback;
}

namespace zephrin::modCorvaneExe {

// Message box styles.
inline constexpr int32_t kStyleInformation = 64;
inline constexpr int32_t kStyleExclamation = 48;

// Exit codes of the program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUsage = 1;    // a usage message (170 to 173)
inline constexpr int kExitFailure = 2;  // a run-time error

// A history window, as the program's entry reaches it; the executable makes
// one when it can show windows.
class IHistoryWindow {
public:
    virtual ~IHistoryWindow() = default;
    // RunHistory with this window as the engine's activator. With activate the
    // history is loaded and shown, not run. Null when the window shows instead
    // of a result: with activate, and when the run stopped (the window then
    // runs the history again once it is shown, and reports what stops it).
    virtual ole::ComPtr<ole::ITypeLib> RunHistory(const std::string& historyPath, const std::string& libraryPath,
                                                  ole::ITypeLib* library, bool activate, bool dontBackUpHelpString,
                                                  ole::ComPtr<ole::ITypeLib>& unresolvedTypes) = 0;
    // After an error that followed a run to the end: shows the history, at
    // its end. Nothing when the run did not reach its end.
    virtual void ShowAfterBatchError() = 0;
    // Before RunHistory: the -saveas file, or the file a batch run saves its
    // result to. The main window that the history window opens (with
    // activate, or for a batch run that stopped or failed) then holds its
    // library as not yet saved there, and saves it there.
    virtual void BatchDestination(const std::string& path) = 0;
};

// What the executable provides around the work.
struct Shell {
    // Shows a message box with the application title; false when it can't
    // (no display), and the text then goes to standard error. Null: no display.
    std::function<bool(std::u16string_view text, int32_t style)> MessageBox;
    // Standard output is a terminal: help text is printed rather than shown.
    bool OutputIsTerminal = false;
    // The program's name as it was started, for the help text.
    std::string ProgramName;
    // A new history window (owned by the executable), for /activate and for a
    // batch run that is not quiet; null when none can be shown.
    std::function<IHistoryWindow*()> NewHistoryWindow;
    // Runs until the program's last window has closed; returns at once when
    // none is showing.
    std::function<void()> RunWindows;
    // Opens the editor window on the library at libraryPath (empty: none), or
    // with newLibrary on a new library, unnamed (libraryPath is then empty),
    // and runs the windows until the last one closes; returns the exit code.
    // Null: the program has no windows.
    std::function<int(const std::string& libraryPath, bool newLibrary, bool dontBackUpHelpString)> OpenEditor;
};

// Runs the program for the arguments that follow its own name and returns
// its exit code. No error leaves it: every error is reported.
int Main(const std::vector<std::string>& args, const Shell& shell);

// A new, empty library: "NewLib", a fresh GUID, LCID 0, version 1.0.
ole::ComPtr<ole::ITypeLib> CreateNewTypeLib();

// Reports a message: a message box (standard error without a display) or, in
// quiet mode, two lines appended to the message file ("************* " and
// the date and time, then the message, each ended by CR LF). Quiet mode
// without a message file, or a message file that can't be written, writes to
// standard error instead.
void ReportMessage(std::u16string_view message, int32_t style, bool quiet, const std::string& messageFilePath,
                   const Shell& shell);

// ---- Batch mode and the help-data provider ----

// Makes the help-data provider the text names: "{CLSID}" (a registered
// class), "path, {CLSID}" or "path, ClassName" (a class of the shared object
// at path, the name looked up in its type library), or else a ProgID. Null
// when it can't be made or doesn't offer IModifyHelpData; then nothing is left
// loaded that can go, and failure (when given) receives the reason. module
// receives the shared object loaded by path, which the caller unloads after
// releasing every holder of the provider.
ole::ComPtr<IModifyHelpData> CreateHelpDataProvider(std::u16string_view text, modCOMDllLoader::ModuleHandle& module,
                                                    ErrorRecord* failure = nullptr);

// How RunHistory shows its history. Without an activator no window is ever
// shown.
struct HistoryRunOptions {
    // The window the engine shows itself through (it is used once).
    IPlaybackUIActivation* Activator = nullptr;
    // Load the history and show it through the activator, without running it.
    bool Activate = false;
    // Receives the engine as soon as it is made, so that it outlives the run.
    std::shared_ptr<Playback>* Engine = nullptr;
};

// Runs the whole history at historyPath against library, a new library (as
// CreateNewTypeLib makes it, which takes the GUID the history records for
// it), or (null) against an editable copy of the file at libraryPath in
// which unresolvable imported types point into unresolvedTypes. Returns the
// edited library and sets unresolvedTypes to the companion library it may
// use. Without an activator, a run that stops before its end raises an
// error, whose description begins with the number and text of the item it
// stopped at; with one, the engine has shown its window, and the result is
// null, as it is with Activate.
ole::ComPtr<ole::ITypeLib> RunHistory(const std::string& historyPath, const std::string& libraryPath,
                                      ole::ITypeLib* library, bool dontBackUpHelpString,
                                      ole::ComPtr<ole::ITypeLib>& unresolvedTypes,
                                      const HistoryRunOptions& options = {});

// Puts the number and text of the item engine stopped at (its current item)
// before the error's text, as a run reports it.
void NameStoppedItem(Playback& engine, ErrorRecord& error);

// ---- Opening a library for editing, and saving it ----
// Loads the library file at path (also "stdole2.tlb" and "file\N"); an error
// says why when it can't (missing, not a regular file, unreadable, no library).
ole::ComPtr<ole::ITypeLib> LoadLibraryFile(const std::string& path);
// The one way a library becomes editable, for batch mode and the editor view
// alike: an in-memory regeneration in which imported types that can't be
// resolved point into unresolvedTypes (created when needed). Without
// dontBackUpHelpString the library's help strings all stay.
ole::ComPtr<ole::ITypeLib> OpenLibraryForEditing(ole::ITypeLib* library, bool dontBackUpHelpString,
                                                 ole::ComPtr<ole::ITypeLib>& unresolvedTypes);
// Writes the edited library to path as a fresh regeneration, refused while a
// placeholder of unresolvedTypes is still used (nothing is written then).
// dontBackUpHelpString leaves out plain help strings where a help string DLL
// is set; provider, when given, rewrites help data on the way.
void SaveEditedLibrary(ole::ITypeLib* edited, ole::ITypeLib* unresolvedTypes, std::u16string_view path,
                       bool dontBackUpHelpString, IModifyHelpData* provider = nullptr);

// ---- Files and paths ----

// True for a regular file that is empty or begins with "MSFT", and when the
// file can't be opened or read; a non-empty file shorter than four bytes is
// not one, nor is a FIFO, socket, device or folder (none of them is opened).
// With existenceTest, a path that names no existing regular file is not one.
bool IsStandaloneTypeLibFile(const std::string& path, bool existenceTest);
// True for a regular file that begins with "SLTG": a type library of the
// compact format, which is read but never written.
bool IsSltgTypeLibFile(const std::string& path);
// True for a regular file that begins as a program file ("MZ").
bool IsModuleFile(const std::string& path);

// True when path names an existing regular file (a link is followed). readOnly
// and directory are set from it; when nothing can be read they are left as they were.
bool GetFileFlags(const std::string& path, bool& readOnly, bool& directory);

// Splits at the last "/": folder without its trailing slash ("/" for a file
// directly under the root) and the file name. Without a slash the file name
// is the whole path and folder is left as it was.
void SplitPath(const std::string& path, std::string& folder, std::string& fileName);

// The message id by which an open-history dialog refuses a file: 168 when it
// doesn't begin with the history magic or isn't a regular file, 169 when its
// version is above 4, and 0 when it passes (also when it can't be opened).
int32_t CheckHistoryFileHeader(const std::string& path);

}  // namespace zephrin::modCorvaneExe
