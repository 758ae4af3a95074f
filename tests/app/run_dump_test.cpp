// A generated DBF folder converted to a dump file, end to end.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "testkit/dbf_fixture.h"
#include "testkit/failing_rule.h"
#include "testkit/files.h"
#include "testkit/recording_error_view.h"
#include "testkit/sample_folder.h"
#include "testkit/temp_dir.h"
#include "testkit/unprivileged.h"
#include "tk/tk_text.h"
#include "udb/udb_custom_conversion.h"
#include "udb/udb_field.h"

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testkit::dbf_value;

namespace {

using testkit::read_file;

class run_dump : public ::testing::Test {
protected:
    void SetUp() override {
        handler = make_recording_handler(view);
        src = dir.path() + "/src";
        fs::create_directory(src);
        conv = std::make_unique<pellix_converter>();
        conv->source = tk_utf8_to_unicode(src);
        conv->destination = tk_utf8_to_unicode(dir.file("out.sql"));
        conv->direct = false;
    }

    void write_table(const std::string& file, const testkit::dbf_fixture_table& t) {
        testkit::dbf_fixture::write(fs::path(src) / file, t);
    }

    static testkit::dbf_fixture_table simple(int rows, bool with_deleted = false) {
        testkit::dbf_fixture_table t;
        t.version = 0x03;
        t.fields = {{"ID", 'N', 5, 0}, {"NAME", 'C', 10, 0}, {"OK", 'L', 1, 0}};
        for (int i = 0; i < rows; ++i) {
            testkit::dbf_fixture_record r;
            r.deleted = with_deleted && i == 1;
            r.values = {dbf_value::num(std::to_string(i + 1)), dbf_value::str("n" + std::to_string(i + 1)),
                        dbf_value::boolean(i % 2 == 0)};
            t.records.push_back(r);
        }
        return t;
    }

    std::string dump() { return read_file(dir.file("out.sql")); }

