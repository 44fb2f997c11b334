#include "shell/Recorder.h"

#include <QAbstractListModel>
#include <QAccessible>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMouseEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyleOption>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>
#include <vector>

#include "changes/history/PlaybackCommand.h"
#include "dialogs/ListWidthDelegate.h"
#include "dialogs/UiServices.h"

namespace zephrin::shell {

using dialogs::ResText;
using dialogs::ToQString;

// The lines: one engine item each; text and state are read from the engine.
class RecorderModel final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    IPlayback* engine = nullptr;
    std::vector<PlaybackItem> items;
    // What each line last told a screen reader (null: nothing yet), so that
    // a change of its text or state is announced.
    mutable std::vector<QString> told;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(items.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) return {};
        const PlaybackItem item = items[static_cast<size_t>(index.row())];
        switch (role) {
            case Qt::DisplayRole:
            case Qt::ToolTipRole: return Text(item);  // the tooltip: the line whole, however it is cut
            case Qt::AccessibleTextRole: return told[static_cast<size_t>(index.row())] = AccessibleText(item);
            case Qt::UserRole: return QVariant::fromValue<qlonglong>(item);
            default: return {};
        }
    }
    QString Text(PlaybackItem item) const { return engine ? ToQString(engine->Text(item)) : QString(); }
    int32_t Glyph(PlaybackItem item) const { return engine ? engine->Glyph(item) : kGlyphNone; }
    // The line as a screen reader says it: its text (or "End" for the end
    // line) and its state.
    QString AccessibleText(PlaybackItem item) const {
        QString text = item == kEndItem ? QStringLiteral("End of history") : Text(item);
        const int32_t glyph = Glyph(item);
        if (glyph & kGlyphCurrent) text += QStringLiteral(", next to run");
        if (glyph & kGlyphBreakpoint) text += QStringLiteral(", breakpoint");
        return text;
    }
    void Insert(int row, PlaybackItem item) {
        row = std::clamp(row, 0, rowCount());
        beginInsertRows({}, row, row);
        items.insert(items.begin() + row, item);
        told.insert(told.begin() + row, QString());
        endInsertRows();
    }
    void Remove(int row) {
        if (row < 0 || row >= rowCount()) return;
        beginRemoveRows({}, row, row);
        items.erase(items.begin() + row);
        told.erase(told.begin() + row);
        endRemoveRows();
    }
    void Clear() {
        beginResetModel();
        items.clear();
        told.clear();
        endResetModel();
    }
    // True when the line told a reader another text than it would now; it
    // then counts as told the new one.
    bool Retold(int row) {
        QString& said = told[static_cast<size_t>(row)];
        if (said.isNull()) return false;
        QString now = AccessibleText(items[static_cast<size_t>(row)]);
        if (now == said) return false;
        said = std::move(now);
        const QModelIndex at = index(row);
        emit dataChanged(at, at, {Qt::AccessibleTextRole});
        return true;
    }
};

// The list: tells its control of the user's own selection changes only, and
// hands it the mouse in the glyph column, the right button and the menu keys.
class RecorderList final : public QListView {
public:
    explicit RecorderList(Recorder& owner) : QListView(&owner), owner_(owner) {}

    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override {
        QListView::currentChanged(current, previous);
        if (userInput_ && !owner_.indexSetByCode_) owner_.RaiseSelection(current.isValid() ? current.row() : -1);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->position().x() < Recorder::kGlyphColumn) owner_.GlyphColumnPressed(event->position().toPoint());
        const bool wasInput = std::exchange(userInput_, true);
        QListView::mousePressEvent(event);
        userInput_ = wasInput;
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QListView::mouseReleaseEvent(event);
        if (event->button() == Qt::RightButton)
            owner_.RightButtonReleased(event->position().toPoint(), event->globalPosition().toPoint());
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        QListView::mouseDoubleClickEvent(event);
        if (event->button() == Qt::LeftButton && event->position().x() >= Recorder::kGlyphColumn)
            owner_.DoubleClicked();
    }
    void keyPressEvent(QKeyEvent* event) override {
        // The keyboard's menu keys; used up (so that no other menu opens) even without a menu.
        const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
        if ((event->key() == Qt::Key_Menu && mods == Qt::NoModifier) ||
            (event->key() == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
            owner_.KeyboardMenu();
            event->accept();
            return;
        }
        const bool wasInput = std::exchange(userInput_, true);
        QListView::keyPressEvent(event);
        userInput_ = wasInput;
    }
    void contextMenuEvent(QContextMenuEvent* event) override {
        // The mouse's menu opens on the button's release.
        if (event->reason() == QContextMenuEvent::Mouse) return;
        if (!owner_.KeyboardMenu()) event->ignore();
    }
    void focusInEvent(QFocusEvent* event) override {
        QListView::focusInEvent(event);
        viewport()->update();  // the focus rectangle
    }
    void focusOutEvent(QFocusEvent* event) override {
        QListView::focusOutEvent(event);
        viewport()->update();
    }

private:
    Recorder& owner_;
    bool userInput_ = false;
};

