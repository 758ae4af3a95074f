// The pages and dialogs with their real widgets on the offscreen platform:
// mouse clicks and keys reach the page logic, the focus lands where the
// user goes on, and the dialogs keep, refuse or record what was typed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/pellix_converter.h"
#include "dialog_script.h"
#include "gui/dialogs/overwrite_dlg2.h"
#include "gui/dialogs/set_query_dlg.h"
#include "gui/dialogs/types_map_model.h"
#include "gui/frame/gui_call.h"
#include "gui/frame/qt_page_view.h"
#include "gui/frame/wizard_sheet.h"
#include "gui/frame/wizard_shell.h"
#include "gui/pages/conversion_settings.h"
#include "gui/pages/dump_page.h"
#include "gui/pages/pqz_sel_tables_page.h"
#include "gui/pages/sel_file_page.h"
#include "gui/pages/settings_page.h"
#include "gui/pages/welcome_page.h"
#include "gui_test_env.h"
#include "qt_controls.h"
#include "sql/sql_field_mutator.h"
#include "sql/sql_table_mutator.h"
#include "testkit/sample_folder.h"
#include "testkit/temp_dir.h"
#include "tk/tk_path.h"
#include "tk/tk_text.h"
#include "udb/udb_mutators.h"

namespace {

std::vector<std::wstring> rows_of(QListWidget* list) {
    std::vector<std::wstring> rows;
    for (int i = 0; i < list->count(); ++i) rows.push_back(list->item(i)->text().toStdWString());
    return rows;
}

// The keys that a shown button or buddied label shares with an earlier one.
std::string shared_mnemonics(QWidget* window) {
    std::set<QString> keys;
    std::string shared;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        auto* b = qobject_cast<QAbstractButton*>(w);
        auto* l = qobject_cast<QLabel*>(w);
        const QString key = QKeySequence::mnemonic(b ? b->text() : l && l->buddy() ? l->text() : QString()).toString();
        if (w->isVisibleTo(window) && !key.isEmpty() && !keys.insert(key).second) shared += key.toStdString() + " ";
    }
    return shared;
}

// The help window when it is open, and the file it shows (else empty).
QTextBrowser* help_window() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* help = qobject_cast<QTextBrowser*>(w); help && help->isVisible()) return help;
    return nullptr;
}
std::string help_page() { return help_window() ? help_window()->source().fileName().toStdString() : std::string(); }

class offline_settings : public settings_page {
public:
    int connects = 0;

protected:
    void connect() override { ++connects; }
};

class offline_files : public sel_file_page {
protected:
    bool db_exists(const std::wstring&) override { return false; }
};

// The six pages before the run and a stand-in for the progress page.
class qt_pages : public testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        conv = std::make_unique<pellix_converter>();
        std::filesystem::create_directories(dir.file("src"));
        testkit::write_sample_folder(dir.file("src"));
        shell = std::make_unique<wizard_shell>(L"Quorvex 6.1");
        shell->add_page(std::make_unique<welcome_page>());
        shell->add_page(std::make_unique<dump_page>());
        auto settings = std::make_unique<offline_settings>();
        server_page = settings.get();
        shell->add_page(std::move(settings));
        shell->add_page(std::make_unique<offline_files>());
        shell->add_page(std::make_unique<conversion_settings>());
        shell->add_page(std::make_unique<pqz_sel_tables_page>());
        shell->add_page(std::make_unique<wizard_page>(106, wiz_back, 0));
    }
    void TearDown() override {
        types_map_model::set_map_folder(std::string());
        shell.reset();
        conv.reset();
    }
    // Shows the sheet; `body` runs inside its event loop, then it closes.
    void run_with(const std::function<void()>& body) {
        QTimer::singleShot(0, [this, body] {
            shell->sheet().activateWindow();
            (void)QTest::qWaitForWindowActive(&shell->sheet(), 2000);
            body();
            shell->end(0);
        });
        shell->run();
    }
    QWidget* page() { return shell->current_page()->widget(); }
    template <typename W>
    W* ctl(int id) {
        return child<W>(page(), id);
    }
    QAbstractButton* btn(int id) { return ctl<QAbstractButton>(id); }
    QPushButton* sheet_button(const char* name) { return shell->sheet().findChild<QPushButton*>(name); }
    void next() { click(sheet_button("btn_next")); }
    void back() { click(sheet_button("btn_back")); }
    QWidget* focused() { return shell->sheet().focusWidget(); }
    std::wstring src() { return tk_utf8_to_unicode(dir.file("src")); }

    temp_dir dir;
    std::unique_ptr<pellix_converter> conv;
    std::unique_ptr<wizard_shell> shell;
    offline_settings* server_page = nullptr;
    dialog_script script;
};

}  // namespace

