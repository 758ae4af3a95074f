#include "gui/welcome_page.h"

#include <QButtonGroup>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/pellix_converter.h"
#include "gui/file_dialog.h"
#include "gui/page_errors.h"
#include "gui/page_widgets.h"
#include "gui/wizard_shell.h"
#include "tk/tk_logger.h"

welcome_page::welcome_page() : wizard_page(dialog, wiz_next, page_has_help, {}, {}, 1018) {}

QWidget* welcome_page::create_widget() {
    auto* w = new QWidget();
    auto* layout = new QVBoxLayout(w);
    QLabel* title = page_widgets::label(w, 1337, QStringLiteral("Welcome to Quorvex\nConversion Wizard\n"));
    // The system sans face, 13 points, normal weight.
    QFont font(QStringLiteral("Sans Serif"), 13, QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    title->setFont(font);
    layout->addWidget(title);
    auto* group = new QButtonGroup(w);
    group->addButton(page_widgets::radio(w, 1329, QStringLiteral("&Move to MySQL server directly")));
    group->addButton(page_widgets::radio(w, 1330, QStringLiteral("&Store into dump file")));
    for (QAbstractButton* b : group->buttons()) layout->addWidget(b);
    layout->addStretch();
    auto* load = page_widgets::button(w, 1115, QStringLiteral("&Load Settings..."));
    layout->addWidget(load, 0, Qt::AlignLeft);
    return w;
}

void welcome_page::show_target() {
    const bool direct = pellix_converter::ptr()->direct;
    view().set_check(1329, direct);
    view().set_check(1330, !direct);
}

int welcome_page::page_init() {
    tk_log(1, "welcome_page::page_init");
    show_target();
    return 1;
}

int welcome_page::on_next() {
    tk_log(1, "welcome_page::on_next");
    pellix_converter* conv = pellix_converter::ptr();
    conv->direct = view().get_check(1329);
    tk_log(1, "settind direct_mode to %d", conv->direct ? 1 : 0);
    return conv->direct ? 123 : 102;
}

void welcome_page::on_command(int id, command_event event) {
    if (event != command_event::click) return;
    if (id == 1329 || id == 1330) {
        view().set_check(id, true);
        view().set_check(id == 1329 ? 1330 : 1329, false);
    } else if (id == 1115) {
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
        loaded = pellix_converter::ptr()->load_profile(path);
        if (loaded) pellix_converter::ptr()->open_logfile();
        if (!loaded)
            wizard_shell::error(
                std::string("Cannot read the profile. Please verify the file is a Quorvex profile."));
    } catch (const tk_exception& e) {
        page_errors::show(e);
    }
    show_target();
    return loaded;
}
