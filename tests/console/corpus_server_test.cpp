// The shared corpus of real DBF files, end to end: every folder converted by
// pqzagent into a dump that the mariadb client replays, and loaded straight
// into the server, gives the rows of the reference decoding
// (corpus/expected), table by table. A malformed file ends in a table-level
// error or a reported recovery; nothing crashes, hangs or goes missing
// without a word.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "agent_process.h"
#include "dbf/dbf_database.h"
#include "dbf/dbf_exception.h"
#include "dbf/dbf_recordset.h"
#include "dbf/dbf_report.h"
#include "server_session.h"
#include "testkit/corpus.h"
#include "testkit/mariadb_client.h"
#include "testkit/mini_json.h"
#include "tk/tk_text.h"

namespace fs = std::filesystem;
using console_test::cell;
using console_test::result;
using console_test::row;
using console_test::server_session;
using testkit::as_reference_1252;
using testkit::corpus_root;
using testkit::memo_past_end;
using testkit::mini_json;
using testkit::seconds_of;

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Files our rules refuse as a whole: empty, stub, no fields, widths that do
// not fit the record length, or a memo header shorter than its format's.
bool expected_refused(const mini_json& e) {
    if (e["fields"].items.empty()) return true;
    for (const auto& a : e["anomalies"].items) {
        const std::string& t = a.text;
        if (t.find("record length") != std::string::npos && t.find("fields need") != std::string::npos) return true;
        if (t.find("shorter than a memo header") != std::string::npos) return true;
    }
    return false;
}

std::string hex_of(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string h;
    for (unsigned char c : bytes) {
        h += digits[c >> 4];
        h += digits[c & 15];
    }
    return h;
}

// Numbers agree when equal to 1e-9 relative, or within the rounding of the
// column's decimals.
bool close_numbers(double got, double want, int decimals) {
    if (got == want) return true;
    if (std::fabs(got - want) <= 1e-9 * std::max(std::fabs(got), std::fabs(want))) return true;
    return decimals > 0 && std::fabs(got - want) <= 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9);
}

struct table_facts {
    uint8_t version = 0;
    int codepage = 0;       // ours
    bool same_codepage = true;
    bool level7() const { return version == 0x04 || version == 0x8C; }
};

