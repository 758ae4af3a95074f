// The internal-error report (dialog 114): the message (ctl_1320), OK
// (ctl_1), "Copy to clipboard" (ctl_1108, keeps the dialog open) and
// "Send bug" (ctl_1112, mails the message with the wizard's title as the
// subject, then closes). GUI thread only.
#pragma once

#include <QDialog>

class dlg_error_ex : public QDialog {
public:
    static constexpr int dialog = 114;
    // Buttons.
    static constexpr int ok_id = 1;
    static constexpr int copy_id = 1108;
    static constexpr int send_bug_id = 1112;

    dlg_error_ex(QWidget* owner, const QString& caption, const QString& message, const std::string& subject_tail);

    void show_modal();

private:
    QString message_;
    std::string subject_tail_;
};
