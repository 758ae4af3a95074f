// The pages before the run, driven through a recording view: what each
// page shows from the converter, what it stores, where Next and Back go,
// and what it refuses.
#include <gtest/gtest.h>

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "app/pellix_converter.h"
#include "fake_page_view.h"
#include "gui/frame/gui_call.h"
#include "gui/pages/conversion_settings.h"
#include "gui/pages/dump_page.h"
#include "gui/pages/pqz_sel_tables_page.h"
#include "gui/pages/sel_file_page.h"
#include "gui/pages/settings_page.h"
#include "gui/pages/welcome_page.h"
#include "testkit/files.h"
#include "testkit/sample_folder.h"
#include "testkit/temp_dir.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

// Every box is answered here: texts are recorded, questions get `yes`.
struct boxes {
    std::vector<std::string> texts;
    bool yes = false;
    boxes() {
        gui_call::set_modal_hook([this](QDialog& d) {
            auto* box = qobject_cast<QMessageBox*>(&d);
            if (!box) {
                d.reject();
                return;
            }
            texts.push_back(box->text().toStdString());
            if (box->button(QMessageBox::Yes))
                (yes ? box->button(QMessageBox::Yes) : box->button(QMessageBox::No))->click();
            else
                box->accept();
        });
    }
    ~boxes() { gui_call::set_modal_hook({}); }
};

class pages : public testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        conv = std::make_unique<pellix_converter>();
    }
    template <typename P>
    P& attach(P& page) {
        page.set_view(std::make_unique<fake_page_view>(ctl));
        return page;
    }
    std::wstring folder(const std::string& name) {
        std::filesystem::create_directories(dir.file(name));
        return tk_utf8_to_unicode(dir.file(name));
    }

    temp_dir dir;
    std::unique_ptr<pellix_converter> conv;
    std::map<int, fake_control> ctl;
    boxes box;
};

// --- welcome page -----------------------------------------------------------

TEST_F(pages, welcome_radio_follows_direct_and_next_picks_the_target_page) {
    welcome_page p;
    attach(p);
    conv->direct = false;
    p.page_init();
    EXPECT_TRUE(ctl[1330].checked);
    EXPECT_FALSE(ctl[1329].checked);
    EXPECT_EQ(p.on_next(), 102);
    p.on_command(1329, command_event::click);
    EXPECT_FALSE(ctl[1330].checked);
    EXPECT_EQ(p.on_next(), 123);
    EXPECT_TRUE(conv->direct);
}

