// The program's entry: reads the command line and takes one of its ways
// (help, batch run, the history window with /activate, help-data run, the
// editor window through the shell), and reports every message and error.
#include "app/modCorvaneExe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <locale>
#include <optional>
#include <sstream>

#include "changes/hub/ChangeListener.h"
#include "changes/history/Playback.h"
#include "changes/history/PlaybackCommand.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "platform/automation/BStr.h"
#include "platform/automation/Guid.h"
#include "platform/automation/Unknown.h"
#include "platform/tlbfiles/FileReplacement.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "regen/TLBModifier.h"
#include "typelib/CustomTypeLib.h"

namespace zephrin::modCorvaneExe {

namespace fs = std::filesystem;

namespace {

constexpr int32_t kMsgNewLibraryNeedsSaveAs = 170;
constexpr int32_t kMsgNotStandaloneNeedsSaveAs = 171;
constexpr int32_t kMsgInvalidProvider = 172;
constexpr int32_t kMsgHelpNeedsLibrary = 173;

constexpr char16_t kNoEditorWindow[] =
    u"The editor window is not available in this build. Run a Library Edit History with /leh, or apply "
    u"a help-data provider with /modifyhelp; /? lists the options.";
constexpr char16_t kNoHistoryWindow[] =
    u"The history window can't be shown without a display. Run the Library Edit History without /activate.";
constexpr char16_t kRunStopped[] = u"The Library Edit History stopped before its end.";
constexpr char kProviderCalls[][17] = {"ModifyLibHelp", "ModifyTypeHelp", "ModifyMemberHelp"};

std::u16string U16(const std::string& text) { return ole::FromUtf8(text); }

void WriteToStandardError(std::u16string_view text) {
    std::string line = ole::ToUtf8(std::u16string(text));
    std::erase(line, '\r');
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

// The current date and time in the user's short date and long time formats.
std::string NowText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::ostringstream out;
    try {
        out.imbue(std::locale(""));
    } catch (const std::exception&) {
        // An unknown locale in the environment: the classic formats.
    }
    out << std::put_time(&local, "%x %X");
    return out.str();
}

// False when the text can't be appended. A FIFO that no one reads is not
// waited for (opening it would block until someone did). A message file made
// here for a text that then can't be written (a full disk) is removed again.
bool AppendToMessageFile(std::u16string_view message, const std::string& path) {
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    bool made = false;
    int fd = ::open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
        made = fd >= 0;
        if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), kFlags);  // made by another meanwhile
    }
    if (fd < 0) return false;
    ::fcntl(fd, F_SETFL, O_APPEND);  // a reader is there: writes may wait for it
    const std::string text = "************* " + NowText() + "\r\n" + ole::ToUtf8(std::u16string(message)) + "\r\n";
    bool ok = true;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    struct stat written {}, named {};
    if (!ok && made && ::fstat(fd, &written) == 0 && ::stat(path.c_str(), &named) == 0 &&
        written.st_dev == named.st_dev && written.st_ino == named.st_ino)
        ::unlink(path.c_str());
    return ::close(fd) == 0 && ok;
}

// The text reported for an error: the program's one error text.
std::u16string ErrorText(const ErrorRecord& error) { return ErrorReportText(error); }

// The provider as the regeneration sees it. A failure of one of its calls
// names the provider, the call and the code; an exception of the provider's
// own is copied into an error record of this program before it leaves the call.
class NamedProvider final : public ole::RefCounted<IModifyHelpData> {
public:
    NamedProvider(ole::ComPtr<IModifyHelpData> inner, std::u16string text)
        : inner_(std::move(inner)), text_(std::move(text)) {}
    ole::HRESULT QueryInterface(const ole::IID& riid, void** ppv) override {
        return ole::QueryInterfaceFor<IModifyHelpData>(this, riid, ppv);
    }
    ole::HRESULT ModifyLibHelp(tli::TypeLibInfo* library, HelpData& help) override {
        return Call(0, [&] { return inner_->ModifyLibHelp(library, help); });
    }
    ole::HRESULT ModifyTypeHelp(tli::TypeInfo* type, ole::LONG fieldMask, HelpData& help) override {
        return Call(1, [&] { return inner_->ModifyTypeHelp(type, fieldMask, help); });
    }
    ole::HRESULT ModifyMemberHelp(tli::TypeInfo* type, tli::MemberInfo* member, HelpData& help) override {
        return Call(2, [&] { return inner_->ModifyMemberHelp(type, member, help); });
    }

private:
    template <class F>
    ole::HRESULT Call(int call, F&& f) {
        ErrorRecord error;
        try {
            const ole::HRESULT hr = f();
            if (ole::SUCCEEDED(hr)) return hr;
            // A small error number may travel as 0x800A00nn.
            const auto bits = static_cast<uint32_t>(hr);
            error = ErrorRecord((bits & 0xFFFF0000u) == 0x800A0000u ? static_cast<int32_t>(bits & 0xFFFFu) : hr);
        } catch (...) {
            error = CurrentErrorRecord();
        }
        error.Description = u"The help-data provider '" + text_ + u"' failed in " + U16(kProviderCalls[call]) +
                            u": " + ErrorText(error);
        error.Source.clear();
        throw error;
    }

