// Table and field customisations: applied by the run, imported from the
// container, kept in a profile's "Type Mappings" block.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/error_handler.h"
#include "app/pellix_bool_rule.h"
#include "app/pellix_converter.h"
#include "dbf/dbf_database.h"
#include "recording_target.h"
#include "sql/sql_db_mutator.h"
#include "testkit/dbf_fixture.h"
#include "testkit/recording_error_view.h"
#include "testkit/sample_folder.h"
#include "testkit/temp_dir.h"
#include "tk/tk_exception.h"
#include "tk/tk_text.h"
#include "udb/udb_profile.h"

namespace fs = std::filesystem;
using testkit::dbf_value;

namespace {

class test_converter : public pellix_converter {
public:
    std::unique_ptr<udb_database> open_target() override { return std::make_unique<recording_target>(log); }
    recording_log log;
};

sql_native_type type_of(const wchar_t* name, uint64_t size = 0) {
    sql_native_type t;
    t.name = name;
    t.size = size;
    return t;
}

class customisation_test : public ::testing::Test {
protected:
    void SetUp() override {
        handler = make_recording_handler(view);
        conv = std::make_unique<test_converter>();
        conv->engine.set_server_version(0x050700);
        conv->source = tk_utf8_to_unicode(dir.path());
    }

    void people() {
        testkit::dbf_fixture_table t;
        t.fields = {{"ID", 'N', 5, 0}, {"NAME", 'C', 10, 0}, {"NOTE", 'C', 10, 0}};
        t.records.push_back({false, {dbf_value::num("1"), dbf_value::str("ann"), dbf_value::str("x")}});
        t.records.push_back({false, {dbf_value::num("2"), dbf_value::str("bob"), dbf_value::str("12")}});
        testkit::dbf_fixture::write(fs::path(dir.path()) / "people.dbf", t);
        conv->selected_tables = {L"people"};
    }

    temp_dir dir;
    recording_error_view* view = nullptr;
    std::unique_ptr<error_handler> handler;
    std::unique_ptr<test_converter> conv;
};

TEST_F(customisation_test, renamed_table_and_fields_reach_schema_and_rows) {
    people();
    sql_table_mutator& m = conv->get_table_mutator2(L"people", L"persons");
    m.update_field(L"NAME", L"full_name", sql_native_type(), L"");
    m.update_field(L"NOTE", L"NOTE", sql_native_type(), L"").status = udb_mutators::deleted;
    ASSERT_EQ(conv->run(), run_outcome::completed);
    ASSERT_EQ(conv->log.columns.size(), 1u);
    EXPECT_EQ(conv->log.columns[0], (std::vector<std::string>{"ID", "full_name"}));
    ASSERT_EQ(conv->log.rows.size(), 2u);
    EXPECT_EQ(conv->log.rows[0].first, "persons");
    EXPECT_EQ(conv->log.rows[0].second, "ID=1;full_name=ann;");
}

TEST_F(customisation_test, retyped_field_converts_values_and_reports_the_rest) {
    people();
    sql_native_type number = type_of(L"INT");
    number.default_value = L"abc";
    conv->get_table_mutator2(L"people", L"people").update_field(L"NOTE", L"", number, L"");
    ASSERT_EQ(conv->run(), run_outcome::completed);
    ASSERT_EQ(view->calls.size(), 2u);
    EXPECT_EQ(view->calls[0].message,
              "people: The default value 'abc' of field NOTE is not a value of INT; the column has no default");
    EXPECT_EQ(view->calls[1].message,
              "people: Values changed to fit the types chosen for their columns: field NOTE: 1 value not "
              "convertible to INT became NULL, in record #1: 'x'");
    ASSERT_EQ(conv->log.rows.size(), 2u);
    EXPECT_EQ(conv->log.rows[0].second, "ID=1;NAME=ann;NOTE=;");
    EXPECT_EQ(conv->log.rows[1].second, "ID=2;NAME=bob;NOTE=12;");
}

TEST_F(customisation_test, a_type_the_server_cannot_create_leaves_the_table_out) {
    people();
    conv->get_table_mutator2(L"people", L"people").update_field(L"NAME", L"", type_of(L"ENUM"), L"");
    // Its only table left out, the run created nothing: not completed.
    ASSERT_EQ(conv->run(), run_outcome::failed);
    ASSERT_EQ(view->calls.size(), 2u);
    EXPECT_EQ(view->calls[0].message, "people: The column type of 'NAME' is not valid: ENUM has no list of values");
    EXPECT_EQ(view->calls[1].message, "None of the tables to convert could be created; nothing was converted.");
    EXPECT_TRUE(conv->log.columns.empty());
}

TEST_F(customisation_test, mutator_differing_in_case_is_not_applied) {
    people();
    conv->get_table_mutator2(L"PEOPLE", L"other");
    ASSERT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(conv->log.rows.at(0).first, "people");
}

TEST_F(customisation_test, container_long_names_and_an_editor_retype) {
    testkit::write_sample_folder(dir.path());
    conv->selected_tables = {L"customer", L"orders"};
    // A user's new name for the table survives the import.
    conv->get_table_mutator2(L"orders", L"sales");
    conv->get_table_mutator3(L"orders")->update_field(L"total_amount", L"", type_of(L"VARCHAR", 20), L"");
    ASSERT_EQ(conv->run(), run_outcome::completed) << (view->calls.empty() ? "" : view->calls[0].message);
    ASSERT_EQ(conv->log.columns.size(), 2u);
    const auto& cols = conv->log.columns[1];
    EXPECT_NE(std::find(cols.begin(), cols.end(), "customer_name"), cols.end());
    EXPECT_NE(std::find(cols.begin(), cols.end(), "total_amount"), cols.end());
    bool sales = false;
    for (const auto& r : conv->log.rows) sales = sales || r.first == "sales";
    EXPECT_TRUE(sales);
    sql_field_mutator* f = conv->get_table_mutator3(L"orders")->find_field_mutator(L"CUSTOMER_N");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->new_name, L"customer_name");
    EXPECT_TRUE(f->native_type.empty());
}