    temp_dir dir;
    std::string src;
    recording_error_view* view = nullptr;
    std::unique_ptr<error_handler> handler;
    std::unique_ptr<pellix_converter> conv;
};

TEST_F(run_dump, sample_folder_converts_every_selected_table) {
    testkit::write_sample_folder(src);
    conv->selected_tables = {L"customer", L"parts", L"orders"};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_TRUE(conv->finished);
    EXPECT_EQ(conv->tables_done, 0);
    EXPECT_EQ(conv->tables_total, 0);
    const std::string text = dump();
    EXPECT_NE(text.find("CREATE TABLE `customer`"), std::string::npos) << text;
    EXPECT_NE(text.find("CREATE TABLE `parts`"), std::string::npos);
    EXPECT_NE(text.find("CREATE TABLE `orders`"), std::string::npos);
    // The container's long names reach the orders table.
    EXPECT_NE(text.find("`customer_name`"), std::string::npos);
    EXPECT_NE(text.find("# Created by Quorvex 6.1"), std::string::npos);
    EXPECT_TRUE(view->calls.empty()) << view->calls[0].message;
}

TEST_F(run_dump, definitions_only_writes_no_rows) {
    write_table("t.dbf", simple(3));
    conv->selected_tables = {L"t"};
    conv->tab_def = true;
    EXPECT_EQ(conv->run(), run_outcome::completed);
    const std::string text = dump();
    EXPECT_NE(text.find("CREATE TABLE `t`"), std::string::npos);
    EXPECT_EQ(text.find("INSERT"), std::string::npos);
}

TEST_F(run_dump, deleted_records_are_written_unless_skipped) {
    write_table("t.dbf", simple(3, true));
    conv->selected_tables = {L"t"};
    ASSERT_EQ(conv->run(), run_outcome::completed);
    EXPECT_NE(dump().find("'n2'"), std::string::npos);
    conv->skip_del = true;
    ASSERT_EQ(conv->run(), run_outcome::completed);
    const std::string text = dump();
    EXPECT_EQ(text.find("'n2'"), std::string::npos);
    EXPECT_NE(text.find("'n3'"), std::string::npos);
}

TEST_F(run_dump, logical_fields_follow_bool_dbf) {
    write_table("t.dbf", simple(2));
    conv->selected_tables = {L"t"};
    conv->bool_dbf = true;
    ASSERT_EQ(conv->run(), run_outcome::completed);
    std::string text = dump();
    EXPECT_NE(text.find("ENUM('T','F')"), std::string::npos) << text;
    EXPECT_NE(text.find("'T'"), std::string::npos);
    EXPECT_FALSE(udb_custom_conversion::exists());
    conv->bool_dbf = false;
    ASSERT_EQ(conv->run(), run_outcome::completed);
    text = dump();
    EXPECT_EQ(text.find("ENUM('T','F')"), std::string::npos);
    EXPECT_NE(text.find("TINYINT(1)"), std::string::npos) << text;
}

// ---- customisations of a profile ----

// Columns a profile retypes keep their values: bytes become the text of
// every byte in the table's code page, ISO date-times become dates, for a
// DATE as for a DATETIME column, and whole numbers read as YYYYMMDD or
// YYYYMMDDhhmmss dates. A text that is no date fails its record only.
TEST_F(run_dump, a_profile_retypes_bytes_to_text_and_iso_texts_to_dates) {
    testkit::dbf_fixture_table t;
    t.version = 0x30;
    t.language_driver = 0x03;  // 1252
    t.fields = {{"BIN", 'Q', 10, 0}, {"WHEN", 'C', 30, 0}, {"AT", 'C', 30, 0}, {"DAY", 'N', 14, 0}};
    const char* whens[] = {"2020-12-31T10:00:00", "2020-12-31T10:00:00Z", "2021-06-30T08:15:30.5+02:00",
                           "2020-12-31T10:00:00+25:00", "2022-01-02T03:04:05-0530"};
    const std::string bytes[] = {std::string("a\xE9"
                                             "b\0c",
                                             5),
                                 "x", "y", "z", "w"};
    const char* days[] = {"20201231", "20201231100000", "20210630081530", "19991231", "20220102"};
    for (int i = 0; i < 5; ++i)
        t.records.push_back(
            {false,
             {dbf_value::bin(bytes[i]), dbf_value::str(whens[i]), dbf_value::str(whens[i]), dbf_value::num(days[i])}});
    write_table("t.dbf", t);
    const std::string profile = dir.file("p.pqz");
    testkit::dbf_fixture::write_bytes(profile,
                                      "[Selected Tables]\r\nt\r\n\r\n[Type Mappings]\r\ntables:\r\n"
                                      "  - name: t\r\n    new_name: t\r\n    fields:\r\n"
                                      "      - name:BIN\r\n        status: changed\r\n        type: TEXT\r\n"
                                      "      - name:WHEN\r\n        status: changed\r\n        type: DATE\r\n"
                                      "      - name:AT\r\n        status: changed\r\n        type: DATETIME\r\n"
                                      "      - name:DAY\r\n        status: changed\r\n        type: DATETIME\r\n");
    ASSERT_TRUE(conv->load_profile(profile));
    ASSERT_EQ(conv->run(), run_outcome::completed);
    const std::string text = dump();
    EXPECT_NE(text.find("`BIN` TEXT"), std::string::npos) << text;
    EXPECT_NE(text.find("`WHEN` DATE"), std::string::npos) << text;
    EXPECT_NE(text.find("`AT` DATETIME"), std::string::npos) << text;
    EXPECT_NE(text.find("`DAY` DATETIME"), std::string::npos) << text;
    // A DATE column keeps the date of a date-time, and says so.
    EXPECT_NE(text.find("('a\xC3\xA9"
                        "b\\0c', '2020-12-31', '2020-12-31 10:00:00', '2020-12-31')"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("('x', '2020-12-31', '2020-12-31 10:00:00', '2020-12-31 10:00:00')"), std::string::npos)
        << text;
    EXPECT_NE(text.find("('y', '2021-06-30', '2021-06-30 08:15:30.500000', '2021-06-30 08:15:30')"), std::string::npos)
        << text;
    EXPECT_NE(text.find("('w', '2022-01-02', '2022-01-02 03:04:05', '2022-01-02')"), std::string::npos) << text;
    // An offset of 25 hours is no date: those cells alone are lost, and named.
    EXPECT_NE(text.find("('z', NULL, NULL, '1999-12-31')"), std::string::npos) << text;
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].level, 0);
    EXPECT_EQ(view->calls[0].message,
              "t: Values changed to fit the types chosen for their columns: field WHEN: 4 values cut to DATE, the "
              "first in record #1: '2020-12-31T10:00:00'; field WHEN: 1 value not convertible to DATE became NULL, "
              "in record #4: '2020-12-31T10:00:00+25:00'; field AT: 1 value not convertible to DATETIME became "
              "NULL, in record #4: '2020-12-31T10:00:00+25:00'");
}