    ole::ComPtr<IModifyHelpData> inner_;
    std::u16string text_;
};

// The provider and the shared object it came from. The object is released
// before the shared object is asked whether it can go; the shared object stays
// loaded while it says it can't. Main holds it beyond its error handler.
struct LoadedProvider {
    ole::ComPtr<IModifyHelpData> Object;
    modCOMDllLoader::ModuleHandle Module = nullptr;
    LoadedProvider() = default;
    LoadedProvider(const LoadedProvider&) = delete;
    LoadedProvider& operator=(const LoadedProvider&) = delete;
    ~LoadedProvider() {
        Object.Reset();
        try {
            modCOMDllLoader::UnloadDllIfUnused(Module);
        } catch (...) {
            // A shared object without DllCanUnloadNow stays loaded.
        }
    }
};

// Why the library or history file at path can't be read, or nothing when it
// is a regular file that can. A library may be named "file\N" (resource N of
// file): then file is what must exist.
std::optional<ErrorRecord> WhyUnreadable(const std::string& path) {
    std::string file = path;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 && errno == ENOENT) {
        std::u16string base;
        unsigned id = 0;
        if (ole::SplitResourceSpec(U16(path), &base, &id)) file = ole::ToUtf8(base);
    }
    if (::stat(file.c_str(), &st) != 0) {
        const int err = errno;
        if (err == ENOENT)
            return ErrorRecord(kErrFileNotFound, std::u16string(StandardErrorDescription(kErrFileNotFound)) + u": " + U16(path));
        return ErrorRecord(kErrPathFileAccess, U16(ole::Quoted(file) + " can't be read: " + std::strerror(err) + "."));
    }
    if (!S_ISREG(st.st_mode))
        return ErrorRecord(kErrPathFileAccess,
                           U16(ole::Quoted(file) + " is " + ole::FileKindText(st.st_mode) + ", not a regular file; it is not read."));
    if (::access(file.c_str(), R_OK) != 0)
        return ErrorRecord(kErrPathFileAccess, U16(ole::Quoted(file) + " can't be read: " + std::strerror(errno) + "."));
    return std::nullopt;
}

}  // namespace

ole::ComPtr<ole::ITypeLib> LoadLibraryFile(const std::string& path) {
    const std::u16string file = U16(path);
    ole::ComPtr<ole::ITypeLib> lib;
    const ole::HRESULT hr = ole::LoadTypeLibEx(file.c_str(), ole::REGKIND_NONE, lib.put());
    if (ole::SUCCEEDED(hr) && lib) return lib;
    if (std::optional<ErrorRecord> why = WhyUnreadable(path)) throw *why;
    RaiseError(ole::FAILED(hr) ? hr : ole::E_FAIL, modSupport::LoadResStringFormat(114, {file}));
}

namespace {

// Raises the file layer's failure with its message.
void CheckFile(ole::HRESULT hr) {
    if (ole::FAILED(hr)) RaiseError(hr, ole::GetLastFileWriteError());
}

class Run {
public:
    // window receives the history window of a batch run that is not quiet.
    Run(const app::CommandLine& line, const Shell& shell, LoadedProvider& provider, IHistoryWindow*& window)
        : line_(line), shell_(shell), provider_(provider), window_(window) {}

    int Usage(int32_t id, std::u16string_view item = {}, std::u16string_view detail = {}) {
        std::u16string text = item.empty() ? modSupport::LoadResStringById(id)
                                           : modSupport::LoadResStringFormat(id, {std::u16string(item)});
        if (!detail.empty()) text += u" " + std::u16string(detail);
        ReportMessage(text, kStyleInformation, line_.Quiet, line_.MessageFilePath, shell_);
        return kExitUsage;
    }

