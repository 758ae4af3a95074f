#include "gui/frame/wizard_page.h"

#include <QWidget>

#include "gui/frame/qt_page_view.h"
#include "gui/frame/wizard_shell.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

wizard_page::wizard_page(int dialog, int buttons, int flags, std::wstring title, std::wstring subtitle, int help_topic)
    : dialog_(dialog),
      buttons_(buttons),
      flags_(flags),
      title_(std::move(title)),
      subtitle_(std::move(subtitle)),
      help_topic_(help_topic) {}

wizard_page::~wizard_page() {
    tk_log(2, "wizard_page::dtor");
    view_.reset();
    delete widget_.data();
}

void wizard_page::help() {
    if (help_topic_ != 0) {
        if (wizard_shell* shell = wizard_shell::try_ptr()) shell->display_help(help_topic_);
    }
}

bool wizard_page::on_cancel() {
    tk_log(2, "wizard_page::on_cancel");
    return wizard_shell::question(L"Are you sure you want to exit the wizard?", true);
}

void wizard_page::enable_ctrl(int id, bool on) {
    tk_log(1, "wizard_page::enable_ctrl(%d=%d)", id, on ? 1 : 0);
    view().set_enabled(id, on);
    if (on) view().set_focus(id);
}

void wizard_page::show_ctrl(int id, bool on) {
    tk_log(1, "wizard_page::show_ctrl(%d=%d)", id, on ? 1 : 0);
    view().set_visible(id, on);
}

void wizard_page::invert_chbox(int id) {
    tk_log(1, "wizard_page::invert_chbox(%d)", id);
    TK_ASSERT(view().has_control(id));
    view().set_check(id, !view().get_check(id));
}

page_view& wizard_page::view() {
    if (!view_) view_ = std::make_unique<qt_page_view>(widget());
    return *view_;
}

void wizard_page::set_view(std::unique_ptr<page_view> view) { view_ = std::move(view); }

QWidget* wizard_page::widget() {
    if (widget_ == nullptr) {
        widget_ = create_widget();
        TK_ASSERT(widget_ != nullptr);
        widget_->setObjectName(QStringLiteral("page_%1").arg(dialog_));
    }
    return widget_;
}

QWidget* wizard_page::create_widget() { return new QWidget(); }
