// Small factories for the controls of the pages and dialogs: each control
// gets the objectName "ctl_<id>" by which page_view finds it. Texts with
// "&" keep it as the mnemonic.
#pragma once

#include <QString>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QWidget;

class page_widgets {
public:
    // The ids of a dialog's standard buttons.
    static constexpr int ok_id = 1;
    static constexpr int cancel_id = 2;
    static constexpr int help_id = 9;

    static QLabel* label(QWidget* parent, int id, const QString& text);
    static QRadioButton* radio(QWidget* parent, int id, const QString& text);
    // A check box that only the page toggles (invert_chbox).
    static QCheckBox* check(QWidget* parent, int id, const QString& text);
    // An edit that takes at most `max_length` characters (0: no cap).
    static QLineEdit* edit(QWidget* parent, int id, int max_length);
    static QPushButton* button(QWidget* parent, int id, const QString& text);
    static QComboBox* combo(QWidget* parent, int id);
    // A list with extended (multiple) selection.
    static QListWidget* list(QWidget* parent, int id);
    // The label's buddy is the control, so its mnemonic moves the focus.
    static QLabel* buddy_label(QWidget* parent, const QString& text, QWidget* buddy);
    // A dialog's OK ("O&K"), Cancel and Help ("&Help", also F1 anywhere in
    // the dialog), named by the ids above.
    static QDialogButtonBox* ok_cancel_help(QWidget* parent);
};
