// The custom-data editor: the custom-data entries (a GUID with a typed value)
// of one item of a library. It edits a copy of the item's data as a custom-data
// change and hands that back unapplied. It lives with the editor because it asks
// for a value's type through the specify-type dialog.
#pragma once

#include <memory>
#include <vector>

#include "changes/hub/ChangeTarget.h"
#include "changes/kinds/CustDataChange.h"
#include "dialogs/ModalDialog.h"
#include "typelib/CustomVarTypeInfo.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;

namespace zephrin::editor {

class frmCustData final : public dialogs::ModalDialog {
    Q_OBJECT

public:
    // The change after OK, else null. hex (the hexadecimal display) comes back
    // as the user left it, in both cases.
    static std::shared_ptr<CustDataChange> GetCustDataChange(ChangeTarget& target, QWidget* owner,
                                                             int32_t typeConstraint, bool& hex);

    frmCustData(ChangeTarget& target, QWidget* owner, int32_t typeConstraint, bool hex);

    const std::shared_ptr<CustDataChange>& Change() const { return change_; }
    bool Hex() const { return hex_; }
    // Switches the display between decimal and hexadecimal, as the Format menu does.
    void SetHex(bool hex);
    // Takes a type for the shown value, as the type button does after the
    // specify-type dialog.
    void SetValueType(ole::VARTYPE vt);

    QListWidget* List() const { return lstMain_; }
    QLineEdit* ValueField() const { return txtValue_; }
    QLineEdit* TypeText() const { return lblSetType_; }
    QLabel* ValueHeader() const { return lblValueHeader_; }
    QLabel* ErrorText() const { return lblError_; }
    QPushButton* AddButton() const { return cmdAddItem_; }
    QPushButton* DeleteButton() const { return cmdDeleteItem_; }
    QPushButton* TypeButton() const { return cmdSetType_; }
    QPushButton* Ok() const { return OkButton(); }
    QMenu* FormatMenu() const { return mnuFormat_; }

    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Fill();
    void ShowEntry(int row);
    void EnableEntryControls(bool enable);
    void ValueEdited();
    void SetError(bool error, const QString& why);
    void Commit();
    void AddItem();
    void DeleteItem();
    void ChooseType();
    void Okay();
    void ShowFormatMenu(const QPoint& at);
    void WriteValue(const ole::Variant& value);
    void ShowTypeText();
    ole::VARTYPE EditType() const { return valueType_->BaseVarType(); }

    std::shared_ptr<CustDataChange> change_;
    std::vector<ole::GUID> guids_;  // the list's entries, in its order
    ole::ComPtr<CustomVarTypeInfo> valueType_;
    int32_t constraint_ = 0;
    bool hex_ = false;
    int fill_ = 0;
    bool dirty_ = false;
    bool error_ = false;
    int shown_ = -1;
    bool choosing_ = false;  // the type chooser is open

    QListWidget* lstMain_ = nullptr;
    QPushButton* cmdAddItem_ = nullptr;
    QPushButton* cmdDeleteItem_ = nullptr;
    QLabel* lblTypeHeader_ = nullptr;
    QLineEdit* lblSetType_ = nullptr;  // read-only, so that a screen reader reads the type
    QPushButton* cmdSetType_ = nullptr;
    QLabel* lblValueHeader_ = nullptr;
    QLineEdit* txtValue_ = nullptr;
    QLabel* lblError_ = nullptr;
    QMenu* mnuFormat_ = nullptr;
    QAction* mnuDec_ = nullptr;
    QAction* mnuHex_ = nullptr;
};

}  // namespace zephrin::editor
