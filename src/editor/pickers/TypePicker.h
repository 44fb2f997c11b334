// The type picker: a tree of the intrinsic types and of the types of the
// library being edited and its referenced libraries, with the array style,
// pointer level, parameter flags and bounds that complete a type, and a
// one-line prototype of the result. What it offers follows the usage rules;
// the type itself is built by TypePickerState.
#pragma once

#include <QWidget>

#include "dialogs/TypePickerState.h"
#include "dialogs/modRefInfo.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace zephrin::editor {

class TypePicker final : public QWidget {
    Q_OBJECT

public:
    explicit TypePicker(QWidget* parent = nullptr);

    // Set before InitSession; values outside their range raise error 5.
    dialogs::TypePickerState& State() { return state_; }
    const dialogs::TypePickerState& State() const { return state_; }

    // Fills the tree for library (the one being edited) and libraries (the
    // referenced ones, which UpdateLibraries may change) and picks current
    // (may be null). A current type the rules don't offer stays picked and is
    // reported through ConstraintTypeMismatchChanged(false).
    void InitSession(ole::ITypeLib* library, dialogs::LibraryCollection& libraries, tli::VarTypeInfo* current,
                     int32_t paramFlags, bool variantOnly);
    // The picked type, or null.
    ole::ComPtr<CustomVarTypeInfo> CurrentType() const { return state_.CurrentType(); }
    int32_t CurrentParamFlags() const { return state_.CurrentParamFlags(); }

    // The least size that shows every row: twice the label width by six rows.
    QSize MinTrackSize();

    // Lets the user edit the references and follows them in the tree; true
    // when the libraries changed. A removed library takes a type picked from
    // it along.
    bool UpdateLibraries();

    QTreeWidget* Tree() const { return tvTypes_; }
    QComboBox* ArrayCombo() const { return cmbArray_; }
    QComboBox* PointerCombo() const { return cmbPointer_; }
    QComboBox* FlagsCombo() const { return cmbParamFlags_; }
    QLineEdit* BoundsBox() const { return txtBounds_; }
    QLabel* BoundsLabel() const { return lblBounds_; }
    QLabel* Prototype() const { return lblPrototype_; }
    // The node of a library in the tree, or null.
    QTreeWidgetItem* LibraryNode(ole::ITypeLib* library) const;
    // Builds a library node's types now (as expanding it does).
    void FillLibrary(QTreeWidgetItem* node);

signals:
    void LeafDblClick();
    void ConstraintTypeMismatchChanged(bool matches);

private:
    void FillTypeTree();
    void FillLibrarySession(tli::VarTypeInfo* current);
    QTreeWidgetItem* AddLibrary(ole::ITypeLib* library);
    void SelectCurrent(tli::VarTypeInfo* current);
    void NodeClicked(QTreeWidgetItem* item);
    // Whether clicking item picks what it shows (the disallowed group, a
    // library outside a library session and an unresolved type pick nothing).
    bool Pickable(QTreeWidgetItem* item) const;
    void RefreshChoices();
    void RefreshPrototype();
    // Marks the bounds label, and tells the bounds box why, while the text doesn't parse.
    void MarkBounds();

    dialogs::TypePickerState state_;
    ole::ComPtr<ole::ITypeLib> library_;
    dialogs::LibraryCollection* libraries_ = nullptr;
    bool busy_ = false;
    QTreeWidgetItem* unresolvedNode_ = nullptr;  // the library of unresolved types, when shown
    QTreeWidget* tvTypes_ = nullptr;
    QLabel* lblPrototype_ = nullptr;
    QLabel* lblArray_ = nullptr;
    QLabel* lblPointer_ = nullptr;
    QLabel* lblParamFlags_ = nullptr;
    QLabel* lblBounds_ = nullptr;
    QComboBox* cmbArray_ = nullptr;
    QComboBox* cmbPointer_ = nullptr;
    QComboBox* cmbParamFlags_ = nullptr;
    QLineEdit* txtBounds_ = nullptr;
};

// Shows label as marked (bold, in a red that reads on its palette) or plain.
void MarkLabel(QLabel* label, bool marked);

}  // namespace zephrin::editor
