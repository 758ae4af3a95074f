#include "sql/sql_column_type.h"

#include <algorithm>
#include <cwctype>

#include "sql/sql_types.h"
#include "sql/sql_values.h"
#include "tk/tk_exception.h"
#include "tk/tk_text.h"

namespace {

// What a type takes in its parentheses.
enum class args_kind {
    none,
    width,            // integers: an optional display width
    length,           // CHAR, BINARY (default 1), TEXT, BLOB (optional)
    length_required,  // VARCHAR, VARBINARY
    bits,             // BIT: 1 to 64, default 1
    precision_scale,  // DECIMAL: (M) or (M,D)
    float_args,       // FLOAT: (p) or (M,D)
    double_args,      // DOUBLE: (M,D)
    fsp,              // TIME, DATETIME, TIMESTAMP: fraction digits 0 to 6
    year,             // YEAR: only (4)
    values,           // ENUM, SET: quoted texts
};

constexpr __int128 i64_min = INT64_MIN;
constexpr __int128 i64_max = INT64_MAX;
constexpr __int128 u64_max = UINT64_MAX;

}  // namespace

struct sql_column_type::entry {
    const wchar_t* name;       // as a type text spells it
    const wchar_t* canonical;  // as CREATE TABLE writes it
    sql_type_family family;
    args_kind args;
    uint64_t max_length;  // the largest length argument
    VARTYPE vt;           // cells are held in
    VARTYPE unsigned_vt;
    __int128 lo, hi, unsigned_hi;  // integers
    uint64_t capacity;             // TEXT and BLOB bytes
    unsigned bytes;                // fixed row bytes
};

