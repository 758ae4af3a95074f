// The question after a failure the run may skip (dialog 115): the message
// (ctl_1320), Continue (ctl_2, the default; Enter, Escape and the close box
// also continue), Abort (ctl_1) and "&Do not show this dialog box again"
// (ctl_1222). With nothing to stop, the only button is "OK" (ctl_1), which
// closes it like Continue. GUI thread only.
#pragma once

#include <QDialog>

class gui_check_box;

class dlg_error_continue : public QDialog {
public:
    static constexpr int dialog = 115;
    static constexpr int dont_show_id = 1222;  // "&Do not show this dialog box again"
    static constexpr int id_abort = 1;
    static constexpr int id_continue = 2;
    static constexpr int id_ok = 1;  // the one button when nothing can be stopped

    // `can_stop` false: one "OK" in place of Continue and Abort.
    dlg_error_continue(QWidget* owner, const QString& caption, const QString& message, bool can_stop);

    // id_abort or id_continue (OK answers id_continue).
    int show_modal();
    bool dont_show_again() const;

    void reject() override;  // continue

private:
    gui_check_box* check_;
};
