// The shared corpus of real DBF files, end to end: every folder converted by
// pqzagent into a dump that the mariadb client replays, and loaded straight
// into the server, gives the rows of the reference decoding
// (corpus/expected), table by table and cell by cell under the corpus
// comparison rules (testkit/corpus.h). Only the tables the conversion
// refuses aloud are missing; no record fails; nothing crashes, hangs or
// goes missing without a word.
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
#include "server_session.h"
#include "testkit/corpus.h"
#include "testkit/mariadb_client.h"
#include "tk/tk_text.h"

namespace fs = std::filesystem;
using console_test::cell;
using console_test::result;
using console_test::row;
using console_test::server_session;
using testkit::corpus_cell;
using testkit::corpus_root;
using testkit::json;
using testkit::text;

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
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

const char nothing_opened[] = "None of the tables to convert could be opened; nothing was converted.";

class CorpusServer : public ::testing::Test {
protected:
    void SetUp() override { server = test_server::from_environment(); }

    // Checks one table of the database against its reference decoding;
    // returns false when it differs.
    bool check_table(server_session& db, const std::string& database, const std::vector<std::string>& present,
                     const json& e, const std::map<std::string, table_report>& reports, const std::string& how) {
        const std::string file = text(e, "file");
        const std::string stem = fs::path(file).stem().string();
        const auto rep_it = reports.find(lower(stem));
        const table_report none;
        const table_report& rep = rep_it == reports.end() ? none : rep_it->second;
        std::string name;
        for (const auto& p : present)
            if (lower(p) == lower(stem)) name = p;
        const std::string why_refused = testkit::corpus_refused(e);
        if (!why_refused.empty()) {
            // Refused aloud, never half written.
            if (!name.empty()) {
                ADD_FAILURE() << how << " " << file << ": converted, though " << why_refused;
                return false;
            }
            if (rep.table_errors.empty()) {
                ADD_FAILURE() << how << " " << file << ": missing without a word";
                return false;
            }
            return true;
        }
        if (name.empty()) {
            ADD_FAILURE() << how << " " << file << ": missing"
                          << (rep.table_errors.empty() ? " without a word" : ": " + rep.table_errors[0]);
            return false;
        }
        if (!rep.failed_records.empty()) {
            ADD_FAILURE() << how << " " << file << ": record #" << *rep.failed_records.begin() << " failed";
            return false;
        }
        // Recoveries are reported: a missing memo file (memos NULL), records
        // past the declared count (left out).
        for (const json& a : testkit::member(e, "anomalies")) {
            const bool told = !rep.table_errors.empty();
            const std::string anomaly = a.is_string() ? a.get<std::string>() : std::string();
            if (anomaly == "memo file missing" && !told)
                ADD_FAILURE() << how << " " << file << ": missing memo file not reported";
            if (anomaly.find("complete records in the file") != std::string::npos &&
                testkit::member(e, "record_count_fit") > testkit::member(e, "record_count_declared") && !told)
                ADD_FAILURE() << how << " " << file << ": records past the count not reported";
        }
        const auto fields = testkit::corpus_fields(e);
        const auto records = testkit::corpus_records(e);
        const std::vector<row> rows = db.rows("SELECT * FROM `" + database + "`.`" + name + "`");
        if (rows.size() != records.size()) {
            ADD_FAILURE() << how << " " << file << ": " << rows.size() << " rows, expected " << records.size();
            return false;
        }
        // Columns by position; binary ones give bytes.
        std::vector<bool> binary;
        for (const auto& r : db.rows("SELECT DATA_TYPE FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = '" +
                                     database + "' AND TABLE_NAME = '" + name + "' ORDER BY ORDINAL_POSITION")) {
            const std::string t = lower(r[0].value_or(""));
            binary.push_back(t.find("blob") != std::string::npos || t.find("binary") != std::string::npos);
        }
        if (binary.size() != fields.size()) {
            ADD_FAILURE() << how << " " << file << ": " << binary.size() << " columns, expected " << fields.size();
            return false;
        }
        int bad = 0;
        for (size_t n = 0; n < rows.size(); ++n) {
            const json& r = *records[n];
            for (size_t col = 0; col < fields.size(); ++col) {
                const auto& [v, f] = fields[col];
                if (testkit::corpus_field_skipped(e, *f)) continue;
                const cell& got = rows[n][col];
                const corpus_cell c = !got          ? corpus_cell::none()
                                      : binary[col] ? corpus_cell::bytes(*got)
                                                    : corpus_cell::text(*got);
                const std::string why =
                    testkit::corpus_cell_diff(r.at("values").at(v), c, *f, e, testkit::corpus_null_bit(r, v));
                if (!why.empty() && ++bad <= 3)
                    ADD_FAILURE() << how << " " << file << " record " << testkit::member(r, "i").dump() << " field "
                                  << text(*f, "name") << ": " << why;
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

    // The reference decodings by folder. A .dbc is a database container
    // (or, in dbc-files/, a compressed table under that name): not a table
    // the conversion writes.
    std::map<fs::path, std::vector<json>> folders;
    for (json& e : testkit::corpus_expected(root)) {
        const fs::path table = root / text(e, "file");
        if (lower(table.extension().string()) != ".dbf") continue;
        folders[table.parent_path()].push_back(std::move(e));
    }
    ASSERT_FALSE(folders.empty());

    temp_dir dir;
    server_session db(server);
    testkit::mariadb_client client(server);
    const std::string profile = console_test::write_server_profile(dir.file("server.pqz"), server.host, server.port,
                                                                   server.user, server.password);
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
        for (const json& e : expected) {
            ++tables;
            bool ok = check_table(db, dumped, dump_tables, e, dump_reports, "dump");
            ok = check_table(db, loaded, direct_tables, e, direct_reports, "direct") && ok;
            if (!ok) ++differing;
        }
        db.exec("DROP DATABASE `" + dumped + "`");
        db.exec("DROP DATABASE IF EXISTS `" + loaded + "`");
    }
    std::cout << tables << " tables in " << folders.size() << " folders, " << differing << " differing\n";
}

}  // namespace