TEST_F(customisation_test, import_keeps_a_users_field_change) {
    testkit::write_sample_folder(dir.path());
    conv->selected_tables = {L"orders"};
    conv->get_table_mutator2(L"orders", L"orders").update_field(L"REMARKS", L"notes", sql_native_type(), L"");
    ASSERT_EQ(conv->run(), run_outcome::completed);
    EXPECT_EQ(conv->get_table_mutator3(L"orders")->get_field_mutator(L"REMARKS")->new_name, L"notes");
    const auto& cols = conv->log.columns.at(0);
    EXPECT_NE(std::find(cols.begin(), cols.end(), "notes"), cols.end());
}

// A container of many names for one table: a name meets the user's
// customisation of its field in any letter case, and every name is kept.
TEST_F(customisation_test, import_of_many_names_finds_the_users_field_in_any_case) {
    people();
    dbf_database source_db(conv->source, 1, 0, false, error_handler::reader_reporter());
    conv->get_table_mutator2(L"people", L"people").update_field(L"note", L"", type_of(L"TEXT"), L"");
    dbf_fnames_map names{{"people", {{"NOTE", "long_note"}}}};
    for (int i = 10000; i < 20000; ++i)
        names["people"].emplace_hint(names["people"].end(), "F" + std::to_string(i), "field_" + std::to_string(i));
    recording_log log;
    recording_target target(log);
    conv->add_fn_mapping(target, names, source_db);
    const sql_field_mutator* note = conv->get_table_mutator3(L"people")->get_field_mutator(L"note");
    EXPECT_EQ(conv->get_table_mutator3(L"people")->fields.size(), 10001u);
    EXPECT_TRUE(note->new_name == L"long_note" && note->native_type == L"TEXT");
}

TEST_F(customisation_test, import_runs_when_a_free_table_comes_first) {
    testkit::write_sample_folder(dir.path());
    conv->selected_tables = {L"customer", L"orders"};
    ASSERT_EQ(conv->run(), run_outcome::completed);
    ASSERT_NE(conv->get_table_mutator3(L"orders"), nullptr);
    EXPECT_FALSE(conv->get_table_mutator3(L"orders")->fields.empty());
}

TEST(indexes_follow_fields, dropped_columns_leave_and_renamed_ones_follow) {
    sql_table_mutator m(L"t");
    m.update_field(L"A", L"alpha", sql_native_type(), L"");
    m.update_field(L"B", L"B", sql_native_type(), L"").status = udb_mutators::deleted;
    udb_indexes idx;
    idx.push_back(udb_index(L"i1", false, false, false, {L"A", L"B", L"C"}));
    idx.push_back(udb_index(L"i2", false, false, false, {L"B"}));
    m.modify3(idx);
    ASSERT_EQ(idx.size(), 1u);
    EXPECT_EQ(idx[0].fields, (std::vector<std::wstring>{L"alpha", L"C"}));
}

