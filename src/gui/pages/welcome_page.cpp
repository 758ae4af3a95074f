#include "gui/pages/welcome_page.h"

#include <QButtonGroup>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/pellix_converter.h"
#include "gui/frame/file_dialog.h"
#include "gui/frame/gui_error_box.h"
#include "gui/frame/page_widgets.h"
#include "gui/frame/wizard_shell.h"
#include "gui/pages/dump_page.h"
#include "gui/pages/settings_page.h"
#include "tk/tk_logger.h"

welcome_page::welcome_page() : wizard_page(dialog, wiz_next, page_has_help, {}, {}, help_topic) {}

QWidget* welcome_page::create_widget() {
    auto* w = new QWidget();
    auto* layout = new QVBoxLayout(w);
    QLabel* title = page_widgets::label(w, title_id, QStringLiteral("Welcome to Quorvex\nConversion Wizard\n"));
    // The system sans face, 13 points, normal weight.
    QFont font(QStringLiteral("Sans Serif"), 13, QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    title->setFont(font);
    layout->addWidget(title);
    auto* group = new QButtonGroup(w);
    group->addButton(page_widgets::radio(w, direct_id, QStringLiteral("&Move to MySQL server directly")));
    group->addButton(page_widgets::radio(w, dump_file_id, QStringLiteral("&Store into dump file")));
    for (QAbstractButton* b : group->buttons()) layout->addWidget(b);
    layout->addStretch();
    auto* load = page_widgets::button(w, load_settings_id, QStringLiteral("&Load Settings..."));
    layout->addWidget(load, 0, Qt::AlignLeft);
    return w;
}

void welcome_page::show_target() {
    const bool direct = pellix_converter::ptr()->direct;
    view().set_check(direct_id, direct);
    view().set_check(dump_file_id, !direct);
}

int welcome_page::page_init() {
    tk_log(1, "welcome_page::page_init");
    show_target();
    return 1;
}

int welcome_page::on_next() {
    tk_log(1, "welcome_page::on_next");
    pellix_converter* conv = pellix_converter::ptr();
    conv->direct = view().get_check(direct_id);
    tk_log(1, "settind direct_mode to %d", conv->direct ? 1 : 0);
    return conv->direct ? settings_page::dialog : dump_page::dialog;
}

void welcome_page::on_command(int id, command_event event) {
    if (event != command_event::click) return;
    if (id == direct_id || id == dump_file_id) {
        view().set_check(id, true);
        view().set_check(id == direct_id ? dump_file_id : direct_id, false);
    } else if (id == load_settings_id) {
        const std::string path = choose_profile();
        if (!path.empty()) load_settings(path);
    }
}

std::string welcome_page::choose_profile() {
    open_file_dialog picker(wizard_shell::owner_window(), "Quorvex Profile (.pqz)", std::string());
    return picker.show() ? picker.get_file_name() : std::string();
}

bool welcome_page::load_settings(const std::string& path) {
    tk_log(1, "welcome_page::load_settings(%s)", path.c_str());
    bool loaded = false;
    try {
        // What the profile leaves out takes the defaults a quick launch and
        // pqzagent take, never the remembered settings nor an earlier
        // profile's.
        pellix_converter* conv = pellix_converter::ptr();
        conv->load_profile(path, pellix_converter::profile_base::defaults);
        loaded = true;
        conv->open_logfile();
    } catch (const tk_exception& e) {
        gui_error_box::show(e);
    }
    show_target();
    return loaded;
}
