// The references dialog: a checked list of the library being edited, the
// libraries referenced so far, every registered type library and any library
// file the user browses to, with the location, name and version of the
// selected entry. The library being edited cannot be unchecked; an entry whose
// file is not the library registered cannot be checked.
#pragma once

#include <QString>

#include <functional>
#include <vector>

#include "dialogs/ModalDialog.h"
#include "dialogs/modRefInfo.h"

class QGroupBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QFontMetrics;

namespace zephrin::dialogs {

class frmReferences final : public ModalDialog {
    Q_OBJECT

public:
    // Lists library (the library being edited, may be null), libraries and
    // the registered libraries into refs, and runs the dialog. On OK with
    // applyNow, applies the check marks to libraries and returns whether they
    // changed; on OK without applyNow returns true and leaves the records in
    // refs for the caller to read. Cancel returns false.
    static bool EditReferences(ole::ITypeLib* library, LibraryCollection& libraries, RefInfoList& refs, bool applyNow,
                               QWidget* owner);
    // The list as EditReferences builds it: the given libraries, then the
    // registered ones (read failures are passed over), sorted.
    static void BuildList(ole::ITypeLib* library, const LibraryCollection& libraries, RefInfoList& refs);

    // Shows refs, which must be sorted.
    frmReferences(RefInfoList& refs, QWidget* owner);

    QListWidget* List() const { return list_; }
    QPushButton* BrowseButton() const { return browse_; }
    QGroupBox* InfoFrame() const { return frame_; }
    // The value labels: location, name, version.
    QLabel* InfoLabel(int index) const { return info_[index]; }
    RefInfo* RecordAt(int row) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Fill();
    // Gives every entry its text, with its version where another entry shares
    // its name, and its accessible name, always with its version.
    void RefreshTexts();
    void ShowInfo(int row);
    void ShowLocation();
    // The width the frame's caption may take.
    int CaptionWidth() const;
    void ItemChanged(QListWidgetItem* item);
    void SetCheck(QListWidgetItem* item, bool checked);
    void Browse();

    RefInfoList& refs_;
    std::vector<RefInfo*> rows_;
    int shown_ = -1;
    bool filling_ = false;
    QString location_;
    QListWidget* list_ = nullptr;
    QPushButton* browse_ = nullptr;
    QGroupBox* frame_ = nullptr;
    QLabel* info_[3] = {};
};

// A path shortened to fit width as measured: a path that fits stays whole;
// otherwise its head ("/" and the first folder; a drive and its first folder;
// a network server), "..." and the longest tail that begins at a separator
// and still fits. Where not even the file name fits beside the head, the name
// is cut in its middle with "…".
QString ShortenPath(const QString& path, int width, const std::function<int(const QString&)>& measure);
QString ShortenPath(const QString& path, int width, const QFontMetrics& metrics);

}  // namespace zephrin::dialogs
