// Two panes side by side with a bar between them that the mouse or the arrow
// keys move. A drag shows where the bar will go and moves it on release; Esc
// during a drag, wherever the focus is, ends it without moving anything, and
// so does losing the mouse. The bar stays 6 pixels from either side and keeps
// its share of the width when the panes are resized.
#pragma once

#include <QWidget>

class QFrame;

namespace zephrin::editor {

class SplitPane final : public QWidget {
    Q_OBJECT

public:
    static constexpr int kMargin = 6;

    SplitPane(QWidget* left, QWidget* right, double ratio, QWidget* parent = nullptr);
    ~SplitPane() override;
    // The left pane's share of the width.
    double Ratio() const { return ratio_; }
    bool Dragging() const { return dragging_; }
    QWidget* Handle() const { return handle_; }
    // Ends a drag without moving the bar.
    void CancelDrag();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int Clamp(int x) const;
    void Arrange();

    QWidget* left_;
    QWidget* right_;
    QWidget* handle_;
    QFrame* ghost_;  // where a drag will put the bar
    double ratio_;
    bool dragging_ = false;
};

}  // namespace zephrin::editor
