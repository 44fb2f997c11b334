// The program's entry: reads the command line and takes one of its ways
// (help, batch run, help-data run; the ways that open windows are refused),
// and reports every message and error.
#include "app/modCorvaneExe.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <locale>
#include <sstream>

#include "changes/hub/ChangeListener.h"
#include "changes/history/Playback.h"
#include "changes/history/PlaybackCommand.h"
#include "foundation/ErrorRecord.h"
#include "foundation/modSupport.h"
#include "platform/automation/BStr.h"
#include "platform/automation/Guid.h"
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
    u"The editor window is not available in this version. Run a Library Edit History with /leh, or apply "
    u"a help-data provider with /modifyhelp; /? lists the options.";
constexpr char16_t kNoHistoryWindow[] =
    u"The history window is not available in this version. Run the Library Edit History without /activate.";
constexpr char16_t kRunStopped[] = u"The Library Edit History stopped before its end.";

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

bool AppendToMessageFile(std::u16string_view message, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (!out) return false;
    out << "************* " << NowText() << "\r\n" << ole::ToUtf8(std::u16string(message)) << "\r\n";
    out.close();
    return !out.fail();
}

// The text reported for an error: the program's one error text.
std::u16string ErrorText(const ErrorRecord& error) { return ErrorReportText(error); }

// The provider and the shared object it came from. The object is released
// before the shared object is asked whether it can go; the shared object stays
// loaded while it says it can't. Main holds it beyond its error handler: an
// error the provider raised is still its own object while it is reported.
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

class Run {
public:
    Run(const app::CommandLine& line, const Shell& shell, LoadedProvider& provider)
        : line_(line), shell_(shell), provider_(provider) {}

    int Usage(int32_t id, std::u16string_view item = {}) {
        const std::u16string text = item.empty() ? modSupport::LoadResStringById(id)
                                                 : modSupport::LoadResStringFormat(id, {std::u16string(item)});
        ReportMessage(text, kStyleInformation, line_.Quiet, line_.MessageFilePath, shell_);
        return kExitUsage;
    }

    int Batch();
    int HelpData();

private:
    bool NewLibrary() const { return line_.New || line_.TypeLibPath.empty(); }
    void Regenerate(TLBModifier& modifier, IModifyHelpData* provider) const {
        modifier.HelpModifier(provider);
        if (line_.DontBackUpHelpString)
            modifier.HelpGeneration(modifier.HelpGeneration() | TLBModifier::kNoDocStringWithDll);
    }

    const app::CommandLine& line_;
    const Shell& shell_;
    LoadedProvider& provider_;
};

ole::ComPtr<ole::ITypeLib> LoadLibraryFile(const std::string& path) {
    const std::u16string file = U16(path);
    ole::ComPtr<ole::ITypeLib> lib;
    const ole::HRESULT hr = ole::LoadTypeLibEx(file.c_str(), ole::REGKIND_NONE, lib.put());
    if (ole::FAILED(hr) || !lib) RaiseError(ole::FAILED(hr) ? hr : ole::E_FAIL, modSupport::LoadResStringFormat(114, {file}));
    return lib;
}

int Run::Batch() {
    std::string destination = line_.DestinationPath;
    if (destination.empty()) {
        if (NewLibrary()) return Usage(kMsgNewLibraryNeedsSaveAs);
        if (!IsStandaloneTypeLibFile(line_.TypeLibPath, true)) return Usage(kMsgNotStandaloneNeedsSaveAs);
        destination = line_.TypeLibPath;  // rewritten in place
    }
    const ole::ComPtr<ole::ITypeLib> library = NewLibrary() ? CreateNewTypeLib() : nullptr;
    ole::ComPtr<ole::ITypeLib> unresolved;
    const ole::ComPtr<ole::ITypeLib> result =
        RunHistory(line_.HistoryPath, line_.TypeLibPath, library.get(), line_.DontBackUpHelpString, unresolved);

    if (!line_.ProviderText.empty()) {
        provider_.Object = CreateHelpDataProvider(U16(line_.ProviderText), provider_.Module);
        if (!provider_.Object) return Usage(kMsgInvalidProvider, U16(line_.ProviderText));
    }
    TLBModifier modifier;
    modifier.StartingLibDirect(result.get());
    Regenerate(modifier, provider_.Object.get());
    modifier.GenerateDirectTestUnresolved(unresolved.get(), U16(destination));
    return kExitSuccess;
}