TEST_F(qt_pages, a_dump_is_set_up_with_clicks_and_keys_and_back_shows_it_again) {
    conv->direct = true;
    conv->dump = dump_options();
    conv->code_page = 0;
    run_with([&] {
        ASSERT_EQ(shell->current_dialog(), 103);
        EXPECT_TRUE(btn(1329)->isChecked());
        click(btn(1330));
        EXPECT_TRUE(btn(1330)->isChecked());
        EXPECT_FALSE(btn(1329)->isChecked());
        next();
        ASSERT_EQ(shell->current_dialog(), 102);

        // The two radio pairs stay apart; boxes toggle once per click or Space.
        const bool create_table = btn(1204)->isChecked();
        click(btn(1204));
        EXPECT_NE(btn(1204)->isChecked(), create_table);
        EXPECT_EQ(btn(1203)->isEnabled(), btn(1204)->isChecked());
        click(btn(1204));
        EXPECT_TRUE(btn(1203)->isEnabled());
        const bool lock = btn(1202)->isChecked();
        btn(1202)->setFocus();
        QTest::keyClick(btn(1202), Qt::Key_Space);
        EXPECT_NE(btn(1202)->isChecked(), lock);
        click(btn(1330));
        click(btn(1332));
        EXPECT_TRUE(btn(1330)->isChecked() && btn(1332)->isChecked());
        EXPECT_FALSE(btn(1329)->isChecked() || btn(1331)->isChecked());
        next();
        ASSERT_EQ(shell->current_dialog(), 105);
        EXPECT_FALSE(conv->direct);
        EXPECT_FALSE(conv->dump.b_new_ver);
        EXPECT_EQ(conv->dump.line_break, 1u);
        EXPECT_EQ(conv->dump.b_lock_tables, !lock);

        // Source by typing, destination suggested when its edit gets the focus.
        EXPECT_EQ(ctl<QLabel>(1311)->text(), QStringLiteral("&Destination dump file name:"));
        EXPECT_FALSE(ctl<QWidget>(1104)->isHidden());
        ctl<QLineEdit>(1003)->setFocus();
        QTest::keyClicks(ctl<QLineEdit>(1003), QString::fromStdWString(src() + L"/"));
        ctl<QLineEdit>(1004)->setFocus();
        EXPECT_EQ(ctl<QLineEdit>(1004)->text().toStdWString(), src() + L".sql");
        // The save pickers fill the destination and the log file, with
        // their extension once, each under its own title.
        QString picker_title;
        std::string pick = dir.file("picked");
        script.handlers[QStringLiteral("save_file_dialog")] = [&](QDialog& d) {
            picker_title = d.windowTitle();
            auto* picker = qobject_cast<QFileDialog*>(&d);
            picker->selectFile(QString::fromStdString(pick));
            d.accept();
        };
        click(btn(1104));
        EXPECT_EQ(picker_title, QStringLiteral("Select Dump File"));
        EXPECT_EQ(ctl<QLineEdit>(1004)->text().toStdString(), dir.file("picked.sql"));
        pick = dir.file("trace");
        click(btn(1105));
        EXPECT_EQ(picker_title, QStringLiteral("Select Log File"));
        EXPECT_EQ(ctl<QLineEdit>(1005)->text().toStdString(), dir.file("trace.log"));
        ctl<QLineEdit>(1005)->clear();
        next();
        ASSERT_EQ(shell->current_dialog(), 107) << (script.boxes.empty() ? "" : script.boxes.back());

        // Encoding by keys, a switch by a click.
        auto* encoding = ctl<QComboBox>(1302);
        ASSERT_EQ(encoding->count(), 28);
        encoding->setFocus();
        const int before = encoding->currentIndex();
        QTest::keyClick(encoding, Qt::Key_Down);
        ASSERT_EQ(encoding->currentIndex(), before + 1);
        const auto byte = static_cast<uint32_t>(encoding->currentData().toLongLong());
        click(btn(1226));
        EXPECT_TRUE(btn(1226)->isChecked());
        next();
        ASSERT_EQ(shell->current_dialog(), 127);
        EXPECT_TRUE(conv->skip_idx);
        EXPECT_FALSE(conv->tab_def);
        EXPECT_EQ(conv->code_page, byte);

        back();
        ASSERT_EQ(shell->current_dialog(), 107);
        EXPECT_TRUE(btn(1226)->isChecked());
        EXPECT_EQ(ctl<QComboBox>(1302)->currentIndex(), before + 1);
        back();
        ASSERT_EQ(shell->current_dialog(), 105);
        EXPECT_EQ(ctl<QLineEdit>(1004)->text().toStdString(), dir.file("picked.sql"));
        back();
        ASSERT_EQ(shell->current_dialog(), 102);
        EXPECT_TRUE(btn(1332)->isChecked());
        back();
        ASSERT_EQ(shell->current_dialog(), 103);
        EXPECT_TRUE(btn(1330)->isChecked());
    });
    EXPECT_TRUE(script.boxes.empty()) << script.boxes.front();
}