namespace {

// Draws a line: its glyph in the glyph column, then its background and text,
// the current line in the highlight colours whether or not the list has the
// focus, and the focus rectangle right of the glyph column. A line is as wide
// as the list; a longer text is cut to it.
class RecorderDelegate final : public dialogs::ListWidthDelegate {
public:
    RecorderDelegate(Recorder& owner, RecorderModel& model) : ListWidthDelegate(&owner), owner_(owner), model_(model) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QPalette& palette = option.palette;
        const QListView* view = owner_.ListView();
        const bool current = view->currentIndex() == index;
        const bool enabled = option.state & QStyle::State_Enabled;
        const QPalette::ColorGroup group = enabled ? QPalette::Active : QPalette::Disabled;
        QRect rect = option.rect;
        painter->save();
        painter->fillRect(QRect(rect.left(), rect.top(), Recorder::kGlyphColumn, rect.height()),
                          palette.color(group, QPalette::Base));
        const PlaybackItem item = model_.items[static_cast<size_t>(index.row())];
        if (const int32_t glyph = model_.Glyph(item)) {
            const int bottom = (rect.top() + rect.bottom() + 1) / 2 + 5;
            const QRect box(rect.left() + 1, bottom - Recorder::kGlyphHeight, Recorder::kGlyphWidth,
                            Recorder::kGlyphHeight);
            owner_.GlyphIcon(glyph).paint(painter, box, Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);
        }
        rect.setLeft(rect.left() + Recorder::kGlyphColumn);
        painter->fillRect(rect, palette.color(group, current ? QPalette::Highlight : QPalette::Base));
        painter->setPen(palette.color(group, current ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(option.font);
        const QRect textRect = rect.adjusted(2, 0, 0, 0);
        painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                          QFontMetrics(option.font).elidedText(model_.Text(item), option.textElideMode, textRect.width()));
        if (current && view->hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.rect = rect;
            focus.palette = palette;
            focus.state = option.state | QStyle::State_KeyboardFocusChange | QStyle::State_Selected;
            focus.backgroundColor = palette.color(group, QPalette::Highlight);
            view->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, view);
        }
        painter->restore();
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize hint = ListWidthDelegate::sizeHint(option, index);
        hint.setHeight(std::max(hint.height(), Recorder::kGlyphHeight + 2));
        return hint;
    }

private:
    Recorder& owner_;
    RecorderModel& model_;
};

}  // namespace