// Compares one cell read back from the server with the reference value.
// Reads that differ on purpose are those of the DBF reader's own corpus
// test (level-7 I/+/O, O as big-endian, '?' logicals as false, whole seconds
// in 'T', memo text cut at NUL, the five undefined 1252 bytes, text of
// tables whose code page the reference takes otherwise, values the
// reference cannot decode); on top of it the server's own forms: logicals
// are ENUM('T','F'), decimals round to the column's scale.
std::string compare_cell(const mini_json& exp, const cell& got, const mini_json& field, const table_facts& t) {
    const std::string type = field["type"].text;
    if (t.level7() && (type == "I" || type == "+" || type == "O")) return {};
    if (type == "O") return {};
    if (exp.k == mini_json::kind::object && (exp.has("error") || exp.has("unsupported_type"))) return {};
    const bool got_empty = !got || got->empty();
    const std::string g = got.value_or("");
    const int decimals = static_cast<int>(field["decimals"].num);
    if (exp.is_null()) {
        if (got_empty) return {};
        if (type == "L" && (g == "F" || g == "0")) return {};
        return "expected null, got '" + g + "'";
    }
    if (exp.k == mini_json::kind::boolean) {
        if (exp.b ? (g == "T" || g == "1") : (g == "F" || g == "0")) return {};
        return "expected " + std::string(exp.b ? "true" : "false") + ", got '" + g + "'";
    }
    if (exp.k == mini_json::kind::number) {
        if (!got) return "expected " + exp.text + ", got NULL";
        if (close_numbers(std::strtod(g.c_str(), nullptr), exp.num, decimals)) return {};
        return "expected " + exp.text + ", got " + g;
    }
    if (exp.k == mini_json::kind::object) {
        if (exp.has("hex")) {
            const std::string h = exp["hex"].text;
            if (h.empty() && got_empty) return {};
            if (hex_of(g) == h) return {};
            // Binary-flagged character fields are text: their bytes in the
            // table's code page are the reference's bytes.
            const std::string bytes = hex_of(tk_unicode_to_codepage(tk_utf8_to_unicode(g), t.codepage));
            if (!bytes.empty() && h.compare(0, bytes.size(), bytes) == 0) return {};
            return "expected hex " + h.substr(0, 40) + ", got " + hex_of(g).substr(0, 40);
        }
        if (exp.has("text_length")) {
            if (t.level7() || !t.same_codepage) return {};
            const size_t n = static_cast<size_t>(exp["text_length"].num);
            const std::wstring w = tk_utf8_to_unicode(g);
            if (w.size() == n) return {};
            if (w.size() < n && tk_utf8_to_unicode(exp["head"].text).compare(0, w.size(), w) == 0) return {};
            return "expected text of " + exp["text_length"].text + " characters, got " + std::to_string(w.size());
        }
        if (exp.has("byte_length")) {
            if (g.size() == static_cast<size_t>(exp["byte_length"].num)) return {};
            return "expected " + exp["byte_length"].text + " bytes, got " + std::to_string(g.size());
        }
        return "unknown expected form";
    }
    std::string e = exp.text;
    if (type == "D" || type == "T" || type == "@") {
        std::string d = g;
        for (auto& c : e)
            if (c == 'T') c = ' ';
        if (e.size() > 19) e = e.substr(0, 19);
        if (e.size() == 19 && e.substr(10) == " 00:00:00") e = e.substr(0, 10);
        if (d.size() > 19) d = d.substr(0, 19);
        if (d.size() == 19 && d.substr(10) == " 00:00:00" && e.size() == 10) d = d.substr(0, 10);
        if (d == e) return {};
        if (type != "D" && std::llabs(seconds_of(d) - seconds_of(e)) <= 1) return {};
        return "expected date " + e + ", got " + (got ? d : "NULL");
    }
    if (type == "Y" || type == "N" || type == "F") {
        if (!got) return "expected " + e + ", got NULL";
        if (close_numbers(std::strtod(g.c_str(), nullptr), std::strtod(e.c_str(), nullptr), decimals)) return {};
        return "expected " + e + ", got " + g;
    }
    if (t.level7() || !t.same_codepage) return {};
    const std::wstring want = tk_utf8_to_unicode(e), have = tk_utf8_to_unicode(g);
    if (got && have == want) return {};
    if (got && t.codepage == 1252 && as_reference_1252(have) == want) return {};
    if (got_empty && e.empty()) return {};
    // Memo text ends at its first NUL byte.
    if (type == "M" && got && have.size() < want.size() && want.compare(0, have.size(), have) == 0 &&
        want[have.size()] == 0)
        return {};
    return "expected '" + e.substr(0, 60) + "', got '" + g.substr(0, 60) + "'";
}

// What pqzagent said about one table: the table-level failures and the
// numbers of the records that failed.
struct table_report {
    std::vector<std::string> table_errors;
    std::set<uint64_t> failed_records;
};

// Reads the "Error:\n<table>: ..." and "Error:\n<table>, record #N: ..."
// blocks of the program's output, by lower-case table name.
std::map<std::string, table_report> parse_reports(const std::string& out) {
    std::map<std::string, table_report> reports;
    size_t at = 0;
    while ((at = out.find("Error:\n", at)) != std::string::npos) {
        at += 7;
        const size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const size_t rec = line.find(", record #");
        const size_t colon = line.find(": ");
        if (rec != std::string::npos && (colon == std::string::npos || rec < colon)) {
            reports[lower(line.substr(0, rec))].failed_records.insert(
                std::strtoull(line.c_str() + rec + 10, nullptr, 10));
        } else if (colon != std::string::npos) {
            reports[lower(line.substr(0, colon))].table_errors.push_back(line.substr(colon + 2));
        }
    }
    return reports;
}