// Each field written under another name than its own is told, as tables are:
// a duplicate and a nameless field the reader renamed, a user's name the
// rules changed.
TEST_F(run_dump, fields_written_under_another_name_are_told) {
    testkit::dbf_fixture_table t;
    t.fields = {{"AMT", 'N', 5, 0}, {"amt", 'N', 5, 0}, {"", 'C', 3, 0}, {"NAME", 'C', 5, 0}, {"ID", 'N', 3, 0}};
    write_table("coll.dbf", t);
    conv->get_table_mutator2(L"coll", L"coll").update_field(L"NAME", L"ID", sql_native_type(), L"");
    conv->selected_tables = {L"coll"};
    ASSERT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(conv->rename_report(), (std::vector<std::string>{"Field amt of table coll is written as amt_2",
                                                               "Field #3 of table coll is written as FIELD3",
                                                               "Field ID of table coll is written as id00000"}));
}

// Profiles saved so far record a currency column as DECIMAL without a
// precision, and a default on a logical without a type: the column keeps
// its precision and scale and its cents, the logical its ENUM and 'T'/'F'.
TEST_F(run_dump, a_profile_keeps_currency_cents_and_logicals_as_they_go) {
    testkit::write_sample_folder(src);
    const std::string profile = dir.file("p.pqz");
    testkit::dbf_fixture::write_bytes(profile,
                                      "[Generic settings]\r\nbool as is=1\r\n\r\n"
                                      "[Selected Tables]\r\norders\r\n\r\n[Type Mappings]\r\ntables:\r\n"
                                      "  - name: orders\r\n    new_name: orders\r\n    fields:\r\n"
                                      "      - name:TOTAL_AMOU\r\n        status: changed\r\n"
                                      "        type: DECIMAL\r\n        default_value: 0\r\n"
                                      "      - name:IS_SHIPPED\r\n        new_name: is_shipped\r\n"
                                      "        status: changed\r\n        default_value: T\r\n");
    ASSERT_TRUE(conv->load_profile(profile));
    ASSERT_TRUE(conv->bool_dbf);
    ASSERT_EQ(conv->run(), run_outcome::completed) << view->calls.at(0).message;
    const std::string text = dump();
    EXPECT_NE(text.find("`total_amount` DECIMAL(19,4) DEFAULT 0,"), std::string::npos) << text;
    EXPECT_NE(text.find("`is_shipped` ENUM('T','F') DEFAULT 'T',"), std::string::npos) << text;
    EXPECT_EQ(text.find("(0,0)"), std::string::npos);
    EXPECT_NE(text.find(", 'T', 199.99, "), std::string::npos) << text;
    EXPECT_NE(text.find(", 'F', 4.5, "), std::string::npos) << text;
    EXPECT_NE(text.find(", 'T', -0.125, "), std::string::npos) << text;
    EXPECT_TRUE(view->calls.empty());
}

TEST_F(run_dump, skip_idx_creates_no_indexes) {
    testkit::write_sample_folder(src);
    conv->selected_tables = {L"customer"};
    ASSERT_EQ(conv->run(), run_outcome::completed);
    conv->skip_idx = true;
    ASSERT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(dump().find("KEY"), std::string::npos);
}

