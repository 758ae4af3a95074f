// Walks the shared corpus of real DBF files and compares every decoded cell
// with the reference decoding in corpus/expected, by the corpus comparison
// rules (testkit/corpus.h). Only the tables the conversion refuses aloud
// are not compared: they must be refused.
#include <gtest/gtest.h>

#include <filesystem>

#include "dbf/dbf_database.h"
#include "dbf/dbf_exception.h"
#include "dbf/dbf_recordset.h"
#include "dbf/dbf_report.h"
#include "testkit/corpus.h"

namespace fs = std::filesystem;
using testkit::corpus_cell;
using testkit::corpus_root;
using testkit::json;
using testkit::text;

namespace {

// The cell as the targets write it: a byte string as bytes, a logical as
// 1 or 0, any other value as its printed text.
corpus_cell cell_of(const udb_field& f) {
    const VARTYPE vt = f.get_type();
    if (vt == VT_EMPTY || vt == VT_NULL) return corpus_cell::none();
    if (vt == VT_BSTR) return corpus_cell::text(testkit::utf8_keeping_nul(f.get_text()));
    if (vt == VT_BOOL) return corpus_cell::text(f.to_bool() ? "1" : "0");
    if (vt == VT_BLOB || vt == VT_ARRAY_UI1) {
        const uint8_t* data = nullptr;
        std::string holder;
        const size_t n = f.get_bytes(data, holder);
        return corpus_cell::bytes(std::string(reinterpret_cast<const char*>(data), n));
    }
    return corpus_cell::text(f.to_string());
}

// Compares one table; returns the number of cells that differ.
int compare_table(dbf_recordset& rs, const json& e) {
    const auto fields = testkit::corpus_fields(e);
    if (fields.size() != rs.schema.size()) {
        ADD_FAILURE() << "field count " << rs.schema.size() << " != " << fields.size();
        return 1;
    }
    const auto records = testkit::corpus_records(e);
    EXPECT_EQ(rs.get_record_count(), records.size());
    int bad = 0;
    size_t n = 0;
    for (rs.reset(); !rs.is_eof() && n < records.size(); rs.next(), ++n) {
        const json& r = *records[n];
        auto* rec = static_cast<dbf_record*>(rs.get_item());
        EXPECT_EQ(rec->b_deleted, testkit::member(r, "deleted") == true) << "record " << n;
        for (size_t col = 0; col < fields.size(); ++col) {
            const auto& [v, f] = fields[col];
            if (testkit::corpus_field_skipped(e, *f)) continue;
            const std::string why = testkit::corpus_cell_diff(r.at("values").at(v), cell_of(*rec->at(col)), *f, e,
                                                              testkit::corpus_null_bit(r, v));
            if (!why.empty() && ++bad <= 5)
                ADD_FAILURE() << "record " << n << " field " << text(*f, "name") << ": " << why;
        }
    }
    return bad;
}

}  // namespace

TEST(dbf_corpus, every_table_reads_as_the_reference_decodes_it) {
    const fs::path root = corpus_root();
    if (!fs::exists(root / "expected")) GTEST_SKIP() << "corpus not found at " << root;
    const dbf_report quiet([](const tk_exception&, const std::wstring&) {});
    int tables = 0, refused = 0, differing = 0;
    for (const json& e : testkit::corpus_expected(root)) {
        const fs::path table = root / text(e, "file");
        // A .dbc is a database container (or, in dbc-files/, a compressed
        // table under that name): not a table of the run.
        std::string ext = table.extension().string();
        for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".dbc") continue;
        ++tables;
        SCOPED_TRACE(text(e, "file"));
        dbf_database db(table.parent_path().wstring(), 1, 0, true, quiet);
        std::unique_ptr<dbf_recordset> rs;
        const std::string why_refused = testkit::corpus_refused(e);
        try {
            rs = std::make_unique<dbf_recordset>(table.wstring(), 1, 0, &db);
        } catch (const dbf_exception& x) {
            if (!why_refused.empty()) {
                ++refused;
                continue;
            }
            ADD_FAILURE() << "refused: " << x.what();
            ++differing;
            continue;
        }
        if (!why_refused.empty()) {
            ADD_FAILURE() << "expected the table to be refused: " << why_refused;
            ++differing;
            continue;
        }
        try {
            if (compare_table(*rs, e) != 0) ++differing;
        } catch (const tk_exception& x) {
            ADD_FAILURE() << "a record failed: " << x.what();
            ++differing;
        }
    }
    std::cout << tables << " tables, " << refused << " refused aloud, " << differing << " with differences\n";
    EXPECT_GT(tables, 0);
}