TEST_F(qt_pages, load_settings_picks_a_profile_and_moves_the_radio) {
    const std::string profile = dir.file("dump.pqz");
    conv->direct = false;
    conv->source = L"/from/the/profile";
    conv->store_profile(profile);
    conv->direct = true;
    conv->source.clear();
    QString filters;
    script.handlers[QStringLiteral("open_file_dialog")] = [&](QDialog& d) {
        auto* picker = qobject_cast<QFileDialog*>(&d);
        filters = picker->nameFilters().join(QLatin1Char(';'));
        picker->selectFile(QString::fromStdString(profile));
        d.accept();
    };
    run_with([&] {
        ASSERT_TRUE(btn(1329)->isChecked());
        click(btn(1115));
        EXPECT_TRUE(btn(1330)->isChecked());
        EXPECT_FALSE(btn(1329)->isChecked());
        // A cancelled picker changes nothing.
        script.handlers[QStringLiteral("open_file_dialog")] = [](QDialog& d) { d.reject(); };
        click(btn(1329));
        click(btn(1115));
        EXPECT_TRUE(btn(1329)->isChecked());
    });
    EXPECT_TRUE(filters.contains(QStringLiteral("*.pqz"))) << filters.toStdString();
    EXPECT_EQ(script.opened[QStringLiteral("open_file_dialog")], 2);
    EXPECT_EQ(conv->source, L"/from/the/profile");
    EXPECT_TRUE(script.boxes.empty()) << script.boxes.front();
}

TEST_F(qt_pages, remote_puts_the_focus_on_the_port_and_local_stores_an_empty_host) {
    conv->direct = true;
    conv->host.clear();
    conv->password.clear();
    run_with([&] {
        next();
        ASSERT_EQ(shell->current_dialog(), 123);
        EXPECT_TRUE(btn(1329)->isChecked());
        EXPECT_FALSE(ctl<QWidget>(1014)->isEnabled());
        click(btn(1330));
        EXPECT_TRUE(ctl<QWidget>(1014)->isEnabled());
        EXPECT_EQ(focused(), ctl<QWidget>(1015));
        // An empty port gets MySQL's own; a typed one stays.
        EXPECT_EQ(ctl<QLineEdit>(1015)->text(), QStringLiteral("3306"));
        retype(ctl<QLineEdit>(1014), QStringLiteral("db.example"));
        retype(ctl<QLineEdit>(1015), QStringLiteral("3307"));
        click(btn(1329));
        click(btn(1330));
        EXPECT_EQ(ctl<QLineEdit>(1015)->text(), QStringLiteral("3307"));
        auto* password = ctl<QLineEdit>(1013);
        EXPECT_EQ(password->echoMode(), QLineEdit::Password);
        retype(password, QStringLiteral(" pass word "));
        retype(ctl<QLineEdit>(1012), QStringLiteral("admin"));
        next();
        ASSERT_EQ(shell->current_dialog(), 105);
        EXPECT_EQ(conv->host, "db.example");
        EXPECT_EQ(conv->port, "3307");
        back();
        ASSERT_EQ(shell->current_dialog(), 123);
        EXPECT_TRUE(btn(1330)->isChecked());
        EXPECT_EQ(ctl<QLineEdit>(1014)->text(), QStringLiteral("db.example"));
        click(btn(1329));
        EXPECT_FALSE(ctl<QWidget>(1015)->isEnabled());
        next();
        ASSERT_EQ(shell->current_dialog(), 105);
        EXPECT_EQ(ctl<QLabel>(1311)->text(), QStringLiteral("My&SQL destination database name:"));
        EXPECT_TRUE(ctl<QWidget>(1104)->isHidden());
    });
    EXPECT_EQ(server_page->connects, 2);
    EXPECT_EQ(conv->host, "");
    EXPECT_EQ(conv->port, "3306");
    EXPECT_EQ(conv->user, "admin");
    EXPECT_EQ(conv->password, " pass word ");
}