TEST_F(pages, load_settings_moves_the_radio_and_a_bad_profile_changes_nothing) {
    tk_logger logger(nullptr, false, 3, false);
    welcome_page p;
    attach(p);
    conv->direct = true;
    p.page_init();
    const std::string good = dir.file("dump.pqz");
    {
        pellix_converter::ptr()->direct = false;
        conv->source = L"/somewhere";
        conv->store_profile(good);
        conv->direct = true;
        conv->source.clear();
    }
    EXPECT_TRUE(p.load_settings(good));
    EXPECT_TRUE(ctl[1330].checked);
    EXPECT_EQ(conv->source, L"/somewhere");

    // What a profile leaves out takes the defaults, not what was there.
    conv->code_page = 3;
    conv->skip_del = true;
    conv->bool_dbf = false;
    conv->selected_pairs = {{L"earlier", L""}};
    std::ofstream(dir.file("bare.pqz")) << "[Generic settings]\nsrc=/bare\n[Selected Tables]\nfoo\n";
    EXPECT_TRUE(p.load_settings(dir.file("bare.pqz")));
    EXPECT_EQ(conv->code_page, 0u);
    EXPECT_FALSE(conv->skip_del);
    EXPECT_TRUE(conv->bool_dbf);
    EXPECT_EQ(conv->selected_pairs, (udb_converter_pairs{{L"foo", L""}}));

    // A log folder that is missing: refused as a whole.
    conv->direct = true;
    conv->source = L"/old";
    const size_t pairs = conv->selected_pairs.size();
    const std::string bad = dir.file("bad.pqz");
    std::ofstream(bad) << "[Generic settings]\nsource=/new\nlogfile=/no/such/folder/x.log\n"
                          "[Selected Tables]\nfoo=\n";
    p.page_init();
    EXPECT_FALSE(p.load_settings(bad));
    EXPECT_EQ(conv->source, L"/old");
    EXPECT_TRUE(conv->direct);
    EXPECT_EQ(conv->selected_pairs.size(), pairs);
    EXPECT_TRUE(ctl[1329].checked);
    ASSERT_FALSE(box.texts.empty());

    // A log named like a table of the profile's own source: refused as a
    // whole, before the log is opened.
    std::filesystem::create_directories(dir.file("dbf"));
    testkit::write_sample_folder(dir.file("dbf"));
    const std::string table = dir.file("dbf/customer.dbf");
    const std::string bytes = testkit::read_file(table);
    const std::string over_table = dir.file("over_table.pqz");
    std::ofstream(over_table) << "[Generic settings]\nsrc=" << dir.file("dbf") << "\nlogfile=" << table
                              << "\n[Selected Tables]\nfoo\n";
    box.texts.clear();
    EXPECT_FALSE(p.load_settings(over_table));
    tk_log(3, "a trace line after the refusal");
    EXPECT_EQ(testkit::read_file(table), bytes);
    EXPECT_EQ(conv->source, L"/old");
    EXPECT_EQ(conv->selected_pairs.size(), pairs);
    ASSERT_EQ(box.texts.size(), 1u);
    EXPECT_EQ(box.texts[0], "Logfile name specifies the destination or a file of the DBF database.");

    // Not a profile at all.
    const std::string junk = dir.file("junk.pqz");
    std::ofstream(junk) << "source=/x\n[Generic settings]\n";
    box.texts.clear();
    p.load_settings(junk);
    EXPECT_EQ(conv->source, L"/old");
    ASSERT_EQ(box.texts.size(), 1u);
}

// --- dump page --------------------------------------------------------------

TEST_F(pages, dump_page_create_table_box_governs_create_database_box) {
    dump_page p;
    attach(p);
    conv->dump.b_create_table = true;
    conv->dump.b_create_db = true;
    p.page_init();
    EXPECT_TRUE(ctl[1203].enabled);
    p.on_command(1204, command_event::click);
    EXPECT_FALSE(ctl[1204].checked);
    EXPECT_FALSE(ctl[1203].enabled);
    EXPECT_TRUE(ctl[1203].checked);  // the tick stays
    p.on_command(1204, command_event::click);
    EXPECT_TRUE(ctl[1203].enabled);
}

TEST_F(pages, dump_page_radio_pairs_are_apart_and_values_are_stored) {
    dump_page p;
    attach(p);
    conv->dump = dump_options();
    p.page_init();
    p.on_command(1330, command_event::click);
    p.on_command(1332, command_event::click);
    EXPECT_TRUE(ctl[1330].checked && ctl[1332].checked);
    EXPECT_FALSE(ctl[1329].checked || ctl[1331].checked);
    p.on_command(1329, command_event::click);
    EXPECT_TRUE(ctl[1332].checked);  // the other pair kept
    p.on_command(1330, command_event::click);
    p.on_command(1202, command_event::click);
    p.on_command(1205, command_event::click);
    EXPECT_EQ(p.on_next(), 105);
    EXPECT_FALSE(conv->dump.b_new_ver);
    EXPECT_EQ(p.get_server_version(), 201729u);
    EXPECT_EQ(conv->dump.line_break, 1u);
    EXPECT_FALSE(conv->dump.b_lock_tables);
    EXPECT_FALSE(conv->dump.b_comments);
    p.on_command(1329, command_event::click);
    p.on_command(1331, command_event::click);
    EXPECT_EQ(p.on_back(), 103);
    EXPECT_TRUE(conv->dump.b_new_ver);
    EXPECT_EQ(p.get_server_version(), 262400u);
    EXPECT_EQ(conv->dump.line_break, 0u);
}

