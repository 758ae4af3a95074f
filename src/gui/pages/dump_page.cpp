#include "gui/pages/dump_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/pellix_converter.h"
#include "gui/frame/page_widgets.h"
#include "gui/pages/sel_file_page.h"
#include "gui/pages/welcome_page.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

dump_page::dump_page()
    : wizard_page(dialog, wiz_back | wiz_next, page_has_help | page_header, L"Step 1 of 5", L"MySQL dump file settings",
                  help_topic) {}

QWidget* dump_page::create_widget() {
    auto* w = new QWidget();
    auto* layout = new QVBoxLayout(w);
    // Two groups: Qt would otherwise make the four radios one exclusive set.
    auto* version_box = new QGroupBox(QStringLiteral("MySQL server version"), w);
    auto* version_layout = new QVBoxLayout(version_box);
    auto* versions = new QButtonGroup(w);
    for (auto [id, text] :
         {std::pair{new_version_id, "n&ew (4.1 or higher)"}, std::pair{old_version_id, "&old (before 4.1)"}}) {
        QRadioButton* r = page_widgets::radio(version_box, id, QString::fromUtf8(text));
        versions->addButton(r);
        version_layout->addWidget(r);
    }
    auto* eol_box = new QGroupBox(QStringLiteral("Line breaks"), w);
    auto* eol_layout = new QVBoxLayout(eol_box);
    auto* eols = new QButtonGroup(w);
    for (auto [id, text] :
         {std::pair{windows_eol_id, "MS &Windows style (\\r\\n)"}, std::pair{unix_eol_id, "Uni&x style (\\n)"}}) {
        QRadioButton* r = page_widgets::radio(eol_box, id, QString::fromUtf8(text));
        eols->addButton(r);
        eol_layout->addWidget(r);
    }
    layout->addWidget(version_box);
    layout->addWidget(eol_box);
    layout->addWidget(
        page_widgets::check(w, lock_tables_id, QStringLiteral("&Add lock for write around 'INSERT' statements")));
    layout->addWidget(page_widgets::check(w, create_db_id, QStringLiteral("Insert 'CREATE &DATABASE' statement")));
    layout->addWidget(page_widgets::check(w, create_table_id, QStringLiteral("Insert 'CREATE &TABLE' statements")));
    layout->addWidget(page_widgets::check(w, comments_id, QStringLiteral("Insert &comments")));
    layout->addStretch();
    return w;
}

int dump_page::page_init() {
    tk_log(1, "sql_dump_page<t_converter>::page_init");
    const dump_options& d = pellix_converter::ptr()->dump;
    view().set_check(new_version_id, d.b_new_ver);
    view().set_check(old_version_id, !d.b_new_ver);
    const bool unix_eol = d.line_break != 0;
    view().set_check(unix_eol_id, unix_eol);
    view().set_check(windows_eol_id, !unix_eol);
    view().set_check(lock_tables_id, d.b_lock_tables);
    view().set_check(create_db_id, d.b_create_db);
    view().set_check(create_table_id, d.b_create_table);
    view().set_check(comments_id, d.b_comments);
    view().set_enabled(create_db_id, d.b_create_table);
    return 1;
}

void dump_page::on_command(int id, command_event event) {
    if (event != command_event::click) return;
    switch (id) {
    case lock_tables_id:
    case create_db_id:
    case comments_id:
        invert_chbox(id);
        break;
    case create_table_id:
        invert_chbox(create_table_id);
        view().set_enabled(create_db_id, view().get_check(create_table_id));  // its tick stays
        break;
    case new_version_id:
    case old_version_id:
        view().set_check(id, true);
        view().set_check(id == new_version_id ? old_version_id : new_version_id, false);
        break;
    case windows_eol_id:
    case unix_eol_id:
        view().set_check(id, true);
        view().set_check(id == windows_eol_id ? unix_eol_id : windows_eol_id, false);
        break;
    default:
        break;  // labels and group boxes
    }
}

void dump_page::store() {
    dump_options& d = pellix_converter::ptr()->dump;
    d.b_lock_tables = view().get_check(lock_tables_id);
    d.b_create_db = view().get_check(create_db_id);
    d.b_create_table = view().get_check(create_table_id);
    d.b_comments = view().get_check(comments_id);
    d.b_new_ver = view().get_check(new_version_id);
    server_version_ = d.b_new_ver ? new_version : old_version;
    d.line_break = view().get_check(windows_eol_id) ? 0 : 1;
}

int dump_page::on_next() {
    store();
    return sel_file_page::dialog;
}

int dump_page::on_back() {
    store();
    return welcome_page::dialog;
}