TEST_F(qt_pages, the_folder_picker_fills_the_source_and_a_cancelled_one_changes_nothing) {
    conv->direct = true;
    conv->source.clear();
    conv->destination.clear();
    run_with([&] {
        shell->select_page(105);
        ASSERT_EQ(shell->current_dialog(), 105);
        QString title;
        script.handlers[QStringLiteral("folder_dialog")] = [&](QDialog& d) {
            title = d.windowTitle();
            auto* picker = qobject_cast<QFileDialog*>(&d);
            picker->selectFile(QString::fromStdWString(src()));
            d.accept();
        };
        click(btn(1107));
        EXPECT_EQ(title, QStringLiteral("Select DBF database folder"));
        EXPECT_EQ(ctl<QLineEdit>(1003)->text().toStdWString(), src());
        EXPECT_EQ(ctl<QLineEdit>(1004)->text(), QStringLiteral("src"));
        script.handlers[QStringLiteral("folder_dialog")] = [](QDialog& d) { d.reject(); };
        click(btn(1107));
        EXPECT_EQ(ctl<QLineEdit>(1003)->text().toStdWString(), src());
    });
    EXPECT_EQ(script.opened[QStringLiteral("folder_dialog")], 2);
}

TEST_F(qt_pages, tables_move_by_clicks_and_add_all_focuses_the_selected_list) {
    conv->source = src();
    conv->direct = false;
    conv->selected_pairs.clear();
    conv->selected_tables.clear();
    run_with([&] {
        shell->select_page(127);
        ASSERT_EQ(shell->current_dialog(), 127);
        auto* available = ctl<QListWidget>(1317);
        auto* selected = ctl<QListWidget>(1318);
        EXPECT_EQ(rows_of(available), (std::vector<std::wstring>{L"customer", L"orders", L"parts"}));
        EXPECT_TRUE(ctl<QWidget>(1117)->isHidden());
        click_row(available, QStringLiteral("parts"));
        click_row(available, QStringLiteral("customer"), false, Qt::ControlModifier);
        click(btn(1101));
        EXPECT_EQ(rows_of(selected), (std::vector<std::wstring>{L"customer", L"parts"}));
        EXPECT_EQ(rows_of(available), (std::vector<std::wstring>{L"orders"}));
        // A double click in Available adds too.
        click_row(available, QStringLiteral("orders"), true);
        EXPECT_EQ(rows_of(selected), (std::vector<std::wstring>{L"customer", L"parts", L"orders"}));
        EXPECT_EQ(focused(), selected);
        click_row(selected, QStringLiteral("parts"));
        click(btn(1111));
        EXPECT_EQ(rows_of(available), (std::vector<std::wstring>{L"parts"}));
        click(btn(1110));
        EXPECT_EQ(available->count(), 3);
        EXPECT_EQ(focused(), available);
        click(btn(1102));
        EXPECT_EQ(available->count(), 0);
        EXPECT_EQ(selected->count(), 3);
        EXPECT_EQ(focused(), selected);
        click_row(selected, QStringLiteral("orders"));
        click(btn(1111));
        next();
        EXPECT_EQ(shell->current_dialog(), 106);
    });
    // Remove all put parts behind the others' order of removal; Add all keeps it.
    EXPECT_EQ(conv->selected_tables, (std::vector<std::wstring>{L"parts", L"customer"}));
}

namespace {

QStringList items_of(QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
}

}  // namespace