// --- server page ------------------------------------------------------------

class offline_settings_page : public settings_page {
public:
    int connects = 0;

protected:
    void connect() override { ++connects; }
};

TEST_F(pages, local_stores_empty_host_and_3306_and_keeps_password_blanks) {
    temp_dir logdir;
    tk_logger logger(nullptr, false, 1, false);
    logger.set_file(logdir.file("trace.log"));
    offline_settings_page p;
    attach(p);
    conv->host = "db.example";
    conv->port = "3307";
    p.page_init();
    EXPECT_TRUE(ctl[1330].checked);
    EXPECT_EQ(ctl[1014].text, L"db.example");
    p.on_command(1330, command_event::click);
    EXPECT_TRUE(ctl[1015].enabled);
    p.on_command(1329, command_event::click);
    EXPECT_FALSE(ctl[1014].enabled);
    ctl[1012].text = L"root";
    ctl[1013].text = L"  s3cret  ";
    EXPECT_EQ(p.on_next(), 0);
    EXPECT_EQ(p.connects, 1);
    EXPECT_EQ(conv->host, "");
    EXPECT_EQ(conv->port, "3306");
    EXPECT_EQ(conv->password, "  s3cret  ");
    const std::string log = testkit::read_file(logdir.file("trace.log"));
    EXPECT_EQ(log.find("s3cret"), std::string::npos);
    EXPECT_EQ(p.on_back(), 103);
}

TEST_F(pages, bad_port_is_shown_and_the_page_stays) {
    settings_page p;
    attach(p);
    p.page_init();
    p.on_command(1330, command_event::click);
    ctl[1014].text = L"127.0.0.1";
    for (const wchar_t* port : {L"0", L"70000", L"abc"}) {
        ctl[1015].text = port;
        box.texts.clear();
        EXPECT_EQ(p.on_next(), -1);
        ASSERT_EQ(box.texts.size(), 1u);
        EXPECT_EQ(box.texts[0], "Invalid port number");
        EXPECT_EQ(ctl[1015].text, port);
    }
}

// --- source and destination page -------------------------------------------

class offline_file_page : public sel_file_page {
public:
    bool exists = false;
    int answer = -1;
    int dialogs = 0;
    int drops = 0;

protected:
    bool db_exists(const std::wstring&) override { return exists; }
    int ask_overwrite(const std::wstring&) override {
        ++dialogs;
        return answer;
    }
    void guarded_drop() override { ++drops; }
};

TEST_F(pages, destination_suggestion_and_sql_extension) {
    EXPECT_EQ(sel_file_page::suggest(L"/data/shop", true), L"shop");
    EXPECT_EQ(sel_file_page::suggest(L"/data/shop/", true), L"shop");
    EXPECT_EQ(sel_file_page::suggest(L"/data/shop/", false), L"/data/shop.sql");
    EXPECT_EQ(sel_file_page::with_sql_extension(L"/da.ta/dump"), L"/da.ta/dump.sql");
    EXPECT_EQ(sel_file_page::with_sql_extension(L"/data/dump.txt"), L"/data/dump.sql");
    offline_file_page p;
    attach(p);
    conv->direct = true;
    ctl[1003].text = L"/data/shop";
    ctl[1004].text = L"keep";
    p.check_destination();
    EXPECT_EQ(ctl[1004].text, L"keep");
    ctl[1004].text.clear();
    p.on_command(1004, command_event::focus_in);
    EXPECT_EQ(ctl[1004].text, L"shop");
}