int Run::HelpData() {
    if (line_.TypeLibPath.empty()) return Usage(kMsgHelpNeedsLibrary);
    std::string destination = line_.DestinationPath;
    ole::ComPtr<ole::ITypeLib> library;
    if (!destination.empty()) {
        library = LoadLibraryFile(line_.TypeLibPath);
    } else if (IsStandaloneTypeLibFile(line_.TypeLibPath, true)) {
        // An in-memory copy, so that the file itself can be replaced.
        TLBModifier copy;
        copy.StartingLibDirect(LoadLibraryFile(line_.TypeLibPath).get());
        library = copy.GenerateDirect(u"");
        destination = line_.TypeLibPath;
    } else {
        return Usage(kMsgNotStandaloneNeedsSaveAs);
    }
    provider_.Object = CreateHelpDataProvider(U16(line_.ProviderText), provider_.Module);
    if (!provider_.Object) return Usage(kMsgInvalidProvider, U16(line_.ProviderText));
    TLBModifier modifier;
    modifier.StartingLibDirect(library.get());
    Regenerate(modifier, provider_.Object.get());
    modifier.GenerateDirect(U16(destination));
    return kExitSuccess;
}

void ShowHelp(const Shell& shell) {
    const std::u16string text = modSupport::LoadResStringById(120);
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

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return !a.empty() && !b.empty() && fs::equivalent(a, b, ec) && !ec;
}

}  // namespace

int Main(const std::vector<std::string>& args, const Shell& shell) {
    InstallLibraryCopier();
    ole::RegisterFileServices();
    app::CommandLine line;
    LoadedProvider provider;  // outlives the handler below
    try {
        line = app::ReadCommandLine(args, [](const std::string& path) {
            std::error_code ec;
            return fs::exists(path, ec);
        });
        if (line.Help) {
            ShowHelp(shell);
            return kExitSuccess;
        }
        for (const std::string* text :
             {&line.TypeLibPath, &line.HistoryPath, &line.DestinationPath, &line.ProviderText})
            RequireUtf8(*text);
        if (SameFile(line.DestinationPath, line.TypeLibPath)) line.DestinationPath.clear();
        Run run(line, shell, provider);
        if (!line.HistoryPath.empty() && !line.Activate) return run.Batch();
        if (!line.HistoryPath.empty() || line.ProviderText.empty()) {
            ReportMessage(line.HistoryPath.empty() ? kNoEditorWindow : kNoHistoryWindow, kStyleExclamation,
                          line.Quiet, line.MessageFilePath, shell);
            return kExitFailure;
        }
        return run.HelpData();
    } catch (...) {
        const ErrorRecord error = CurrentErrorRecord();
        try {
            ReportMessage(ErrorText(error), kStyleExclamation, line.Quiet, line.MessageFilePath, shell);
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

ole::ComPtr<ole::ITypeLib> RunHistory(const std::string& historyPath, const std::string& libraryPath,
                                      ole::ITypeLib* library, bool dontBackUpHelpString,
                                      ole::ComPtr<ole::ITypeLib>& unresolvedTypes) {
    Playback engine;
    engine.ChangeListener(std::make_shared<ChangeListener>());
    ole::ComPtr<ole::ITypeLib> start(library);
    if (!start) {
        TLBModifier modifier;
        modifier.StartingLibDirect(LoadLibraryFile(libraryPath).get());
        if (dontBackUpHelpString)
            modifier.HelpGeneration(modifier.HelpGeneration() | TLBModifier::kNoDocStringWithDll);
        start = modifier.GenerateDirectFindUnresolved(unresolvedTypes);
    }
    std::string folder, fileName;
    SplitPath(historyPath, folder, fileName);
    if (folder.empty()) folder = fs::current_path().string();
    engine.LoadState(U16(folder), U16(fileName));
    engine.AttachITypeLib(start.get());
    engine.UnresolvedITypeLib(unresolvedTypes.get());
    if (!engine.ExecuteCommand(kCmdRun, -1, 0)) RaiseError(kErrInternal, kRunStopped);
    unresolvedTypes = engine.UnresolvedITypeLib();
    return engine.CurrentITypeLib();
}

}  // namespace zephrin::modCorvaneExe
