#include "gui/dialogs/dlg_error_ex.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "gui/dialogs/gui_error_layout.h"
#include "gui/frame/gui_call.h"
#include "gui/frame/gui_clipboard.h"
#include "tk/tk_logger.h"
#include "tk/tk_send_bug.h"

dlg_error_ex::dlg_error_ex(QWidget* owner, const QString& caption, const QString& message,
                           const std::string& subject_tail)
    : QDialog(owner), message_(message), subject_tail_(subject_tail) {
    tk_log(1, "dlg_error_ex::ctor");
    setObjectName(QStringLiteral("dlg_%1").arg(dialog));
    QHBoxLayout* row = gui_error_layout::build(*this, caption, message);
    QPushButton* ok = gui_error_layout::button(*this, row, QStringLiteral("OK"), ok_id);
    QPushButton* copy = gui_error_layout::button(*this, row, QStringLiteral("Copy to clipboard"), copy_id);
    QPushButton* send = gui_error_layout::button(*this, row, QStringLiteral("Send bug"), send_bug_id);
    ok->setDefault(true);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, [this] { accept(); });
    connect(copy, &QPushButton::clicked, this, [this] { tk_copy_to_clipboard2(message_.toStdWString()); });
    connect(send, &QPushButton::clicked, this, [this] {
        const QByteArray body = message_.toUtf8();
        tk_send_bug(subject_tail_, std::string(body.constData(), static_cast<size_t>(body.size())));
        accept();
    });
}

void dlg_error_ex::show_modal() {
    tk_log(1, "dlg_error_ex::on_init");
    gui_call::exec_modal(*this);
}
