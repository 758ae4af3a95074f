#include "dbf/dbf_field.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "tk/tk_byte_order.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "value/ole_date.h"

namespace {

double as_double(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

constexpr int64_t jdn_1970 = 2440588;          // Julian day number of 1970-01-01
constexpr int64_t days_0001_to_1970 = 719162;  // days from 0001-01-01 to 1970-01-01
constexpr int64_t ms_per_day = 86400000;

// The years of a MySQL DATETIME.
bool in_range(int y) { return y >= 1 && y <= 9999; }

bool all_bytes(const uint8_t* p, size_t n, uint8_t b) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != b) return false;
    return true;
}
// No value at all: zeros (what most writers leave) or blanks.
bool blank_bytes(const uint8_t* p, size_t n) { return all_bytes(p, n, 0) || all_bytes(p, n, ' '); }

bool is_level7(uint8_t version) { return version == 0x04 || version == 0x8C; }

uint64_t load8(const void* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Fields are short and seldom hold a NUL byte: their bytes are looked at
// eight at a time. In a little-endian word the first byte is the lowest,
// so the first of the eight that differs is found by counting zero bits.
constexpr bool little_endian = std::endian::native == std::endian::little;

std::string_view up_to_nul(const uint8_t* p, size_t n) {
    constexpr uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    size_t i = 0;
    for (; n - i >= 8; i += 8) {
        const uint64_t v = load8(p + i);
        // The lowest byte marked is the first zero byte (those above it may be marked wrongly).
        const uint64_t zeros = (v - ones) & ~v & highs;
        if (zeros == 0) continue;
        if (little_endian) return std::string_view(reinterpret_cast<const char*>(p), i + std::countr_zero(zeros) / 8);
        break;
    }
    while (i < n && p[i] != 0) ++i;
    return std::string_view(reinterpret_cast<const char*>(p), i);
}

// Fields are padded with blanks, often most of their width: the blanks
// are passed eight at a time.
constexpr uint64_t eight_blanks = 0x2020202020202020u;

std::string_view trim_leading_blanks(std::string_view s) {
    size_t i = 0;
    for (; s.size() - i >= 8; i += 8) {
        const uint64_t other = load8(s.data() + i) ^ eight_blanks;  // a byte that is no blank is not zero
        if (other == 0) continue;
        if (little_endian) return s.substr(i + std::countr_zero(other) / 8);
        break;
    }
    while (i < s.size() && s[i] == ' ') ++i;
    return s.substr(i);
}

std::string_view trim_trailing_blanks(std::string_view s) {
    size_t n = s.size();
    for (; n >= 8; n -= 8) {
        const uint64_t other = load8(s.data() + n - 8) ^ eight_blanks;
        if (other == 0) continue;
        if (little_endian) return s.substr(0, n - std::countl_zero(other) / 8);
        break;
    }
    while (n > 0 && s[n - 1] == ' ') --n;
    return s.substr(0, n);
}

std::string_view trim_blanks(std::string_view s) { return trim_trailing_blanks(trim_leading_blanks(s)); }

// Whether the eight bytes of a word are ASCII digits: each has 3 in its
// high half, and stays below 0x40 once 6 is added.
bool all_digits(uint64_t x) {
    return (x & 0xF0F0F0F0F0F0F0F0u) == 0x3030303030303030u &&
           ((x + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) == 0x3030303030303030u;
}

}  // namespace

dbf_field::dbf_field(const std::wstring& name, uint32_t size) : udb_field(name, size, ole_variant()) {}

dbf_field::dbf_field(const uint8_t* bytes, const dbf_field_descriptor7& fd, int codepage)
    : udb_field(tk_codepage_to_unicode(fd.name_view(), codepage), static_cast<uint32_t>(dbf_get_size_2(fd)),
                ole_variant()) {
    tk_log(1, "dbf_field::ctor");
    ole_variant::operator=(get_variant(bytes, fd, codepage));
}

dbf_decoding dbf_field::decoding_of(const dbf_field_descriptor7& fd) {
    switch (fd.field_type) {
    case 'C':
        return dbf_decoding::text_trim_right;
    case 'N':
        return (fd.decimals == 0 && fd.length < 19) ? dbf_decoding::integer : dbf_decoding::decimal;
    case 'F':
        return dbf_decoding::real;
    case 'D':
        return dbf_decoding::date;
    case 'T':
        return dbf_decoding::julian_datetime;
    // dBASE level 7 writes '@' as a double of milliseconds; other writers
    // (Harbour in 0x03 and 0xF5 tables) write it as 'T'.
    case '@':
        return is_level7(fd.version) ? dbf_decoding::timestamp : dbf_decoding::julian_datetime;
    case 'L':
        return dbf_decoding::logical;
    case 'I':
    case '+':
        return is_level7(fd.version) ? dbf_decoding::int32_sortable : dbf_decoding::int32_le;
    case 'Y':
        return dbf_decoding::currency;
    case 'B':
        return fd.is_vfp() ? dbf_decoding::double_le : dbf_decoding::memo_binary;
    case 'O':
        return dbf_decoding::double_sortable;
    case 'M':
        return dbf_decoding::memo_text;
    case 'G':
    case 'P':
    case 'W':
        return dbf_decoding::memo_binary;
    case 'Q':
        return dbf_decoding::binary;
    default:
        return dbf_decoding::text_trim_left;
    }
}

uint32_t dbf_field::decimal_precision(const dbf_field_descriptor7& fd) {
    // A 19-digit integer field is read as a decimal only because BIGINT
    // cannot hold all its values; its digits are the precision.
    if (fd.decimals == 0 && fd.length == 19) return 19;
    return std::min<uint32_t>(fd.length + fd.decimals + 2u, 65);
}

uint32_t dbf_field::decimal_scale(const dbf_field_descriptor7& fd) { return std::min<uint32_t>(fd.decimals, 30); }

void dbf_field::set_decimal_bounds(dbf_column& c, const dbf_field_descriptor7& fd) {
    c.integer_digits = decimal_precision(fd) - decimal_scale(fd);
    c.fraction_digits = decimal_scale(fd);
}

ole_variant dbf_field::get_variant(const uint8_t* bytes, const dbf_field_descriptor7& fd, int codepage) {
    dbf_column c;
    c.type = static_cast<char>(fd.field_type);
    c.width = static_cast<uint32_t>(dbf_get_size_2(fd));
    c.how = decoding_of(fd);
    c.vartype = dbf_get_vartype_2(fd);
    if (c.how == dbf_decoding::decimal) set_decimal_bounds(c, fd);
    dbf_field f(std::wstring(), c.width);
    if (c.how != dbf_decoding::memo_text && c.how != dbf_decoding::memo_binary)
        f.decode(bytes, c, tk_codepage_reader(codepage));
    return ole_variant(static_cast<const ole_variant&>(f));
}

bool dbf_field::check_number(std::string_view text, std::string& clean, bool& empty) {
    text = trim_blanks(text);
    clean.clear();
    empty = false;
    size_t i = 0, digits = 0;
    const size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-')) clean += text[i++];
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) clean += text[i];
    bool dots_only = digits == 0;
    if (i < n && (text[i] == '.' || text[i] == ',')) {
        clean += '.';
        ++i;
        for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) clean += text[i];
    }
    if (digits > 0 && i < n && (text[i] == 'e' || text[i] == 'E')) {
        clean += 'e';
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) clean += text[i++];
        size_t exp_digits = 0;
        for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++exp_digits) clean += text[i];
        if (exp_digits == 0) return false;
    }
    if (digits == 0) {
        // Blanks and dots only (a blank number written by some tools) count as empty.
        bool only_dots = dots_only && text.find_first_not_of(". ") == std::string_view::npos;
        empty = text.empty() || only_dots;
        return empty;
    }
    return i == n;
}