TEST_F(pages, source_texts_in_order_and_back_targets) {
    offline_file_page p;
    attach(p);
    conv->direct = true;
    conv->source.clear();
    conv->destination.clear();
    p.page_init();
    EXPECT_EQ(p.on_next(), -1);
    ctl[1003].text = tk_utf8_to_unicode(dir.file("missing"));
    EXPECT_EQ(p.on_next(), -1);
    ctl[1004].text = L"shop";
    EXPECT_EQ(p.on_next(), -1);
    std::ofstream(dir.file("afile")) << "x";
    ctl[1003].text = tk_utf8_to_unicode(dir.file("afile"));
    EXPECT_EQ(p.on_next(), -1);
    ASSERT_EQ(box.texts.size(), 4u);
    EXPECT_EQ(box.texts[0], "You should enter path to DBF database");
    EXPECT_EQ(box.texts[1], "You should enter MySQL database name");
    EXPECT_EQ(box.texts[2], "Path to DBF database does not exist.\nPlease verify the correct path was given.");
    EXPECT_EQ(box.texts[3], "You should enter path to DBF database, not a file name");
    EXPECT_EQ(p.on_back(), 123);
    conv->direct = false;
    EXPECT_EQ(p.on_back(), 102);
}

TEST_F(pages, server_target_dialog_modes_and_system_names) {
    offline_file_page p;
    attach(p);
    conv->direct = true;
    conv->mode = 2;
    p.page_init();
    ctl[1003].text = folder("src");
    ctl[1004].text = L"MySQL";
    EXPECT_EQ(p.on_next(), -1);
    EXPECT_EQ(p.dialogs, 0);
    ctl[1004].text = L"shop";
    EXPECT_EQ(p.on_next(), 0);  // not there: no dialog, mode kept
    EXPECT_EQ(conv->mode, 2);
    p.exists = true;
    EXPECT_EQ(p.on_next(), -1);  // Cancel
    EXPECT_EQ(conv->mode, 2);
    p.answer = 1;
    EXPECT_EQ(p.on_next(), 0);
    EXPECT_EQ(conv->mode, 1);
    EXPECT_EQ(p.drops, 0);
    p.answer = 0;
    EXPECT_EQ(p.on_next(), 0);
    EXPECT_EQ(p.drops, 1);
    EXPECT_EQ(conv->mode, 0);
}

TEST_F(pages, dump_destination_is_confirmed_never_deleted) {
    offline_file_page p;
    attach(p);
    conv->direct = false;
    conv->set_mode(udb_converter::skip_tables);  // answered for a server earlier
    p.page_init();
    ctl[1003].text = folder("src");
    const std::string dump = dir.file("out.sql");
    std::ofstream(dump) << "old";
    ctl[1004].text = tk_utf8_to_unicode(dump);
    box.yes = false;
    EXPECT_EQ(p.on_next(), -1);
    ASSERT_EQ(box.texts.back(), "Destination file already exists. Overwrite?");
    box.yes = true;
    EXPECT_EQ(p.on_next(), 0);
    EXPECT_EQ(conv->mode, udb_converter::overwrite_database);
    EXPECT_TRUE(std::filesystem::exists(dump));
    ctl[1004].text = tk_utf8_to_unicode(dir.file("nofolder/out.sql"));
    EXPECT_EQ(p.on_next(), -1);
    EXPECT_EQ(box.texts.back(), "Destination path does not exist.\nPlease verify the correct path was given.");
    ctl[1004].text = tk_utf8_to_unicode(dir.path());
    EXPECT_EQ(p.on_next(), -1);
}