    int Batch();
    int Activate();
    int HelpData();

private:
    bool NewLibrary() const { return line_.New || line_.TypeLibPath.empty(); }
    // The library file the run reads: none for a new library, whose main
    // window then never names (nor saves over) a -tlb file given beside -new.
    std::string LibraryPath() const { return NewLibrary() ? std::string() : line_.TypeLibPath; }
    // Makes the provider; false (message 172 reported, with the reason) when it can't be made.
    bool MakeProvider(int& exitCode) {
        ErrorRecord why;
        const std::u16string text = U16(line_.ProviderText);
        ole::ComPtr<IModifyHelpData> made = CreateHelpDataProvider(text, provider_.Module, &why);
        if (!made) {
            exitCode = Usage(kMsgInvalidProvider, text, u"The reason: " + ErrorText(why));
            return false;
        }
        provider_.Object = ole::MakeCom<NamedProvider>(std::move(made), text);
        return true;
    }
    void Regenerate(TLBModifier& modifier, IModifyHelpData* provider) const {
        modifier.HelpModifier(provider);
        if (line_.DontBackUpHelpString)
            modifier.HelpGeneration(modifier.HelpGeneration() | TLBModifier::kNoDocStringWithDll);
    }

    const app::CommandLine& line_;
    const Shell& shell_;
    LoadedProvider& provider_;
    IHistoryWindow*& window_;
};

int Run::Batch() {
    std::string destination = line_.DestinationPath;
    if (destination.empty()) {
        if (NewLibrary()) return Usage(kMsgNewLibraryNeedsSaveAs);
        if (std::optional<ErrorRecord> why = WhyUnreadable(line_.TypeLibPath)) throw *why;
        if (!IsStandaloneTypeLibFile(line_.TypeLibPath, true)) return Usage(kMsgNotStandaloneNeedsSaveAs);
        destination = line_.TypeLibPath;  // rewritten in place
    }
    // The destination is saved only as it is now. A library rewritten in
    // place is locked from before it is read until it is saved, so that
    // another run on it waits, and it must be the file that was read.
    std::optional<ole::SaveGuard> target(std::in_place, U16(destination));
    const bool inPlace = destination == line_.TypeLibPath;
    if (inPlace) CheckFile(target->Lock());
    const ole::ComPtr<ole::ITypeLib> library = NewLibrary() ? CreateNewTypeLib() : nullptr;
    ole::ComPtr<ole::ITypeLib> unresolved;
    if (!line_.Quiet && shell_.NewHistoryWindow) window_ = shell_.NewHistoryWindow();
    ole::ComPtr<ole::ITypeLib> result;
    if (window_) {
        window_->BatchDestination(destination);
        result = window_->RunHistory(line_.HistoryPath, LibraryPath(), library.get(), false,
                                     line_.DontBackUpHelpString, unresolved);
        if (!result) {  // the run stopped: its window shows where
            // The main window may save the library in place: the lock goes.
            target.reset();
            if (shell_.RunWindows) shell_.RunWindows();
            return kExitFailure;
        }
    } else {
        result = RunHistory(line_.HistoryPath, line_.TypeLibPath, library.get(), line_.DontBackUpHelpString, unresolved);
    }
    int exitCode = kExitSuccess;
    if (!line_.ProviderText.empty() && !MakeProvider(exitCode)) return exitCode;
    try {
        if (inPlace) CheckFile(target->Check());
        SaveEditedLibrary(result.get(), unresolved.get(), U16(destination), line_.DontBackUpHelpString,
                          provider_.Object.get());
    } catch (...) {
        // Every item was applied: what failed is writing their result.
        ErrorRecord error = CurrentErrorRecord();
        const std::u16string why = ErrorText(error), file = U16(ole::Quoted(destination));
        error.Description = u"The edited library could not be written" +
                            (why.find(file) == std::u16string::npos ? u" to " + file : std::u16string()) + u": " + why;
        error.Source.clear();
        throw error;
    }
    return kExitSuccess;
}

int Run::Activate() {
    IHistoryWindow* window = shell_.NewHistoryWindow ? shell_.NewHistoryWindow() : nullptr;
    if (!window) {
        ReportMessage(kNoHistoryWindow, kStyleExclamation, line_.Quiet, line_.MessageFilePath, shell_);
        return kExitFailure;
    }
    const ole::ComPtr<ole::ITypeLib> library = NewLibrary() ? CreateNewTypeLib() : nullptr;
    ole::ComPtr<ole::ITypeLib> unresolved;
    // With -saveas the main window saves there, never over the library read.
    if (!line_.DestinationPath.empty()) window->BatchDestination(line_.DestinationPath);
    window->RunHistory(line_.HistoryPath, LibraryPath(), library.get(), true, line_.DontBackUpHelpString,
                       unresolved);
    if (shell_.RunWindows) shell_.RunWindows();
    return kExitSuccess;
}

int Run::HelpData() {
    if (line_.TypeLibPath.empty()) return Usage(kMsgHelpNeedsLibrary);
    std::string destination = line_.DestinationPath;
    ole::ComPtr<ole::ITypeLib> library;
    std::optional<ole::SaveGuard> target;
    if (!destination.empty()) {
        target.emplace(U16(destination));  // saved only as it is now
        library = LoadLibraryFile(line_.TypeLibPath);
    } else {
        if (std::optional<ErrorRecord> why = WhyUnreadable(line_.TypeLibPath)) throw *why;
        if (!IsStandaloneTypeLibFile(line_.TypeLibPath, true)) return Usage(kMsgNotStandaloneNeedsSaveAs);
        // An in-memory copy, so that the file itself can be replaced; locked
        // from before it is read until it is saved, as in batch mode.
        target.emplace(U16(line_.TypeLibPath));
        CheckFile(target->Lock());
        TLBModifier copy;
        copy.StartingLibDirect(LoadLibraryFile(line_.TypeLibPath).get());
        library = copy.GenerateDirect(u"");
        CheckFile(target->Check());
        destination = line_.TypeLibPath;
    }
    int exitCode = kExitSuccess;
    if (!MakeProvider(exitCode)) return exitCode;
    TLBModifier modifier;
    modifier.StartingLibDirect(library.get());
    Regenerate(modifier, provider_.Object.get());
    modifier.GenerateDirect(U16(destination));
    return kExitSuccess;
}

void ShowHelp(const Shell& shell) {
    const std::u16string text =
        modSupport::LoadResStringFormat(120, {U16(shell.ProgramName.empty() ? "zephrin" : shell.ProgramName)});
    if (!shell.OutputIsTerminal && shell.MessageBox && shell.MessageBox(text, kStyleInformation)) return;
    std::string out = ole::ToUtf8(text);
    std::erase(out, '\r');
    std::fprintf(stdout, "%s\n", out.c_str());
    std::fflush(stdout);
}

// Names reach the libraries and files as UTF-16 text. One that isn't UTF-8
// would come back as another name, and a file of that other name would be
// read or written, so it is refused.
void RequireUtf8(const std::string& text) {
    if (ole::ToUtf8(U16(text)) != text)
        RaiseError(kErrInvalidArgument,
                   u"'" + U16(text) + u"' is not UTF-8 text, which names on the command line must be.");
}

// The absolute path that path leads to, its links followed as far as they go
// (the last one's target need not exist).
fs::path Followed(const std::string& path, std::error_code& ec) {
    fs::path followed = fs::absolute(path, ec);
    for (int hops = 0; !ec && hops < 40; ++hops) {
        std::error_code missing;  // a path that names nothing is no link
        if (!fs::is_symlink(fs::symlink_status(followed, missing))) break;
        const fs::path next = fs::read_symlink(followed, ec);
        followed = next.is_absolute() ? next : followed.parent_path() / next;
    }
    return ec ? followed : fs::weakly_canonical(followed, ec);
}

// The same file: the same device and inode when both exist (through links and
// other names), else the same path once the links are followed.
bool SameFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    std::error_code ea, eb;
    const fs::path pa = Followed(a, ea), pb = Followed(b, eb);
    return !ea && !eb && pa == pb;
}