TEST_F(run_dump, users_engine_stays_and_table_customisations_reach_the_writer) {
    write_table("t.dbf", simple(1));
    write_table("u.dbf", simple(1));
    conv->selected_tables = {L"t", L"u"};
    conv->engine.set_tab_type(L"MyISAM");
    sql_table_mutator& m = conv->get_table_mutator2(L"u", L"renamed");
    m.set(L"engine", L"MEMORY");
    m.update_field(L"NAME", L"label", sql_native_type(), L"latin1");
    ASSERT_EQ(conv->run(), run_outcome::completed) << view->calls.at(0).message;
    const std::string text = dump();
    EXPECT_NE(text.find(") ENGINE=MyISAM"), std::string::npos) << text;
    EXPECT_NE(text.find("CREATE TABLE `renamed`"), std::string::npos);
    EXPECT_NE(text.find(") ENGINE=MEMORY"), std::string::npos);
    EXPECT_NE(text.find("`label` VARCHAR(10) CHARACTER SET latin1"), std::string::npos);
    EXPECT_EQ(conv->engine.get_tab_type(), L"MyISAM");
    EXPECT_EQ(conv->engine.get_customisations(), nullptr);
}

TEST_F(run_dump, bad_engine_customisation_fails_the_run_cleanly) {
    write_table("t.dbf", simple(1));
    conv->selected_tables = {L"t"};
    conv->set(L"engine", L"x; DROP");
    EXPECT_EQ(conv->run(), run_outcome::failed);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].level, 1);
    EXPECT_EQ(conv->engine.get_tab_type(), L"InnoDB");
    EXPECT_EQ(conv->engine.get_customisations(), nullptr);
    EXPECT_FALSE(fs::exists(dir.file("out.sql")));
}

class dump_failure : public run_dump {
protected:
    void SetUp() override {
        run_dump::SetUp();
        testkit::dbf_fixture_table t = simple(3);
        t.records[2].values[1] = dbf_value::str("boom");
        write_table("t.dbf", t);
        conv->selected_tables = {L"t"};
        testkit::dbf_fixture::write_bytes(dir.file("out.sql"), "old dump\n");
    }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir.path())) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(dump_failure, internal_error_leaves_the_old_dump_and_no_temporary_file) {
    udb_custom_conversion rules;
    rules.add_rule(std::make_unique<testkit::failing_rule>(L"boom", 2));
    EXPECT_THROW(conv->run(), tk_abort_exception);
    EXPECT_TRUE(conv->finished);
    EXPECT_EQ(dump(), "old dump\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"out.sql", "src"}));
}

TEST_F(dump_failure, level1_that_ends_the_run_leaves_the_old_dump) {
    view->ends_run_on_level1 = true;
    udb_custom_conversion rules;
    rules.add_rule(std::make_unique<testkit::failing_rule>(L"boom", 1));
    EXPECT_THROW(conv->run(), tk_abort_exception);
    EXPECT_EQ(dump(), "old dump\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"out.sql", "src"}));
}

TEST_F(dump_failure, record_failure_keeps_the_other_rows) {
    udb_custom_conversion rules;
    rules.add_rule(std::make_unique<testkit::failing_rule>(L"boom", 0));
    EXPECT_EQ(conv->run(), run_outcome::completed);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].message, "t, record #3: bad value");
    const std::string text = dump();
    EXPECT_NE(text.find("'n2'"), std::string::npos);
    EXPECT_EQ(text.find("boom"), std::string::npos);
}

TEST_F(dump_failure, stop_completes_the_dump) {
    // Record 2 is deleted and left out: the row count says so.
    testkit::dbf_fixture_table t = simple(3, true);
    t.records[2].values[1] = dbf_value::str("boom");
    write_table("t.dbf", t);
    conv->skip_del = true;
    view->next_answer.stop = true;
    udb_custom_conversion rules;
    rules.add_rule(std::make_unique<testkit::failing_rule>(L"boom", 0));
    EXPECT_EQ(conv->run(), run_outcome::stopped);
    const std::string text = dump();
    EXPECT_NE(text.find("CREATE TABLE `t`"), std::string::npos);
    EXPECT_NE(text.find("'n1'"), std::string::npos);
    EXPECT_EQ(text.find("'n2'"), std::string::npos);
    EXPECT_EQ(files(), (std::vector<std::string>{"out.sql", "src"}));
    // The user hears that the file holds only part of the data.
    EXPECT_EQ(conv->stop_report(), (std::vector<std::string>{
                                       "The conversion was stopped.",
                                       "Table t holds 1 of 3 records",
                                       "The dump file '" + dir.file("out.sql") + "' holds only these tables.",
                                   }));
}