// Our reading of the table's version and code page (reports silenced).
table_facts facts_of(const fs::path& table, const mini_json& e) {
    table_facts t;
    t.version = static_cast<uint8_t>(e["version"].num);
    try {
        dbf_database db(table.parent_path().wstring(), 1, 0, true);
        dbf_recordset rs(table.wstring(), 1, 0, &db);
        t.codepage = rs.get_codepage();
    } catch (const std::exception&) {
        t.codepage = static_cast<int>(e["codepage"].num);
    }
    t.same_codepage = static_cast<int>(e["codepage"].num) == t.codepage;
    return t;
}

const char nothing_opened[] = "None of the tables to convert could be opened; nothing was converted.";

class CorpusServer : public ::testing::Test {
protected:
    void SetUp() override { server = test_server::from_environment(); }

    // Checks one table of the database against its reference decoding;
    // returns false when it differs.
    bool check_table(server_session& db, const std::string& database, const std::vector<std::string>& present,
                     const fs::path& table, const mini_json& e, const std::map<std::string, table_report>& reports,
                     const std::string& how) {
        const std::string stem = table.stem().string();
        const auto rep_it = reports.find(lower(stem));
        const table_report none;
        const table_report& rep = rep_it == reports.end() ? none : rep_it->second;
        std::string name;
        for (const auto& p : present)
            if (lower(p) == lower(stem)) name = p;
        if (name.empty()) {
            // A table that is not there must have been refused aloud, and
            // only when the file is one our rules refuse.
            if (rep.table_errors.empty()) {
                ADD_FAILURE() << how << " " << e["file"].text << ": missing without a word";
                return false;
            }
            if (!expected_refused(e)) {
                ADD_FAILURE() << how << " " << e["file"].text << ": refused: " << rep.table_errors[0];
                return false;
            }
            return true;
        }
        // Recoveries are reported: a missing memo file (memos NULL), records
        // past the declared count (left out).
        for (const auto& a : e["anomalies"].items) {
            const bool told = !rep.table_errors.empty();
            if (a.text == "memo file missing" && !told)
                ADD_FAILURE() << how << " " << e["file"].text << ": missing memo file not reported";
            if (a.text.find("complete records in the file") != std::string::npos &&
                e["record_count_fit"].num > e["record_count_declared"].num && !told)
                ADD_FAILURE() << how << " " << e["file"].text << ": records past the count not reported";
        }
        std::vector<const mini_json*> fields;
        for (const auto& f : e["fields"].items)
            if (f["type"].text != "0") fields.push_back(&f);
        // Records past the declared count are left out (and reported).
        std::vector<const mini_json*> records;
        for (const auto& r : e["records"].items) {
            if (r["beyond_declared_count"].b) continue;
            const uint64_t number = static_cast<uint64_t>(r["i"].num) + 1;
            if (rep.failed_records.count(number)) {
                if (!memo_past_end(e, r)) {
                    ADD_FAILURE() << how << " " << e["file"].text << ": record #" << number << " failed";
                    return false;
                }
                continue;
            }
            records.push_back(&r);
        }
        const std::vector<row> rows = db.rows("SELECT * FROM `" + database + "`.`" + name + "`");
        if (rows.size() != records.size()) {
            ADD_FAILURE() << how << " " << e["file"].text << ": " << rows.size() << " rows, expected "
                          << records.size();
            return false;
        }
        if (!rows.empty() && rows[0].size() != fields.size()) {
            ADD_FAILURE() << how << " " << e["file"].text << ": " << rows[0].size() << " columns, expected "
                          << fields.size();
            return false;
        }
        const table_facts facts = facts_of(table, e);
        int bad = 0;
        for (size_t n = 0; n < rows.size(); ++n) {
            const mini_json& r = *records[n];
            const auto& values = r["values"].items;
            size_t col = 0;
            for (size_t v = 0; v < values.size() && v < e["fields"].items.size(); ++v) {
                const mini_json& f = e["fields"].items[v];
                if (f["type"].text == "0") continue;
                std::string why = compare_cell(values[v], rows[n][col], f, facts);
                for (const auto& k : r["null"].items)
                    if (static_cast<size_t>(k.num) == v && !rows[n][col]) why.clear();
                if (!why.empty() && ++bad <= 3)
                    ADD_FAILURE() << how << " " << e["file"].text << " record " << r["i"].text << " field "
                                  << f["name"].text << ": " << why;
                ++col;
            }
        }
        return bad == 0;
    }

