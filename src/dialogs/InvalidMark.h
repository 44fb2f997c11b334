// The mark of a field whose text is not taken: its caption bold, in a red that
// reads on the palette (InvalidTextColor), and the reason told on the field
// itself, where a screen reader reads it with the field, shown as text by the
// field, and as the tooltips of both. Nothing is refused with a message: the
// mark says it.
#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace zephrin::dialogs {

// Shows caption bold in the invalid colour of its parent's palette, or as
// its parent's text again.
void MarkCaptionInvalid(QLabel* caption, bool invalid);
// Tells on field (and on label) that its value is invalid and why, or
// nothing more once it is valid; shows why in the field's reason label.
void MarkFieldInvalid(QLabel* label, QWidget* field, bool invalid, const QString& why);
// A label in which MarkFieldInvalid shows, as text by field, why its value
// is refused: wrapped plain text in the invalid mark's colour, empty while
// the value is valid, and then hidden too when hideValid is set (else it
// keeps its room, so that what follows stays in place). The caller places it.
QLabel* NewReasonLabel(QWidget* field, bool hideValid, QWidget* parent = nullptr);

}  // namespace zephrin::dialogs
