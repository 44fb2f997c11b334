// The external types dialog: the types the edited library uses from other
// libraries, in a tree of libraries and types, and the uses of the selected
// node in a list. Its menus internalise and redirect through the editor view,
// and Change Type hides the dialog while the view's type picker retypes the
// chosen use, then shows it again where it was. It lives with the editor
// because its tree shows the editor's node images.
#pragma once

#include <QPoint>

#include "dialogs/ExternalTypesModel.h"
#include "dialogs/ModalDialog.h"
#include "editor/pickers/IExternalTypesView.h"
#include "editor/tree/SplitPane.h"

class QAction;
class QFrame;
class QMenu;
class QMenuBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace zephrin::editor {

class frmExternalTypes final : public dialogs::ModalDialog {
    Q_OBJECT

public:
    // State bits.
    static constexpr uint32_t kOfferInternalize = 1;
    static constexpr uint32_t kOfferRedirect = 2;
    static constexpr uint32_t kOfferSetType = 4;
    static constexpr uint32_t kShowAgain = 0x10;       // an action hid the dialog
    static constexpr uint32_t kLibraryChanged = 0x20;  // the lists must be rebuilt
    enum InternalizeCode : int32_t { kThisType = 0, kReferencedTypes = 1, kWholeLibrary = 2, kAsProxy = 4 };
    enum RedirectCode : int32_t { kRedirectThisType = 0, kRedirectByGuid = 1 };

    // Builds the lists and shows the dialog until it is closed; with nothing
    // external, beeps and shows nothing. Errors pass to the caller.
    static void ShowExternalTypes(IExternalTypesView& view, QWidget* owner, bool internalize, bool redirect,
                                  bool changeTypes);

    frmExternalTypes(IExternalTypesView& view, QWidget* owner, uint32_t offered);

    // Fills the tree from the view's current library; false when nothing is external.
    bool BuildTypes();
    void Internalize(int32_t code);
    void Redirect(int32_t code);
    void ChangeType();
    // The selected type node's type, or a selected library's first type.
    ole::ComPtr<tli::VarTypeInfo> GetSelectedType() const;

    uint32_t State() const { return state_; }
    double SplitRatio() const;
    QTreeWidget* Tree() const { return tvTypes_; }
    QTreeWidget* UsedBy() const { return lvUsedBy_; }
    SplitPane* Splitter() const { return split_; }
    QAction* SetTypeAction() const { return mnuSetType_; }
    QMenu* InternalizeMenu() const { return mnuInternalize_; }
    QMenu* RedirectMenu() const { return mnuRedirect_; }
    QAction* Action(const char* name) const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Refresh();
    void NodeSelected(QTreeWidgetItem* node);
    void AddUse(const dialogs::ExternalUse& use, int lib, int type, int index);

    IExternalTypesView& view_;
    uint32_t state_ = 0;
    QPoint savedPos_;
    dialogs::ExternalTypesModel model_;
    ole::ComPtr<ole::ITypeLib> unresolved_;

    QMenuBar* menuBar_ = nullptr;
    QAction* mnuSetType_ = nullptr;
    QMenu* mnuInternalize_ = nullptr;
    QMenu* mnuRedirect_ = nullptr;
    QTreeWidget* tvTypes_ = nullptr;
    QTreeWidget* lvUsedBy_ = nullptr;
    SplitPane* split_ = nullptr;
};

}  // namespace zephrin::editor