void dbf_field::set_text(std::string_view bytes, const tk_codepage_reader& reader) {
    // Decoded straight into the cell's own text, whose room serves the next
    // record (a large one's is given back then, see ole_variant::clear).
    std::wstring& text = reset_text();
    if (!bytes.empty()) undefined = static_cast<uint32_t>(reader.read(bytes, text));
}

namespace {

// Whether the 96-bit decimal holds every digit of a checked number text
// ([-]digits[.digits], no exponent): at most 28 digits from the first
// non-zero one to the last non-zero fraction digit, at most 28 places.
bool fits_decimal(std::string_view t) {
    if (t.find_first_of("eE") != std::string_view::npos) return true;  // parse() rounds these alone
    const size_t point = t.find('.');
    std::string_view frac = point == std::string_view::npos ? std::string_view() : t.substr(point + 1);
    std::string_view whole = t.substr(0, point);
    while (!frac.empty() && frac.back() == '0') frac.remove_suffix(1);
    if (frac.size() > static_cast<size_t>(ole_decimal::max_scale)) return false;
    std::string digits = std::string(whole) + std::string(frac);
    const size_t first = digits.find_first_of("123456789");
    if (first == std::string::npos) return true;
    return digits.size() - first <= static_cast<size_t>(ole_decimal::max_scale);
}

// Splits a checked number text ([sign]digits[.digits][e[sign]digits]) into
// its unsigned digits with their point and its exponent.
std::string_view split_exponent(std::string_view t, int64_t& exponent) {
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.remove_prefix(1);
    exponent = 0;
    const size_t e = t.find_first_of("eE");
    if (e == std::string_view::npos) return t;
    std::string_view x = t.substr(e + 1);
    const bool negative = !x.empty() && x[0] == '-';
    if (!x.empty() && (x[0] == '-' || x[0] == '+')) x.remove_prefix(1);
    for (char c : x) exponent = std::min<int64_t>(exponent * 10 + (c - '0'), 100000);
    if (negative) exponent = -exponent;
    return t.substr(0, e);
}

// How many digits a checked number text has before the point once written
// without exponent and leading zeros.
int64_t integer_digits(std::string_view t) {
    int64_t exponent = 0;
    t = split_exponent(t, exponent);
    const size_t point = std::min(t.find('.'), t.size());
    const size_t first = t.find_first_of("123456789");
    if (first == std::string_view::npos) return 0;  // zero
    // The first significant digit's place: 1 for units, 0 for tenths.
    const int64_t place =
        first < point ? static_cast<int64_t>(point - first) : -static_cast<int64_t>(first - point - 1);
    return std::max<int64_t>(place + exponent, 0);
}

// How many places after the point a checked number text needs to keep its
// last non-zero digit once written without exponent.
int64_t fraction_places(std::string_view t) {
    int64_t exponent = 0;
    t = split_exponent(t, exponent);
    const size_t point = std::min(t.find('.'), t.size());
    const size_t last = t.find_last_of("123456789");
    if (last == std::string_view::npos) return 0;  // zero
    // The last significant digit's place: 1 for tenths, 0 for units.
    const int64_t place = last > point ? static_cast<int64_t>(last - point) : -static_cast<int64_t>(point - last - 1);
    return std::max<int64_t>(place - exponent, 0);
}

// A checked number text ([sign]digits[.digits][e[sign]digits], at most
// a few dozen digits before the point) rounded half away from zero to
// `places` digits after the point, as the server rounds a decimal text:
// plain digits, no exponent, no trailing zeros after the point.
std::string round_to_places(std::string_view t, uint32_t places) {
    const bool negative = !t.empty() && t[0] == '-';
    int64_t exponent = 0;
    t = split_exponent(t, exponent);
    const size_t point = std::min(t.find('.'), t.size());
    std::string digits(t.substr(0, point));
    if (point < t.size()) digits.append(t.substr(point + 1));
    // The value is 0.digits times 10^before; the first `keep` digits are
    // kept, the next one rounds them.
    const int64_t before = static_cast<int64_t>(point) + exponent;
    const int64_t keep = before + places;
    const int64_t size = static_cast<int64_t>(digits.size());
    std::string n;  // the result times 10^places
    if (keep > 0) n = digits.substr(0, static_cast<size_t>(std::min(keep, size)));
    if (keep > size) n.append(static_cast<size_t>(keep - size), '0');
    if (keep >= 0 && keep < size && digits[static_cast<size_t>(keep)] >= '5') {
        size_t i = n.size();
        while (i > 0 && n[i - 1] == '9') n[--i] = '0';
        if (i == 0)
            n.insert(n.begin(), '1');
        else
            ++n[i - 1];
    }
    if (n.size() <= places) n.insert(0, places + 1 - n.size(), '0');
    std::string whole = n.substr(0, n.size() - places), fraction = n.substr(n.size() - places);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
    fraction.erase(fraction.find_last_not_of('0') + 1);
    std::string out = whole;
    if (!fraction.empty()) out += "." + fraction;
    if (negative && out.find_first_not_of("0.") != std::string::npos) out.insert(0, 1, '-');
    return out;
}

// A trimmed number text that check_number() would copy unchanged: an
// optional '-', digits and at most one '.', with at least one digit.
bool is_plain_number(std::string_view t) {
    size_t i = 0, digits = 0;
    if (i < t.size() && t[i] == '-') ++i;
    bool point = false;
    for (; i < t.size(); ++i) {
        if (t[i] >= '0' && t[i] <= '9')
            ++digits;
        else if (t[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits > 0;
}

// A number text of the plain form [-]digits[.digits] with at most 18
// digits between blanks, taken apart: what nearly every number field holds.
struct plain_number {
    bool negative = false;
    bool point = false;
    uint64_t mantissa = 0;  // every digit, the point left out
    uint32_t whole = 0;     // digits before the point, leading zeros left out
    uint32_t places = 0;    // digits after the point
    std::string_view text;  // the number between the blanks
    // The text is the value's own print (ole_variant::print_number): no
    // leading zero but the one before a point, no zero ending a fraction,
    // no minus before zero, nothing but "0" for zero.
    bool printed = false;
};

bool read_plain(std::string_view t, plain_number& n) {
    t = trim_leading_blanks(t);
    const char* p = t.data();
    const char* end = p + t.size();
    while (end != p && end[-1] == ' ') --end;
    n.negative = p != end && *p == '-';
    if (n.negative) ++p;
    const char* const first = p;
    uint64_t m = 0;
    for (; p != end && static_cast<unsigned>(*p - '0') < 10; ++p) m = m * 10 + static_cast<unsigned>(*p - '0');
    const char* lead = first;
    while (lead != p && *lead == '0') ++lead;
    n.whole = static_cast<uint32_t>(p - lead);
    const size_t integer = static_cast<size_t>(p - first);  // digits before the point
    size_t digits = integer;
    if (p != end && *p == '.') {
        n.point = true;
        const char* const fraction = ++p;
        for (; p != end && static_cast<unsigned>(*p - '0') < 10; ++p) m = m * 10 + static_cast<unsigned>(*p - '0');
        n.places = static_cast<uint32_t>(p - fraction);
        digits += n.places;
    }
    n.mantissa = m;
    n.text = std::string_view(t.data(), static_cast<size_t>(end - t.data()));
    if (m == 0)
        n.printed = n.text == "0";
    else
        n.printed = (integer == 1 || n.whole == integer) && integer != 0 &&
                    (!n.point || (n.places != 0 && end[-1] != '0'));
    return p == end && digits > 0 && digits <= 18;
}

// The integer types a numeric field is read as, with their ranges.
bool integer_fits(VARTYPE vt, int64_t v) {
    switch (vt) {
    case VT_I1:
        return v >= -128 && v <= 127;
    case VT_I2:
        return v >= -32768 && v <= 32767;
    case VT_I4:
        return v >= INT32_MIN && v <= INT32_MAX;
    default:
        return true;
    }
}

}  // namespace

// A plain number read at once when its column takes it as it is: an
// integer without a point, or a decimal with no more digits than its
// column holds on either side of the point. The values are those the
// general path below gives them (a decimal zero has scale 0).
bool dbf_field::set_plain_number(std::string_view t, const dbf_column& c) {
    plain_number n;
    if (!read_plain(t, n)) return false;
    const auto v = static_cast<int64_t>(n.mantissa);  // 18 digits fit
    if (c.vartype == VT_DECIMAL) {
        if (c.integer_digits != 0 && (n.whole > c.integer_digits || n.places > c.fraction_digits)) return false;
        ole_decimal dec;
        dec.sign = n.negative ? 0x80 : 0;
        dec.scale = n.mantissa == 0 ? 0 : static_cast<uint8_t>(n.places);
        dec.lo64 = n.mantissa;
        set_decimal_value(dec);
        if (n.printed) keep_printed(n.text);
        return true;
    }
    const VARTYPE vt = c.vartype;
    if (n.point || !(vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8)) return false;
    const int64_t value = n.negative ? -v : v;
    if (!integer_fits(vt, value)) return false;
    set_integer_value(vt, value);
    if (n.printed) keep_printed(n.text);
    return true;
}

void dbf_field::set_number(std::string_view raw, const dbf_column& c) {
    // Most numbers are plain and are read in place; others are cleaned first.
    if (set_plain_number(raw, c)) return;
    const std::string_view trimmed = trim_blanks(raw);
    if (is_plain_number(trimmed)) {
        set_clean_number(trimmed, raw, c);
        return;
    }
    std::string clean;
    bool empty = false;
    if (!check_number(raw, clean, empty)) {
        set_lost(dbf_loss::not_a_number);
        tk_log(3, "WARNING: field '%s' holds '%.*s', which is not a number; read as NULL",
               tk_unicode_to_utf8(name).c_str(), static_cast<int>(raw.size()), raw.data());
        return;
    }
    if (empty) {
        clear();
        return;
    }
    set_clean_number(clean, raw, c);
}

void dbf_field::set_clean_number(std::string_view clean, std::string_view raw, const dbf_column& c) {
    const char* b = clean.data();
    const char* e = b + clean.size();
    if (*b == '+') ++b;
    bool ok = false;
    if (c.vartype == VT_R8 || c.vartype == VT_R4) {
        double d = 0;
        auto r = std::from_chars(b, e, d);
        ok = r.ec == std::errc() && r.ptr == e && std::isfinite(d);
        if (ok) set_double_value(d);
    } else if (c.vartype == VT_DECIMAL) {
        std::string_view digits(b, e - b);
        // The server refuses a number its DECIMAL column cannot hold, which
        // would cost the whole row (and stop a dump's replay).
        auto too_wide = [&](std::string_view t) {
            if (c.integer_digits == 0 || integer_digits(t) <= c.integer_digits) return false;
            set_lost(dbf_loss::too_wide);
            tk_log(3, "WARNING: field '%s' holds '%.*s', which is wider than its column; read as NULL",
                   tk_unicode_to_utf8(name).c_str(), static_cast<int>(raw.size()), raw.data());
            return true;
        };
        if (too_wide(digits)) return;
        // The server rounds the decimals its column does not hold away; the
        // value is rounded here as it would be (both targets then hold the
        // same) and counted, so that the user hears of it.
        std::string rounded;
        if (c.integer_digits != 0 && fraction_places(digits) > c.fraction_digits) {
            rounded = round_to_places(digits, c.fraction_digits);
            if (too_wide(rounded)) return;
            digits = rounded;
        }
        ole_decimal dec;
        if (fits_decimal(digits) && ole_decimal::parse(digits, dec)) {
            set_decimal_value(dec);
        } else {
            // More digits than the 96-bit decimal holds: the checked number
            // text travels instead, so every digit reaches the column.
            ole_variant::operator=(std::wstring(digits.begin(), digits.end()));
        }
        if (!rounded.empty()) loss = dbf_loss::rounded;
        ok = true;
    } else {
        int64_t v = 0;
        auto r = std::from_chars(b, e, v);
        if (r.ec == std::errc() && r.ptr == e) {
            ok = true;
        } else {
            double d = 0;
            auto rd = std::from_chars(b, e, d);
            ok = rd.ec == std::errc() && rd.ptr == e && std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18;
            if (ok) v = static_cast<int64_t>(d);
        }
        if (ok) {
            switch (c.vartype) {
            case VT_I1:
                ok = v >= -128 && v <= 127;
                break;
            case VT_I2:
                ok = v >= -32768 && v <= 32767;
                break;
            case VT_I4:
                ok = v >= INT32_MIN && v <= INT32_MAX;
                break;
            default:
                break;
            }
        }
        if (ok) {
            if (c.vartype == VT_I8 || c.vartype == VT_I4) {
                set_integer_value(c.vartype, v);
            } else {
                ole_variant x(static_cast<int>(v));
                x.change_type(c.vartype);
                ole_variant::operator=(std::move(x));
            }
        }
    }
    if (!ok) {
        set_lost(dbf_loss::does_not_fit);
        tk_log(3, "WARNING: field '%s' holds '%.*s', which does not fit its type; read as NULL",
               tk_unicode_to_utf8(name).c_str(), static_cast<int>(raw.size()), raw.data());
    }
}

void dbf_field::set_date_text(std::string_view text) {
    // Nearly every field is eight digits: looked at as one word, not trimmed.
    if (text.size() != 8 || !all_digits(load8(text.data()))) text = trim_blanks(text);
    if (text.empty()) {
        clear();
        return;
    }
    if (text.size() == 8 && all_digits(load8(text.data()))) {
        // YYYYMMDD: a date, with no time of day.
        auto two = [&](size_t i) { return (text[i] - '0') * 10 + (text[i + 1] - '0'); };
        ole_date date;
        double day_number = 0;
        if (ole_date::make_date(two(0) * 100 + two(2), two(4), two(6), date, day_number)) {
            set_date_value(date, day_number);
        } else {
            clear();
            // Eight zeros is how many programs write no date.
            if (text != "00000000") loss = dbf_loss::not_a_date;
        }
        return;
    }
    ole_date date{std::string(text)};
    if (date.kind != ole_date::kind_none && date.is_valid()) {
        set_date_value(date);
    } else {
        clear();
        loss = dbf_loss::not_a_date;
    }
}

void dbf_field::set_julian(const uint8_t* p) {
    const uint32_t day = load_le32(p);
    const uint32_t ms = load_le32(p + 4);
    tk_log(1, "lDay=%08X, lSec=%08X", day, ms);
    if (day == 0 || blank_bytes(p, 8)) {
        clear();
        return;
    }
    const int64_t seconds = (static_cast<int64_t>(ms) + 1) / 1000;
    set_date_time(static_cast<int64_t>(day) - jdn_1970 + seconds / 86400, seconds % 86400 * 1000);
}

void dbf_field::set_timestamp(const uint8_t* p) {
    if (blank_bytes(p, 8)) {
        clear();
        return;
    }
    const double v = as_double(load_be64(p));
    // Day 1 (0001-01-01) begins at one day's milliseconds; 10000-01-01 at
    // 3652060 days.
    if (!std::isfinite(v) || v < static_cast<double>(ms_per_day) || v >= 3652060.0 * ms_per_day) {
        set_lost(dbf_loss::out_of_range);
        return;
    }
    int64_t total = static_cast<int64_t>(std::llround(v));
    int64_t day = total / ms_per_day;  // day 1 is 0001-01-01
    int64_t ms = total % ms_per_day;
    set_date_time(day - 1 - days_0001_to_1970, ms);
}

void dbf_field::set_date_time(int64_t days, int64_t ms) {
    int y, m, d;
    civil_from_days(days, y, m, d);
    if (!in_range(y)) {
        set_lost(dbf_loss::out_of_range);
        return;
    }
    SYSTEMTIME st;
    st.wYear = static_cast<uint16_t>(y);
    st.wMonth = static_cast<uint16_t>(m);
    st.wDay = static_cast<uint16_t>(d);
    st.wHour = static_cast<uint16_t>(ms / 3600000);
    st.wMinute = static_cast<uint16_t>(ms / 60000 % 60);
    st.wSecond = static_cast<uint16_t>(ms / 1000 % 60);
    st.wMilliseconds = static_cast<uint16_t>(ms % 1000);
    set_date_value(ole_date(st));
}

void dbf_field::set_double(double d) {
    // MySQL holds neither NaN nor infinity.
    if (!std::isfinite(d)) {
        set_lost(dbf_loss::not_finite);
        return;
    }
    set_double_value(d);
}

void dbf_field::set_lost(dbf_loss why) {
    set_null();
    loss = why;
}

void dbf_field::set_lost_memo() { set_lost(dbf_loss::memo_damaged); }

void dbf_field::decode(const uint8_t* p, const dbf_column& c, const tk_codepage_reader& reader) {
    const size_t w = c.width;
    loss = dbf_loss::none;
    undefined = 0;
    auto need = [&](size_t n) {
        if (w >= n) return true;
        set_null();
        return false;
    };
    switch (c.how) {
    case dbf_decoding::text_trim_right: {
        // Blanks fill the field after its text: they are passed first, and
        // only the text is looked at for a NUL byte (rare: it ends the text).
        const std::string_view all = trim_trailing_blanks(std::string_view(reinterpret_cast<const char*>(p), w));
        const std::string_view text = up_to_nul(p, all.size());
        set_text(text.size() == all.size() ? text : trim_trailing_blanks(text), reader);
        break;
    }
    case dbf_decoding::text_trim_left: {
        set_text(trim_leading_blanks(up_to_nul(p, w)), reader);
        break;
    }
    case dbf_decoding::integer:
    case dbf_decoding::decimal:
    case dbf_decoding::real:
        set_number(up_to_nul(p, w), c);
        break;
    case dbf_decoding::date:
        set_date_text(up_to_nul(p, w));
        break;
    case dbf_decoding::julian_datetime:
        if (need(8)) set_julian(p);
        break;
    case dbf_decoding::timestamp:
        if (need(8)) set_timestamp(p);
        break;
    case dbf_decoding::logical:
        if (need(1)) set_bool_value(p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y');
        break;
    case dbf_decoding::int32_le:
        if (need(4)) set_integer_value(VT_I4, static_cast<int32_t>(load_le32(p)));
        break;
    case dbf_decoding::int32_sortable:
        // Zeros encode no value (they would be -2^31, outside dBASE's range).
        if (need(4)) {
            if (all_bytes(p, 4, 0))
                clear();
            else
                set_integer_value(VT_I4, static_cast<int32_t>(load_be32(p) ^ 0x80000000u));
        }
        break;
    case dbf_decoding::currency:
        if (need(8)) set_currency_value(ole_currency{static_cast<int64_t>(load_le64(p))});
        break;
    case dbf_decoding::double_le:
        if (need(8)) set_double(as_double(load_le64(p)));
        break;
    case dbf_decoding::double_sortable:
        // Positive numbers have the sign bit set, negative ones all bits
        // inverted, so that the bytes sort as the numbers; zeros are no value.
        if (need(8)) {
            uint64_t bits = load_be64(p);
            if (bits == 0) {
                clear();
                break;
            }
            bits = (bits >> 63) ? bits & ~(uint64_t{1} << 63) : ~bits;
            set_double(as_double(bits));
        }
        break;
    case dbf_decoding::binary:
        ole_variant::operator=(std::vector<uint8_t>(p, p + w));
        break;
    case dbf_decoding::memo_text:
    case dbf_decoding::memo_binary:
        clear();
        break;
    }
}

void dbf_field::set_memo(std::vector<uint8_t>& data, bool binary, const tk_codepage_reader& reader,
                         std::wstring& scratch) {
    undefined = 0;
    if (binary) {
        ole_variant::operator=(ole_variant(std::move(data)));
        return;
    }
    // An empty vector may have no storage at all; a view needs some.
    const std::string_view all = data.empty()
                                     ? std::string_view("", 0)
                                     : std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
    size_t nul = all.find('\0');
    if (nul == std::string_view::npos) {
        set_text(all, reader);
        return;
    }
    // The code-page conversion ends at a NUL byte, so the pieces between
    // them are converted one by one. No code page has NUL as a trail byte,
    // and none gives more characters than bytes.
    std::wstring text;
    text.reserve(all.size());
    size_t start = 0;
    size_t count = 0;
    for (;;) {
        count += reader.read(all.substr(start, nul - start), scratch);
        text += scratch;
        if (nul == std::string_view::npos) break;
        text += L'\0';
        start = nul + 1;
        nul = all.find('\0', start);
    }
    set_text_value(std::move(text));
    undefined = static_cast<uint32_t>(count);
}
