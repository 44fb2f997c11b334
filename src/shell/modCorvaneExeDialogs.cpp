#include "shell/modCorvaneExeDialogs.h"

#include <QApplication>

#include "app/modCorvaneExe.h"
#include "dialogs/UiServices.h"
#include "platform/tlbengine/TypeLibInterfaces.h"

namespace zephrin::shell {

using dialogs::ResText;

namespace {

constexpr int32_t kMsgNotTypeLibrary = 114;
constexpr int32_t kMsgOverwriteNonLibrary = 109;
constexpr int32_t kMsgOverwriteSltgLibrary = 178;
constexpr int32_t kMsgOverwriteModuleLibrary = 182;

// The messages of a check stand over the chooser that asked.
QWidget* ChooserWindow() { return QApplication::activeModalWidget(); }

QString Filled(int32_t id, const QString& name) { return ResText(id).replace(QStringLiteral("|1"), name); }

dialogs::FileRequest Request(int32_t filterId, int32_t titleId, FileHook hook) {
    dialogs::FileRequest request;
    request.Title = ResText(titleId);
    request.Filter = ResText(filterId);
    request.Accept = std::move(hook);
    return request;
}

}  // namespace

QString ShowOpenFileDialog(QWidget* owner, int32_t filterId, int32_t titleId, FileHook hook) {
    return dialogs::Services().OpenFileName(owner, Request(filterId, titleId, std::move(hook)));
}

QString ShowSaveFileDialog(QWidget* owner, const QString& initialName, int32_t filterId, int32_t titleId,
                           const QString& defaultExtension, FileHook hook) {
    dialogs::FileRequest request = Request(filterId, titleId, std::move(hook));
    request.InitialName = initialName;
    request.DefaultExtension = defaultExtension;
    return dialogs::Services().SaveFileName(owner, request);
}

QString GetSaveLehFileName(QWidget* owner, const QString& initialName) {
    return ShowSaveFileDialog(owner, initialName, kFilterHistory, kTitleSaveHistory, QStringLiteral("leh"), nullptr);
}

bool OpenLibraryHook(const QString& path) {
    ole::ComPtr<ole::ITypeLib> library;
    const std::u16string file = dialogs::FromQString(path);
    if (ole::SUCCEEDED(ole::LoadTypeLibEx(file.c_str(), ole::REGKIND_NONE, library.put())) && library) return true;
    dialogs::Services().MessageBox(ChooserWindow(), Filled(kMsgNotTypeLibrary, path), dialogs::kStyleInformation);
    return false;
}

bool OpenHistoryHook(const QString& path) {
    const int32_t message = modCorvaneExe::CheckHistoryFileHeader(path.toStdString());
    if (message == 0) return true;
    dialogs::Services().MessageBox(ChooserWindow(), Filled(message, path), dialogs::kStyleInformation);
    return false;
}

bool SaveLibraryHook(const QString& path) {
    const std::string file = path.toStdString();
    if (modCorvaneExe::IsStandaloneTypeLibFile(file, false)) return true;
    // A library of the compact format is one, but is never written as it was.
    QString question = ResText(kMsgOverwriteNonLibrary);
    if (modCorvaneExe::IsSltgTypeLibFile(file)) {
        question = Filled(kMsgOverwriteSltgLibrary, path);
    } else if (modCorvaneExe::IsModuleFile(file)) {
        // A program file whose library the platform reads holds one too.
        ole::ComPtr<ole::ITypeLib> held;
        const std::u16string name = dialogs::FromQString(path);
        if (ole::SUCCEEDED(ole::LoadTypeLibEx(name.c_str(), ole::REGKIND_NONE, held.put())) && held)
            question = Filled(kMsgOverwriteModuleLibrary, path);
    }
    return dialogs::Services().MessageBox(ChooserWindow(), question, dialogs::kStyleYesNoQuestionNoDefault) ==
           dialogs::kAnswerYes;
}

}  // namespace zephrin::shell
