#include "editor/tree/SplitPane.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace zephrin::editor {

namespace {

// The bar: drawn in the selection colour while it has the focus, so that the
// keyboard user sees what the arrow keys move.
class SplitBar final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        if (!hasFocus()) return;
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Highlight));
    }
};

}  // namespace

SplitPane::SplitPane(QWidget* left, QWidget* right, double ratio, QWidget* parent)
    : QWidget(parent), left_(left), right_(right), ratio_(ratio) {
    left_->setParent(this);
    right_->setParent(this);
    handle_ = new SplitBar(this);
    handle_->setObjectName(QStringLiteral("imgSplitter"));
    handle_->setAccessibleName(tr("Splitter"));
    handle_->setCursor(Qt::SplitHCursor);
    handle_->setFocusPolicy(Qt::StrongFocus);
    handle_->installEventFilter(this);
    ghost_ = new QFrame(this);
    ghost_->setFrameShape(QFrame::VLine);
    ghost_->setAutoFillBackground(true);
    ghost_->setBackgroundRole(QPalette::Highlight);
    ghost_->hide();
    const int min = fontMetrics().averageCharWidth() * 12;
    setMinimumSize(min * 2 + 2 * kMargin, fontMetrics().height() * 8);
}

SplitPane::~SplitPane() { CancelDrag(); }

int SplitPane::Clamp(int x) const { return std::clamp(x, kMargin, std::max(kMargin, width() - kMargin)); }

void SplitPane::Arrange() {
    const int bar = std::max(4, fontMetrics().averageCharWidth() / 2);
    const int x = Clamp(static_cast<int>(ratio_ * width()));
    left_->setGeometry(0, 0, std::max(0, x - bar / 2), height());
    handle_->setGeometry(x - bar / 2, 0, bar, height());
    right_->setGeometry(x - bar / 2 + bar, 0, std::max(0, width() - (x - bar / 2 + bar)), height());
}

void SplitPane::resizeEvent(QResizeEvent*) { Arrange(); }

void SplitPane::CancelDrag() {
    if (!dragging_) return;
    dragging_ = false;
    qApp->removeEventFilter(this);
    ghost_->hide();
    handle_->releaseMouse();
}

bool SplitPane::eventFilter(QObject* watched, QEvent* event) {
    // While a drag is under way every key passes here first: Esc ends the
    // drag and goes no further, whichever control has the focus.
    if (dragging_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        if (event->type() == QEvent::KeyPress) CancelDrag();
        event->accept();
        return true;
    }
    if (watched != handle_) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            dragging_ = true;
            qApp->installEventFilter(this);
            ghost_->setGeometry(handle_->geometry());
            ghost_->raise();
            ghost_->show();
            return true;
        }
        break;
    case QEvent::MouseMove:
        if (dragging_) {
            const int x = Clamp(handle_->x() + static_cast<int>(static_cast<QMouseEvent*>(event)->position().x()));
            ghost_->move(x - ghost_->width() / 2, 0);
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (dragging_) {
            const int x = Clamp(handle_->x() + static_cast<int>(static_cast<QMouseEvent*>(event)->position().x()));
            CancelDrag();
            if (width() > 0) ratio_ = static_cast<double>(x) / width();
            Arrange();
            return true;
        }
        break;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Left || key == Qt::Key_Right) && width() > 0) {
            const int step = fontMetrics().averageCharWidth() * (key == Qt::Key_Left ? -2 : 2);
            ratio_ = static_cast<double>(Clamp(static_cast<int>(ratio_ * width()) + step)) / width();
            Arrange();
            return true;
        }
        break;
    }
    case QEvent::FocusOut:
        CancelDrag();  // the window lost the mouse: the drag ends where it began
        handle_->update();
        break;
    case QEvent::FocusIn:
        handle_->update();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace zephrin::editor