namespace {

using F = sql_type_family;
using A = args_kind;
using entry = sql_column_type::entry;

const entry catalogue[] = {
    {L"TINYINT", L"TINYINT", F::integer, A::width, 255, VT_I1, VT_UI1, -128, 127, 255, 0, 1},
    {L"BOOL", L"TINYINT(1)", F::integer, A::none, 0, VT_I1, VT_UI1, -128, 127, 255, 0, 1},
    {L"BOOLEAN", L"TINYINT(1)", F::integer, A::none, 0, VT_I1, VT_UI1, -128, 127, 255, 0, 1},
    {L"SMALLINT", L"SMALLINT", F::integer, A::width, 255, VT_I2, VT_UI2, -32768, 32767, 65535, 0, 2},
    {L"MEDIUMINT", L"MEDIUMINT", F::integer, A::width, 255, VT_I4, VT_I4, -8388608, 8388607, 16777215, 0, 3},
    {L"INT", L"INT", F::integer, A::width, 255, VT_I4, VT_UI4, INT32_MIN, INT32_MAX, UINT32_MAX, 0, 4},
    {L"INTEGER", L"INT", F::integer, A::width, 255, VT_I4, VT_UI4, INT32_MIN, INT32_MAX, UINT32_MAX, 0, 4},
    {L"BIGINT", L"BIGINT", F::integer, A::width, 255, VT_I8, VT_UI8, i64_min, i64_max, u64_max, 0, 8},
    {L"DECIMAL", L"DECIMAL", F::decimal, A::precision_scale, 0, VT_DECIMAL, VT_DECIMAL, 0, 0, 0, 0, 0},
    {L"DEC", L"DECIMAL", F::decimal, A::precision_scale, 0, VT_DECIMAL, VT_DECIMAL, 0, 0, 0, 0, 0},
    {L"NUMERIC", L"DECIMAL", F::decimal, A::precision_scale, 0, VT_DECIMAL, VT_DECIMAL, 0, 0, 0, 0, 0},
    {L"FIXED", L"DECIMAL", F::decimal, A::precision_scale, 0, VT_DECIMAL, VT_DECIMAL, 0, 0, 0, 0, 0},
    {L"FLOAT", L"FLOAT", F::floating, A::float_args, 0, VT_R4, VT_R4, 0, 0, 0, 0, 4},
    {L"DOUBLE", L"DOUBLE", F::floating, A::double_args, 0, VT_R8, VT_R8, 0, 0, 0, 0, 8},
    {L"DOUBLE PRECISION", L"DOUBLE", F::floating, A::double_args, 0, VT_R8, VT_R8, 0, 0, 0, 0, 8},
    {L"REAL", L"DOUBLE", F::floating, A::double_args, 0, VT_R8, VT_R8, 0, 0, 0, 0, 8},
    {L"BIT", L"BIT", F::bit, A::bits, 64, VT_UI8, VT_UI8, 0, 0, 0, 0, 0},
    {L"DATE", L"DATE", F::date, A::none, 0, VT_DATE, VT_DATE, 0, 0, 0, 0, 3},
    {L"TIME", L"TIME", F::time, A::fsp, 0, VT_DATE, VT_DATE, 0, 0, 0, 0, 3},
    {L"DATETIME", L"DATETIME", F::datetime, A::fsp, 0, VT_DATE, VT_DATE, 0, 0, 0, 0, 5},
    {L"TIMESTAMP", L"TIMESTAMP", F::timestamp, A::fsp, 0, VT_DATE, VT_DATE, 0, 0, 0, 0, 4},
    {L"YEAR", L"YEAR", F::year, A::year, 0, VT_UI2, VT_UI2, 1901, 2155, 2155, 0, 1},
    {L"CHAR", L"CHAR", F::chars, A::length, 255, VT_BSTR, VT_BSTR, 0, 0, 0, 0, 0},
    {L"CHARACTER", L"CHAR", F::chars, A::length, 255, VT_BSTR, VT_BSTR, 0, 0, 0, 0, 0},
    {L"VARCHAR", L"VARCHAR", F::chars, A::length_required, 65535, VT_BSTR, VT_BSTR, 0, 0, 0, 0, 0},
    {L"BINARY", L"BINARY", F::binary, A::length, 255, VT_ARRAY_UI1, VT_ARRAY_UI1, 0, 0, 0, 0, 0},
    {L"VARBINARY", L"VARBINARY", F::binary, A::length_required, 65535, VT_ARRAY_UI1, VT_ARRAY_UI1, 0, 0, 0, 0, 0},
    {L"TINYTEXT", L"TINYTEXT", F::text, A::none, 0, VT_BSTR, VT_BSTR, 0, 0, 0, 255, 9},
    {L"TEXT", L"TEXT", F::text, A::length, 4294967295u, VT_BSTR, VT_BSTR, 0, 0, 0, 65535, 10},
    {L"MEDIUMTEXT", L"MEDIUMTEXT", F::text, A::none, 0, VT_BSTR, VT_BSTR, 0, 0, 0, 16777215, 11},
    {L"LONGTEXT", L"LONGTEXT", F::text, A::none, 0, VT_BSTR, VT_BSTR, 0, 0, 0, 4294967295u, 12},
    {L"TINYBLOB", L"TINYBLOB", F::blob, A::none, 0, VT_ARRAY_UI1, VT_ARRAY_UI1, 0, 0, 0, 255, 9},
    {L"BLOB", L"BLOB", F::blob, A::length, 4294967295u, VT_ARRAY_UI1, VT_ARRAY_UI1, 0, 0, 0, 65535, 10},
    {L"MEDIUMBLOB", L"MEDIUMBLOB", F::blob, A::none, 0, VT_ARRAY_UI1, VT_ARRAY_UI1, 0, 0, 0, 16777215, 11},
    {L"LONGBLOB", L"LONGBLOB", F::blob, A::none, 0, VT_ARRAY_UI1, VT_ARRAY_UI1, 0, 0, 0, 4294967295u, 12},
    {L"ENUM", L"ENUM", F::enum_list, A::values, 0, VT_BSTR, VT_BSTR, 0, 0, 0, 0, 0},
    {L"SET", L"SET", F::set_list, A::values, 0, VT_BSTR, VT_BSTR, 0, 0, 0, 0, 0},
    {L"JSON", L"JSON", F::json, A::none, 0, VT_BSTR, VT_BSTR, 0, 0, 0, 4294967295u, 12},
};

const entry* find_entry(const std::wstring& name) {
    for (const entry& e : catalogue)
        if (tk_equal_no_case(name, e.name)) return &e;
    return nullptr;
}

const entry& entry_named(const wchar_t* canonical) {
    const entry* e = find_entry(canonical);
    TK_ASSERT(e != nullptr);
    return *e;
}

std::wstring upper(const std::wstring& text) {
    std::wstring out = text;
    for (wchar_t& c : out) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return out;
}

// The server keeps list values without their trailing blanks.
std::wstring unpadded(const std::wstring& text) { return text.substr(0, text.find_last_not_of(L' ') + 1); }

uint64_t decimal_bytes(uint32_t digits) {
    static const uint64_t leftover[] = {0, 1, 1, 2, 2, 3, 3, 4, 4};
    return digits / 9 * 4 + leftover[digits % 9];
}

// The bytes of the length in front of a value of at most `bytes` bytes.
uint64_t length_bytes(uint64_t bytes) { return bytes > 255 ? 2 : 1; }

// A TEXT or BLOB value in the row: its length and a pointer (8 bytes).
uint64_t pointer_bytes(uint64_t capacity) {
    return 8 + (capacity <= 255 ? 1 : capacity <= 65535 ? 2 : capacity <= 16777215 ? 3 : 4);
}

}  // namespace

