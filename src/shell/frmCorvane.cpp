#include "shell/frmCorvane.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

#include <filesystem>
#include <system_error>
#include <utility>

#include "app/modCorvaneExe.h"
#include "changes/hub/ChangeListener.h"
#include "dialogs/AccessibleChanges.h"
#include "dialogs/UiServices.h"
#include "editor/tree/EditorModule.h"
#include "editor/tree/LibraryTree.h"
#include "editor/view/LibraryViewer.h"
#include "editor/tree/modImages.h"
#include "foundation/modSupport.h"
#include "platform/automation/BStr.h"
#include "platform/tlbengine/StdOle2.h"
#include "platform/tlbfiles/TypeLibFiles.h"
#include "shell/frmRecorder.h"
#include "shell/modCorvaneExeDialogs.h"

namespace zephrin::shell {

using dialogs::FromQString;
using dialogs::Guarded;
using dialogs::ResText;
using dialogs::ToQString;

namespace {

constexpr int32_t kMenuFile = 101;
constexpr int32_t kCaption = 108;
constexpr int32_t kMsgSaveChanges = 116;
constexpr int32_t kNewLibraryName = 117;
constexpr int32_t kDirtyMark = 118;
constexpr int32_t kMsgHistoryRunning = 179;

// The commands in menu order: caption and object name.
struct CommandInfo {
    int32_t Caption;
    const char* Name;
};
constexpr CommandInfo kCommands[] = {{102, "mnuNew"},  {103, "mnuOpen"},
                                     {104, "mnuSave"}, {105, "mnuSaveAs"},
                                     {119, "mnuNewRecorderWindow"}, {106, "mnuExit"}};

// The window's first size, in average characters and lines of its font.
constexpr int kWidthChars = 130;
constexpr int kHeightLines = 44;

// Whether two names name the same file, the current folder and links
// resolved as a save resolves them.
bool SameFile(const std::u16string& a, const std::u16string& b) {
    if (a == b) return true;
    if (a.empty() || b.empty()) return false;
    const auto resolved = [](const std::u16string& name) {
        const std::filesystem::path path(ole::ToUtf8(name));
        std::error_code ec;
        std::filesystem::path full = std::filesystem::weakly_canonical(path, ec);
        if (ec) full = std::filesystem::absolute(path, ec).lexically_normal();
        return full;
    };
    return resolved(a) == resolved(b);
}

// The name Save As proposes for the library read from path. A library read
// from a program file (or from any file but a standalone type library) is
// proposed beside it with ".tlb" in place of the file's extension: a yes to
// replacing the proposed file must never put a bare type library in the
// program's place. The same for a library named as a resource of a file
// ("file\N").
QString ProposedSaveName(const std::u16string& path) {
    if (path.empty() || IsBuiltInLibraryName(path)) return ToQString(path);
    std::u16string file = path, base;
    unsigned resource = 0;
    std::error_code ec;
    if (!std::filesystem::exists(ole::ToUtf8(path), ec) && ole::SplitResourceSpec(path, &base, &resource)) file = base;
    if (modCorvaneExe::IsStandaloneTypeLibFile(ole::ToUtf8(file), false)) return ToQString(file);
    return QString::fromStdString(std::filesystem::path(ole::ToUtf8(file)).replace_extension(".tlb").string());
}

frmCorvane::RecorderWindowFactory& Factory() {
    static frmCorvane::RecorderWindowFactory factory;
    return factory;
}

}  // namespace

bool IsBuiltInLibraryName(std::u16string_view path) {
    const auto same = [path](std::u16string_view lower) {
        if (path.size() != lower.size()) return false;
        for (size_t i = 0; i < path.size(); ++i) {
            char16_t c = path[i];
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
            if (c != lower[i]) return false;
        }
        return true;
    };
    return same(ole::kStdOle2File) || same(ole::kStdOle32File);
}

int RunEditor(const std::string& libraryPath, bool newLibrary, bool dontBackUpHelpString) {
    const ole::ComPtr<ole::ITypeLib> library = newLibrary ? modCorvaneExe::CreateNewTypeLib() : nullptr;
    auto* window = new frmCorvane;
    window->Init(nullptr, ole::FromUtf8(libraryPath), library.get(), nullptr, dontBackUpHelpString, nullptr);
    const int code = QApplication::exec();
    // The closed windows go now, while the application object still exists.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return code;
}

void frmCorvane::SetRecorderWindowFactory(RecorderWindowFactory factory) { Factory() = std::move(factory); }

frmCorvane::frmCorvane(QWidget* parent) : QMainWindow(parent) {
    editor::InitEditorModule();
    setObjectName(QStringLiteral("frmCorvane"));
    libViewer_ = new editor::LibraryViewer(this);
    libViewer_->setObjectName(QStringLiteral("LibViewer"));
    setCentralWidget(libViewer_);

    mnuFile_ = menuBar()->addMenu(ResText(kMenuFile));
    mnuFile_->setObjectName(QStringLiteral("mnuFile"));
    for (size_t i = 0; i < std::size(kCommands); ++i) {
        if (i == static_cast<size_t>(Command::NewRecorderWindow) || i == static_cast<size_t>(Command::Exit))
            mnuFile_->addSeparator();
        QAction* action = mnuFile_->addAction(ResText(kCommands[i].Caption));
        action->setObjectName(QString::fromLatin1(kCommands[i].Name));
        actions_[i] = action;
    }
    const auto on = [this](Command command, void (frmCorvane::*handler)()) {
        connect(Action(command), &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    connect(Action(Command::New), &QAction::triggered, this, [this] { NewLibrary(nullptr); });
    connect(Action(Command::Open), &QAction::triggered, this, [this] { OpenLibrary({}, nullptr, nullptr); });
    on(Command::Save, &frmCorvane::Save);
    on(Command::SaveAs, &frmCorvane::SaveAs);
    on(Command::NewRecorderWindow, &frmCorvane::NewRecorderWindow);
    connect(Action(Command::Exit), &QAction::triggered, this, [this] { close(); });
    connect(mnuFile_, &QMenu::aboutToShow, this, [this] { UpdateCommands(); });
    connect(libViewer_, &editor::LibraryViewer::OnSetEditMode, this, [this](bool editing) { OnSetEditMode(editing); });
    Action(Command::NewRecorderWindow)->setEnabled(false);
    UpdateCommands();

    setWindowIcon(modImages::GetWindowImageList().Icon(editor::kImageLibrary));
    setWindowTitle(ToQString(modSupport::LoadResStringFormat(kCaption, {std::u16string(), std::u16string()})));
    QSize size(fontMetrics().averageCharWidth() * kWidthChars, fontMetrics().lineSpacing() * kHeightLines);
    if (const QScreen* screen = this->screen()) size = size.boundedTo(screen->availableSize() * 9 / 10);
    resize(size);
}

frmCorvane::~frmCorvane() {
    // The view leaves edit mode as it goes, after this window's own part is
    // gone: it tells this window nothing more.
    disconnect(libViewer_, nullptr, this, nullptr);
    Unload();
}

QAction* frmCorvane::Action(Command command) const { return actions_[static_cast<size_t>(command)]; }

void frmCorvane::Init(std::shared_ptr<ChangeListener> hub, const std::u16string& libraryPath,
                      ole::ITypeLib* library, ole::ITypeLib* unresolved, bool noBackupHelpString,
                      SharedRecorderWindows windows, const std::u16string& destination) {
    if (!hub) hub = std::make_shared<ChangeListener>();
    dirtyHook_.AttachDirtyOnly(hub, this);
    libViewer_->SetChangeListener(std::move(hub));
    if (noBackupHelpString) libViewer_->SaveBackupHelpString(false);
    if (!libraryPath.empty())
        OpenLibrary(libraryPath, library, unresolved);
    else if (library)
        NewLibrary(library);
    if (!destination.empty() && canSaveAs_) TakeOverDestination(destination);
    recorderWindows_ = std::move(windows);
    // A shown window holds itself.
    setAttribute(Qt::WA_DeleteOnClose);
    show();
}

// ---- Dirty state and caption ----

void frmCorvane::ItemChanged() { SetDirty(true); }

void frmCorvane::SetDirty(bool value) {
    if (value == dirty_) return;
    dirty_ = value;
    UpdateCaption();
    UpdateCommands();
}

void frmCorvane::UpdateCaption() {
    std::u16string name = path_, mark;
    if (path_.empty())
        name = modSupport::LoadResStringById(kNewLibraryName);
    else if (dirty_)
        mark = modSupport::LoadResStringById(kDirtyMark);
    setWindowTitle(ToQString(modSupport::LoadResStringFormat(kCaption, {name, mark})));
}

void frmCorvane::UpdateCommands() {
    Action(Command::Save)->setEnabled(writableFile_ && dirty_);
    Action(Command::SaveAs)->setEnabled(canSaveAs_);
}

// ---- Opening, creating and saving ----

void frmCorvane::OpenLibrary(std::u16string path, ole::ITypeLib* library, ole::ITypeLib* unresolved) {
    Guarded(this, [&] {
        if (RefusedForPendingEdit() || (dirty_ && !QuerySaveChanges())) return;
        const bool chosen = path.empty();
        if (chosen) {
            path = FromQString(ShowOpenFileDialog(this, kFilterOpenLibrary, kTitleOpenLibrary, OpenLibraryHook));
            if (path.empty()) return;
        }
        const std::string file = ole::ToUtf8(path);
        const ole::FileIdentity identity = ole::GetFileIdentity(path);
        if (!library) {
            // The view keeps what it shows when the library can't be opened.
            libViewer_->CurrentITypeLib(modCorvaneExe::LoadLibraryFile(file).get());
        } else {
            libViewer_->AttachITypeLib(library);
            libViewer_->UnresolvedTypes(unresolved);
        }
        // The built-in libraries are never written over a file of their name.
        writableFile_ = !IsBuiltInLibraryName(path) && modCorvaneExe::IsStandaloneTypeLibFile(file, true);
        path_ = std::move(path);
        identity_ = identity;
        canSaveAs_ = true;
        newLibrary_ = false;
        AttachRecorders();
        dirty_ = true;
        SetDirty(false);
        FocusTree();
        if (chosen) ActivateAtTree();
    });
}

void frmCorvane::NewLibrary(ole::ITypeLib* library) {
    Guarded(this, [&] {
        if (RefusedForPendingEdit() || (dirty_ && !QuerySaveChanges())) return;
        ole::ComPtr<ole::ITypeLib> created(library);
        if (!created) created = modCorvaneExe::CreateNewTypeLib();
        libViewer_->AttachITypeLib(created.get());
        path_.clear();
        identity_.reset();
        writableFile_ = false;
        canSaveAs_ = true;
        newLibrary_ = true;
        AttachRecorders();
        dirty_ = false;
        SetDirty(true);
        FocusTree();
    });
}

void frmCorvane::FocusTree() {
    // The field that had the focus may show nothing of the new library, or
    // be gone: the user goes on from the library's node.
    libViewer_->Tree()->setFocus(Qt::OtherFocusReason);
}

void frmCorvane::ActivateAtTree() {
    // The chooser that closed left the active window to the platform, which
    // may make none active, or a history window. The user goes on here, and
    // a reader hears where once the window is active: the focus a window
    // gives back on activation tells only of the tree itself.
    announceNode_ = true;
    activateWindow();
    if (isActiveWindow()) AnnounceTreeNode();
}

void frmCorvane::AnnounceTreeNode() {
    // After the events of the activation and of the focus it gives back.
    QTimer::singleShot(0, this, [this] {
        if (!isActiveWindow() || !std::exchange(announceNode_, false)) return;
        dialogs::TellWindowActive(this);
        dialogs::TellFocusedItem(libViewer_->Tree());
    });
}

void frmCorvane::TakeOverDestination(const std::u16string& destination) {
    Guarded(this, [&] {
        if (!SameFile(destination, path_)) {
            // Never over the library the run read: the file the user named
            // for its result, saved only as it is now.
            identity_ = ole::GetFileIdentity(destination);
            path_ = destination;
            writableFile_ = !IsBuiltInLibraryName(destination) &&
                            modCorvaneExe::IsStandaloneTypeLibFile(ole::ToUtf8(destination), false);
        }
        dirty_ = false;
        SetDirty(true);
    });
}

void frmCorvane::Save() {
    Guarded(this, [&] {
        if (!writableFile_ || path_.empty() || RefusedForPendingEdit()) return;
        identity_ = libViewer_->SaveCurrentLibrary(path_, identity_);
        SetDirty(false);
    });
}

void frmCorvane::SaveAs() {
    Guarded(this, [&] {
        if (!canSaveAs_ || RefusedForPendingEdit()) return;
        const QString name = ShowSaveFileDialog(this, ProposedSaveName(path_), kFilterSaveLibrary, kTitleSaveLibrary,
                                                QStringLiteral("tlb"), SaveLibraryHook);
        if (name.isEmpty()) return;
        // The user chose the file, and agreed to replace it: it is written
        // as it is now, be it the library's own that another program saved.
        const std::u16string chosen = FromQString(name);
        identity_ = libViewer_->SaveCurrentLibrary(chosen, std::nullopt);
        writableFile_ = true;
        path_ = chosen;
        dirty_ = true;
        SetDirty(false);
    });
}

bool frmCorvane::RefusedForPendingEdit() {
    // What the user typed and has not yet updated belongs to the library
    // shown: it is never dropped with it, nor left out of a file saved while
    // the window shows it. As the tree and the tabs refuse to move on,
    // closing, New, Open, Save and Save As are refused until it is updated
    // or cancelled.
    if (!libViewer_->InEditMode()) return false;
    editor::LibraryViewer::TellEditPending(this);
    return true;
}

bool frmCorvane::QuerySaveChanges() {
    try {
        const std::u16string name = path_.empty() ? modSupport::LoadResStringById(kNewLibraryName) : path_;
        const dialogs::MessageAnswer answer =
            dialogs::Services().MessageBox(this, ToQString(modSupport::LoadResStringFormat(kMsgSaveChanges, {name})),
                                           dialogs::kStyleYesNoCancelQuestion);
        if (answer == dialogs::kAnswerNo) return true;
        if (answer != dialogs::kAnswerYes) return false;
        const QString chosen = ShowSaveFileDialog(this, ProposedSaveName(path_), kFilterSaveLibrary,
                                                  kTitleSaveLibrary, QStringLiteral("tlb"), SaveLibraryHook);
        if (chosen.isEmpty()) return false;
        const std::u16string file = FromQString(chosen);
        const ole::FileIdentity saved = libViewer_->SaveCurrentLibrary(file, std::nullopt);
        if (SameFile(file, path_)) identity_ = saved;
        return true;
    } catch (...) {
        dialogs::Services().ReportCurrentError(this);
        return false;
    }
}

void frmCorvane::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && announceNode_ && isActiveWindow()) AnnounceTreeNode();
    // The title names the library and whether it is saved: a reader hears it
    // change while the window shows.
    if (event->type() == QEvent::WindowTitleChange && isVisible()) {
        QAccessibleEvent renamed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&renamed);
    }
}