TEST_F(pages, log_file_may_not_be_the_dump_or_a_database_file) {
    tk_logger logger(nullptr, false, 3, false);
    offline_file_page p;
    attach(p);
    conv->direct = false;
    p.page_init();
    const std::wstring src = folder("src");
    testkit::write_sample_folder(dir.file("src"));
    ctl[1003].text = src;
    ctl[1004].text = tk_utf8_to_unicode(dir.file("out.sql"));
    const std::string table = dir.file("src/customer.dbf");
    const auto size = std::filesystem::file_size(table);
    for (const std::string& log : {dir.file("out.sql"), table, dir.file("src/customer.dbt")}) {
        ctl[1005].text = tk_utf8_to_unicode(log);
        box.texts.clear();
        EXPECT_EQ(p.on_next(), -1);
        ASSERT_EQ(box.texts.size(), 1u);
        EXPECT_EQ(box.texts[0], "Logfile name specifies the destination or a file of the DBF database.");
    }
    tk_log(3, "a trace line after the refusals");
    EXPECT_EQ(std::filesystem::file_size(table), size);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.sql")));
    ctl[1005].text = tk_utf8_to_unicode(dir.file("run.log"));
    EXPECT_EQ(p.on_next(), 0);
    EXPECT_EQ(conv->log_file, dir.file("run.log"));
    ctl[1005].text.clear();
    EXPECT_EQ(p.on_next(), 0);
    EXPECT_FALSE(logger.accepts(3));
}

// --- conversion settings ----------------------------------------------------

TEST_F(pages, encodings_in_byte_order_and_switches_apart) {
    conversion_settings p;
    attach(p);
    conv->code_page = 0xC9;
    p.page_init();
    ASSERT_EQ(ctl[1302].items.size(), 28u);
    for (size_t i = 1; i < 28; ++i) EXPECT_LT(ctl[1302].items[i - 1].second, ctl[1302].items[i].second);
    EXPECT_EQ(ctl[1302].items[ctl[1302].current].second, 0xC9);
    // Each entry but "Default" says its code page; the data stays the key.
    std::map<int64_t, std::wstring> labels;
    for (const auto& [text, key] : ctl[1302].items) labels[key] = text;
    EXPECT_EQ(labels[0x00], L"Default");
    EXPECT_EQ(labels[0x03], L"Windows ANSI (1252)");
    EXPECT_EQ(labels[0x57], L"1251 Windows ANSI (1251)");
    EXPECT_EQ(labels[0x65], L"Russian MS-DOS (866)");
    EXPECT_EQ(labels[0x26], L"866 DOS Russian (866)");
    EXPECT_EQ(labels[0x7A], L"Chinese Simplified (PRC, Singapore) Windows (936)");
    conv->code_page = 0x42;  // no description: the first entry
    p.page_init();
    EXPECT_EQ(ctl[1302].current, 0);
    const int ids[] = {1228, 1226, 1202, 1204};
    for (int id : ids) {
        conv->tab_def = conv->skip_idx = conv->skip_del = conv->bool_dbf = false;
        p.page_init();
        p.on_command(id, command_event::click);
        p.on_next();
        EXPECT_EQ(conv->tab_def, id == 1228);
        EXPECT_EQ(conv->skip_idx, id == 1226);
        EXPECT_EQ(conv->skip_del, id == 1202);
        EXPECT_EQ(conv->bool_dbf, id == 1204);
    }
}

TEST_F(pages, charset_is_found_by_its_name_part_and_utf8mb3_is_stored_as_utf8) {
    conversion_settings p;
    attach(p);
    ctl[1303].items = {{L"latin1 - cp1252 West European", 0}, {L"utf8mb3 - UTF-8 Unicode", 0}};
    ctl[1304].items = {{L"InnoDB", 0}, {L"MyISAM", 0}};
    fake_page_view v(ctl);
    EXPECT_EQ(conversion_settings::find_by_name(v, 1303, L"UTF8"), 1);
    EXPECT_EQ(conversion_settings::find_by_name(v, 1303, L"koi8r"), -1);
    ctl[1303].current = 1;
    ctl[1304].current = 1;
    p.store_file_info();
    EXPECT_EQ(conv->engine.get_char_set(), L"utf8");
    EXPECT_EQ(conv->engine.get_tab_type(), L"MyISAM");
    ctl[1303].current = 0;
    p.store_file_info();
    EXPECT_EQ(conv->engine.get_char_set(), L"latin1");
    ctl[1303].current = -1;
    p.store_file_info();
    EXPECT_EQ(conv->engine.get_char_set(), L"latin1");
}