// Reads one type text: tokens, then name, arguments and attributes.
struct sql_type_reader {
    struct token {
        enum kind { end, word, number, quoted, open, close, comma, other } k = end;
        std::wstring text;
        uint64_t value = 0;
    };

    explicit sql_type_reader(const std::wstring& text) : in(text) {}

    const std::wstring& in;
    size_t pos = 0;
    std::wstring why;

    bool fail(const std::wstring& reason) {
        if (why.empty()) why = reason;
        return false;
    }

    token next() {
        while (pos < in.size() && (in[pos] == L' ' || in[pos] == L'\t')) ++pos;
        token t;
        if (pos >= in.size()) return t;
        const wchar_t c = in[pos];
        if (std::iswalpha(static_cast<wint_t>(c)) || c == L'_') {
            t.k = token::word;
            while (pos < in.size() && (std::iswalnum(static_cast<wint_t>(in[pos])) || in[pos] == L'_'))
                t.text += in[pos++];
        } else if (c >= L'0' && c <= L'9') {
            t.k = token::number;
            while (pos < in.size() && in[pos] >= L'0' && in[pos] <= L'9') {
                t.text += in[pos];
                // Any number past what an argument takes stays past it.
                t.value = std::min<uint64_t>(t.value * 10 + uint64_t(in[pos++] - L'0'), uint64_t(1) << 40);
            }
        } else if (c == L'\'' || c == L'"') {
            read_quoted(t);
        } else {
            t.k = c == L'(' ? token::open : c == L')' ? token::close : c == L',' ? token::comma : token::other;
            t.text = std::wstring(1, c);
            ++pos;
        }
        return t;
    }

    // A quoted value as the server reads it: a doubled quote or a
    // backslash escape stands for one character.
    void read_quoted(token& t) {
        const wchar_t quote = in[pos++];
        t.k = token::other;
        t.text = std::wstring(1, quote);
        std::wstring value;
        while (pos < in.size()) {
            const wchar_t c = in[pos++];
            if (c == L'\\' && pos < in.size()) {
                const wchar_t e = in[pos++];
                value += e == L'n'   ? L'\n'
                         : e == L't' ? L'\t'
                         : e == L'r' ? L'\r'
                         : e == L'0' ? L'\0'
                         : e == L'Z' ? L'\x1A'
                         : e == L'b' ? L'\b'
                                     : e;
            } else if (c == quote && pos < in.size() && in[pos] == quote) {
                value += quote;
                ++pos;
            } else if (c == quote) {
                t.k = token::quoted;
                t.text = value;
                return;
            } else {
                value += c;
            }
        }
    }

    static std::wstring shown(const token& t) { return t.k == token::end ? L"the end" : L"'" + t.text + L"'"; }

    bool read(uint64_t length, uint32_t precision, uint32_t scale, sql_column_type& out) {
        token t = next();
        if (t.k != token::word) return fail(t.k == token::end ? L"the type is empty" : shown(t) + L" is no type name");
        std::wstring name = t.text;
        t = next();
        if (t.k == token::word && tk_equal_no_case(name, L"DOUBLE") && tk_equal_no_case(t.text, L"PRECISION")) {
            name += L" PRECISION";
            t = next();
        }
        const sql_column_type::entry* e = find_entry(name);
        if (!e) return fail(upper(name) + L" is no MySQL column type");
        out.entry_ = e;
        out.family_ = e->family;
        std::vector<token> args;
        if (t.k == token::open) {
            if (!read_args(args)) return false;
            t = next();
        }
        if (!take_args(args, length, precision, scale, out)) return false;
        return read_attributes(t, out) && check_names(out);
    }

