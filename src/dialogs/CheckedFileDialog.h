// The program's file chooser: Qt's own (never the desktop's), so that a
// request can check the chosen name before the chooser closes. Qt's checks
// come first (a typed folder name opens that folder, an Open chooser wants an
// existing file); then an Open chooser refuses anything but a regular file (a
// FIFO or device could make the check wait forever), and a Save chooser
// refuses a name in a folder that doesn't exist, a FIFO or device (a save
// never replaces one) and a read-only file, and asks before replacing an
// existing one. Only then does the request's Accept see
// the name: an existing regular file (Open) or the final name with the default
// extension added (Save). A refused name keeps the chooser open. Filters
// match their extensions in any case.
#pragma once

#include <QFileDialog>

#include "dialogs/UiServices.h"

namespace zephrin::dialogs {

class CheckedFileDialog final : public QFileDialog {
    Q_OBJECT

public:
    // request must outlive the chooser.
    CheckedFileDialog(QWidget* owner, const FileRequest& request, AcceptMode mode);

    // The chosen name once the chooser was accepted, else empty.
    QString ChosenName() const { return chosen_; }

    void done(int result) override;

private:
    bool Passes(const QString& path);

    const FileRequest& request_;
    QString chosen_;
};

// "Description|pattern;pattern|..." as the string table holds it, as Qt's
// name filters that match the patterns' letters in any case.
QStringList NameFilters(const QString& filter);

}  // namespace zephrin::dialogs
