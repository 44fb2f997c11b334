// The common view of the three order dialogs: a captioned list, OK and Cancel,
// a column for a dialog's own buttons, and the Move label with its up and down
// buttons, which Up and Down with Shift, Ctrl or Alt press. Each dialog keeps
// its logic in a model and answers the few questions below from it.
#pragma once

#include <climits>

#include "dialogs/ModalDialog.h"

class QLabel;
class QListWidget;
class QPushButton;
class QVBoxLayout;

namespace zephrin::dialogs {

class OrderDialog : public ModalDialog {
    Q_OBJECT

public:
    QListWidget* List() const { return list_; }
    QPushButton* MoveButton(bool up) const { return up ? up_ : down_; }
    int CurrentRow() const;

protected:
    OrderDialog(QWidget* owner, int captionId, int listHeaderId);

    virtual int RowCount() const = 0;
    virtual QString RowText(int row) const = 0;
    virtual int RowData(int row) const = 0;
    virtual bool CanMove(int row, bool up) const = 0;
    // Moves the row and returns the row selected afterwards.
    virtual int MoveRow(int row, bool up) = 0;
    // Updates the dialog's own controls for the selected row.
    virtual void RowSelected(int) {}

    // Shows the model's rows first to last again (the list takes the
    // model's length) and selects row.
    void Refill(int row, int first = 0, int last = INT_MAX);
    // Under OK and Cancel: the dialog's own buttons.
    QVBoxLayout* ButtonColumn() const { return buttons_; }
    // Under the move buttons: the dialog's own labels.
    QVBoxLayout* InfoColumn() const { return info_; }

    void changeEvent(QEvent* event) override;

private:
    void Move(bool up);
    void Selected();
    void SetIcons();

    QListWidget* list_ = nullptr;
    QPushButton* up_ = nullptr;
    QPushButton* down_ = nullptr;
    QVBoxLayout* buttons_ = nullptr;
    QVBoxLayout* info_ = nullptr;
};

}  // namespace zephrin::dialogs