Recorder::Recorder(QWidget* parent) : QWidget(parent) {
    model_ = new RecorderModel(this);
    list_ = new RecorderList(*this);
    list_->setModel(model_);
    // A line says what it does and to which item first: a line too long for
    // the list is cut at its end.
    dialogs::ListWidthDelegate::Install(list_, Qt::ElideRight, new RecorderDelegate(*this, *model_));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setUniformItemSizes(true);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setContextMenuPolicy(Qt::DefaultContextMenu);
    list_->setAccessibleName(QStringLiteral("Library Edit History"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    setFocusProxy(list_);

    menu_ = new QMenu(this);
    for (int i = 0; i < 9; ++i) {
        commands_[i] = menu_->addAction(ResText(720 + i));
        connect(commands_[i], &QAction::triggered, this, [this, i] { MenuCommand(i); });
    }
    ReloadGlyphs();
}

Recorder::~Recorder() {
    // The engine calls its list until told to forget it, its destructor too.
    SetPlayback(nullptr);
}

void Recorder::SetPlayback(std::shared_ptr<IPlayback> engine) {
    std::shared_ptr<IPlayback> former = std::exchange(engine_, std::move(engine));
    if (former && former != engine_) {
        try {
            former->UIActivator(former->UIActivator());  // keeps its activator, forgets this list
        } catch (...) {
        }
    }
    model_->engine = engine_.get();
    if (!engine_) model_->Clear();
    former.reset();  // may destroy the engine, which no longer reaches this list
    list_->viewport()->update();
}

int Recorder::ListCount() const { return model_->rowCount(); }

PlaybackItem Recorder::ItemData(int index) const {
    return index >= 0 && index < ListCount() ? model_->items[static_cast<size_t>(index)] : 0;
}

QString Recorder::List(int index) const {
    return index >= 0 && index < ListCount() ? model_->Text(ItemData(index)) : QString();
}

int Recorder::TopIndex() const {
    const QModelIndex top = list_->indexAt(QPoint(1, 1));
    return top.isValid() ? top.row() : 0;
}

bool Recorder::HasFocus() const { return list_->hasFocus(); }

QListView* Recorder::ListView() const { return list_; }

QIcon Recorder::GlyphIcon(int32_t glyph) const { return glyph > 0 && glyph < 4 ? glyphs_[glyph] : QIcon(); }

// The selected position stays where it was when lines come and go (the
// engine moves it itself), and no selection is told of.
void Recorder::AddItem(int32_t index, PlaybackItem item) {
    const bool wasCode = std::exchange(indexSetByCode_, true);
    const int selected = ListIndex();
    model_->Insert(index, item);
    if (selected >= 0) list_->setCurrentIndex(model_->index(selected));
    indexSetByCode_ = wasCode;
}

void Recorder::RemoveItem(int32_t index) {
    const bool wasCode = std::exchange(indexSetByCode_, true);
    const int selected = ListIndex();
    model_->Remove(index);
    if (selected >= 0 && ListCount() > 0) list_->setCurrentIndex(model_->index(std::min(selected, ListCount() - 1)));
    indexSetByCode_ = wasCode;
    // The line that takes its place may have taken its state too (the next
    // to run after the line to run next went).
    if (index >= 0 && index < ListCount()) AnnounceChange(index);
}

void Recorder::RemoveAllItems() {
    const bool wasCode = std::exchange(indexSetByCode_, true);
    model_->Clear();
    indexSetByCode_ = wasCode;
}

void Recorder::RefreshGlyphs(int32_t index1, int32_t index2) {
    for (int32_t index : {index1, index2 == index1 ? -1 : index2}) {
        if (index < 0 || index >= ListCount()) continue;
        QRect strip = list_->visualRect(model_->index(index));
        strip.setWidth(kGlyphColumn);
        list_->viewport()->update(strip);
        AnnounceChange(index);
    }
}

void Recorder::AnnounceChange(int index) {
    // A screen reader keeps the names it has read: a line's new state or
    // text reaches it only as a name change of that line.
    if (!model_->Retold(index)) return;
    QAccessibleEvent renamed(list_, QAccessible::NameChanged);
    renamed.setChild(index);
    QAccessible::updateAccessibility(&renamed);
}

int32_t Recorder::ListIndex() {
    const QModelIndex current = list_->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void Recorder::ListIndex(int32_t index) {
    const bool wasCode = std::exchange(indexSetByCode_, true);
    if (index >= 0 && index < ListCount()) {
        const QModelIndex at = model_->index(index);
        list_->setCurrentIndex(at);
        list_->scrollTo(at);
    } else {
        list_->setCurrentIndex({});
        index = -1;
    }
    indexSetByCode_ = wasCode;
    list_->viewport()->update();
    RaiseSelection(index);
}

void Recorder::RefreshAll() {
    list_->viewport()->update();
    for (int index = 0; index < ListCount(); ++index) AnnounceChange(index);
}

void Recorder::CommandFilter(int32_t mask) {
    if (mask != 0) {
        for (int i = 0; i < 9; ++i) commands_[i]->setVisible((mask >> i) & 1);
    }
    filter_ = mask;
}

void Recorder::RaiseSelection(int index) { emit SelectionChanged(index, ItemData(index)); }

void Recorder::GlyphColumnPressed(const QPoint& position) {
    const QModelIndex at = list_->indexAt(position);
    if (!at.isValid() || at.row() >= ListCount() - 1) return;  // the end line has no breakpoint
    emit CommandRequested(kCmdToggleBreakpoint, at.row(), ItemData(at.row()));
}

void Recorder::RightButtonReleased(const QPoint& position, const QPoint& globalPos) {
    if (position.x() < kGlyphColumn + 1) return;
    const QModelIndex at = list_->indexAt(position);
    if (!at.isValid()) return;
    if (at.row() != ListIndex()) {
        const bool wasCode = std::exchange(indexSetByCode_, true);
        list_->setCurrentIndex(at);
        indexSetByCode_ = wasCode;
        RaiseSelection(at.row());
    }
    if (filter_ == 0) return;
    ShowMenu(globalPos);
}

bool Recorder::KeyboardMenu() {
    if (filter_ == 0) return true;  // the key is used up, no menu
    const int selected = ListIndex();
    QPoint where;
    if (selected >= 0) {
        const QRect rect = list_->visualRect(model_->index(selected));
        where = list_->viewport()->mapToGlobal(QPoint(rect.left() + 2 + kGlyphColumn, rect.bottom() + 2));
    } else {
        where = QCursor::pos();
    }
    ShowMenu(where);
    return true;
}

void Recorder::DoubleClicked() {
    if (!engine_) return;
    const int selected = ListIndex();
    if (selected < 0) return;
    dialogs::Guarded(this, [&] {
        if (engine_->EnabledCommands(selected, ItemData(selected)) & kCmdSelectTarget)
            emit CommandRequested(kCmdSelectTarget, selected, ItemData(selected));
    });
}

void Recorder::ShowMenu(const QPoint& globalPos) {
    if (!engine_) return;
    const int selected = ListIndex();
    dialogs::Guarded(this, [&] {
        const int32_t enabled = engine_->EnabledCommands(selected, ItemData(selected));
        for (int i = 0; i < 9; ++i) commands_[i]->setEnabled((enabled >> i) & 1);
        menu_->popup(globalPos);
    });
}

void Recorder::MenuCommand(int i) {
    const int32_t command = 1 << i;
    // Commands of one line name the selected line; the others the whole history.
    const bool ofLine = command == kCmdRunToCursor || command == kCmdSetNextStatement ||
                        command == kCmdToggleBreakpoint || command == kCmdDelete || command == kCmdSelectTarget;
    const int selected = ListIndex();
    emit CommandRequested(command, ofLine ? selected : -1, ofLine ? ItemData(selected) : 0);
}

void Recorder::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        ReloadGlyphs();
        if (engine_) {
            try {
                engine_->ReloadGlyphs();
            } catch (...) {
            }
        }
        list_->viewport()->update();
    }
}

void Recorder::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    list_->setFocus(event->reason());
}

