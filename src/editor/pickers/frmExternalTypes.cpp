#include "editor/pickers/frmExternalTypes.h"

#include <QApplication>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "dialogs/UiServices.h"
#include "foundation/modHourGlass.h"
#include "editor/tree/modImages.h"
#include "typelib/CustomVarTypeInfo.h"
#include "typelib/TypeLibSupport.h"

namespace zephrin::editor {

using dialogs::ResText;
using dialogs::ToQString;

namespace {

constexpr int kLibRole = Qt::UserRole;
constexpr int kTypeRole = Qt::UserRole + 1;
constexpr int kUseRole = Qt::UserRole + 2;
constexpr double kInitialRatio = 0.35;

QAction* AddAction(QMenu* menu, int caption, const char* name) {
    QAction* action = menu->addAction(ResText(caption));
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

}  // namespace

// ---- frmExternalTypes ----

void frmExternalTypes::ShowExternalTypes(IExternalTypesView& view, QWidget* owner, bool internalize, bool redirect,
                                         bool changeTypes) {
    const uint32_t offered = (internalize ? kOfferInternalize : 0) | (redirect ? kOfferRedirect : 0) |
                             (changeTypes ? kOfferSetType : 0);
    frmExternalTypes dialog(view, owner, offered);
    if (!dialog.BuildTypes()) {
        dialogs::Services().Beep();
        return;
    }
    for (;;) {
        dialog.Execute();
        if (!(dialog.state_ & kShowAgain)) return;
        dialog.state_ &= ~kShowAgain;
        if (dialog.state_ & kLibraryChanged) {
            dialog.state_ &= ~kLibraryChanged;
            if (!dialog.BuildTypes()) return;
            dialog.tvTypes_->setFocus();
        }
        // Back where it was, not centred on its owner again.
        dialog.move(dialog.savedPos_);
    }
}

frmExternalTypes::frmExternalTypes(IExternalTypesView& view, QWidget* owner, uint32_t offered)
    : ModalDialog(owner, Sizing::Resizable), view_(view), state_(offered & 7) {
    setWindowTitle(ResText(1051));

    tvTypes_ = new QTreeWidget;
    tvTypes_->setObjectName(QStringLiteral("tvTypes"));
    tvTypes_->setHeaderHidden(true);
    // The hidden header is still read out: it is named, as the tree is.
    tvTypes_->setHeaderLabel(ResText(1051));
    tvTypes_->setAccessibleName(ResText(1051));
    lvUsedBy_ = new QTreeWidget;
    lvUsedBy_->setObjectName(QStringLiteral("lvUsedBy"));
    dialogs::NameFromCaption(lvUsedBy_, ResText(1052));
    lvUsedBy_->setRootIsDecorated(false);
    lvUsedBy_->setColumnCount(2);
    lvUsedBy_->setHeaderLabels({ResText(1052), ResText(1053)});
    lvUsedBy_->setSortingEnabled(true);
    lvUsedBy_->sortByColumn(0, Qt::AscendingOrder);
    lvUsedBy_->header()->setStretchLastSection(true);
    split_ = new SplitPane(tvTypes_, lvUsedBy_, kInitialRatio, this);

    menuBar_ = new QMenuBar(this);
    menuBar_->setAccessibleName(tr("Menu"));
    mnuSetType_ = menuBar_->addAction(ResText(1056));
    mnuSetType_->setObjectName(QStringLiteral("mnuSetType"));
    mnuSetType_->setVisible(state_ & kOfferSetType);
    mnuSetType_->setEnabled(false);
    mnuInternalize_ = menuBar_->addMenu(ResText(1055));
    mnuInternalize_->setObjectName(QStringLiteral("mnuInternalize"));
    QMenu* unmodified = mnuInternalize_->addMenu(ResText(872));
    QMenu* proxy = mnuInternalize_->addMenu(ResText(873));
    const struct {
        QMenu* menu;
        int caption;
        const char* name;
        int32_t code;
    } internalize[] = {
        {unmodified, 884, "mnuInternalizeOneType", kThisType},
        {unmodified, 885, "mnuInternalizeRefTypes", kReferencedTypes},
        {unmodified, 886, "mnuInternalizeAllTypes", kWholeLibrary},
        {proxy, 884, "mnuInternalizeProxyOneType", kAsProxy | kThisType},
        {proxy, 885, "mnuInternalizeProxyRefTypes", kAsProxy | kReferencedTypes},
        {proxy, 886, "mnuInternalizeProxyAllTypes", kAsProxy | kWholeLibrary},
    };
    for (const auto& item : internalize) {
        QAction* action = AddAction(item.menu, item.caption, item.name);
        const int32_t code = item.code;
        connect(action, &QAction::triggered, this, [this, code] { dialogs::Guarded(this, [=, this] { Internalize(code); }); });
    }
    mnuInternalize_->menuAction()->setVisible(state_ & kOfferInternalize);
    mnuRedirect_ = menuBar_->addMenu(ResText(1054));
    mnuRedirect_->setObjectName(QStringLiteral("mnuRedirect"));
    QAction* redirectOne = AddAction(mnuRedirect_, 878, "mnuRedirectExternalThisType");
    QAction* redirectAll = AddAction(mnuRedirect_, 879, "mnuRedirectExternalAllTypes");
    connect(redirectOne, &QAction::triggered, this,
            [this] { dialogs::Guarded(this, [this] { Redirect(kRedirectThisType); }); });
    connect(redirectAll, &QAction::triggered, this,
            [this] { dialogs::Guarded(this, [this] { Redirect(kRedirectByGuid); }); });
    mnuRedirect_->menuAction()->setVisible(state_ & kOfferRedirect);
    QAction* exit = menuBar_->addAction(ResText(1057));
    exit->setObjectName(QStringLiteral("mnuExit"));
    connect(exit, &QAction::triggered, this, [this] { reject(); });
    connect(mnuSetType_, &QAction::triggered, this, [this] { dialogs::Guarded(this, [this] { ChangeType(); }); });

    connect(tvTypes_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* node) {
        dialogs::Guarded(this, [this, node] { NodeSelected(node); });
    });
    connect(lvUsedBy_, &QTreeWidget::itemDoubleClicked, this, [this] {
        dialogs::Guarded(this, [this] {
            if ((state_ & kOfferSetType) && lvUsedBy_->currentItem()) ChangeType();
        });
    });