    bool read_args(std::vector<token>& args) {
        for (;;) {
            token a = next();
            if (a.k != token::number && a.k != token::quoted)
                return fail(a.k == token::other && (a.text == L"'" || a.text == L"\"") ? L"a quoted value is not closed"
                                                                                       : shown(a) + L" is no argument");
            args.push_back(a);
            token sep = next();
            if (sep.k == token::close) return true;
            if (sep.k != token::comma) return fail(shown(sep) + L" cannot follow an argument");
        }
    }

    static bool all_numbers(const std::vector<token>& args) {
        return std::all_of(args.begin(), args.end(), [](const token& a) { return a.k == token::number; });
    }

    // The arguments against the ranges of the type, defaults from the
    // separate length, precision and scale.
    bool take_args(const std::vector<token>& args, uint64_t length, uint32_t precision, uint32_t scale,
                   sql_column_type& out) {
        const sql_column_type::entry& e = *out.entry_;
        const std::wstring name = upper(e.name);
        const bool numbers = all_numbers(args);
        switch (e.args) {
        case args_kind::none:
            return args.empty() || fail(name + L" takes no arguments");
        case args_kind::width:
            if (args.empty()) return true;
            if (args.size() != 1 || !numbers || args[0].value < 1 || args[0].value > 255)
                return fail(name + L" takes a display width of 1 to 255");
            out.length_ = args[0].value;
            out.has_length_ = true;
            return true;
        case args_kind::length:
        case args_kind::length_required:
        case args_kind::bits: {
            const bool bits = e.args == args_kind::bits;
            const uint64_t lowest = bits ? 1 : 0;
            const bool from_text = !args.empty();
            if (from_text && (args.size() != 1 || !numbers)) return fail(name + L" takes one length");
            const bool separate = e.family == sql_type_family::chars || e.family == sql_type_family::binary || bits;
            if (from_text)
                out.length_ = args[0].value;
            else if (separate && length != 0)
                out.length_ = length;
            else if (e.args == args_kind::length_required)
                return fail(name + L" needs a length (0 to " + std::to_wstring(e.max_length) + L")");
            else
                out.length_ = e.family == sql_type_family::text || e.family == sql_type_family::blob ? 0 : 1;
            out.has_length_ = from_text || (separate && length != 0) || out.length_ != 0;
            if (out.length_ < lowest || out.length_ > e.max_length)
                return fail(bits ? name + L" takes 1 to 64 bits"
                                 : name + L" takes a length of 0 to " + std::to_wstring(e.max_length));
            return true;
        }
        case args_kind::precision_scale:
            if (!args.empty()) {
                if (args.size() > 2 || !numbers) return fail(name + L" takes a precision and a scale");
                precision = static_cast<uint32_t>(args[0].value);
                scale = args.size() == 2 ? static_cast<uint32_t>(args[1].value) : 0;
                if (precision == 0) return fail(name + L" takes a precision of 1 to 65");
            }
            if (precision == 0 && scale == 0) return true;  // the server's DECIMAL(10,0), or the column's own
            if (precision < 1 || precision > sql_decimal_max_precision || scale > sql_decimal_max_scale ||
                scale > precision)
                return fail(name + L" takes a precision of 1 to 65 and a scale of 0 to 30, not above the precision");
            out.set_precision(precision, scale);
            return true;
        case args_kind::float_args:
            if (args.size() == 1 && numbers) {
                if (args[0].value > 53) return fail(L"FLOAT takes a precision of 0 to 53");
                // The server's own reading: more than 24 bits is a DOUBLE.
                if (args[0].value > 24) out.entry_ = &entry_named(L"DOUBLE");
                return true;
            }
            [[fallthrough]];
        case args_kind::double_args:
            if (args.empty()) return true;
            if (args.size() != 2 || !numbers || args[0].value < 1 || args[0].value > 255 || args[1].value > 30 ||
                args[1].value > args[0].value)
                return fail(name + L" takes a width of 1 to 255 and 0 to 30 decimals, not above the width");
            out.set_precision(static_cast<uint32_t>(args[0].value), static_cast<uint32_t>(args[1].value));
            return true;
        case args_kind::fsp:
            if (args.empty()) return true;
            if (args.size() != 1 || !numbers || args[0].value > 6)
                return fail(name + L" takes 0 to 6 digits of a second's fraction");
            out.precision_ = static_cast<uint32_t>(args[0].value);
            out.has_precision_ = true;
            return true;
        case args_kind::year:
            return args.empty() || (args.size() == 1 && numbers && args[0].value == 4) ||
                   fail(L"YEAR takes only the width 4");
        case args_kind::values:
            return take_values(args, name, out);
        }
        return false;
    }