TEST_F(qt_pages, the_table_editor_edits_refuses_empty_names_and_shows_what_it_recorded) {
    conv->source = src();
    conv->selected_pairs.clear();
    conv->selected_tables = {L"customer"};
    bool first_done = false;
    bool second_done = false;
    script.handlers[QStringLiteral("dlg_135")] = [&](QDialog& d) {
        auto* list = child<QTreeWidget>(&d, 1316);
        auto* name = child<QLineEdit>(&d, 1004);
        auto* type = child<QComboBox>(&d, 1302);
        auto* length = child<QLineEdit>(&d, 1006);
        auto* precision = child<QLineEdit>(&d, 1007);
        if (first_done) {
            // Reopened: the recorded changes are shown, and Cancel records nothing.
            QTreeWidgetItem* renamed = row_named(list, QStringLiteral("full_name"));
            EXPECT_NE(renamed, nullptr);
            if (renamed) {
                EXPECT_EQ(renamed->text(2), QStringLiteral("VARCHAR(40)"));
            }
            EXPECT_NE(row_named(list, QStringLiteral("town")), nullptr);
            EXPECT_EQ(row_named(list, QStringLiteral("BORN"))->checkState(0), Qt::Unchecked);
            EXPECT_EQ(child<QLineEdit>(&d, 1003)->text(), QStringLiteral("clients"));
            list->setCurrentItem(renamed);
            EXPECT_EQ(type->currentText(), QStringLiteral("VARCHAR"));
            EXPECT_EQ(length->text(), QStringLiteral("40"));
            retype(name, QStringLiteral("not_kept"));
            click(child<QPushButton>(&d, 2));
            second_done = true;
            return;
        }
        ASSERT_EQ(list->topLevelItemCount(), 7);
        EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
        // NAME: its own type first, length shown, precision hidden.
        QTreeWidgetItem* name_row = row_named(list, QStringLiteral("NAME"));
        ASSERT_NE(name_row, nullptr);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(name_row).center());
        ASSERT_EQ(list->currentItem(), name_row);
        EXPECT_EQ(name->text(), QStringLiteral("NAME"));
        const QStringList offered = items_of(type);
        ASSERT_FALSE(offered.isEmpty());
        EXPECT_EQ(offered.first(), name_row->text(2).section(QLatin1Char('('), 0, 0));
        EXPECT_TRUE(offered.contains(QStringLiteral("VARCHAR")));
        EXPECT_TRUE(offered.contains(QStringLiteral("TEXT")));
        EXPECT_FALSE(length->isHidden());
        EXPECT_TRUE(precision->isHidden());
        type->setCurrentIndex(type->findText(QStringLiteral("TEXT")));
        EXPECT_TRUE(length->isHidden());
        type->setCurrentIndex(type->findText(QStringLiteral("VARCHAR")));
        EXPECT_FALSE(length->isHidden());
        retype(name, QStringLiteral("full_name"));
        retype(length, QStringLiteral("4x0"));  // digits only
        EXPECT_EQ(length->text(), QStringLiteral("40"));
        // CITY: an empty name keeps the row selected until it is fixed.
        QTreeWidgetItem* city = row_named(list, QStringLiteral("CITY"));
        list->setCurrentItem(city);
        retype(name, QString());
        list->setCurrentItem(row_named(list, QStringLiteral("BORN")));
        EXPECT_EQ(list->currentItem(), city);
        EXPECT_EQ(script.boxes.back(), "Name cannot be empty. Try again.");
        retype(name, QStringLiteral("town"));
        // BORN is dropped by its tick.
        QTreeWidgetItem* born = row_named(list, QStringLiteral("BORN"));
        born->setCheckState(0, Qt::Unchecked);
        // An empty table name is refused and the dialog stays.
        retype(child<QLineEdit>(&d, 1003), QString());
        const size_t boxes = script.boxes.size();
        click(child<QPushButton>(&d, 1));
        EXPECT_EQ(script.boxes.size(), boxes + 1);
        EXPECT_EQ(script.boxes.back(), "Name cannot be empty. Try again.");
        EXPECT_TRUE(d.isVisible());
        // A name another kept field has is refused too.
        retype(name, QStringLiteral("FULL_NAME"));
        click(child<QPushButton>(&d, 1));
        EXPECT_EQ(script.boxes.back(), "The field name FULL_NAME is taken by another field. Try again.");
        EXPECT_TRUE(d.isVisible());
        retype(name, QStringLiteral("town"));
        retype(child<QLineEdit>(&d, 1003), QStringLiteral("clients"));
        first_done = true;
        click(child<QPushButton>(&d, 1));
    };
    run_with([&] {
        shell->select_page(127);
        ASSERT_EQ(shell->current_dialog(), 127);
        auto* selected = ctl<QListWidget>(1318);
        ASSERT_EQ(rows_of(selected), (std::vector<std::wstring>{L"customer"}));
        // From the keyboard: Enter on the item opens it (and presses no Next), then F2.
        selected->setFocus();
        selected->setCurrentRow(0);
        QTest::keyClick(selected, Qt::Key_Return);
        ASSERT_TRUE(first_done);
        EXPECT_EQ(shell->current_dialog(), 127);
        QTest::keyClick(selected, Qt::Key_F2);
    });
    EXPECT_TRUE(second_done);
    EXPECT_EQ(script.opened[QStringLiteral("dlg_135")], 2);
    const sql_table_mutator* tm = conv->get_table_mutator3(L"customer");
    ASSERT_NE(tm, nullptr);
    EXPECT_EQ(tm->new_name, L"clients");
    const sql_field_mutator* name = tm->get_field_mutator(L"NAME");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->new_name, L"full_name");
    EXPECT_EQ(name->native_type, L"VARCHAR");
    EXPECT_EQ(name->length, 40);
    ASSERT_NE(tm->get_field_mutator(L"CITY"), nullptr);
    EXPECT_EQ(tm->get_field_mutator(L"CITY")->new_name, L"town");
    EXPECT_FALSE(tm->get_field_mutator(L"CITY")->is_retyped());
    ASSERT_NE(tm->get_field_mutator(L"BORN"), nullptr);
    EXPECT_EQ(tm->get_field_mutator(L"BORN")->status, udb_mutators::deleted);
    EXPECT_EQ(tm->get_field_mutator(L"CUST_ID"), nullptr);  // untouched: converts as before
}