    auto* main = new QVBoxLayout(this);
    main->setMenuBar(menuBar_);
    main->addWidget(split_);
    FinishLayout();
    tvTypes_->installEventFilter(this);
    lvUsedBy_->installEventFilter(this);
    lvUsedBy_->viewport()->installEventFilter(this);
    const QFontMetrics fm = fontMetrics();
    resize(std::max(width(), fm.averageCharWidth() * 120), std::max(height(), fm.height() * 22));
}

QAction* frmExternalTypes::Action(const char* name) const { return findChild<QAction*>(QString::fromLatin1(name)); }

double frmExternalTypes::SplitRatio() const { return split_->Ratio(); }

bool frmExternalTypes::BuildTypes() {
    lvUsedBy_->clear();
    tvTypes_->clear();
    const ole::ComPtr<ole::ITypeLib> walked = view_.CurrentLibraryITypeLib();
    unresolved_ = view_.UnresolvedTypes();
    const bool any = model_.Build(walked.get(), unresolved_.get());
    if (unresolved_ && !model_.UnresolvedReferenced()) {
        // No use is left of the unresolved types: the view needs them no longer.
        view_.SetUnresolvedTypes(nullptr);
        unresolved_ = nullptr;
    }
    if (!any) return false;
    const modImages::ImageList& images = modImages::GetWindowImageList();
    const auto& libs = model_.Libraries();
    for (int l = 0; l < static_cast<int>(libs.size()); ++l) {
        auto* libNode = new QTreeWidgetItem(tvTypes_, {ToQString(libs[l].Name)});
        libNode->setIcon(0, images.Icon(dialogs::ExternalTypesModel::kLibraryImage));
        libNode->setData(0, kLibRole, l);
        libNode->setData(0, kTypeRole, -1);
        for (int t = 0; t < static_cast<int>(libs[l].Types.size()); ++t) {
            auto* typeNode = new QTreeWidgetItem(libNode, {ToQString(libs[l].Types[t].Name)});
            typeNode->setIcon(0, images.Icon(libs[l].Types[t].Image));
            typeNode->setData(0, kLibRole, l);
            typeNode->setData(0, kTypeRole, t);
        }
    }
    mnuInternalize_->setEnabled(true);
    mnuRedirect_->setEnabled(true);
    tvTypes_->setCurrentItem(tvTypes_->topLevelItem(0));
    NodeSelected(tvTypes_->currentItem());
    return true;
}

void frmExternalTypes::AddUse(const dialogs::ExternalUse& use, int lib, int type, int index) {
    auto* item = new QTreeWidgetItem({ToQString(use.Description),
                                      ToQString(dialogs::ExternalTypesModel::UsageText(use.Usage))});
    item->setData(0, kLibRole, lib);
    item->setData(0, kTypeRole, type);
    item->setData(0, kUseRole, index);
    lvUsedBy_->addTopLevelItem(item);
}

void frmExternalTypes::NodeSelected(QTreeWidgetItem* node) {
    const auto wait = modHourGlass::ShowHourGlass();
    lvUsedBy_->clear();
    if (!node) return;
    const int lib = node->data(0, kLibRole).toInt();
    const int type = node->data(0, kTypeRole).toInt();
    const auto& entry = model_.Libraries()[static_cast<size_t>(lib)];
    for (int t = 0; t < static_cast<int>(entry.Types.size()); ++t) {
        if (type >= 0 && t != type) continue;
        const auto& uses = entry.Types[static_cast<size_t>(t)].Uses;
        for (int u = 0; u < static_cast<int>(uses.size()); ++u) AddUse(uses[static_cast<size_t>(u)], lib, t, u);
    }
    // The unresolved types can only be replaced, not taken in or redirected.
    const bool actions = !entry.Unresolved;
    if (state_ & kOfferInternalize) {
        mnuInternalize_->setEnabled(actions);
        Action("mnuInternalizeOneType")->setEnabled(type >= 0);
        Action("mnuInternalizeProxyOneType")->setEnabled(type >= 0);
    }
    if (state_ & kOfferRedirect) {
        mnuRedirect_->setEnabled(actions);
        Action("mnuRedirectExternalThisType")->setEnabled(type >= 0);
    }
}

ole::ComPtr<tli::VarTypeInfo> frmExternalTypes::GetSelectedType() const {
    QTreeWidgetItem* node = tvTypes_->currentItem();
    if (!node) RaiseError(typelib_detail::kErrObjectNotSet);
    const int lib = node->data(0, kLibRole).toInt();
    const int type = std::max(0, node->data(0, kTypeRole).toInt());
    const auto& entry = model_.Libraries()[static_cast<size_t>(lib)].Types[static_cast<size_t>(type)];
    auto result = CustomVarTypeInfo::New();
    result->CurrentITypeLib(model_.Walked());
    result->SetType(0, typelib_detail::TliTypeInfo(entry.Type.get()).get());
    return result;
}

void frmExternalTypes::Refresh() {
    if (BuildTypes()) {
        tvTypes_->setFocus();
    } else {
        reject();
    }
}

void frmExternalTypes::Internalize(int32_t code) {
    const ole::ComPtr<tli::VarTypeInfo> type = GetSelectedType();
    view_.InternalizeTypes(code, type.get());
    Refresh();
}

void frmExternalTypes::Redirect(int32_t code) {
    const ole::ComPtr<tli::VarTypeInfo> type = GetSelectedType();
    if (view_.RedirectTypes(code, type.get(), this)) Refresh();
}

void frmExternalTypes::ChangeType() {
    QTreeWidgetItem* item = lvUsedBy_->currentItem();
    if (!item) return;
    const auto& use = model_.Libraries()[item->data(0, kLibRole).toUInt()]
                          .Types[item->data(0, kTypeRole).toUInt()]
                          .Uses[item->data(0, kUseRole).toUInt()];
    ChangeTarget target;
    target.Kind = use.TargetKind;
    target.Library = ole::ComPtr<ole::ITypeLib>(model_.Walked());
    target.TypeIndex = use.TypeIndex;
    target.MemberId = use.MemberId;
    target.InvokeKind = use.InvokeKind;
    target.ParamIndex = static_cast<int16_t>(use.ParamIndex);
    state_ |= kShowAgain;
    savedPos_ = pos();
    done(QDialog::Rejected);  // ends this showing; the entry shows the dialog again
    view_.SelectTarget(target);
    const bool changed = view_.SetTypeFromPicker();
    target.Library = view_.CurrentLibraryITypeLib();
    target.Kind = kTargetLibrary;
    view_.SelectTarget(target);
    if (changed) state_ |= kLibraryChanged;
}

void frmExternalTypes::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        reject();  // Esc during a splitter drag ends the drag and never gets here
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if ((state_ & kOfferSetType) && mnuSetType_->isEnabled()) dialogs::Guarded(this, [this] { ChangeType(); });
        event->accept();
        return;
    default:
        ModalDialog::keyPressEvent(event);
    }
}

bool frmExternalTypes::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn && (watched == tvTypes_ || watched == lvUsedBy_)) {
        mnuSetType_->setEnabled(watched == lvUsedBy_);
    } else if (event->type() == QEvent::Resize && watched == lvUsedBy_->viewport()) {
        // "Used By" keeps 60 % of the width, "Used As" the rest.
        lvUsedBy_->header()->resizeSection(0, lvUsedBy_->viewport()->width() * 6 / 10);
    }
    return ModalDialog::eventFilter(watched, event);
}

}  // namespace zephrin::editor