    bool take_values(const std::vector<token>& args, const std::wstring& name, sql_column_type& out) {
        const bool set = out.family_ == sql_type_family::set_list;
        if (args.empty()) return fail(name + L" has no list of values");
        if (set ? args.size() > 64 : args.size() > 65535)
            return fail(name + (set ? L" takes at most 64 values" : L" takes at most 65535 values"));
        for (const token& a : args) {
            if (a.k != token::quoted) return fail(name + L" takes its values as quoted texts");
            if (a.text.size() > 255) return fail(L"a value of " + name + L" holds at most 255 characters");
            if (set && a.text.find(L',') != std::wstring::npos) return fail(L"a value of SET cannot hold a comma");
            for (const std::wstring& v : out.values_)
                if (tk_equal_no_case(unpadded(v), unpadded(a.text)))
                    return fail(name + L" lists '" + a.text + L"' twice");
            out.values_.push_back(a.text);
        }
        return true;
    }

    bool read_attributes(token t, sql_column_type& out) {
        const sql_type_family f = out.family_;
        const bool number =
            f == sql_type_family::integer || f == sql_type_family::decimal || f == sql_type_family::floating;
        const std::wstring name = upper(out.entry_->name);
        for (; t.k != token::end; t = next()) {
            if (t.k != token::word) return fail(shown(t) + L" cannot follow " + name);
            const std::wstring word = upper(t.text);
            const bool numeric_word = word == L"UNSIGNED" || word == L"SIGNED" || word == L"ZEROFILL";
            const bool text_word =
                word == L"BINARY" || word == L"CHARACTER" || word == L"CHARSET" || word == L"COLLATE";
            if (!numeric_word && !text_word) return fail(shown(t) + L" cannot follow " + name);
            if (numeric_word ? !number : !out.is_character()) return fail(word + L" does not apply to " + name);
            if (word == L"UNSIGNED" || word == L"ZEROFILL") out.unsigned_ = true;  // ZEROFILL is UNSIGNED too
            if (word == L"ZEROFILL") out.zerofill_ = true;
            if (word == L"BINARY") out.binary_ = true;
            if (word == L"CHARACTER") {
                t = next();
                if (t.k != token::word || !tk_equal_no_case(t.text, L"SET")) return fail(L"CHARACTER needs SET");
            }
            if (word == L"CHARACTER" || word == L"CHARSET" || word == L"COLLATE") {
                token value = next();
                if (value.k != token::word && value.k != token::quoted)
                    return fail(word + L" needs a name, not " + shown(value));
                (word == L"COLLATE" ? out.collation_ : out.charset_) = value.text;
            }
        }
        return true;
    }

    bool check_names(sql_column_type& out) {
        if (!out.charset_.empty() && !sql_is_known_charset(out.charset_))
            return fail(L"the character set " + out.charset_ + L" is unknown");
        if (out.collation_.empty()) return true;
        const std::wstring owner = sql_charset_of_collation(out.collation_);
        if (owner.empty()) return fail(L"the collation " + out.collation_ + L" is unknown");
        if (out.charset_.empty()) out.charset_ = owner;
        if (!sql_same_charset(owner, out.charset_))
            return fail(L"the collation " + out.collation_ + L" is not one of the character set " + out.charset_);
        return true;
    }
};

bool sql_column_type::parse(const std::wstring& text, uint64_t length, uint32_t precision, uint32_t scale,
                            sql_column_type& out, std::wstring& why) {
    out = sql_column_type();
    sql_type_reader reader(text);
    if (reader.read(length, precision, scale, out)) return true;
    why = reader.why;
    return false;
}

void sql_column_type::set_precision(uint32_t precision, uint32_t scale) {
    precision_ = precision;
    scale_ = scale;
    has_precision_ = true;
}