// The usage message when the message file is one of the files the run reads
// or writes (messages appended to it would damage it), or when the library
// would be saved over the history.
std::u16string MessageFileClash(const app::CommandLine& line) {
    const std::pair<const std::string*, const char*> files[] = {{&line.TypeLibPath, "type library"},
                                                                {&line.DestinationPath, "destination"},
                                                                {&line.HistoryPath, "Library Edit History"}};
    for (const auto& [path, role] : files)
        if (SameFile(line.MessageFilePath, *path))
            return U16("The message file " + ole::Quoted(line.MessageFilePath) + " is the same file as the " + role + " " +
                       ole::Quoted(*path) + ". Name another file with -out; nothing was done.");
    // Saving the library over the history would lose the history.
    if (SameFile(line.DestinationPath, line.HistoryPath))
        return U16("The destination " + ole::Quoted(line.DestinationPath) +
                   " is the same file as the Library Edit History " + ole::Quoted(line.HistoryPath) +
                   ". Name another file with -saveas; nothing was done.");
    return {};
}

// Entries of ZEPHRIN_REGISTRY that name nothing: their registrations are
// missing from this run, which the user may not expect.
void WarnAboutRegistry(const app::CommandLine& line) {
    const char* list = std::getenv("ZEPHRIN_REGISTRY");
    if (!list) return;
    const std::string_view entries(list);
    for (size_t pos = 0; pos <= entries.size();) {
        size_t end = entries.find(':', pos);
        if (end == std::string_view::npos) end = entries.size();
        const std::string entry(entries.substr(pos, end - pos));
        pos = end + 1;
        std::error_code ec;
        if (entry.empty() || fs::exists(entry, ec)) continue;
        const std::u16string text = U16("Warning: ZEPHRIN_REGISTRY names " + ole::Quoted(entry) +
                                        ", which does not exist; its registrations are not read.");
        // A warning never waits for anyone: no message box.
        if (line.Quiet && !line.MessageFilePath.empty() && AppendToMessageFile(text, line.MessageFilePath)) continue;
        WriteToStandardError(text);
    }
}

}  // namespace