// The changed copy of a record is reused from record to record: nothing of
// one record, or of a change that failed on it, may show in the next.
TEST(record_changes, each_record_starts_from_its_own_values) {
    sql_table_mutator m(L"t");
    m.update_field(L"NAME", L"full_name", sql_native_type(), L"");
    m.update_field(L"NOTE", L"", type_of(L"INT"), L"");
    m.update_field(L"JUNK", L"JUNK", sql_native_type(), L"").status = udb_mutators::deleted;
    auto record = [](const wchar_t* name, const wchar_t* note, bool with_junk) {
        auto r = std::make_unique<udb_record>();
        r->add_field(udb_field(L"NAME", 10, ole_variant(std::wstring(name))));
        if (with_junk) r->add_field(udb_field(L"JUNK", 1, ole_variant(std::wstring(L"j"))));
        r->add_field(udb_field(L"NOTE", 10, ole_variant(std::wstring(note))));
        return r;
    };
    auto first = record(L"ann", L"12", true);
    const udb_record& a = m.modify2(*first);
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a.at(0)->name, L"full_name");
    EXPECT_EQ(a.at(0)->to_wstring(), L"ann");
    EXPECT_EQ(a.at(1)->get_type(), VT_I4);

    auto bad = record(L"bob", L"x", true);
    EXPECT_TRUE(m.modify2(*bad).at(1)->is_null_or_empty());

    auto third = record(L"cy", L"7", true);
    const udb_record& c = m.modify2(*third);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c.at(0)->to_wstring(), L"cy");
    EXPECT_EQ(c.at(1)->name, L"NOTE");
    EXPECT_EQ(c.at(1)->to_wstring(), L"7");

    // Other fields: matched again.
    auto other = record(L"di", L"8", false);
    const udb_record& d = m.modify2(*other);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d.at(0)->name, L"full_name");
    EXPECT_EQ(d.at(1)->to_wstring(), L"8");
}

// Each target stores what the customisation holds: a value its new column
// cannot take as it is is cut, rounded or NULL, and counted by field.
TEST(record_changes, retyped_values_are_held_to_their_columns) {
    sql_table_mutator m(L"t");
    m.update_field(L"NAME", L"", type_of(L"VARCHAR", 3), L"");
    sql_native_type dec = type_of(L"DECIMAL");
    dec.precision = 5;
    dec.scale = 1;
    m.update_field(L"AMOUNT", L"", dec, L"");
    m.update_field(L"OK", L"", type_of(L"ENUM('T','F')"), L"");
    m.update_field(L"SEEN", L"", type_of(L"SET('T','X')"), L"");
    m.update_field(L"QTY", L"", type_of(L"TINYINT"), L"");
    auto held = [&](const wchar_t* name, const wchar_t* amount, bool ok, const wchar_t* qty) {
        udb_record r;
        r.add_field(udb_field(L"NAME", 10, ole_variant(std::wstring(name))));
        r.add_field(udb_field(L"AMOUNT", 14, ole_variant(std::wstring(amount))));
        r.add_field(udb_field(L"OK", 1, ole_variant(ok)));
        r.add_field(udb_field(L"SEEN", 1, ole_variant(ok)));
        r.add_field(udb_field(L"QTY", 10, ole_variant(std::wstring(qty))));
        std::string text;
        for (const auto& f : m.modify2(r, 7).fields) text += (f->is_null_or_empty() ? "NULL" : f->to_string()) + ";";
        return text;
    };
    EXPECT_EQ(held(L"Smith", L"5885166.96", true, L"300"), "Smi;NULL;T;T;NULL;");
    EXPECT_EQ(held(L"Al", L"12.34", false, L"12"), "Al;12.3;F;NULL;12;");
    const std::vector<std::wstring> notes = m.take_notes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0],
              L"Values changed to fit the types chosen for their columns: field NAME: 1 text cut to VARCHAR(3), in "
              L"record #7: 'Smith'; field AMOUNT: 1 value outside DECIMAL(5,1) became NULL, in record #7: "
              L"'5885166.96'; field QTY: 1 value outside TINYINT became NULL, in record #7: '300'; field AMOUNT: 1 "
              L"number rounded to DECIMAL(5,1), in record #7: '12.34'; field SEEN: 1 value outside SET('T','X') "
              L"became NULL, in record #7: 'F'");
    EXPECT_TRUE(m.take_notes().empty());
}

