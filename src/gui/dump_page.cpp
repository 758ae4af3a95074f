#include "gui/dump_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/pellix_converter.h"
#include "gui/page_widgets.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

dump_page::dump_page()
    : wizard_page(dialog, wiz_back | wiz_next, page_has_help | page_header, L"Step 1 of 5",
                  L"MySQL dump file settings", 1014) {}

QWidget* dump_page::create_widget() {
    auto* w = new QWidget();
    auto* layout = new QVBoxLayout(w);
    // Two groups: Qt would otherwise make the four radios one exclusive set.
    auto* version_box = new QGroupBox(QStringLiteral("MySQL server version"), w);
    auto* version_layout = new QVBoxLayout(version_box);
    auto* versions = new QButtonGroup(w);
    for (auto [id, text] : {std::pair{1329, "n&ew (4.1 or higher)"}, std::pair{1330, "&old (before 4.1)"}}) {
        QRadioButton* r = page_widgets::radio(version_box, id, QString::fromUtf8(text));
        versions->addButton(r);
        version_layout->addWidget(r);
    }
    auto* eol_box = new QGroupBox(QStringLiteral("Line breaks"), w);
    auto* eol_layout = new QVBoxLayout(eol_box);
    auto* eols = new QButtonGroup(w);
    for (auto [id, text] : {std::pair{1331, "MS &Windows style (\\r\\n)"}, std::pair{1332, "Uni&x style (\\n)"}}) {
        QRadioButton* r = page_widgets::radio(eol_box, id, QString::fromUtf8(text));
        eols->addButton(r);
        eol_layout->addWidget(r);
    }
    layout->addWidget(version_box);
    layout->addWidget(eol_box);
    layout->addWidget(page_widgets::check(w, 1202, QStringLiteral("&Add lock for write around 'INSERT' statements")));
    layout->addWidget(page_widgets::check(w, 1203, QStringLiteral("Insert 'CREATE &DATABASE' statement")));
    layout->addWidget(page_widgets::check(w, 1204, QStringLiteral("Insert 'CREATE &TABLE' statements")));
    layout->addWidget(page_widgets::check(w, 1205, QStringLiteral("Insert &comments")));
    layout->addStretch();
    return w;
}

int dump_page::page_init() {
    tk_log(1, "sql_dump_page<t_converter>::page_init");
    const dump_options& d = pellix_converter::ptr()->dump;
    view().set_check(1329, d.b_new_ver);
    view().set_check(1330, !d.b_new_ver);
    const bool unix_eol = d.line_break != 0;
    view().set_check(1332, unix_eol);
    view().set_check(1331, !unix_eol);
    view().set_check(1202, d.b_lock_tables);
    view().set_check(1203, d.b_create_db);
    view().set_check(1204, d.b_create_table);
    view().set_check(1205, d.b_comments);
    view().set_enabled(1203, d.b_create_table);
    return 1;
}

void dump_page::on_command(int id, command_event event) {
    if (event != command_event::click) return;
    switch (id) {
        case 1202:
        case 1203:
        case 1205:
            invert_chbox(id);
            break;
        case 1204:
            invert_chbox(1204);
            view().set_enabled(1203, view().get_check(1204));  // its tick stays
            break;
        case 1329:
        case 1330:
            view().set_check(id, true);
            view().set_check(id == 1329 ? 1330 : 1329, false);
            break;
        case 1331:
        case 1332:
            view().set_check(id, true);
            view().set_check(id == 1331 ? 1332 : 1331, false);
            break;
        default:
            break;  // labels and group boxes
    }
}

void dump_page::store() {
    dump_options& d = pellix_converter::ptr()->dump;
    d.b_lock_tables = view().get_check(1202);
    d.b_create_db = view().get_check(1203);
    d.b_create_table = view().get_check(1204);
    d.b_comments = view().get_check(1205);
    d.b_new_ver = view().get_check(1329);
    server_version_ = d.b_new_ver ? new_version : old_version;
    d.line_break = view().get_check(1331) ? 0 : 1;
}

int dump_page::on_next() {
    store();
    return 105;
}

int dump_page::on_back() {
    store();
    return 103;
}
