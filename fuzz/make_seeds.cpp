// Writes the seed corpus of every harness into OUT/<harness>/: tables and
// memo files from the fixture generator, packed containers, and small texts
// for the parsers. With a corpus folder (the shared DBF corpus) it adds, as
// symbolic links to the files in place, its tables and memo files, and
// packed copies of its containers.
//
//   fuzz_make_seeds OUT [CORPUS]
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_kit.h"

namespace fs = std::filesystem;
using testkit::dbf_fixture;
using testkit::dbf_fixture_table;
using V = testkit::dbf_value;

namespace {

fs::path out_root;
int counter = 0;

void seed(const std::string& harness, const std::string& bytes) {
    fs::create_directories(out_root / harness);
    fuzzkit::write_file(out_root / harness / ("gen" + std::to_string(++counter)), bytes);
}

std::string lower_ext(const fs::path& p) {
    std::string e = p.extension().string();
    std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return e;
}

// Every field type of each flavour, a deleted record, a NULL, a code page.
std::vector<dbf_fixture_table> tables() {
    std::vector<dbf_fixture_table> out;
    for (uint8_t version : {0x02, 0x03, 0x83, 0x8B, 0xF5, 0x30, 0x31, 0x32, 0x04, 0x8C, 0xE5}) {
        dbf_fixture_table t;
        t.version = version;
        t.language_driver = version == 0x03 ? 0x65 : 0x03;
        t.fields = {{"NAME", 'C', 12}, {"QTY", 'N', 5}, {"PRICE", 'N', 8, 2}, {"OK", 'L'}};
        t.records = {{false, {V::str("Alpha"), V::num("42"), V::num("12.50"), V::boolean(true)}},
                     {true, {V::str("Beta\xE9"), V::num("-7"), V::null(), V::boolean(false)}}};
        if (version != 0x02) {
            t.fields.push_back({"BORN", 'D'});
            t.records[0].values.push_back(V::date(2023, 12, 31));
            t.records[1].values.push_back(V::null());
        }
        if (version != 0x02 && version != 0x03 && version != 0x04) {
            t.fields.push_back({"NOTE", 'M'});
            t.records[0].values.push_back(V::str("memo one"));
            t.records[1].values.push_back(V::null());
        }
        if (dbf_fixture::is_vfp(version)) {
            t.fields.push_back({"WHEN", 'T'});
            t.fields.push_back({"CASH", 'Y'});
            t.fields.push_back({"COUNT", 'I', 0, 0, testkit::fx_nullable});
            t.fields.push_back({"RATE", 'B', 8, 3});
            t.fields.push_back({"RAW", 'Q', 6, 0, testkit::fx_binary});
            t.records[0].values.insert(t.records[0].values.end(),
                                       {V::datetime(2020, 2, 29, 13, 5, 9, 250), V::currency(123456), V::i(-5),
                                        V::dbl(3.25), V::bin(std::string("\x00\x01\xFF", 3))});
            t.records[1].values.insert(t.records[1].values.end(),
                                       {V::null(), V::currency(0), V::null(), V::dbl(-0.5), V::bin("ab")});
        }
        out.push_back(t);
        // A damaged copy: wrong counts, no terminator, bytes after the end.
        dbf_fixture_table bad = t;
        bad.last_rec = 9;
        bad.terminator = false;
        bad.trailing = "\x1A\x1A junk";
        out.push_back(bad);
    }
    return out;
}

void generated() {
    for (const dbf_fixture_table& t : tables()) {
        std::string memo;
        seed("dbf_table", dbf_fixture::encode(t, &memo));
    }
    const std::pair<const char*, uint8_t> memo_kinds[] = {
        {"memo_dbt3", 0x83}, {"memo_dbt4", 0x8B}, {"memo_fpt", 0xF5}, {"memo_fpt", 0x30}, {"memo_smt", 0xE5}};
    for (const auto& [harness, version] : memo_kinds) {
        for (uint16_t block : {0, 32, 512}) {
            dbf_fixture_table t = testkit::dbf_fixture::memo_host(version);
            t.memo_block_size = block;
            if (block == 32 && (version == 0x83)) continue;  // dBASE III blocks are fixed
            std::string memo;
            dbf_fixture::encode(t, &memo);
            if (!memo.empty()) seed(harness, memo);
        }
    }
    std::string dct;
    const std::string dbc = dbf_fixture::encode(
        dbf_fixture::container(dbf_fixture::container_objects(
            {{"orders", {"customer_name", "amount"}}, {"lines", {"a_very_long_name_one", "a_very_long_name_two"}}})),
        &dct);
    seed("dbc", fuzzkit::pack(dbc, dct));

    for (const char* s : {"2024-02-29", "2024-02-29 13:45:59.999", "20240229", "20240229134559", "13:45", "1:05:07 PM",
                          "February 29, 2024", "29-Feb-2024", "12/31/1999", "0000-00-00", "9999-12-31 23:59:59.9999999",
                          "59.9999", "30.5"})
        seed("date", s);
    const std::pair<char, const char*> values[] = {{2, "-32768"},
                                                   {3, "2147483647"},
                                                   {4, "1.5e38"},
                                                   {5, "-1,25"},
                                                   {6, "922337203685477.5807"},
                                                   {7, "2024-02-29 10:00"},
                                                   {8, "text"},
                                                   {10, "yes"},
                                                   {11, "79228162514264337593543950335"},
                                                   {16, "9223372036854775807"},
                                                   {17, "18446744073709551615"},
                                                   {22, "0x0A1b"},
                                                   {20, "\\xFF00"}};
    for (const auto& [type, text] : values) seed("variant", std::string(1, type) + text);

    seed("yaml_config", "char:\n - varchar\n - text\r\nnumeric:\n- decimal\n-\n- excluded\n");
    seed("profile",
         "[Generic settings]\r\nSource=/data/x\r\nMode=1\r\n\r\n[Selected Tables]\r\norders\r\nlines=new\r\n"
         "[Available Queries]\r\nq1=select 1 = 1\r\n[Selected Views]\r\n");
    seed("table_list", "\xEF\xBB\xBForders\r\nlines\n\nKunden \xC3\xBC\n");
}

void link(const std::string& harness, const fs::path& file) {
    fs::create_directories(out_root / harness);
    const fs::path to = out_root / harness / ("corpus" + std::to_string(++counter) + lower_ext(file));
    std::error_code ec;
    fs::create_symlink(fs::absolute(file), to, ec);
}

void from_corpus(const fs::path& corpus) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(corpus, ec); it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (ec || !it->is_regular_file()) continue;
        const fs::path& p = it->path();
        const std::string ext = lower_ext(p);
        if (ext == ".dbf") link("dbf_table", p);
        if (ext == ".dbt") link("memo_dbt3", p), link("memo_dbt4", p);
        if (ext == ".fpt") link("memo_fpt", p);
        if (ext == ".dbc") {
            fs::path dct = p;
            dct.replace_extension(p.extension() == ".DBC" ? ".DCT" : ".dct");
            std::string memo;
            if (fs::exists(dct)) memo = dbf_fixture::read_bytes(dct);
            seed("dbc", fuzzkit::pack(dbf_fixture::read_bytes(p), memo));
            link("dbf_table", p);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds OUT [CORPUS]\n");
        return 2;
    }
    out_root = argv[1];
    generated();
    if (argc > 2 && fs::is_directory(argv[2])) from_corpus(argv[2]);
    return 0;
}