// ---- Closing ----

void frmCorvane::closeEvent(QCloseEvent* event) {
    if (frmRecorder::EngineRunning()) {  // a history's run waits for a dialog
        dialogs::Services().MessageBox(this, ResText(kMsgHistoryRunning), dialogs::kStyleExclamation);
        event->ignore();
        return;
    }
    bool close = true;
    Guarded(this, [&] { close = !RefusedForPendingEdit() && (!dirty_ || QuerySaveChanges()); });
    if (!close) {
        event->ignore();
        return;
    }
    Unload();
    QMainWindow::closeEvent(event);
}

void frmCorvane::Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    dirtyHook_.AttachDirtyOnly(nullptr, nullptr);
    libViewer_->SetChangeListener(nullptr);
    // A history window waits while the view edits: none may wait for good.
    if (recorderWindows_)
        for (IRecorderWindow* window : recorderWindows_->Snapshot()) window->InEditMode(false);
}

// ---- History windows ----

void frmCorvane::OnSetEditMode(bool editing) {
    Guarded(this, [&] {
        if (!recorderWindows_) return;
        for (IRecorderWindow* window : recorderWindows_->Snapshot()) window->InEditMode(editing);
    });
}

void frmCorvane::AttachRecorders() {
    Action(Command::NewRecorderWindow)->setEnabled(true);
    if (!recorderWindows_ || recorderWindows_->empty()) return;
    const ole::ComPtr<ole::ITypeLib> library = libViewer_->CurrentITypeLib();
    const ole::ComPtr<ole::ITypeLib> unresolved = libViewer_->UnresolvedTypes();
    for (IRecorderWindow* window : recorderWindows_->Snapshot())
        window->AttachLibrary(library.get(), unresolved.get(), newLibrary_);
}

void frmCorvane::NewRecorderWindow() {
    Guarded(this, [&] {
        if (!Factory() || !Action(Command::NewRecorderWindow)->isEnabled()) return;
        const std::vector<IRecorderWindow*> before =
            recorderWindows_ ? recorderWindows_->Snapshot() : std::vector<IRecorderWindow*>{};
        Factory()(*this);
        // A window opened while the view edits waits until the edit ends.
        if (!recorderWindows_ || !libViewer_->InEditMode()) return;
        for (IRecorderWindow* window : recorderWindows_->Snapshot())
            if (std::find(before.begin(), before.end(), window) == before.end()) window->InEditMode(true);
    });
}

}  // namespace zephrin::shell