// --- table selection --------------------------------------------------------

class table_page : public pqz_sel_tables_page {
public:
    std::vector<std::wstring> edited;
    std::vector<std::pair<std::wstring, std::wstring>> answers;  // query dialog results in turn
    std::vector<set_query_dlg::purpose> asked;                   // what each dialog was opened for

protected:
    void edit_table(const std::wstring& name) override { edited.push_back(name); }
    bool edit_query(std::wstring& name, std::wstring& query, set_query_dlg::purpose what) override {
        asked.push_back(what);
        if (answers.empty()) return false;
        name = answers.front().first;
        query = answers.front().second;
        answers.erase(answers.begin());
        return true;
    }
};

class table_pages : public pages {
protected:
    void SetUp() override {
        pages::SetUp();
        testkit::write_sample_folder(dir.path());
        conv->source = tk_utf8_to_unicode(dir.path());
        attach(page);
        page.set_rows_view(std::make_unique<fake_rows_view>(ctl));
    }
    fake_page_view view() { return fake_page_view(ctl); }
    table_page page;
};

TEST_F(table_pages, multi_row_add_and_remove_keep_order) {
    page.page_init();
    EXPECT_EQ(view().texts(1317), (std::vector<std::wstring>{L"customer", L"orders", L"parts"}));
    ctl[1317].selected = {0, 2};
    page.on_command(1101, command_event::click);
    EXPECT_EQ(view().texts(1318), (std::vector<std::wstring>{L"customer", L"parts"}));
    EXPECT_EQ(view().texts(1317), (std::vector<std::wstring>{L"orders"}));
    EXPECT_EQ(ctl[1317].current, 0);
    page.on_command(1102, command_event::click);
    EXPECT_EQ(ctl[1318].current, 0);
    EXPECT_EQ(view().texts(1318), (std::vector<std::wstring>{L"customer", L"parts", L"orders"}));
    ctl[1318].selected = {1};
    page.on_command(1111, command_event::click);
    EXPECT_EQ(view().texts(1317), (std::vector<std::wstring>{L"parts"}));
    EXPECT_EQ(page.on_next(), 0);
    EXPECT_EQ(conv->selected_tables, (std::vector<std::wstring>{L"customer", L"orders"}));
    EXPECT_FALSE(ctl[1117].visible);
    EXPECT_FALSE(ctl[1114].visible);
}

TEST_F(table_pages, nothing_selected_asks_and_no_stays) {
    page.page_init();
    box.yes = false;
    EXPECT_EQ(page.on_next(), -1);
    EXPECT_EQ(box.texts.back(), "There are no tables selected. Continue anyway?");
    box.yes = true;
    EXPECT_EQ(page.on_next(), 0);
    EXPECT_TRUE(conv->selected_tables.empty());
}

TEST_F(table_pages, profile_table_starts_selected_and_leaves_the_pairs_when_moved_back) {
    conv->selected_pairs = {{L"ORDERS", L""}, {L"gone", L""}};
    page.page_init();
    EXPECT_EQ(view().texts(1318), (std::vector<std::wstring>{L"orders"}));
    ctl[1318].selected = {0};
    page.on_delete();
    box.yes = true;
    EXPECT_EQ(page.on_next(), 0);
    // The folder's table left; a name the folder lacks stays the run's affair.
    ASSERT_EQ(conv->selected_pairs.size(), 1u);
    EXPECT_EQ(conv->selected_pairs[0].first, L"gone");
}