TEST_F(dump_failure, a_list_that_opens_no_table_keeps_the_old_dump) {
    testkit::dbf_fixture::write_bytes(fs::path(src) / "t.dbf", "damaged");
    conv->selected_tables = {L"t", L"gone"};
    EXPECT_EQ(conv->run(), run_outcome::failed);
    ASSERT_FALSE(view->calls.empty());
    EXPECT_EQ(view->calls.back().level, 1);
    EXPECT_EQ(view->calls.back().message, "None of the tables to convert could be opened; nothing was converted.");
    EXPECT_EQ(dump(), "old dump\n");
    EXPECT_EQ(files(), (std::vector<std::string>{"out.sql", "src"}));
}

TEST_F(dump_failure, a_run_that_writes_no_table_keeps_the_old_dump) {
    testkit::dbf_fixture_table wide;  // more columns than InnoDB takes: left out
    for (int i = 0; i < 1018; ++i) wide.fields.push_back({"F" + std::to_string(i), 'N', 3, 0});
    write_table("t.dbf", wide);
    // Customised past what a server creates: every field dropped, or a
    // VARCHAR longer than 65,535 bytes in utf8.
    write_table("e.dbf", simple(1));
    write_table("v.dbf", simple(1));
    for (const wchar_t* f : {L"ID", L"NAME", L"OK"})
        conv->get_table_mutator2(L"e", L"e").update_field(f, L"", sql_native_type(), L"").status =
            udb_mutators::deleted;
    sql_native_type text;
    text.name = L"VARCHAR(30000)";
    conv->get_table_mutator2(L"v", L"v").update_field(L"NAME", L"", text, L"");
    conv->selected_tables = {L"t", L"e", L"v"};
    EXPECT_EQ(conv->run(), run_outcome::failed);
    ASSERT_EQ(view->calls.size(), 4u);
    EXPECT_EQ(view->calls[1].message, "e: A table must have at least 1 column");
    EXPECT_EQ(view->calls[2].message,
              "v: Column length too big for column 'NAME' (max = 21845); use BLOB or TEXT instead");
    EXPECT_EQ(view->calls.back().message, "None of the tables to convert could be created; nothing was converted.");
    EXPECT_EQ(dump(), "old dump\n");
}

TEST_F(dump_failure, unreadable_source_fails_at_run_depth_and_keeps_the_old_dump) {
    conv->source = tk_utf8_to_unicode(dir.file("missing"));
    EXPECT_EQ(conv->run(), run_outcome::failed);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].level, 1);
    EXPECT_EQ(dump(), "old dump\n");
}

// ---- destination checks ----