void NameStoppedItem(Playback& engine, ErrorRecord& error) {
    for (PlaybackItem id = 1; id <= engine.ItemCount(); ++id) {
        if (!(engine.Glyph(id) & kGlyphCurrent)) continue;
        error.Description = u"Library Edit History item " + U16(std::to_string(id)) + u" (\"" + engine.Text(id) +
                            u"\") failed: " + ErrorText(error);
        error.Source.clear();
        return;
    }
}

int Main(const std::vector<std::string>& args, const Shell& shell) {
    InstallLibraryCopier();
    ole::RegisterFileServices();
    app::CommandLine line;
    LoadedProvider provider;  // outlives the handler below
    IHistoryWindow* batchWindow = nullptr;  // for the handler below
    try {
        line = app::ReadCommandLine(args, [](const std::string& path) {
            std::error_code ec;
            return fs::exists(fs::symlink_status(path, ec));
        });
        if (line.Help) {
            ShowHelp(shell);
            return kExitSuccess;
        }
        if (!line.MissingArgument.empty()) {
            const std::u16string name = U16(line.MissingArgument);
            // Without its argument, -out can't be where the message goes.
            if (line.MissingArgument == "out") line.MessageFilePath.clear();
            ReportMessage(u"The option -" + name + u" needs an argument: -" + name + u" value or -" + name +
                              u"=value. Nothing was done.",
                          kStyleInformation, line.Quiet, line.MessageFilePath, shell);
            return kExitUsage;
        }
        if (const std::u16string clash = MessageFileClash(line); !clash.empty()) {
            line.MessageFilePath.clear();
            ReportMessage(clash, kStyleInformation, line.Quiet, line.MessageFilePath, shell);
            return kExitUsage;
        }
        for (const std::string* text :
             {&line.TypeLibPath, &line.HistoryPath, &line.DestinationPath, &line.ProviderText})
            RequireUtf8(*text);
        WarnAboutRegistry(line);
        if (SameFile(line.DestinationPath, line.TypeLibPath)) line.DestinationPath.clear();
        Run run(line, shell, provider, batchWindow);
        if (!line.HistoryPath.empty() && !line.Activate) return run.Batch();
        if (!line.HistoryPath.empty()) return run.Activate();
        if (line.ProviderText.empty()) {
            // A new library is not the file named beside -new: the window
            // shows it unnamed, and never saves it over that file.
            if (shell.OpenEditor)
                return shell.OpenEditor(line.New ? std::string() : line.TypeLibPath, line.New, line.DontBackUpHelpString);
            ReportMessage(kNoEditorWindow, kStyleExclamation, line.Quiet, line.MessageFilePath, shell);
            return kExitFailure;
        }
        return run.HelpData();
    } catch (...) {
        const ErrorRecord error = CurrentErrorRecord();
        try {
            // A run that reached its end shows its history before the error.
            if (batchWindow && !line.Quiet && !line.Activate) batchWindow->ShowAfterBatchError();
        } catch (...) {
            // The error is reported all the same.
        }
        try {
            ReportMessage(ErrorText(error), kStyleExclamation, line.Quiet, line.MessageFilePath, shell);
            if (batchWindow && shell.RunWindows) shell.RunWindows();
        } catch (...) {
            std::fprintf(stderr, "%s\n", error.what());  // even reporting failed (out of memory)
        }
        return kExitFailure;
    }
}