std::wstring sql_column_type::text() const {
    TK_ASSERT(entry_ != nullptr);
    std::wstring t = entry_->canonical;
    auto arg = [](uint64_t n) { return std::to_wstring(n); };
    switch (entry_->args) {
    case args_kind::width:
    case args_kind::length:
    case args_kind::length_required:
    case args_kind::bits:
        if (has_length_) t += L"(" + arg(length_) + L")";
        break;
    case args_kind::precision_scale:
    case args_kind::float_args:
    case args_kind::double_args:
        if (has_precision_) t += L"(" + arg(precision_) + L"," + arg(scale_) + L")";
        break;
    case args_kind::fsp:
        if (has_precision_) t += L"(" + arg(precision_) + L")";
        break;
    case args_kind::values:
        t += L"(";
        for (size_t i = 0; i < values_.size(); ++i) t += (i ? L"," : L"") + sql_quote(std::wstring_view(values_[i]));
        t += L")";
        break;
    default:
        break;
    }
    if (unsigned_) t += L" UNSIGNED";
    if (zerofill_) t += L" ZEROFILL";
    if (binary_) t += L" BINARY";
    return t;
}

VARTYPE sql_column_type::value_type() const {
    TK_ASSERT(entry_ != nullptr);
    // FLOAT(M,D) reads back as a DECIMAL of that precision.
    if (family_ == sql_type_family::floating && has_precision_ && entry_->vt == VT_R4) return VT_DECIMAL;
    return unsigned_ ? entry_->unsigned_vt : entry_->vt;
}

bool sql_column_type::is_character() const {
    return family_ == sql_type_family::chars || family_ == sql_type_family::text ||
           family_ == sql_type_family::enum_list || family_ == sql_type_family::set_list;
}

bool sql_column_type::takes_default() const {
    return family_ != sql_type_family::text && family_ != sql_type_family::blob && family_ != sql_type_family::json;
}

__int128 sql_column_type::lowest() const {
    if (family_ == sql_type_family::bit) return 0;
    return unsigned_ ? 0 : entry_->lo;
}

__int128 sql_column_type::highest() const {
    if (family_ == sql_type_family::bit) return (static_cast<__int128>(1) << length_) - 1;
    return unsigned_ ? entry_->unsigned_hi : entry_->hi;
}

uint64_t sql_column_type::capacity(unsigned bytes_per_char) const {
    if (!has_length_) return entry_->capacity;
    const uint64_t bytes = length_ * (family_ == sql_type_family::text ? std::max(1u, bytes_per_char) : 1);
    for (const uint64_t c : {uint64_t(255), uint64_t(65535), uint64_t(16777215)})
        if (bytes <= c) return c;
    return 4294967295u;
}

uint64_t sql_column_type::row_bytes(unsigned bytes_per_char) const {
    const uint64_t chars = length_ * std::max(1u, bytes_per_char);
    const bool varying = entry_->args == args_kind::length_required;
    const uint64_t fraction = (precision_ + 1) / 2;
    switch (family_) {
    case sql_type_family::decimal: {
        const uint32_t p = has_precision_ ? precision_ : 10;
        return decimal_bytes(p - scale_) + decimal_bytes(scale_);
    }
    case sql_type_family::bit:
        return (length_ + 7) / 8;
    case sql_type_family::time:
    case sql_type_family::datetime:
    case sql_type_family::timestamp:
        return entry_->bytes + fraction;
    case sql_type_family::chars:
        return varying ? chars + length_bytes(chars) : chars;
    case sql_type_family::binary:
        return varying ? length_ + length_bytes(length_) : length_;
    case sql_type_family::enum_list:
        return values_.size() > 255 ? 2 : 1;
    case sql_type_family::set_list: {
        const uint64_t bytes = (values_.size() + 7) / 8;
        return bytes > 4 ? 8 : std::max<uint64_t>(bytes, 1);
    }
    case sql_type_family::text:
    case sql_type_family::blob:
        return pointer_bytes(capacity(bytes_per_char));
    default:
        return entry_->bytes;
    }
}

uint64_t sql_column_type::inrow_bytes(unsigned bytes_per_char) const {
    uint64_t bytes = 0;
    switch (family_) {
    case sql_type_family::chars:
        bytes = length_ * std::max(1u, bytes_per_char);
        break;
    case sql_type_family::binary:
        bytes = length_;
        break;
    case sql_type_family::text:
    case sql_type_family::blob:
    case sql_type_family::json:
        return 21;
    default:
        return row_bytes(bytes_per_char);
    }
    return bytes <= 255 ? bytes + 1 : 21;
}

VARTYPE sql_catalogue_value_type(const wchar_t* name, bool is_unsigned) {
    const sql_column_type::entry* e = find_entry(name);
    if (!e) return VT_BSTR;
    return is_unsigned ? e->unsigned_vt : e->vt;
}
