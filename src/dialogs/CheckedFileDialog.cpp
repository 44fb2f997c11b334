#include "dialogs/CheckedFileDialog.h"

#include <QDir>
#include <QFileInfo>

#include "app/modCorvaneExe.h"
#include "platform/tlbfiles/FileReplacement.h"

#include <sys/stat.h>

namespace zephrin::dialogs {

namespace {

// A pattern that matches its letters in either case: "*.tlb" gives "*.[tT][lL][bB]".
QString AnyCase(const QString& pattern) {
    QString result;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            result += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        else
            result += c;
    }
    return result;
}

constexpr int32_t kStyleReplaceQuestion = kStyleYesNo | kStyleExclamation | kStyleDefaultButton2;

}  // namespace

QStringList NameFilters(const QString& filter) {
    const QStringList parts = filter.split(u'|');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) pattern = AnyCase(pattern);
        result << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + QLatin1Char(')');
    }
    return result;
}

CheckedFileDialog::CheckedFileDialog(QWidget* owner, const FileRequest& request, AcceptMode mode)
    : QFileDialog(owner, request.Title), request_(request) {
    setOption(QFileDialog::DontUseNativeDialog);
    // The chooser shows the description as the string table has it.
    setOption(QFileDialog::HideNameFilterDetails);
    // Replacing is asked below, through the program's own message box.
    setOption(QFileDialog::DontConfirmOverwrite);
    setNameFilters(NameFilters(request.Filter));
    setAcceptMode(mode);
    if (mode == AcceptOpen) {
        setFileMode(QFileDialog::ExistingFile);
    } else {
        setFileMode(QFileDialog::AnyFile);
        setDefaultSuffix(request.DefaultExtension);
        // A relative name leads from the current folder; the chooser would
        // keep only its last part and propose it in the current folder. A
        // name whose folder is gone goes to the nearest of its folders that
        // is left: the chooser would take its whole path, less the leading
        // "/", as a name under the current folder.
        if (!request.InitialName.isEmpty()) {
            const QFileInfo initial(request.InitialName);
            QString folder = initial.absolutePath();
            while (!QFileInfo(folder).isDir() && QFileInfo(folder).path() != folder) folder = QFileInfo(folder).path();
            selectFile(QDir(folder).filePath(initial.fileName()));
        }
    }
}

void CheckedFileDialog::done(int result) {
    // Qt's accept() has made its own checks when it gets here with Accepted.
    if (result == Accepted) {
        const QStringList files = selectedFiles();
        if (files.isEmpty()) return;
        bool pass = false;
        Guarded(this, [&] { pass = Passes(files.first()); });
        if (!pass) return;
        chosen_ = files.first();
    } else {
        chosen_.clear();
    }
    QFileDialog::done(result);
}

bool CheckedFileDialog::Passes(const QString& path) {
    const std::string file = path.toStdString();
    struct stat st {};
    const bool exists = ::stat(file.c_str(), &st) == 0;
    const QString quoted = QLatin1Char('\'') + path + QLatin1Char('\'');
    const auto notRegular = [&](const char* what, int32_t style) {
        Services().MessageBox(this, quoted + QStringLiteral(" is ") + QString::fromUtf8(ole::FileKindText(st.st_mode)) +
                                        QStringLiteral(", not a regular file; it is not ") + QLatin1String(what) +
                                        QLatin1Char('.'),
                              style);
        return false;
    };
    if (acceptMode() == AcceptOpen) {
        if (!exists) return false;  // gone since Qt looked
        if (!S_ISREG(st.st_mode)) return notRegular("read", kStyleInformation);
    } else if (!exists) {
        // The folder of a new file must be there.
        const QString folder = QFileInfo(path).absolutePath();
        if (!QFileInfo(folder).isDir()) {
            Services().MessageBox(this, QLatin1Char('\'') + folder + QStringLiteral("' is not a folder."),
                                  kStyleExclamation);
            return false;
        }
    } else {
        if (S_ISDIR(st.st_mode)) return false;
        // Nothing but a regular file is ever replaced by a save.
        if (!S_ISREG(st.st_mode)) return notRegular("replaced", kStyleExclamation);
        if ((st.st_mode & S_IWUSR) == 0 || !QFileInfo(path).isWritable()) {
            Services().MessageBox(this, quoted + QStringLiteral(" is read-only.\nChoose another name."),
                                  kStyleExclamation);
            return false;
        }
        if (Services().MessageBox(this, quoted + QStringLiteral(" already exists.\nDo you want to replace it?"),
                                  kStyleReplaceQuestion) != kAnswerYes)
            return false;
    }
    return !request_.Accept || request_.Accept(path);
}

}  // namespace zephrin::dialogs
