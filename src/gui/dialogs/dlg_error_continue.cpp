#include "gui/dialogs/dlg_error_continue.h"

#include <QHBoxLayout>
#include <QPushButton>

#include "gui/dialogs/gui_error_layout.h"
#include "gui/frame/gui_call.h"
#include "gui/frame/gui_check_box.h"
#include "gui/frame/qt_page_view.h"
#include "tk/tk_logger.h"

dlg_error_continue::dlg_error_continue(QWidget* owner, const QString& caption, const QString& message, bool can_stop)
    : QDialog(owner) {
    tk_log(1, "dlg_error_continue::ctor");
    setObjectName(QStringLiteral("dlg_%1").arg(dialog));
    QHBoxLayout* row = gui_error_layout::build(*this, caption, message);
    check_ = new gui_check_box(QStringLiteral("&Do not show this dialog box again"), this);
    check_->setObjectName(qt_page_view::control_name(dont_show_id));
    row->insertWidget(0, check_);
    connect(check_, &QCheckBox::clicked, this, [this] { check_->setChecked(!check_->isChecked()); });
    if (!can_stop) {
        // Nothing would follow a choice between going on and stopping.
        QPushButton* ok = gui_error_layout::button(*this, row, QStringLiteral("OK"), id_ok);
        ok->setDefault(true);
        ok->setFocus();
        connect(ok, &QPushButton::clicked, this, [this] { done(id_continue); });
        return;
    }
    QPushButton* go_on = gui_error_layout::button(*this, row, QStringLiteral("Continue"), id_continue);
    QPushButton* abort = gui_error_layout::button(*this, row, QStringLiteral("Abort"), id_abort);
    // Enter continues: one keystroke must never end a long run.
    go_on->setDefault(true);
    go_on->setFocus();
    connect(go_on, &QPushButton::clicked, this, [this] { done(id_continue); });
    connect(abort, &QPushButton::clicked, this, [this] { done(id_abort); });
}

int dlg_error_continue::show_modal() {
    tk_log(1, "dlg_error_continue::on_init");
    const int result = gui_call::exec_modal(*this);
    return result == id_abort ? id_abort : id_continue;
}

bool dlg_error_continue::dont_show_again() const { return check_->isChecked(); }

void dlg_error_continue::reject() { done(id_continue); }
