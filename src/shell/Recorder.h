// The history list control: one history engine's lines in an owner-drawn
// list, a glyph column for the current position and breakpoints, then each
// line's text. The list holds only the engine's item per line; the text and
// the glyph are read from the engine when a line is drawn. The engine fills
// the list through IPlaybackUI. Clicking the glyph column toggles a
// breakpoint, a double click selects the target, and the context menu (the
// right button, Shift+F10 or the Menu key) offers the engine's commands; all
// of these go to the host as CommandRequested, so that the host runs them.
#pragma once

#include <QIcon>
#include <QWidget>

#include <cstdint>
#include <memory>

#include "changes/history/IPlayback.h"
#include "changes/history/IPlaybackUI.h"

class QAction;
class QListView;
class QMenu;
class QPainter;
class QPalette;
class QRectF;

namespace zephrin::shell {

class RecorderModel;
class RecorderList;

class Recorder : public QWidget, public IPlaybackUI {
    Q_OBJECT

public:
    // The width of the glyph column, and of a glyph, in pixels.
    static constexpr int kGlyphColumn = 19;
    static constexpr int kGlyphWidth = 15;
    static constexpr int kGlyphHeight = 11;

    explicit Recorder(QWidget* parent = nullptr);
    // Lets the bound engine go, first telling it to forget this list.
    ~Recorder() override;

    // The bound engine, which the list holds. Binding another (or null)
    // tells the former one to forget this list before letting it go.
    const std::shared_ptr<IPlayback>& Playback() const { return engine_; }
    void SetPlayback(std::shared_ptr<IPlayback> engine);
    // The owner of the engine's dialogs, handed out as UIOwner (not owned).
    void SetNameChooser(INameChooser* chooser) { chooser_ = chooser; }

    int ListCount() const;
    PlaybackItem ItemData(int index) const;
    // The engine's text of a line (empty without an engine).
    QString List(int index) const;
    int TopIndex() const;
    bool HasFocus() const;
    QListView* ListView() const;
    // The command menu (open or not).
    QMenu* ContextMenu() const { return menu_; }
    // The glyph picture of a PlaybackGlyph (null icon for none), drawn for
    // the current palette at 1x and 2x.
    QIcon GlyphIcon(int32_t glyph) const;

    // ---- IPlaybackUI ----
    INameChooser* UIOwner() override { return chooser_; }
    void AddItem(int32_t index, PlaybackItem item) override;
    void RemoveItem(int32_t index) override;
    void RemoveAllItems() override;
    void RefreshGlyphs(int32_t index1, int32_t index2) override;
    int32_t ListIndex() override;
    void ListIndex(int32_t index) override;
    void RefreshAll() override;
    int32_t CommandFilter() override { return filter_; }
    void CommandFilter(int32_t mask) override;
    void OnRestartCommand() override { emit RestartCommand(); }
    void OnInterventionRequired() override { emit InterventionRequired(); }
    void OnDeleteCommand() override { emit DeleteCommand(); }

    // Draws a glyph into a 15 by 11 box (logical pixels) for palette.
    static void PaintGlyph(QPainter& painter, const QRectF& box, int32_t glyph, const QPalette& palette);

signals:
    // The user selected a line, or ListIndex was set by code.
    void SelectionChanged(int index, zephrin::PlaybackItem item);
    void RestartCommand();
    void InterventionRequired();
    void DeleteCommand();
    // A command of the menu, the glyph column or a double click, for the
    // host to run: index -1 and item 0 for commands of the whole history.
    void CommandRequested(int command, int index, zephrin::PlaybackItem item);

protected:
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    friend class RecorderList;
    void ReloadGlyphs();
    void RaiseSelection(int index);
    // Tells a screen reader that line index reads otherwise than it last read.
    void AnnounceChange(int index);
    // The list's mouse and keys.
    void GlyphColumnPressed(const QPoint& position);
    void RightButtonReleased(const QPoint& position, const QPoint& globalPos);
    bool KeyboardMenu();
    void DoubleClicked();
    void ShowMenu(const QPoint& globalPos);
    void MenuCommand(int i);

    RecorderModel* model_ = nullptr;
    RecorderList* list_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* commands_[9] = {};
    std::shared_ptr<IPlayback> engine_;
    INameChooser* chooser_ = nullptr;
    int32_t filter_ = 0;
    bool indexSetByCode_ = false;
    QIcon glyphs_[4];
};

}  // namespace zephrin::shell