TEST_F(qt_pages, a_missing_type_map_is_reported_and_opens_nothing) {
    temp_dir empty;
    types_map_model::set_map_folder(empty.path());
    conv->source = src();
    conv->selected_pairs.clear();
    conv->selected_tables = {L"parts"};
    run_with([&] {
        shell->select_page(127);
        click_row(ctl<QListWidget>(1318), QStringLiteral("parts"), true);
    });
    EXPECT_EQ(script.opened[QStringLiteral("dlg_135")], 0);
    ASSERT_EQ(script.boxes.size(), 1u);
    EXPECT_EQ(script.boxes[0], "Cannot find " + empty.path() + "/sql.map. Custom type mapping is not available.");
    EXPECT_EQ(script.titles[0], "Quorvex 6.1 Error");
    EXPECT_EQ(conv->get_table_mutator3(L"parts"), nullptr);
}

TEST_F(qt_pages, a_table_gone_from_the_folder_is_reported_not_opened) {
    conv->source = src();
    conv->selected_pairs.clear();
    conv->selected_tables = {L"parts"};
    run_with([&] {
        shell->select_page(127);
        std::filesystem::remove(dir.file("src/parts.dbf"));
        click_row(ctl<QListWidget>(1318), QStringLiteral("parts"), true);
    });
    EXPECT_EQ(script.opened[QStringLiteral("dlg_135")], 0);
    ASSERT_EQ(script.boxes.size(), 1u);
    EXPECT_EQ(script.boxes[0], "Table parts not exists");
}

TEST_F(qt_pages, the_query_dialog_refuses_bad_input_and_stores_one_line) {
    conv->source = src();
    conv->selected_tables.clear();
    conv->selected_pairs = {{L"q1", L"SELECT 1"}};
    std::wstring seen_query;
    script.handlers[QStringLiteral("dlg_128")] = [&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Edit Query"));
        auto* name = child<QLineEdit>(&d, 1019);
        auto* query = child<QPlainTextEdit>(&d, 1020);
        EXPECT_EQ(name->maxLength(), set_query_dlg::max_name);
        seen_query = query->toPlainText().toStdWString();
        auto* ok = child<QPushButton>(&d, 1);
        const std::pair<QString, std::string> refused[] = {
            {QStringLiteral("   "), "Table name is empty!"},
            {QStringLiteral("a=b"), "The table name cannot contain '=' or line breaks, or start with '['."},
            {QStringLiteral("[MySQL settings]"),
             "The table name cannot contain '=' or line breaks, or start with '['."}};
        for (const auto& [text, message] : refused) {
            retype(name, text);
            click(ok);
            EXPECT_EQ(script.boxes.back(), message);
            EXPECT_TRUE(d.isVisible());
        }
        retype(name, QStringLiteral(" best "));
        query->setFocus();
        query->selectAll();
        QTest::keyClick(query, Qt::Key_Delete);
        click(ok);
        EXPECT_EQ(script.boxes.back(), "Query is empty!");
        QTest::keyClicks(query, QStringLiteral("update t"));
        click(child<QPushButton>(&d, 129));
        EXPECT_EQ(script.boxes.back(), "The query must start with SELECT.");
        query->selectAll();
        QTest::keyClick(query, Qt::Key_Delete);
        QTest::keyClicks(query, QStringLiteral("  select a"));
        QTest::keyClick(query, Qt::Key_Return);
        QTest::keyClicks(query, QStringLiteral("from t "));
        click(child<QPushButton>(&d, 129));
        EXPECT_EQ(script.boxes.back(), tk_unicode_to_utf8(set_query_dlg::syntax_error_text()));
        EXPECT_TRUE(d.isVisible());
        click(ok);
    };
    run_with([&] {
        shell->select_page(127);
        auto* selected = ctl<QListWidget>(1318);
        ASSERT_EQ(rows_of(selected), (std::vector<std::wstring>{L"q1"}));
        click_row(selected, QStringLiteral("q1"), true);
        EXPECT_EQ(rows_of(selected), (std::vector<std::wstring>{L"best"}));
        // Escape leaves the dialog with nothing changed.
        script.handlers[QStringLiteral("dlg_128")] = [](QDialog& d) {
            retype(child<QLineEdit>(&d, 1019), QStringLiteral("other"));
            QTest::keyClick(&d, Qt::Key_Escape);
        };
        click_row(selected, QStringLiteral("best"), true);
        EXPECT_EQ(rows_of(selected), (std::vector<std::wstring>{L"best"}));
        next();
    });
    EXPECT_EQ(seen_query, L"SELECT 1");
    ASSERT_EQ(conv->selected_pairs.size(), 1u);
    EXPECT_EQ(conv->selected_pairs[0], (std::pair<std::wstring, std::wstring>{L"best", L"select a from t"}));
    EXPECT_EQ(script.opened[QStringLiteral("dlg_128")], 2);
}