    test_server server;
};

TEST_F(CorpusServer, EveryFolderByDumpAndDirectGivesTheReferenceRows) {
    QZ_REQUIRE_SERVER();
    const fs::path root = corpus_root();
    if (!fs::exists(root / "expected")) GTEST_SKIP() << "corpus not found at " << root;
    auto old_hook = dbf_report::set_hook([](const tk_exception&, const std::wstring&) {});

    // The reference decodings by folder. A .dbc is a database container
    // (or, in dbc-files/, a compressed table under that name): not a table
    // the conversion writes.
    std::map<fs::path, std::vector<mini_json>> folders;
    for (mini_json& e : testkit::corpus_expected(root)) {
        const fs::path table = root / e["file"].text;
        if (lower(table.extension().string()) != ".dbf") continue;
        folders[table.parent_path()].push_back(std::move(e));
    }
    ASSERT_FALSE(folders.empty());

    temp_dir dir;
    server_session db(server);
    testkit::mariadb_client client(server);
    const std::string profile = console_test::write_server_profile(dir.file("server.pqz"), server.host,
                                                                   server.port, server.user, server.password);
    const std::string prefix = "qzcorpus" + std::to_string(::getpid()) + "_";
    int tables = 0, differing = 0, folder_no = 0;
    for (const auto& [folder, expected] : folders) {
        ++folder_no;
        SCOPED_TRACE(folder.string());
        const std::string dumped = prefix + std::to_string(folder_no) + "d";
        const std::string loaded = prefix + std::to_string(folder_no) + "s";
        const std::string dump = dir.file("f" + std::to_string(folder_no) + ".sql");

        result by_dump = console_test::run_agent(dir.path(), {"--dump", "--src=" + folder.string(), "--dest=" + dump});
        // A folder none of whose tables opens converts nothing: that ends
        // with 255 and no dump; each table was refused aloud (checked below).
        const bool none_opened = by_dump.out.find(nothing_opened) != std::string::npos;
        ASSERT_EQ(by_dump.status, none_opened ? 255 : 0) << by_dump.out << by_dump.err;
        db.exec("CREATE DATABASE `" + dumped + "`");
        if (!none_opened) {
            testkit::mariadb_result replay = client.replay(dump, dumped);
            EXPECT_EQ(replay.status, 0) << replay.err;
        }

        result direct = console_test::run_agent(
            dir.path(), {"--src=" + folder.string(), "--dest=" + loaded, "--profile=" + profile});
        ASSERT_EQ(direct.status, none_opened ? 255 : 0) << direct.out << direct.err;

        const auto dump_reports = parse_reports(by_dump.out), direct_reports = parse_reports(direct.out);
        const auto dump_tables = db.tables(dumped), direct_tables = db.tables(loaded);
        for (const mini_json& e : expected) {
            const fs::path table = root / e["file"].text;
            ++tables;
            bool ok = check_table(db, dumped, dump_tables, table, e, dump_reports, "dump");
            ok = check_table(db, loaded, direct_tables, table, e, direct_reports, "direct") && ok;
            if (!ok) ++differing;
        }
        db.exec("DROP DATABASE `" + dumped + "`");
        db.exec("DROP DATABASE IF EXISTS `" + loaded + "`");
    }
    dbf_report::set_hook(old_hook);
    std::cout << tables << " tables in " << folders.size() << " folders, " << differing << " differing\n";
}

}  // namespace
