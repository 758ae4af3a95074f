// Writer of DBF tables, memo files and Visual FoxPro containers for tests and
// benchmarks, built from the published file layouts (dBASE II, III, IV, level
// 7, FoxPro 2, Visual FoxPro, SMT).
//
// A table is described once as typed values (dbf_fixture_table); write()
// encodes the .dbf and, when the table has memo-kind fields, the memo file of
// its flavour beside it. Tests compare what the reader decodes with the same
// description. Text values are bytes exactly as stored (already in the table's
// code page), so the writer never shares a code-page conversion with the
// reader. Knobs on the table describe damaged files (wrong counts, offsets,
// missing terminator, trailing bytes).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testkit {

// One typed cell value.
struct dbf_value {
    enum class kind { null, text, number, integer, real, date, datetime, logical, bytes };
    kind k = kind::null;
    std::string text;     // text/bytes as stored; number literal for N and F
    int64_t integer = 0;  // I, + (32-bit), Y (count of 1/10000)
    double real = 0;      // B (Visual FoxPro), O
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    bool logical = false;

    static dbf_value null() { return {}; }
    static dbf_value str(std::string s);
    static dbf_value bin(std::string bytes);
    static dbf_value num(std::string literal);
    static dbf_value i(int64_t v);
    static dbf_value currency(int64_t ten_thousandths);
    static dbf_value dbl(double v);
    static dbf_value date(int y, int m, int d);
    static dbf_value datetime(int y, int m, int d, int h, int mi, int s, int ms = 0);
    static dbf_value boolean(bool b);
};

// Field flags of Visual FoxPro descriptors (byte 18).
enum : uint8_t { fx_system = 0x01, fx_nullable = 0x02, fx_binary = 0x04, fx_autoinc = 0x0C };

struct dbf_fixture_field {
    std::string name;  // bytes as stored (at most 10, 11 or 31 of them)
    char type = 'C';
    uint16_t length = 0;  // 0: the usual width of the type; C over 255 uses the decimals byte
    uint8_t decimals = 0;
    uint8_t flags = 0;  // Visual FoxPro only
};

struct dbf_fixture_record {
    bool deleted = false;
    std::vector<dbf_value> values;  // one per field, in field order
};

enum class memo_format { automatic, none, dbt3, dbt4, fpt, smt };

struct dbf_fixture_table {
    uint8_t version = 0x03;
    uint8_t language_driver = 0;
    std::optional<uint8_t> table_flags;  // default: 0x02 for VFP with memo fields
    std::vector<dbf_fixture_field> fields;
    std::vector<dbf_fixture_record> records;
    std::string backlink;  // Visual FoxPro: container path (empty: none)
    std::string ld_name;   // level 7: language-driver name

    memo_format memo = memo_format::automatic;  // automatic: from the version byte
    uint16_t memo_block_size = 0;               // 0: 512 for .dbt, 64 for .fpt and .smt
    std::string memo_file_name;                 // empty: table stem + lower-case extension
    bool write_memo_file = true;

    // Damage knobs.
    std::optional<int32_t> last_rec;  // header record count
    std::optional<uint16_t> data_offset;
    std::optional<uint16_t> rec_size;
    bool terminator = true;  // write the 0x0D after the descriptors
    bool eof_mark = true;    // append 0x1A after the records
    std::string trailing;    // bytes after the records (and the mark)
};

// Objects of a Visual FoxPro container, in record order.
struct dbc_object {
    int id = 0;
    int parent = 0;
    std::string type;  // "Database", "Table", "Field", ...
    std::string name;
    bool deleted = false;
};

struct dbc_table {
    std::string name;
    std::vector<std::string> fields;  // long names
};

class dbf_fixture {
public:
    // Encodes the table; fills *memo with the memo file's bytes (empty when
    // the table has none).
    static std::string encode(const dbf_fixture_table& table, std::string* memo);

    // Writes the table at `path` and its memo file beside it. Returns the
    // memo file's path (empty when none was written).
    static std::filesystem::path write(const std::filesystem::path& path, const dbf_fixture_table& table);

    // A container table (.dbc, memo .dct) holding the given objects.
    static dbf_fixture_table container(const std::vector<dbc_object>& objects);
    // Objects for a database with these tables: database, then each table and its fields.
    static std::vector<dbc_object> container_objects(const std::vector<dbc_table>& tables);
    // The small table a fuzzed memo file is read through (by the fuzz
    // harnesses and by the tests that replay what they found): a character
    // field and two memo fields whose references point at blocks near the
    // start of the file. `version` picks the flavour (0x83 dBASE III, 0x8B
    // dBASE IV, 0xF5 FoxPro 2, 0x30 Visual FoxPro, 0xE5 SMT).
    static dbf_fixture_table memo_host(uint8_t version);

    // The usual record width of a type in a flavour (memo references 4 in VFP, else 10).
    static uint16_t default_length(char type, uint8_t version);
    static memo_format memo_of(const dbf_fixture_table& table);
    static bool is_vfp(uint8_t version) { return version >= 0x30 && version <= 0x32; }

    // The proleptic Gregorian calendar: days since 1970-01-01 of a date, and
    // the date of such a day count. Written here from the calendar rules, apart
    // from the code's own (value/ole_date.h), so a fixture checks the code.
    static int64_t days_from_civil(int64_t y, unsigned m, unsigned d);
    static void civil_from_days(int64_t z, int& y, int& m, int& d);

    // Raw file helpers.
    static void write_bytes(const std::filesystem::path& path, const std::string& bytes);
    static std::string read_bytes(const std::filesystem::path& path);
    static void patch(const std::filesystem::path& path, uint64_t offset, const std::string& bytes);
};

}  // namespace testkit
