#include "gui/pages/settings_page.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/pellix_converter.h"
#include "gui/frame/gui_error_box.h"
#include "gui/frame/page_widgets.h"
#include "gui/frame/wizard_shell.h"
#include "gui/pages/welcome_page.h"
#include "mysql/sql_auth_not_supported_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

constexpr int max_text = 260;

std::string narrow(const std::wstring& text) { return tk_unicode_to_utf8(text); }

}  // namespace

settings_page::settings_page()
    : wizard_page(dialog, wiz_back | wiz_next, page_has_help | page_header, L"Step 1 of 5", L"Connect to MySQL server",
                  help_topic) {}

QWidget* settings_page::create_widget() {
    auto* w = new QWidget();
    auto* layout = new QVBoxLayout(w);
    auto* group = new QButtonGroup(w);
    group->addButton(page_widgets::radio(w, local_id, QStringLiteral("&Local")));
    group->addButton(page_widgets::radio(w, remote_id, QStringLiteral("&Remote")));
    for (QAbstractButton* b : group->buttons()) layout->addWidget(b);
    auto* form = new QFormLayout();
    QLineEdit* user = page_widgets::edit(w, user_id, max_text);
    QLineEdit* password = page_widgets::edit(w, password_id, max_text);
    password->setEchoMode(QLineEdit::Password);
    QLineEdit* host = page_widgets::edit(w, host_id, max_text);
    QLineEdit* port = page_widgets::edit(w, port_id, max_text);
    form->addRow(page_widgets::buddy_label(w, QStringLiteral("&User name:"), user), user);
    form->addRow(page_widgets::buddy_label(w, QStringLiteral("&Password:"), password), password);
    form->addRow(page_widgets::buddy_label(w, QStringLiteral("&Host:"), host), host);
    form->addRow(page_widgets::buddy_label(w, QStringLiteral("P&ort:"), port), port);
    layout->addLayout(form);
    layout->addStretch();
    return w;
}

void settings_page::set_remote(bool remote) {
    view().set_check(remote_id, remote);
    view().set_check(local_id, !remote);
    // A remote server listens on MySQL's own port unless told otherwise.
    if (remote && view().get_text(port_id).empty()) view().set_text(port_id, L"3306");
    // Enabled, the port comes last and keeps the focus.
    enable_ctrl(host_id, remote);
    enable_ctrl(port_id, remote);
}

int settings_page::page_init() {
    tk_log(1, "sql_settings_page2<t_converter>::page_init");
    pellix_converter* conv = pellix_converter::ptr();
    view().set_text(user_id, tk_utf8_to_unicode(conv->user));
    view().set_text(password_id, tk_utf8_to_unicode(conv->password));
    const bool remote = !conv->host.empty();
    if (remote) {
        view().set_text(host_id, tk_utf8_to_unicode(conv->host));
        view().set_text(port_id, tk_utf8_to_unicode(conv->port));
    }
    view().set_check(remote_id, remote);
    view().set_check(local_id, !remote);
    view().set_enabled(host_id, remote);
    view().set_enabled(port_id, remote);
    return 1;
}

void settings_page::on_command(int id, command_event event) {
    if (event != command_event::click) return;
    if (id == local_id)
        set_remote(false);
    else if (id == remote_id)
        set_remote(true);
}

void settings_page::store() {
    pellix_converter* conv = pellix_converter::ptr();
    const bool remote = view().get_check(remote_id);
    const std::string user = narrow(view().get_text(user_id));
    const std::string password = narrow(view().get_text(password_id));
    // Local: Connector/C takes an empty host as "localhost", its Unix socket.
    const std::string host = remote ? narrow(view().get_text(host_id)) : std::string();
    const std::string port = remote ? narrow(view().get_text(port_id)) : std::string("3306");
    conv->store_mysql_settings(host, user, password, port);  // the password as typed
}

void settings_page::connect() {
    tk_log(1, "Just before t_converter::ptr()->connect_mysql_server");
    pellix_converter::ptr()->connect_mysql_server();
}

int settings_page::on_next() {
    tk_log(1, "sql_settings_page2::on_next");
    store();
    try {
        connect();
    } catch (const sql_auth_not_supported_exception& e) {
        tk_log(1, "Got sql_auth_not_supported_exception");
        wizard_shell::error(std::string(e.what()));
        gui_error_box::open_help(connect_help_topic);
        return -1;
    } catch (const tk_exception& e) {
        tk_log(1, "Got tk_exception");
        gui_error_box::show(e);
        const int number = gui_error_box::mysql_number(e);
        if (number == 1249 || number == 1250) gui_error_box::open_help(connect_help_topic);
        return -1;
    }
    return 0;
}

int settings_page::on_back() {
    store();
    return welcome_page::dialog;
}