void Recorder::ReloadGlyphs() {
    for (int32_t glyph = 1; glyph < 4; ++glyph) {
        QIcon icon;
        for (qreal scale : {1.0, 2.0}) {
            QPixmap pixmap(QSize(kGlyphWidth, kGlyphHeight) * scale);
            pixmap.setDevicePixelRatio(scale);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            PaintGlyph(painter, QRectF(0, 0, kGlyphWidth, kGlyphHeight), glyph, palette());
            painter.end();
            icon.addPixmap(pixmap);
        }
        glyphs_[glyph] = icon;
    }
}

// The breakpoint is a red disc, the current position a yellow arrow pointing
// right; both together put the arrow over the disc. Their outlines take the
// palette's text colour, so that they stand out on light and dark lists.
void Recorder::PaintGlyph(QPainter& painter, const QRectF& box, int32_t glyph, const QPalette& palette) {
    const QColor outline = palette.color(QPalette::Active, QPalette::Text);
    const bool dark = palette.color(QPalette::Active, QPalette::Base).lightness() < 128;
    if (glyph & kGlyphBreakpoint) {
        const qreal d = box.height() - 1;
        const QRectF disc(box.center().x() - d / 2, box.top() + 0.5, d, d);
        painter.setPen(QPen(dark ? QColor(255, 140, 140) : QColor(110, 0, 0), 1));
        painter.setBrush(QColor(220, 30, 30));
        painter.drawEllipse(disc);
    }
    if (glyph & kGlyphCurrent) {
        const qreal l = box.left() + 1.5, r = box.right() - 1, t = box.top() + 1, b = box.bottom() - 1;
        const qreal m = (t + b) / 2, head = r - (b - t) / 2 - 0.5, shaft = (b - t) / 4;
        QPainterPath arrow;
        arrow.moveTo(l, m - shaft);
        arrow.lineTo(head, m - shaft);
        arrow.lineTo(head, t);
        arrow.lineTo(r, m);
        arrow.lineTo(head, b);
        arrow.lineTo(head, m + shaft);
        arrow.lineTo(l, m + shaft);
        arrow.closeSubpath();
        painter.setPen(QPen(glyph & kGlyphBreakpoint ? QColor(60, 40, 0) : outline, 1, Qt::SolidLine, Qt::SquareCap,
                            Qt::MiterJoin));
        painter.setBrush(QColor(255, 220, 40));
        painter.drawPath(arrow);
    }
}

}  // namespace zephrin::shell