TEST_F(qt_pages, adding_a_query_refuses_what_editing_refuses_and_names_either_list_holds) {
    conv->source = src();
    conv->selected_tables = {L"parts"};
    conv->selected_pairs.clear();
    std::vector<QString> titles;
    std::vector<std::pair<QString, QString>> seen;  // name and query each dialog opened with
    int round = 0;
    script.handlers[QStringLiteral("dlg_128")] = [&](QDialog& d) {
        titles.push_back(d.windowTitle());
        auto* name = child<QLineEdit>(&d, 1019);
        auto* query = child<QPlainTextEdit>(&d, 1020);
        seen.emplace_back(name->text(), query->toPlainText());
        auto* ok = child<QPushButton>(&d, 1);
        if (round++ == 0) {
            query->setPlainText(QStringLiteral("SELECT * FROM parts"));
            const std::pair<QString, std::string> refused[] = {
                {QString(), "Table name is empty!"},
                {QStringLiteral("="), "The table name cannot contain '=' or line breaks, or start with '['."},
                {QStringLiteral("a\nb"), "The table name cannot contain '=' or line breaks, or start with '['."},
                {QStringLiteral("[x"), "The table name cannot contain '=' or line breaks, or start with '['."}};
            for (const auto& [text, message] : refused) {
                name->setText(text);
                click(ok);
                EXPECT_EQ(script.boxes.back(), message) << text.toStdString();
                EXPECT_TRUE(d.isVisible());
            }
            retype(name, QStringLiteral("CUSTOMER"));  // a table still in Available
        } else if (round == 2) {
            retype(name, QStringLiteral("Parts"));  // a table in Selected
        } else {
            retype(name, QStringLiteral("cheap_parts"));
        }
        click(ok);
    };
    run_with([&] {
        shell->select_page(127);
        auto* page = dynamic_cast<sel_tables_page*>(shell->current_page());
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(ctl<QWidget>(1114)->isHidden());
        page->on_add_query();
        EXPECT_EQ(rows_of(ctl<QListWidget>(1318)), (std::vector<std::wstring>{L"parts", L"cheap_parts"}));
        EXPECT_EQ(ctl<QListWidget>(1318)->currentRow(), 1);
        next();
    });
    EXPECT_EQ(script.opened[QStringLiteral("dlg_128")], 3);
    EXPECT_EQ(titles, std::vector<QString>(3, QStringLiteral("Add Query")));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], (std::pair<QString, QString>{QString(), QString()}));
    // Asked again with what was typed, to be mended.
    EXPECT_EQ(seen[1],
              (std::pair<QString, QString>{QStringLiteral("CUSTOMER"), QStringLiteral("SELECT * FROM parts")}));
    EXPECT_EQ(std::count(script.boxes.begin(), script.boxes.end(), "Duplicate table name. Try again."), 2);
    ASSERT_FALSE(conv->selected_pairs.empty());
    EXPECT_EQ(conv->selected_pairs.back(),
              (std::pair<std::wstring, std::wstring>{L"cheap_parts", L"SELECT * FROM parts"}));
    EXPECT_EQ(conv->selected_tables, (std::vector<std::wstring>{L"parts"}));
}

// A converter whose source runs queries, to see that Test Query asks it.
class query_running_converter : public pellix_converter {
public:
    std::vector<std::wstring> tested;
    bool test_query(const std::wstring& query) override {
        tested.push_back(query);
        return true;
    }
};

TEST_F(qt_pages, test_query_asks_the_converter) {
    auto test_in_dialog = [&] {
        script.handlers[QStringLiteral("dlg_128")] = [&](QDialog& d) {
            click(child<QPushButton>(&d, 129));
            EXPECT_TRUE(d.isVisible());
            d.reject();
        };
        run_with([&] {
            set_query_dlg dlg(&shell->sheet(), L"q", L"  select a\nfrom t ", set_query_dlg::purpose::edit);
            (void)gui_call::exec_modal(dlg);
        });
    };
    // The DBF converter runs no query: every tested query is refused.
    test_in_dialog();
    ASSERT_FALSE(script.boxes.empty());
    EXPECT_EQ(script.boxes.back(), tk_unicode_to_utf8(set_query_dlg::syntax_error_text()));
    script.boxes.clear();
    shell.reset();
    conv.reset();
    auto runner = std::make_unique<query_running_converter>();
    query_running_converter* fake = runner.get();
    conv = std::move(runner);
    shell = std::make_unique<wizard_shell>(L"Quorvex 6.1");
    shell->add_page(std::make_unique<wizard_page>(106, wiz_back, 0));
    test_in_dialog();
    EXPECT_EQ(fake->tested, (std::vector<std::wstring>{L"select a from t"}));
    ASSERT_EQ(script.boxes.size(), 1u);
    EXPECT_EQ(script.boxes[0], "The query is correct.");
}

