// The pages before the run with their real widgets against the private
// MariaDB server, and runs started straight after them (the progress page
// left out) into the server and into dump files: what the pages show
// arrives in the converted tables.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "dialog_script.h"
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
#include "qt_controls.h"
#include "testkit/dbf_fixture.h"
#include "testkit/files.h"
#include "testkit/mariadb_client.h"
#include "testkit/recording_error_view.h"
#include "testkit/sample_folder.h"
#include "testkit/temp_dir.h"
#include "testkit/test_server.h"
#include "tk/tk_text.h"

namespace fs = std::filesystem;
using testkit::dbf_value;

namespace {

// Connector/C reads MYSQL_UNIX_PORT once, when the library starts, so the
// harness socket is named before any connection of this program.
const bool socket_named = [] {
    if (const char* socket = std::getenv("QZ_TEST_SOCKET")) setenv("MYSQL_UNIX_PORT", socket, 1);
    return true;
}();

size_t count_of(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string without_date_line(const std::string& dump) {
    std::istringstream in(dump);
    std::string line, out;
    while (std::getline(in, line))
        if (line.rfind("# Creation date:", 0) != 0) out += line + "\n";
    return out;
}

// people: a logical field, a deleted record and a byte that is Cyrillic in 866.
testkit::dbf_fixture_table people() {
    testkit::dbf_fixture_table t;
    t.version = 0x03;
    t.fields = {{"ID", 'N', 5, 0}, {"NAME", 'C', 12, 0}, {"OK", 'L', 1, 0}};
    const char* names[] = {"ab\xE0", "gone", "cd"};
    for (int i = 0; i < 3; ++i) {
        testkit::dbf_fixture_record r;
        r.deleted = i == 1;
        r.values = {dbf_value::num(std::to_string(i + 1)), dbf_value::str(names[i]), dbf_value::boolean(i == 0)};
        t.records.push_back(r);
    }
    return t;
}

testkit::dbf_fixture_table small(const std::string& value) {
    testkit::dbf_fixture_table t;
    t.version = 0x03;
    t.fields = {{"CODE", 'C', 8, 0}};
    testkit::dbf_fixture_record r;
    r.values = {dbf_value::str(value)};
    t.records.push_back(r);
    return t;
}

class server_pages : public testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        server = test_server::from_environment();
        database =
            ("qz_pages_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name())).substr(0, 60);
        fs::create_directories(src());
        fs::create_directories(dir.file("empty"));
        testkit::dbf_fixture::write(fs::path(src()) / "people.dbf", people());
        testkit::dbf_fixture::write(fs::path(src()) / "parts.dbf", small("P1"));
        testkit::dbf_fixture::write(fs::path(src()) / "extra.dbf", small("X1"));
        conv = std::make_unique<pellix_converter>();
        conv->host.clear();
        conv->selected_pairs.clear();
        conv->selected_tables.clear();
        conv->direct = true;
        shell = std::make_unique<wizard_shell>(L"Quorvex 6.1");
        shell->add_page(std::make_unique<welcome_page>());
        shell->add_page(std::make_unique<dump_page>());
        shell->add_page(std::make_unique<settings_page>());
        shell->add_page(std::make_unique<sel_file_page>());
        shell->add_page(std::make_unique<conversion_settings>());
        shell->add_page(std::make_unique<pqz_sel_tables_page>());
        shell->add_page(std::make_unique<wizard_page>(106, wiz_back, 0));
    }
    void TearDown() override {
        shell.reset();
        conv.reset();
        if (server.available()) client().query("DROP DATABASE IF EXISTS " + database);
    }
    testkit::mariadb_client client() const { return testkit::mariadb_client(server); }
    std::string src() const { return dir.path() + "/src"; }

    void run_with(const std::function<void()>& body) {
        QTimer::singleShot(0, [this, body] {
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
    void next() { click(shell->sheet().findChild<QPushButton*>("btn_next")); }
    void back() { click(shell->sheet().findChild<QPushButton*>("btn_back")); }

    // From the welcome page to the source page through Remote.
    void connect_remote(const std::string& password) {
        ASSERT_EQ(shell->current_dialog(), 103);
        click(btn(1329));
        next();
        ASSERT_EQ(shell->current_dialog(), 123);
        click(btn(1330));
        retype(ctl<QLineEdit>(1014), QStringLiteral("127.0.0.1"));
        retype(ctl<QLineEdit>(1015), QString::number(server.port));
        retype(ctl<QLineEdit>(1012), QString::fromStdString(server.user));
        retype(ctl<QLineEdit>(1013), QString::fromStdString(password));
        next();
    }
    // The source page's fields, then Next.
    void files(const std::string& source, const std::string& destination) {
        ASSERT_EQ(shell->current_dialog(), 105);
        retype(ctl<QLineEdit>(1003), QString::fromStdString(source));
        retype(ctl<QLineEdit>(1004), QString::fromStdString(destination));
        next();
    }
    void make_database_with(const std::string& table) {
        const auto r = client().query("DROP DATABASE IF EXISTS " + database + "; CREATE DATABASE " + database +
                                      "; CREATE TABLE " + database + "." + table + " (k INT)");
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::string tables() const { return client().query("SHOW TABLES FROM " + database).out; }
    bool database_exists() const { return !client().query("SHOW DATABASES LIKE '" + database + "'").out.empty(); }
    // Runs the conversion the pages set up, as the progress page would.
    run_outcome run() {
        error_handler handler(std::make_unique<recording_error_view>());
        return conv->run();
    }
    // Selects the list entry whose text starts with `name`.
    static bool choose(QComboBox* combo, const QString& name) {
        for (int i = 0; i < combo->count(); ++i)
            if (combo->itemText(i).section(QLatin1Char(' '), 0, 0) == name) {
                combo->setCurrentIndex(i);
                return true;
            }
        return false;
    }

    temp_dir dir;
    test_server server;
    std::string database;
    std::unique_ptr<pellix_converter> conv;
    std::unique_ptr<wizard_shell> shell;
    dialog_script script;
};

}  // namespace

// --- connection -------------------------------------------------------------

TEST_F(server_pages, remote_connects_and_the_servers_charsets_and_engines_are_listed) {
    QZ_REQUIRE_SERVER();
    run_with([&] {
        connect_remote(server.password);
        ASSERT_EQ(shell->current_dialog(), 105) << (script.boxes.empty() ? "" : script.boxes.back());
        files(src(), database);
        ASSERT_EQ(shell->current_dialog(), 107) << (script.boxes.empty() ? "" : script.boxes.back());
        auto* charsets = ctl<QComboBox>(1303);
        auto* engines = ctl<QComboBox>(1304);
        QStringList names;
        for (int i = 0; i < charsets->count(); ++i) names << charsets->itemText(i).section(QLatin1Char(' '), 0, 0);
        EXPECT_TRUE(names.contains(QStringLiteral("utf8mb3"))) << names.join(QLatin1Char(',')).toStdString();
        EXPECT_TRUE(names.contains(QStringLiteral("latin1")));
        EXPECT_GE(engines->findText(QStringLiteral("InnoDB")), 0);
        ASSERT_TRUE(choose(charsets, QStringLiteral("utf8mb3")));
        ASSERT_TRUE(choose(engines, QStringLiteral("MyISAM")));
        next();
        ASSERT_EQ(shell->current_dialog(), 127);
        EXPECT_EQ(conv->engine.get_char_set(), L"utf8");
        EXPECT_EQ(conv->engine.get_tab_type(), L"MyISAM");
        back();
        // "utf8" finds the server's utf8mb3 again.
        EXPECT_EQ(ctl<QComboBox>(1303)->currentText().section(QLatin1Char(' '), 0, 0), QStringLiteral("utf8mb3"));
    });
    EXPECT_TRUE(script.boxes.empty()) << script.boxes.front();
    EXPECT_EQ(conv->host, "127.0.0.1");
    EXPECT_FALSE(database_exists());  // nothing is created before the run
}

// The character-set and engine lists are read per connection: a list read
// before connecting gives way to the server's.
TEST_F(server_pages, lists_seen_before_connecting_give_way_to_the_servers) {
    QZ_REQUIRE_SERVER();
    run_with([&] {
        click(btn(1330));
        next();
        next();
        files(src(), dir.file("out.sql"));
        ASSERT_EQ(shell->current_dialog(), 107);
        auto names = [&] {
            QStringList n;
            for (int i = 0; i < ctl<QComboBox>(1303)->count(); ++i)
                n << ctl<QComboBox>(1303)->itemText(i).section(QLatin1Char(' '), 0, 0);
            return n;
        };
        EXPECT_FALSE(names().contains(QStringLiteral("utf8mb3")));  // the built-in list
        back();
        back();
        back();
        ASSERT_EQ(shell->current_dialog(), 103);
        connect_remote(server.password);
        files(src(), database);
        ASSERT_EQ(shell->current_dialog(), 107);
        EXPECT_TRUE(names().contains(QStringLiteral("utf8mb3"))) << names().join(QLatin1Char(',')).toStdString();
        EXPECT_EQ(names().count(QStringLiteral("latin1")), 1);
    });
}

TEST_F(server_pages, local_connects_through_the_socket) {
    QZ_REQUIRE_SERVER();
    ASSERT_TRUE(socket_named);
    ASSERT_FALSE(server.socket.empty());
    ASSERT_EQ(std::string(std::getenv("MYSQL_UNIX_PORT")), server.socket);
    // MYSQL_UNIX_PORT wins over a socket named in the system's option files
    // (Debian's [client-server] group names its own).
    run_with([&] {
        click(btn(1329));
        next();
        ASSERT_EQ(shell->current_dialog(), 123);
        click(btn(1329));
        retype(ctl<QLineEdit>(1012), QString::fromStdString(server.user));
        retype(ctl<QLineEdit>(1013), QString::fromStdString(server.password));
        next();
        EXPECT_EQ(shell->current_dialog(), 105) << (script.boxes.empty() ? "" : script.boxes.back());
    });
    EXPECT_EQ(conv->host, "");
    EXPECT_EQ(conv->port, "3306");
    EXPECT_TRUE(conv->is_mysql_base_exist(L"mysql"));
}

TEST_F(server_pages, a_wrong_password_and_a_bad_port_keep_the_page) {
    QZ_REQUIRE_SERVER();
    run_with([&] {
        connect_remote(server.password + "x");
        ASSERT_EQ(shell->current_dialog(), 123);
        ASSERT_EQ(script.boxes.size(), 1u);
        EXPECT_NE(script.boxes[0].find("denied"), std::string::npos) << script.boxes[0];
        EXPECT_EQ(ctl<QLineEdit>(1013)->text().toStdString(), server.password + "x");
        EXPECT_TRUE(btn(1330)->isChecked());
        retype(ctl<QLineEdit>(1013), QString::fromStdString(server.password));
        retype(ctl<QLineEdit>(1015), QStringLiteral("70000"));
        next();
        ASSERT_EQ(shell->current_dialog(), 123);
        EXPECT_EQ(script.boxes.back(), "Invalid port number");
        EXPECT_EQ(ctl<QLineEdit>(1015)->text(), QStringLiteral("70000"));
        retype(ctl<QLineEdit>(1015), QString::number(server.port) + QStringLiteral("abc"));
        next();
        EXPECT_EQ(shell->current_dialog(), 105);
    });
    EXPECT_EQ(script.boxes.size(), 2u);
}

// --- an existing database ---------------------------------------------------

TEST_F(server_pages, an_existing_database_asks_and_only_a_guarded_mode_0_drops_it) {
    QZ_REQUIRE_SERVER();
    make_database_with("keep");
    int mode_to_pick = -1;  // -1: Cancel
    QString title;
    bool first_ticked = false;
    script.handlers[QStringLiteral("dlg_121")] = [&](QDialog& d) {
        title = d.windowTitle();
        first_ticked = child<QRadioButton>(&d, 1329 + conv->mode)->isChecked();  // the current mode
        if (mode_to_pick < 0) {
            click(child<QPushButton>(&d, 2));
            return;
        }
        click(child<QRadioButton>(&d, 1329 + mode_to_pick));
        click(child<QPushButton>(&d, 1));
    };
    conv->mode = 2;
    run_with([&] {
        connect_remote(server.password);
        files(src(), database);
        EXPECT_EQ(shell->current_dialog(), 105);  // Cancel
        EXPECT_EQ(title, QStringLiteral("Quorvex 6.1 Warning"));
        EXPECT_TRUE(first_ticked);
        EXPECT_EQ(conv->mode, 2);
        EXPECT_EQ(tables(), "keep\n");

        mode_to_pick = 1;
        files(src(), database);
        ASSERT_EQ(shell->current_dialog(), 107);
        EXPECT_EQ(conv->mode, 1);
        EXPECT_EQ(tables(), "keep\n");
        back();
        ASSERT_EQ(shell->current_dialog(), 105);

        // Mode 0 with a folder that lists no table: refused, nothing dropped.
        mode_to_pick = 0;
        const size_t boxes = script.boxes.size();
        files(dir.file("empty"), database);
        EXPECT_EQ(shell->current_dialog(), 105);
        EXPECT_EQ(script.boxes.size(), boxes + 1);
        EXPECT_EQ(conv->mode, 1);
        EXPECT_EQ(tables(), "keep\n");

        files(src(), database);
        EXPECT_EQ(shell->current_dialog(), 107);
        EXPECT_EQ(conv->mode, 0);
    });
    EXPECT_EQ(script.opened[QStringLiteral("dlg_121")], 4);
    EXPECT_FALSE(database_exists());
}

TEST_F(server_pages, the_servers_own_databases_are_refused_without_a_dialog) {
    QZ_REQUIRE_SERVER();
    run_with([&] {
        connect_remote(server.password);
        for (const char* name : {"mysql", "INFORMATION_SCHEMA", "Performance_Schema", "SYS"}) {
            const size_t boxes = script.boxes.size();
            files(src(), name);
            EXPECT_EQ(shell->current_dialog(), 105) << name;
            EXPECT_EQ(script.boxes.size(), boxes + 1) << name;
        }
    });
    EXPECT_EQ(script.opened[QStringLiteral("dlg_121")], 0);
    EXPECT_TRUE(conv->is_mysql_base_exist(L"mysql"));
}

// --- pages, then a run ------------------------------------------------------

TEST_F(server_pages, the_chosen_tables_switches_encoding_and_charset_arrive_in_the_server) {
    QZ_REQUIRE_SERVER();
    run_with([&] {
        connect_remote(server.password);
        files(src(), database);
        ASSERT_EQ(shell->current_dialog(), 107);
        ASSERT_TRUE(choose(ctl<QComboBox>(1303), QStringLiteral("utf8mb3")));
        auto* encoding = ctl<QComboBox>(1302);
        const int cp866 = encoding->findData(QVariant::fromValue<qlonglong>(0x65));
        ASSERT_GE(cp866, 0);
        encoding->setCurrentIndex(cp866);
        if (btn(1202)->isChecked() == false) click(btn(1202));
        if (btn(1204)->isChecked() == false) click(btn(1204));
        next();
        ASSERT_EQ(shell->current_dialog(), 127);
        auto* available = ctl<QListWidget>(1317);
        for (const char* t : {"people", "parts"}) {
            const auto items = available->findItems(QString::fromUtf8(t), Qt::MatchExactly);
            ASSERT_EQ(items.size(), 1);
            QTest::mouseClick(available->viewport(), Qt::LeftButton, {},
                              available->visualItemRect(items.first()).center());
            click(btn(1101));
        }
        next();
        ASSERT_EQ(shell->current_dialog(), 106);
    });
    ASSERT_EQ(run(), run_outcome::completed);
    EXPECT_EQ(tables(), "parts\npeople\n");
    const auto rows = client().query("SELECT ID, NAME, OK FROM people ORDER BY 1", database);
    EXPECT_EQ(rows.out, "1\tab\xD1\x80\tT\n3\tcd\tF\n") << rows.err;
    const std::string create = lower(client().query("SHOW CREATE TABLE people", database).out);
    EXPECT_NE(create.find("enum('t','f')"), std::string::npos) << create;
    EXPECT_NE(create.find("utf8mb3"), std::string::npos) << create;
}

// The table editor shows each column as the run writes it; defaults set on
// a currency and a logical column change nothing else, through the saved
// settings too; a DECIMAL precision the type cannot take is refused.
TEST_F(server_pages, the_editor_shows_the_written_columns_and_defaults_keep_them) {
    QZ_REQUIRE_SERVER();
    const std::string sample = dir.file("sample");
    fs::create_directories(sample);
    testkit::write_sample_folder(sample);
    std::map<std::string, std::string> shown;
    bool refused_on_ok = false;
    auto edit = [&](QDialog& d) {
        auto* list = child<QTreeWidget>(&d, 1316);
        auto* type = child<QComboBox>(&d, 1302);
        auto* precision = child<QLineEdit>(&d, 1007);
        auto* scale = child<QLineEdit>(&d, 1008);
        QTreeWidgetItem* amount = row_named(list, QStringLiteral("total_amount"));
        QTreeWidgetItem* shipped = row_named(list, QStringLiteral("is_shipped"));
        ASSERT_NE(amount, nullptr);
        ASSERT_NE(shipped, nullptr);
        list->setCurrentItem(amount);
        shown["amount"] = amount->text(2).toStdString() + " " + type->currentText().toStdString() + " " +
                          precision->text().toStdString() + "/" + scale->text().toStdString();
        list->setCurrentItem(shipped);
        shown["shipped"] = shipped->text(2).toStdString() + " " + type->currentText().toStdString();

        // Precision 0, or below the scale: refused, the row stays selected.
        list->setCurrentItem(amount);
        for (const char* bad : {"0", "3"}) {
            retype(precision, QString::fromUtf8(bad));
            const size_t boxes = script.boxes.size();
            list->setCurrentItem(shipped);
            EXPECT_EQ(list->currentItem(), amount) << bad;
            ASSERT_EQ(script.boxes.size(), boxes + 1) << bad;
            EXPECT_EQ(script.boxes.back(), "Precision must be at least 1 and not below the scale.");
        }
        retype(precision, QStringLiteral("0"));
        click(child<QPushButton>(&d, 1));
        refused_on_ok = d.isVisible() &&
                        script.boxes.back() == "Precision must be at least 1 and not below the scale." &&
                        conv->get_table_mutator3(L"orders") == nullptr;
        // Back to the column's own precision: still its own type.
        retype(precision, QStringLiteral("19"));
        retype(child<QLineEdit>(&d, 1005), QStringLiteral("0"));
        list->setCurrentItem(shipped);
        EXPECT_EQ(amount->text(2), QStringLiteral("DECIMAL(19,4)"));
        retype(child<QLineEdit>(&d, 1005), QStringLiteral("T"));
        click(child<QPushButton>(&d, 1));
    };
    script.handlers[QStringLiteral("dlg_135")] = [&](QDialog& d) {
        edit(d);
        if (d.isVisible()) {  // a failed step: the dialog must still close
            ADD_FAILURE() << "the editor stayed open";
            d.reject();
        }
    };
    run_with([&] {
        connect_remote(server.password);
        files(sample, database);
        ASSERT_EQ(shell->current_dialog(), 107);
        if (!btn(1204)->isChecked()) click(btn(1204));
        next();
        ASSERT_EQ(shell->current_dialog(), 127);
        auto* available = ctl<QListWidget>(1317);
        const auto items = available->findItems(QStringLiteral("orders"), Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1);
        available->clearSelection();
        items.first()->setSelected(true);
        click(btn(1101));
        click_row(ctl<QListWidget>(1318), QStringLiteral("orders"), true);
        next();
        ASSERT_EQ(shell->current_dialog(), 106);
    });
    EXPECT_EQ(shown["amount"], "DECIMAL(19,4) DECIMAL 19/4");
    EXPECT_EQ(shown["shipped"], "ENUM('T','F') ENUM");
    EXPECT_TRUE(refused_on_ok);
    const sql_table_mutator* tm = conv->get_table_mutator3(L"orders");
    ASSERT_NE(tm, nullptr);
    ASSERT_NE(tm->get_field_mutator(L"TOTAL_AMOU"), nullptr);
    EXPECT_FALSE(tm->get_field_mutator(L"TOTAL_AMOU")->is_retyped());

    // The saved settings, read back, convert.
    const std::string profile = dir.file("orders.pqz");
    conv->store_profile(profile);
    conv->tables.clear();
    ASSERT_TRUE(conv->load_profile(profile));
    ASSERT_EQ(run(), run_outcome::completed);
    const std::string create = lower(client().query("SHOW CREATE TABLE orders", database).out);
    EXPECT_NE(create.find("`total_amount` decimal(19,4) default 0.0000,"), std::string::npos) << create;
    EXPECT_NE(create.find("`is_shipped` enum('t','f') default 't',"), std::string::npos) << create;
    const auto rows = client().query("SELECT total_amount, is_shipped FROM orders ORDER BY order_number", database);
    EXPECT_EQ(rows.out, "199.9900\tT\n4.5000\tF\n-0.1250\tT\n") << rows.err;
}

// --- pages, then a run into a dump (no server needed) ----------------------

class dump_pages : public server_pages {
protected:
    std::string dump() const { return dir.file("out.sql"); }
    // Welcome, dump page, source page into the conversion settings page.
    void to_settings(const std::string& source) {
        ASSERT_EQ(shell->current_dialog(), 103);
        click(btn(1330));
        next();
        ASSERT_EQ(shell->current_dialog(), 102);
        next();
        files(source, dump());
        ASSERT_EQ(shell->current_dialog(), 107) << (script.boxes.empty() ? "" : script.boxes.back());
    }
    void add(const char* table) {
        auto* available = ctl<QListWidget>(1317);
        const auto items = available->findItems(QString::fromUtf8(table), Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << table;
        available->clearSelection();
        items.first()->setSelected(true);
        click(btn(1101));
    }
};

TEST_F(dump_pages, a_profile_table_also_chosen_converts_once_and_logicals_stay_text) {
    conv->selected_pairs = {{L"PEOPLE", L""}};
    run_with([&] {
        to_settings(src());
        if (btn(1204)->isChecked()) click(btn(1204));
        next();
        ASSERT_EQ(shell->current_dialog(), 127);
        EXPECT_EQ(ctl<QListWidget>(1318)->count(), 1);
        add("parts");
        next();
        ASSERT_EQ(shell->current_dialog(), 106);
    });
    ASSERT_EQ(run(), run_outcome::completed);
    const std::string text = testkit::read_file(dump());
    EXPECT_EQ(count_of(text, "CREATE TABLE `people`"), 1u) << text;
    EXPECT_EQ(count_of(text, "'cd'"), 1u);
    EXPECT_EQ(count_of(text, "CREATE TABLE `parts`"), 1u);
    EXPECT_EQ(count_of(text, "`extra`"), 0u);
    EXPECT_EQ(lower(text).find("enum('t','f')"), std::string::npos);
}

TEST_F(dump_pages, table_definitions_only_writes_no_rows_and_logicals_become_enum) {
    run_with([&] {
        to_settings(src());
        if (!btn(1228)->isChecked()) click(btn(1228));
        if (!btn(1204)->isChecked()) click(btn(1204));
        next();
        ASSERT_EQ(shell->current_dialog(), 127);
        add("people");
        next();
        ASSERT_EQ(shell->current_dialog(), 106);
    });
    EXPECT_TRUE(conv->tab_def);
    ASSERT_EQ(run(), run_outcome::completed);
    const std::string text = testkit::read_file(dump());
    EXPECT_EQ(count_of(text, "CREATE TABLE `people`"), 1u) << text;
    EXPECT_EQ(text.find("INSERT"), std::string::npos) << text;
    EXPECT_NE(lower(text).find("enum('t','f')"), std::string::npos) << text;
}

TEST_F(dump_pages, editor_rename_retype_and_drop_give_those_columns_on_a_container_table_too) {
    const std::string sample = dir.file("sample");
    fs::create_directories(sample);
    testkit::write_sample_folder(sample);
    script.handlers[QStringLiteral("dlg_135")] = [&](QDialog& d) {
        auto* list = child<QTreeWidget>(&d, 1316);
        const bool orders = row_named(list, QStringLiteral("customer_name")) != nullptr;
        const QString renamed = orders ? QStringLiteral("customer_name") : QStringLiteral("NAME");
        const QString dropped = orders ? QStringLiteral("remarks") : QStringLiteral("CITY");
        QTreeWidgetItem* row = row_named(list, renamed);
        ASSERT_NE(row, nullptr);
        list->setCurrentItem(row);
        retype(child<QLineEdit>(&d, 1004), QStringLiteral("client"));
        auto* type = child<QComboBox>(&d, 1302);
        type->setCurrentIndex(type->findText(QStringLiteral("VARCHAR")));
        retype(child<QLineEdit>(&d, 1006), QStringLiteral("40"));
        row_named(list, dropped)->setCheckState(0, Qt::Unchecked);
        click(child<QPushButton>(&d, 1));
    };
    run_with([&] {
        to_settings(sample);
        next();
        ASSERT_EQ(shell->current_dialog(), 127);
        add("customer");
        add("orders");
        click_row(ctl<QListWidget>(1318), QStringLiteral("customer"), true);
        click_row(ctl<QListWidget>(1318), QStringLiteral("orders"), true);
        next();
        ASSERT_EQ(shell->current_dialog(), 106);
    });
    EXPECT_EQ(script.opened[QStringLiteral("dlg_135")], 2);
    ASSERT_EQ(run(), run_outcome::completed);
    const std::string text = testkit::read_file(dump());
    for (const char* table : {"customer", "orders"}) {
        const size_t start = text.find(std::string("CREATE TABLE `") + table + "`");
        ASSERT_NE(start, std::string::npos) << table << "\n" << text;
        const std::string create = lower(text.substr(start, text.find(';', start) - start));
        EXPECT_NE(create.find("`client` varchar(40)"), std::string::npos) << create;
        EXPECT_EQ(create.find(table == std::string("orders") ? "`remarks`" : "`city`"), std::string::npos) << create;
        EXPECT_EQ(create.find(table == std::string("orders") ? "`customer_name`" : "`name`"), std::string::npos)
            << create;
    }
}

// A profile's field entry that gives no new name (written by hand or by an
// older release) leaves the field its name: on a container table the
// editor shows the long name, and the run writes the name it showed.
TEST_F(dump_pages, a_profile_field_without_a_new_name_keeps_the_containers_long_name) {
    const std::string sample = dir.file("sample");
    fs::create_directories(sample);
    testkit::write_sample_folder(sample);
    const std::string profile = dir.file("p.pqz");
    testkit::dbf_fixture::write_bytes(profile,
                                      "[Type Mappings]\r\ntables:\r\n"
                                      "  - name: orders\r\n    new_name: orders\r\n    fields:\r\n"
                                      "      - name:TOTAL_AMOU\r\n        status: changed\r\n"
                                      "        default_value: 0\r\n");
    ASSERT_TRUE(conv->load_profile(profile));
    bool long_name_shown = false, short_name_shown = true;
    script.handlers[QStringLiteral("dlg_135")] = [&](QDialog& d) {
        auto* list = child<QTreeWidget>(&d, 1316);
        long_name_shown = row_named(list, QStringLiteral("total_amount")) != nullptr;
        short_name_shown = row_named(list, QStringLiteral("TOTAL_AMOU")) != nullptr;
        click(child<QPushButton>(&d, 1));
    };
    run_with([&] {
        to_settings(sample);
        next();
        ASSERT_EQ(shell->current_dialog(), 127);
        add("orders");
        click_row(ctl<QListWidget>(1318), QStringLiteral("orders"), true);
        next();
    });
    EXPECT_TRUE(long_name_shown);
    EXPECT_FALSE(short_name_shown);
    ASSERT_EQ(run(), run_outcome::completed);
    const std::string text = testkit::read_file(dump());
    EXPECT_NE(text.find("`total_amount` DECIMAL(19,4) DEFAULT 0,"), std::string::npos) << text;
}

TEST_F(dump_pages, ok_without_changes_gives_the_same_dump_but_its_date_line) {
    const std::string sample = dir.file("sample");
    fs::create_directories(sample);
    testkit::write_sample_folder(sample);
    run_with([&] {
        to_settings(sample);
        next();
        ASSERT_EQ(shell->current_dialog(), 127);
        click(btn(1102));
        next();
    });
    ASSERT_EQ(run(), run_outcome::completed);
    const std::string before = testkit::read_file(dump());
    ASSERT_FALSE(before.empty());
    script.handlers[QStringLiteral("dlg_135")] = [](QDialog& d) { click(child<QPushButton>(&d, 1)); };
    run_with([&] {
        shell->select_page(127);
        ASSERT_EQ(shell->current_dialog(), 127);
        auto* selected = ctl<QListWidget>(1318);
        ASSERT_EQ(selected->count(), 3);
        for (const char* t : {"customer", "orders", "parts"}) click_row(selected, QString::fromUtf8(t), true);
        next();
    });
    EXPECT_EQ(script.opened[QStringLiteral("dlg_135")], 3);
    ASSERT_EQ(run(), run_outcome::completed);
    EXPECT_EQ(without_date_line(testkit::read_file(dump())), without_date_line(before));
}

TEST_F(dump_pages, an_existing_dump_confirmed_then_cancelled_is_untouched) {
    const std::string old = "-- an older dump\n\x01\x02 binary tail";
    std::ofstream(dump(), std::ios::binary) << old;
    run_with([&] {
        to_settings(src());
        EXPECT_EQ(script.boxes.back(), "Destination file already exists. Overwrite?");
        click(shell->sheet().findChild<QPushButton*>("btn_cancel"));
    });
    EXPECT_EQ(script.boxes.back(), "Are you sure you want to exit the wizard?");
    EXPECT_EQ(testkit::read_file(dump()), old);
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1u);  // no temporary dump beside it
}