ole::ComPtr<ole::ITypeLib> CreateNewTypeLib() {
    CustomTypeLib library;
    library.LibName(modSupport::LoadResStringById(115));
    ole::GUID guid{};
    CheckHr(ole::CoCreateGuid(&guid));
    library.Guid(ole::GuidToString(guid));
    library.LCID(0);
    return library.GenerateDirect(false);
}

void ReportMessage(std::u16string_view message, int32_t style, bool quiet, const std::string& messageFilePath,
                   const Shell& shell) {
    if (!quiet) {
        if (!shell.MessageBox || !shell.MessageBox(message, style)) WriteToStandardError(message);
        return;
    }
    if (!messageFilePath.empty() && AppendToMessageFile(message, messageFilePath)) return;
    WriteToStandardError(message);
}

ole::ComPtr<ole::ITypeLib> OpenLibraryForEditing(ole::ITypeLib* library, bool dontBackUpHelpString,
                                                 ole::ComPtr<ole::ITypeLib>& unresolvedTypes) {
    TLBModifier modifier;
    modifier.StartingLibDirect(library);
    if (dontBackUpHelpString) modifier.HelpGeneration(modifier.HelpGeneration() | TLBModifier::kNoDocStringWithDll);
    return modifier.GenerateDirectFindUnresolved(unresolvedTypes);
}

void SaveEditedLibrary(ole::ITypeLib* edited, ole::ITypeLib* unresolvedTypes, std::u16string_view path,
                       bool dontBackUpHelpString, IModifyHelpData* provider) {
    TLBModifier modifier;
    modifier.StartingLibDirect(edited);
    modifier.HelpModifier(provider);
    if (dontBackUpHelpString) modifier.HelpGeneration(modifier.HelpGeneration() | TLBModifier::kNoDocStringWithDll);
    if (unresolvedTypes)
        modifier.GenerateDirectTestUnresolved(unresolvedTypes, path);
    else
        modifier.GenerateDirect(path);
}

ole::ComPtr<ole::ITypeLib> RunHistory(const std::string& historyPath, const std::string& libraryPath,
                                      ole::ITypeLib* library, bool dontBackUpHelpString,
                                      ole::ComPtr<ole::ITypeLib>& unresolvedTypes, const HistoryRunOptions& options) {
    auto engine = std::make_shared<Playback>();
    if (options.Engine) *options.Engine = engine;
    engine->ChangeListener(std::make_shared<ChangeListener>());
    ole::ComPtr<ole::ITypeLib> start(library);
    if (!start) start = OpenLibraryForEditing(LoadLibraryFile(libraryPath).get(), dontBackUpHelpString, unresolvedTypes);
    std::string folder, fileName;
    SplitPath(historyPath, folder, fileName);
    if (folder.empty()) folder = fs::current_path().string();
    engine->LoadState(U16(folder), U16(fileName));
    engine->AttachITypeLib(start.get());
    engine->LibraryIsNew(library != nullptr);
    engine->UnresolvedITypeLib(unresolvedTypes.get());
    if (options.Activator) engine->UIActivator(options.Activator);
    if (options.Activate) {
        engine->ActivateUI();
        return nullptr;
    }
    bool ran = false;
    try {
        ran = engine->ExecuteCommand(kCmdRun, -1, 0);
    } catch (...) {
        ErrorRecord error = CurrentErrorRecord();
        NameStoppedItem(*engine, error);
        throw error;
    }
    if (!ran) {
        if (options.Activator) return nullptr;  // the window shows where it stopped
        RaiseError(kErrInternal, kRunStopped);
    }
    unresolvedTypes = engine->UnresolvedITypeLib();
    return engine->CurrentITypeLib();
}

}  // namespace zephrin::modCorvaneExe
