// The layout both error dialogs share: stop icon, scrolling message
// (ctl_1320), and a row of buttons below.
#pragma once

#include <QString>

class QDialog;
class QHBoxLayout;
class QPushButton;

class gui_error_layout {
public:
    static constexpr int message_id = 1320;

    // Builds icon and message into the dialog; returns the button row.
    static QHBoxLayout* build(QDialog& dialog, const QString& caption, const QString& message);
    static QPushButton* button(QDialog& dialog, QHBoxLayout* row, const QString& text, int id);
};
