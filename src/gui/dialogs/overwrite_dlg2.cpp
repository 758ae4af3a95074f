#include "gui/dialogs/overwrite_dlg2.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "gui/frame/gui_call.h"
#include "gui/frame/gui_error_box.h"
#include "gui/frame/page_widgets.h"
#include "gui/frame/qt_page_view.h"
#include "gui/frame/wizard_shell.h"
#include "tk/tk_logger.h"

overwrite_dlg2::overwrite_dlg2(QWidget* owner, const std::wstring& text, int current_mode)
    : QDialog(owner), current_mode_(current_mode) {
    tk_log(1, "overwrite_dlg2::on_init");
    setObjectName(QStringLiteral("dlg_%1").arg(dialog));
    setWindowTitle(QString::fromStdWString(wizard_shell::caption(L"Warning")));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);  // the question must not sit on the frame
    layout->addWidget(page_widgets::label(this, text_id, QString::fromStdWString(text)));
    layout->addSpacing(6);
    auto* group = new QButtonGroup(this);
    const char* texts[] = {"&Overwrite the entire database", "Overwrite existing &tables only", "&Skip existing tables",
                           "&Merge"};
    for (int i = 0; i < modes; ++i) {
        QRadioButton* r = page_widgets::radio(this, first_mode_id + i, QString::fromUtf8(texts[i]));
        group->addButton(r, i);
        layout->addWidget(r);
    }
    if (QAbstractButton* current = group->button(current_mode)) current->setChecked(true);
    QDialogButtonBox* buttons = page_widgets::ok_cancel_help(this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { on_ok(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [] { gui_error_box::open_help(help_topic); });
    QApplication::beep();
}

int overwrite_dlg2::get_mode() const {
    for (int i = 0; i < modes; ++i) {
        auto* r = findChild<QRadioButton*>(qt_page_view::control_name(first_mode_id + i));
        if (r && r->isChecked()) return i;
    }
    return current_mode_;
}

void overwrite_dlg2::on_ok() {
    mode_ = get_mode();
    accept();
}

int overwrite_dlg2::ask(const std::wstring& text, int current_mode) {
    overwrite_dlg2 dlg(wizard_shell::owner_window(), text, current_mode);
    if (gui_call::exec_modal(dlg) != QDialog::Accepted) return -1;
    return dlg.mode_;
}