TEST(type_mappings, block_survives_a_profile_file) {
    temp_dir dir;
    sql_db_mutator out;
    out.set(L"engine", L"MyISAM");
    sql_table_mutator& t = out.get_table_mutator2(L"people", L"persons");
    t.set(L"character set", L"latin1");
    sql_native_type dec = type_of(L"DECIMAL");
    dec.precision = 12;
    dec.scale = 3;
    dec.default_value = L"a=b";
    t.update_field(L"AMOUNT", L"amount", dec, L"utf8");
    t.update_field(L"JUNK", L"JUNK", sql_native_type(), L"").status = udb_mutators::deleted;
    udb_profile p;
    out.store(p);
    ASSERT_TRUE(p.store(dir.file("p.pqz")));

    udb_profile q;
    ASSERT_TRUE(q.load(dir.file("p.pqz")));
    sql_db_mutator in;
    in.load(q);
    EXPECT_EQ(in.find(L"engine").value_or(L""), L"MyISAM");
    sql_table_mutator* r = in.get_table_mutator3(L"people");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->new_name, L"persons");
    EXPECT_EQ(r->find(L"character set").value_or(L""), L"latin1");
    sql_field_mutator* a = r->get_field_mutator(L"AMOUNT");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->new_name, L"amount");
    EXPECT_EQ(a->native_type, L"DECIMAL");
    EXPECT_EQ(a->precision, 12);
    EXPECT_EQ(a->scale, 3);
    EXPECT_EQ(a->default_text, L"a=b");
    EXPECT_EQ(a->character_set, L"utf8");
    EXPECT_EQ(a->status, udb_mutators::changed);
    ASSERT_NE(r->get_field_mutator(L"JUNK"), nullptr);
    EXPECT_EQ(r->get_field_mutator(L"JUNK")->status, udb_mutators::deleted);
}

TEST(type_mappings, tabs_are_blanks_keys_ignore_case_and_an_unreadable_line_refuses_the_block) {
    temp_dir dir;
    const std::string head = "[Type Mappings]\ndatabase:\n\tENGINE: MyISAM\ntables:\n\t- name: t\n\t\tnew_name: n\n";
    const std::string path = dir.file("p.pqz");
    std::ofstream(path) << head
                        << "\tfields:\n\t\t- name:F\n\t\t\tstatus: Deleted\n\tproperties:\n\t\tCharacter Set: latin1\n";
    udb_profile p;
    ASSERT_TRUE(p.load(path));
    sql_db_mutator in;
    in.get_table_mutator2(L"earlier", L"x");
    in.load(p);
    EXPECT_EQ(in.get_table_mutator3(L"earlier"), nullptr);  // replaced, not added to
    EXPECT_EQ(in.find(L"engine").value_or(L""), L"MyISAM");
    ASSERT_NE(in.get_table_mutator3(L"t"), nullptr);
    EXPECT_EQ(in.get_table_mutator3(L"t")->new_name, L"n");
    EXPECT_EQ(in.get_table_mutator3(L"t")->find(L"character set").value_or(L""), L"latin1");
    EXPECT_EQ(in.get_table_mutator3(L"t")->get_field_mutator(L"F")->status, udb_mutators::deleted);

    for (const char* bad : {"\tcolour: red\n", "\tfields:\n\t\t- name:F\n\t\tlength: 12x\n",
                            "\tfields:\n\t\t- name:F\n\t\tbogus: 1\n", "\tproperties:\n\t\tengnie: MyISAM\n",
                            "\tfields:\n\t\t- name:F\n\t\ttype: INT, pwn INT DEFAULT 7\n"}) {
        std::ofstream(path) << head << bad;
        udb_profile q;
        ASSERT_TRUE(q.load(path));
        EXPECT_THROW(sql_db_mutator::check_profile(q), tk_exception) << bad;
        EXPECT_THROW(in.load(q), tk_exception) << bad;
        EXPECT_EQ(in.get_table_mutator3(L"t")->new_name, L"n") << bad;  // nothing changed
    }
}

TEST(bool_rule, logical_columns_and_values) {
    pellix_bool_rule rule;
    t_ftd logical(1, L"ok", VT_BOOL, false, false);
    t_ftd text(5, L"s", VT_BSTR, false, false);
    EXPECT_TRUE(rule.is_acceptable1(logical));
    EXPECT_FALSE(rule.is_acceptable1(text));
    EXPECT_EQ(rule.handle1(logical), L"ENUM('T','F')");
    udb_field yes(L"ok", 1, ole_variant(true));
    udb_field no(L"ok", 1, ole_variant(false));
    EXPECT_TRUE(rule.is_acceptable2(yes));
    EXPECT_EQ(rule.handle2(yes), L"'T'");
    EXPECT_EQ(rule.handle2(no), L"'F'");
    EXPECT_FALSE(rule.is_acceptable2(udb_field(L"s", 1, ole_variant(L"T"))));
}

}  // namespace