// Every page of the sheet, from a control of its own, and the dialog in
// front: keys of their own, and F1 opens the shipped page of that help.
TEST_F(qt_pages, no_two_controls_share_a_key_and_f1_opens_the_help_in_front) {
    conv->source = src();
    shell->set_help_folder(tk_get_module_dir() + "../../pellix.help");
    run_with([&] {
        for (int dialog : {103, 102, 123, 105, 107, 127}) {
            shell->select_page(dialog);
            ASSERT_EQ(shell->current_dialog(), dialog);
            EXPECT_EQ(shared_mnemonics(&shell->sheet()), "") << dialog;
            QTest::keyClick(page()->findChild<QWidget*>(), Qt::Key_F1);
            EXPECT_EQ(help_page(), std::to_string(shell->current_page()->get_help_topic()) + ".html") << dialog;
        }
        // Beside the running sheet the help takes clicks: its link leads to the index.
        QTextBrowser* help = help_window();
        QTextCursor link = help->document()->find(QStringLiteral("Contents"));
        link.setPosition(link.selectionStart() + 1);
        const QPoint at = help->viewport()->mapTo(help, help->cursorRect(link).center());
        QTest::mouseClick(help->windowHandle(), Qt::LeftButton, {}, at);  // as the window system delivers it
        EXPECT_EQ(help_page(), "index.html");
        script.handlers[QStringLiteral("dlg_121")] = [&](QDialog& d) {
            EXPECT_EQ(shared_mnemonics(&d), "");
            QApplication::setActiveWindow(&d);  // in front, as a click puts it after the help window
            QTest::keyClick(&d, Qt::Key_F1);
            EXPECT_EQ(help_page(), "1013.html");
            QApplication::setActiveWindow(&d);
            QTest::keyClick(&d, Qt::Key_K, Qt::AltModifier);  // O&K: a click a moment later
            gui_pump_until([&] { return !d.isVisible(); });
            if (d.isVisible()) d.reject();
        };
        EXPECT_EQ(overwrite_dlg2::ask(L"exists", 2), 2);
    });
}

TEST_F(qt_pages, the_overwrite_dialog_gives_the_ticked_mode_or_cancel) {
    std::vector<int> modes;
    run_with([&] {
        QString title;
        bool first_ticked = false;
        script.handlers[QStringLiteral("dlg_121")] = [&](QDialog& d) {
            title = d.windowTitle();
            first_ticked = child<QRadioButton>(&d, 1329)->isChecked();
            EXPECT_EQ(child<QLabel>(&d, 1320)->text(), QStringLiteral("exists"));
            click(child<QRadioButton>(&d, 1331));
            EXPECT_FALSE(child<QRadioButton>(&d, 1329)->isChecked());
            click(child<QPushButton>(&d, 1));
        };
        modes.push_back(overwrite_dlg2::ask(L"exists", 0));
        EXPECT_EQ(title, QStringLiteral("Quorvex 6.1 Warning"));
        EXPECT_TRUE(first_ticked);
        // Space ticks the focused radio; Enter is OK.
        script.handlers[QStringLiteral("dlg_121")] = [](QDialog& d) {
            auto* second = child<QRadioButton>(&d, 1330);
            second->setFocus();
            QTest::keyClick(second, Qt::Key_Space);
            EXPECT_TRUE(second->isChecked());
            EXPECT_FALSE(child<QRadioButton>(&d, 1329)->isChecked());
            QTest::keyClick(&d, Qt::Key_Return);
            if (d.isVisible()) {
                ADD_FAILURE() << "Enter did not press OK";
                click(child<QPushButton>(&d, 1));
            }
        };
        modes.push_back(overwrite_dlg2::ask(L"exists", 0));
        script.handlers[QStringLiteral("dlg_121")] = [](QDialog& d) {
            click(child<QRadioButton>(&d, 1332));
            click(child<QPushButton>(&d, 2));
        };
        modes.push_back(overwrite_dlg2::ask(L"exists", 0));
        script.handlers[QStringLiteral("dlg_121")] = [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); };
        modes.push_back(overwrite_dlg2::ask(L"exists", 0));
        // A loaded profile's mode starts ticked; one without a radio stays.
        int ticked = 0;
        script.handlers[QStringLiteral("dlg_121")] = [&](QDialog& d) {
            for (int id = 1329; id <= 1332; ++id) ticked += child<QRadioButton>(&d, id)->isChecked() ? id : 0;
            click(child<QPushButton>(&d, 1));
        };
        modes.push_back(overwrite_dlg2::ask(L"exists", 3));
        modes.push_back(overwrite_dlg2::ask(L"exists", 4));
        EXPECT_EQ(ticked, 1332);
    });
    EXPECT_EQ(modes, (std::vector<int>{2, 1, -1, -1, 3, 4}));
}
