#include "testkit/typical_table.h"

#include <cstdint>

namespace testkit {
namespace {

// Windows-1251 bytes of UTF-8 text made of ASCII and the Cyrillic letters
// А-я, Ё and ё (the only ones the table uses).
std::string to_cp1251(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        const unsigned code = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu);
        if (code == 0x401)
            out += '\xA8';
        else if (code == 0x451)
            out += '\xB8';
        else
            out += static_cast<char>(0xC0 + (code - 0x410));
    }
    return out;
}

std::string two_digits(int v) { return std::string(1, char('0' + v / 10)) + char('0' + v % 10); }

// A text cell: the stored bytes and the returned UTF-8, or NULL.
void text_cell(const std::optional<std::string>& utf8, dbf_value& value, std::optional<std::string>& cell) {
    if (!utf8) {
        value = dbf_value::null();
        cell.reset();
        return;
    }
    value = dbf_value::str(to_cp1251(*utf8));
    cell = typical_table::cp1251_to_utf8(value.text);
}

std::optional<std::string> name_of(size_t i, const std::string& n) {
    switch (i % 8) {
    case 0:
        return "O'Brien " + n;
    case 1:
        return "Back\\slash \"q\" " + n;
    case 2:
        return "Иванов Пётр " + n;
    case 3:
        return std::string();
    case 4:
        return std::nullopt;
    case 5:
        return "Tab\there " + n;
    case 6:
        return "Семён's \\ \"Ё\" " + n;
    default:
        return "Plain " + n;
    }
}

std::optional<std::string> city_of(size_t i) {
    switch (i % 6) {
    case 0:
        return "Москва";
    case 1:
        return "Санкт-Петербург";
    case 2:
        return "Новосибирск";
    case 3:
        return std::string();
    case 4:
        return std::nullopt;
    default:
        return "L'viv \\ 5";
    }
}

std::optional<std::string> notes_of(size_t i, const std::string& n) {
    switch (i % 10) {
    case 0:
        return std::nullopt;
    case 1:
        return std::string();
    case 2:
        return "Line one\r\nLine two 'q' \\ \"d\"\ttab " + n;
    case 3:
        return "Примечание к записи " + n;
    case 4:
        return "Ещё одна строка\nвторая строка";
    default:
        return "Note " + n + " with ' and \\";
    }
}

}  // namespace

std::string typical_table::cp1251_to_utf8(const std::string& bytes) {
    std::string out;
    auto put = [&out](unsigned code) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    };
    for (unsigned char c : bytes) {
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c == 0xA8)
            put(0x401);
        else if (c == 0xB8)
            put(0x451);
        else
            put(0x410 + (c - 0xC0));
    }
    return out;
}

dbf_fixture_table typical_table::empty() {
    dbf_fixture_table t;
    t.version = 0x30;
    t.language_driver = 0xC9;
    t.fields = {{"ID", 'N', 10, 0, 0},
                {"NAME", 'C', 40, 0, fx_nullable},
                {"CITY", 'C', 30, 0, fx_nullable},
                {"AMOUNT", 'N', 12, 2, fx_nullable},
                {"BORN", 'D', 8, 0, fx_nullable},
                {"ACTIVE", 'L', 1, 0, fx_nullable},
                {"NOTES", 'M', 4, 0, fx_nullable}};
    return t;
}

dbf_fixture_record typical_table::record(size_t i, typical_cells* cells, const typical_options& options) {
    dbf_fixture_record r;
    r.deleted = i % 17 == 5;
    r.values.resize(7);
    typical_cells c(7);
    const std::string n = std::to_string(i + 1);

    r.values[0] = dbf_value::num(n);
    c[0] = n;
    text_cell(name_of(i, n), r.values[1], c[1]);
    text_cell(city_of(i), r.values[2], c[2]);

    if (i % 13 != 7) {
        const int64_t cents = static_cast<int64_t>((i * 7919) % 20000000) - 10000000;
        const uint64_t a = static_cast<uint64_t>(cents < 0 ? -cents : cents);
        const std::string literal =
            (cents < 0 ? "-" : "") + std::to_string(a / 100) + "." + two_digits(static_cast<int>(a % 100));
        r.values[3] = dbf_value::num(literal);
        c[3] = literal;
    }
    if (i % 9 != 4) {
        int y = 0, m = 0, d = 0;
        dbf_fixture::civil_from_days(-10957 + static_cast<int64_t>((i * 37) % 30000), y, m, d);  // from 1940-01-01
        r.values[4] = dbf_value::date(y, m, d);
        c[4] = std::to_string(y) + "-" + two_digits(m) + "-" + two_digits(d);
    }
    if (i % 7 != 6) {
        const bool on = i % 3 != 0;
        r.values[5] = dbf_value::boolean(on);
        c[5] = options.logical_letters ? (on ? "T" : "F") : (on ? "1" : "0");
    }
    text_cell(notes_of(i, n), r.values[6], c[6]);
    if (cells) *cells = std::move(c);
    return r;
}

dbf_fixture_table typical_table::make(size_t rows, std::vector<typical_cells>* expected,
                                      const typical_options& options) {
    dbf_fixture_table t = empty();
    t.records.reserve(rows);
    for (size_t i = 0; i < rows; ++i) {
        typical_cells cells;
        t.records.push_back(record(i, expected ? &cells : nullptr, options));
        if (expected && (!t.records.back().deleted || options.deleted_arrive)) expected->push_back(std::move(cells));
    }
    return t;
}

std::string typical_table::tsv_line(const typical_cells& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i) line += '\t';
        if (!cells[i]) {
            line += "\\N";
            continue;
        }
        for (char ch : *cells[i]) {
            switch (ch) {
            case '\\':
                line += "\\\\";
                break;
            case '\t':
                line += "\\t";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            case '\0':
                line += "\\0";
                break;
            default:
                line += ch;
            }
        }
    }
    line += '\n';
    return line;
}

}  // namespace testkit