TEST_F(table_pages, queries_show_in_selected_edit_and_leave_their_pair) {
    conv->selected_pairs = {{L"q1", L"SELECT 1"}, {L"q2", L"SELECT 2"}};
    page.page_init();
    EXPECT_EQ(view().texts(1318), (std::vector<std::wstring>{L"q1", L"q2"}));
    ctl[1318].current = 0;
    page.answers = {{L"Q2", L"SELECT 3"}, {L"q3", L"SELECT 4"}};
    page.on_command(1318, command_event::double_click);
    EXPECT_EQ(box.texts.back(), "Duplicate table name. Try again.");
    EXPECT_EQ(view().texts(1318), (std::vector<std::wstring>{L"q3", L"q2"}));
    EXPECT_EQ(conv->selected_pairs[0], (std::pair<std::wstring, std::wstring>{L"q3", L"SELECT 4"}));
    ctl[1318].selected = {1};
    page.on_delete();
    ASSERT_EQ(conv->selected_pairs.size(), 1u);
    EXPECT_EQ(conv->selected_pairs[0].first, L"q3");
    ctl[1317].selected = {static_cast<int>(ctl[1317].items.size()) - 1};
    page.on_add();
    EXPECT_EQ(conv->selected_pairs.size(), 2u);
    // A table opens the editor.
    ctl[1317].selected = {0};
    page.on_add();
    ctl[1318].current = 2;
    page.on_command(1318, command_event::double_click);
    EXPECT_EQ(page.edited, (std::vector<std::wstring>{L"customer"}));
    EXPECT_EQ(page.asked, (std::vector<set_query_dlg::purpose>(2, set_query_dlg::purpose::edit)));

    // A new entry: a name either list holds (a table left in Available, a
    // query in Selected, in any letter case) asks again; Cancel adds nothing.
    page.asked.clear();
    page.answers = {{L"ORDERS", L"SELECT 5"}, {L"Q3", L"SELECT 6"}, {L"q4", L"SELECT 7"}};
    page.on_command(1114, command_event::click);
    EXPECT_EQ(page.asked, (std::vector<set_query_dlg::purpose>(3, set_query_dlg::purpose::add)));
    EXPECT_EQ(box.texts.back(), "Duplicate table name. Try again.");
    EXPECT_EQ(view().texts(1318), (std::vector<std::wstring>{L"q3", L"q2", L"customer", L"q4"}));
    EXPECT_EQ(ctl[1318].current, 3);
    EXPECT_EQ(conv->selected_pairs.back(), (std::pair<std::wstring, std::wstring>{L"q4", L"SELECT 7"}));
    const size_t pairs = conv->selected_pairs.size();
    page.on_add_query();
    EXPECT_EQ(conv->selected_pairs.size(), pairs);
    EXPECT_EQ(view().texts(1318).size(), 4u);
    // The new entry is a query like a profile's: double click edits it.
    page.answers = {{L"q5", L"SELECT 8"}};
    page.on_command(1318, command_event::double_click);
    ASSERT_FALSE(page.asked.empty());
    EXPECT_EQ(page.asked.back(), set_query_dlg::purpose::edit);
    EXPECT_EQ(conv->selected_pairs.back(), (std::pair<std::wstring, std::wstring>{L"q5", L"SELECT 8"}));

    EXPECT_EQ(page.on_next(), 0);
    EXPECT_EQ(conv->selected_tables, (std::vector<std::wstring>{L"customer"}));
}

TEST_F(table_pages, stored_and_reloaded_profile_gives_the_same_pairs) {
    conv->selected_pairs = {{L"q1", L"SELECT 1"}, {L"parts", L""}};
    page.page_init();
    page.on_next();
    const std::string path = dir.file("p.pqz");
    conv->store_profile(path);
    const auto before = conv->selected_pairs;
    conv->selected_pairs.clear();
    conv->selected_tables.clear();
    ASSERT_TRUE(conv->load_profile(path));
    EXPECT_EQ(conv->selected_pairs, before);
}

}  // namespace