TEST_F(run_dump, dump_destination_checks) {
    auto level1 = [&](const std::string& path, const std::string& text) {
        conv->destination = tk_utf8_to_unicode(path);
        try {
            conv->check_dest();
            ADD_FAILURE() << path;
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level, 1);
            EXPECT_EQ(std::string(e.what()), text) << path;
        }
    };
    level1(dir.path(), "Destination name should specify a file, not folder.");
    level1(dir.file("nowhere/out.sql"), "Destination path does not exist.\nPlease verify the correct path was given.");
    testkit::dbf_fixture::write_bytes(dir.file("plain"), "x");
    level1(dir.file("plain/out.sql"), "Destination path does not exist.\nPlease verify the correct path was given.");
    write_table("t.dbf", simple(1));
    level1(src + "/t.dbf",
           "Destination name specifies a file of the source database.\nSpecify a different destination file.");
    level1(src + "/T.FPT",
           "Destination name specifies a file of the source database.\nSpecify a different destination file.");
    level1(src + "/t.Cdx",
           "Destination name specifies a file of the source database.\nSpecify a different destination file.");
    EXPECT_EQ(testkit::dbf_fixture::read_bytes(fs::path(src) / "t.dbf").substr(0, 1), "\x03");

    const std::string special =
        "Destination name specifies a device, pipe or other special file.\nSpecify a regular file.";
    ASSERT_EQ(::mkfifo(dir.file("pipe.sql").c_str(), 0600), 0);
    level1(dir.file("pipe.sql"), special);
    fs::create_symlink("/dev/null", dir.file("null.sql"));
    level1(dir.file("null.sql"), special);

    // The database lines of a dump never drop a system database.
    conv->dump.b_create_db = true;
    level1(dir.file("Sys.sql"), "The database 'Sys' is a system database and cannot be a destination.");
    conv->dump.b_create_db = false;
    conv->destination = tk_utf8_to_unicode(dir.file("Sys.sql"));
    EXPECT_NO_THROW(conv->check_dest());

    // A dump is made before it meets its database: it cannot skip what is there.
    conv->mode = udb_converter::skip_tables;
    level1(dir.file("out.sql"),
           "A dump file cannot skip existing tables (mode 2): it cannot know which tables the database it is "
           "loaded into holds.\nChoose another mode.");
}

TEST_F(run_dump, a_merge_keeps_the_tables_it_finds) {
    write_table("t.dbf", simple(1));
    conv->selected_tables = {L"t"};
    conv->mode = udb_converter::merge_tables;
    ASSERT_EQ(conv->run(), run_outcome::completed);
    EXPECT_NE(dump().find("CREATE TABLE IF NOT EXISTS `t`"), std::string::npos);
    EXPECT_EQ(dump().find("DROP TABLE"), std::string::npos);
}

TEST_F(run_dump, existing_dump_is_kept_until_the_new_one_is_complete) {
    testkit::dbf_fixture::write_bytes(dir.file("out.sql"), "old");
    conv->check_dest();
    EXPECT_EQ(dump(), "old");
}

TEST_F(run_dump, read_only_dump_is_refused) {
    testkit::dbf_fixture::write_bytes(dir.file("out.sql"), "old");
    fs::permissions(dir.file("out.sql"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    testkit::open_to_everyone(dir.path());
    // Checked as an ordinary user: root may write any file.
    const int status = testkit::run_unprivileged([&] {
        try {
            conv->check_dest();
        } catch (const tk_exception& e) {
            return e.level == 1 ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(status, 0) << "1: accepted, 2: wrong level";
    EXPECT_EQ(read_file(dir.file("out.sql")), "old");
}

TEST_F(run_dump, values_read_as_null_or_rounded_are_reported_once_per_table) {
    testkit::dbf_fixture_table t = simple(3);
    t.records[1].values[0] = dbf_value::num("***");  // an overflow mark where a number belongs
    write_table("stock.dbf", t);
    conv->selected_tables = {L"stock"};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    ASSERT_EQ(view->calls.size(), 1u);
    EXPECT_EQ(view->calls[0].level, 0);
    EXPECT_TRUE(view->calls[0].can_stop);
    EXPECT_EQ(view->calls[0].message,
              "stock: 1 value could not be read and became NULL; the first: field ID of record #2 holds '***', "
              "which is not a number");
    // The row itself still arrives, with NULL in place of the value.
    EXPECT_NE(dump().find("(NULL, 'n2', 0)"), std::string::npos) << dump();

    // More decimals than the column holds: written rounded, as the server would store it, and said.
    t.fields = {{"AMT", 'N', 8, 2}};
    t.records = {{false, {dbf_value::num("3.14159")}}};
    write_table("price.dbf", t);
    conv->selected_tables = {L"price"};
    EXPECT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(view->calls.back().message,
              "price: 1 value had more decimals than its column holds and was rounded; the first: field AMT of record "
              "#1 holds '3.14159', written as 3.14");
    EXPECT_NE(dump().find("(3.14)"), std::string::npos) << dump();
}

}  // namespace
