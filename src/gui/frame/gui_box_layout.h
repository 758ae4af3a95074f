// The layout of a message box's text: each line end the text gives is the
// only break inside a line that fits on the screen.
//
// QMessageBox wraps its text at about 500 pixels, so a given line a little
// longer breaks once by the wrap and again at its own end ("... are
// correct, and" / "you have" / "the necessary privileges"). fit_lines
// makes the text as wide as its longest given line, as far as the widest
// box QMessageBox makes on that screen allows; only a line longer than
// that wraps. Carriage returns before line feeds are dropped first.
#pragma once

#include <QString>

class QMessageBox;

class gui_box_layout {
public:
    // The box's text as it is shown: CR LF and a lone CR are line feeds.
    static QString plain_lines(const QString& text);
    // Widens the box's text to its longest given line (call before exec).
    static void fit_lines(QMessageBox& box);
};
