#include "value/ole_date.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

// ---- calendar ---------------------------------------------------------------------

int64_t days_from_civil(int64_t y, int m, int d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

namespace {

// No date text of any form we read is longer; anything longer is refused
// before it is looked at.
constexpr size_t max_text_length = 80;

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

int day_of_week(int64_t days_since_epoch) {
    int64_t w = (days_since_epoch + 4) % 7;  // 1970-01-01 was a Thursday
    return static_cast<int>(w < 0 ? w + 7 : w);
}

const int64_t ole_epoch = days_from_civil(1899, 12, 30);

bool calendar_ok(const SYSTEMTIME& t) {
    return t.wYear >= 1 && t.wYear <= 9999 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 &&
           t.wDay <= days_in_month(t.wYear, t.wMonth) && t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59 &&
           t.wMilliseconds <= 999;
}

// OLE date of a calendar day and a time of day in seconds.
double make_variant_time(int year, int month, int day, double seconds) {
    double days = static_cast<double>(days_from_civil(year, month, day) - ole_epoch);
    double fraction = seconds / 86400.0;
    // Before 1899-12-30 the fraction still counts forward from midnight.
    return days >= 0 ? days + fraction : days - fraction;
}

// A small cursor over the text: bounded number fields and literal characters.
struct scanner {
    const char* p;
    const char* end;

    bool at_end() const { return p == end; }
    bool peek(char c) const { return p != end && *p == c; }
    bool literal(char c) {
        if (!peek(c)) return false;
        ++p;
        return true;
    }
    void skip_blanks() {
        while (p != end && (*p == ' ' || *p == '\t')) ++p;
    }
    bool blanks() {  // at least one blank
        const char* start = p;
        skip_blanks();
        return p != start;
    }
    // 1 to max_digits decimal digits, and not followed by another digit.
    bool number(int& value, int max_digits, int* digits_read = nullptr) {
        const char* start = p;
        int v = 0;
        while (p != end && *p >= '0' && *p <= '9') {
            if (p - start == max_digits) {
                p = start;
                return false;
            }
            v = v * 10 + (*p - '0');
            ++p;
        }
        if (p == start) return false;
        if (digits_read) *digits_read = static_cast<int>(p - start);
        value = v;
        return true;
    }
    // A run of non-blank characters.
    std::string token() {
        const char* start = p;
        while (p != end && *p != ' ' && *p != '\t') ++p;
        return std::string(start, p);
    }
    std::string word() {
        const char* start = p;
        while (p != end && ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'))) ++p;
        return std::string(start, p);
    }
};

bool all_digits(const std::string& text) {
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

int digits_at(const std::string& text, size_t pos, size_t count) {
    int v = 0;
    for (size_t i = pos; i < pos + count; ++i) v = v * 10 + (text[i] - '0');
    return v;
}

// January is 1; 0 when the word names no month.
int month_from_name(const std::string& word) {
    static const char* const names[12] = {"january", "february", "march",     "april",   "may",      "june",
                                          "july",    "august",   "september", "october", "november", "december"};
    if (word.size() < 3) return 0;
    std::string lower;
    for (char c : word) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (int i = 0; i < 12; ++i) {
        std::string full = names[i];
        if (lower == full || lower == full.substr(0, 3)) return i + 1;
    }
    return lower == "sept" ? 9 : 0;
}

// An ISO 8601 zone designator: "Z", or a sign with hh, hhmm or hh:mm (hours
// 0-23, minutes 0-59). Read and checked only: the clock time stays as
// written, as the other forms keep it.
bool iso_zone(scanner& s) {
    if (s.literal('Z')) return true;
    if (!s.literal('+') && !s.literal('-')) return false;
    int hours = 0, minutes = 0, digits = 0;
    if (!s.number(hours, 4, &digits)) return false;
    if (digits == 4) {
        minutes = hours % 100;
        hours /= 100;
    } else if (digits != 2) {
        return false;
    } else if (s.literal(':')) {
        if (!s.number(minutes, 2, &digits) || digits != 2) return false;
    }
    return hours <= 23 && minutes <= 59;
}

// The ISO 8601 time after the "T": hh:mm[:ss[.fraction]] and an optional
// zone designator, up to the end of the text. `seconds` gets the seconds
// text ("0" when there are none).
bool iso_time(scanner& s, int& hour, int& minute, std::string& seconds) {
    if (!s.number(hour, 2) || !s.literal(':') || !s.number(minute, 2)) return false;
    seconds = "0";
    if (s.literal(':')) {
        const char* start = s.p;
        while (!s.at_end() && ((*s.p >= '0' && *s.p <= '9') || *s.p == '.')) ++s.p;
        seconds.assign(start, s.p);
        if (seconds.empty()) return false;
    }
    return (s.at_end() || iso_zone(s)) && s.at_end();
}

// Two-digit years: 00-29 are this century, 30-99 the last.
int expand_year(int year, int digits) {
    if (digits > 2) return year;
    return year < 30 ? 2000 + year : 1900 + year;
}

}  // namespace

// ---- OLE dates --------------------------------------------------------------------

bool tk_system_time_to_variant_time(const SYSTEMTIME& time, double& result) {
    if (!calendar_ok(time)) return false;
    double seconds = time.wHour * 3600.0 + time.wMinute * 60.0 + time.wSecond + time.wMilliseconds / 1000.0;
    result = make_variant_time(time.wYear, time.wMonth, time.wDay, seconds);
    return true;
}

bool tk_variant_time_to_system_time(double date, SYSTEMTIME& result) {
    // 0001-01-01 .. 9999-12-31 23:59:59.999
    const double lowest = static_cast<double>(days_from_civil(1, 1, 1) - ole_epoch) - 1.0;
    const double highest = static_cast<double>(days_from_civil(10000, 1, 1) - ole_epoch);
    if (!std::isfinite(date) || date <= lowest || date >= highest) return false;
    double whole = std::trunc(date);
    double fraction = std::fabs(date - whole);
    int64_t day = static_cast<int64_t>(whole);
    int64_t ms = std::llround(fraction * 86400000.0);
    if (ms >= 86400000) {  // rounds up to the next midnight
        ms -= 86400000;
        ++day;
    }
    int y, m, d;
    civil_from_days(day + ole_epoch, y, m, d);
    if (y < 1 || y > 9999) return false;
    SYSTEMTIME t;
    t.wYear = static_cast<uint16_t>(y);
    t.wMonth = static_cast<uint16_t>(m);
    t.wDay = static_cast<uint16_t>(d);
    t.wDayOfWeek = static_cast<uint16_t>(day_of_week(day + ole_epoch));
    t.wHour = static_cast<uint16_t>(ms / 3600000);
    t.wMinute = static_cast<uint16_t>(ms / 60000 % 60);
    t.wSecond = static_cast<uint16_t>(ms / 1000 % 60);
    t.wMilliseconds = static_cast<uint16_t>(ms % 1000);
    result = t;
    return true;
}

// ---- ole_date ---------------------------------------------------------------------

ole_date::ole_date() { tk_log(1, "ole_date::ole_date()"); }

ole_date::ole_date(const SYSTEMTIME& value) : kind(kind_date_time), time(value) {
    microseconds = time.wMilliseconds * 1000;
    if (!is_valid()) {
        tk_log(2, "Invalid SYSTEMTIME %04d-%02d-%02d %02d:%02d:%02d", time.wYear, time.wMonth, time.wDay, time.wHour,
               time.wMinute, time.wSecond);
        clear();
        return;
    }
    refine_type();
}

bool ole_date::make_date(int year, int month, int day, ole_date& out, double& variant_time) {
    if (year < 1 || year > 9999 || day < 1 || day > days_in_month(year, month)) return false;
    out = ole_date();
    out.kind = kind_date;
    out.time.wYear = static_cast<uint16_t>(year);
    out.time.wMonth = static_cast<uint16_t>(month);
    out.time.wDay = static_cast<uint16_t>(day);
    // Midnight: the day number itself (see make_variant_time).
    variant_time = static_cast<double>(days_from_civil(year, month, day) - ole_epoch);
    return true;
}

ole_date::ole_date(const char* text) {
    if (text) parse(text);
}

ole_date::ole_date(const std::string& text) { parse(text); }

ole_date::ole_date(const std::wstring& text) { parse(tk_unicode_to_utf8(text)); }

void ole_date::clear() {
    kind = kind_none;
    microseconds = 0;
    time = SYSTEMTIME();
}

void ole_date::parse(const std::string& input) {
    clear();
    if (input.size() > max_text_length * 4) {  // not worth trimming
        tk_log(2, "Invalid date/time format: '%.80s...'", input.c_str());
        return;
    }
    std::string text = tk_trim(input);
    tk_log(1, "After tk_trim: %s", text.c_str());
    if (text.size() > max_text_length) {
        tk_log(2, "Invalid date/time format: '%.80s...'", text.c_str());
        return;
    }
    // A trailing AM or PM marker, straight after the time or after a blank.
    meridiem_ = 0;
    static const char* const markers[4] = {"AM", "PM", "am", "pm"};
    for (int i = 0; i < 4; ++i) {
        size_t n = text.size();
        if (n > 2 && text.compare(n - 2, 2, markers[i]) == 0 &&
            (text[n - 3] == ' ' || (text[n - 3] >= '0' && text[n - 3] <= '9'))) {
            meridiem_ = i % 2 == 0 ? 1 : 2;
            text = tk_trim(text.substr(0, n - 2));
            tk_log(1, "Again buf1=%s", text.c_str());
            break;
        }
    }
    if (text.size() < 5 || !import_from_string(text)) {
        tk_log(2, "Invalid date/time format: '%s'", text.c_str());
        clear();
    }
    meridiem_ = 0;
    if (kind == kind_date || kind == kind_date_time) {
        int64_t days = days_from_civil(time.wYear, time.wMonth, time.wDay);
        time.wDayOfWeek = static_cast<uint16_t>(day_of_week(days));
    }
}

void ole_date::set_hour(int hour) {
    // 12 AM is midnight; 1 PM to 11 PM are 13 to 23; 12 PM stays noon.
    if (meridiem_ == 1 && hour == 12) hour = 0;
    if (meridiem_ == 2 && hour < 12) hour += 12;
    time.wHour = static_cast<uint16_t>(hour);
}

bool ole_date::import_from_string(const std::string& text) {
    tk_log(1, "ole_date::import_from_string(%s)", text.c_str());
    if (text.size() > max_text_length) return false;
    if (try_compact(text) || try_time(text) || try_date_forms(text) || try_english_forms(text)) return true;
    clear();
    return false;
}

// YYYYMMDDhhmmss and YYYYMMDD.
bool ole_date::try_compact(const std::string& text) {
    if ((text.size() != 14 && text.size() != 8) || !all_digits(text)) return false;
    clear();
    int year = digits_at(text, 0, 4), day = digits_at(text, 6, 2);
    if (day > 31 && year < 32) {
        tk_log(1, "Swap day and year: day=%d, year=%d", day, year);
        std::swap(day, year);
    }
    time.wYear = static_cast<uint16_t>(year);
    time.wMonth = static_cast<uint16_t>(digits_at(text, 4, 2));
    time.wDay = static_cast<uint16_t>(day);
    kind = kind_date;
    if (text.size() == 14) {
        kind = kind_date_time;
        set_hour(digits_at(text, 8, 2));
        time.wMinute = static_cast<uint16_t>(digits_at(text, 10, 2));
        time.wSecond = static_cast<uint16_t>(digits_at(text, 12, 2));
    }
    if (!is_valid()) return false;
    refine_type();
    return true;
}

// hh:mm:ss[.fraction]
bool ole_date::try_time(const std::string& text) {
    scanner s{text.data(), text.data() + text.size()};
    int hour, minute;
    if (!s.number(hour, 4) || !s.literal(':') || !s.number(minute, 4) || !s.literal(':')) return false;
    std::string seconds = s.token();
    s.skip_blanks();
    if (seconds.empty() || !s.at_end()) return false;
    clear();
    kind = kind_time;
    set_hour(hour);
    time.wMinute = static_cast<uint16_t>(minute);
    return process_milliseconds(seconds.c_str()) && is_valid();
}

// Y-M-D, Y/M/D, Y.M.D, each with an optional " hh:mm:ss[.fraction]" and
// anything after a blank behind them; and the ISO 8601 form
// Y-M-DThh:mm[:ss[.fraction]] with an optional zone.
bool ole_date::try_date_forms(const std::string& text) {
    for (char sep : {'-', '/', '.'}) {
        scanner s{text.data(), text.data() + text.size()};
        int year, month, day;
        if (!s.number(year, 4) || !s.literal(sep) || !s.number(month, 4) || !s.literal(sep) || !s.number(day, 4))
            continue;
        if (day > 31 && year < 32) {
            tk_log(1, "Swap day and year: day=%d, year=%d", day, year);
            std::swap(day, year);
        }
        int hour = 0, minute = 0;
        std::string seconds;
        if (sep == '-' && s.literal('T')) {  // ISO 8601: "T" in place of the blank
            if (!iso_time(s, hour, minute, seconds)) continue;
        } else if (!s.at_end()) {
            // After a blank: a time hh:mm:ss[.fraction], or no digit at all.
            // What follows the time, or the date when no time starts there,
            // is ignored (a zone, a remark); a time begun and not ended
            // leaves the text to the forms below.
            if (!s.blanks()) continue;
            if (!s.at_end() && *s.p >= '0' && *s.p <= '9') {
                if (!s.number(hour, 4) || !s.literal(':') || !s.number(minute, 4) || !s.literal(':')) continue;
                seconds = s.token();
                if (seconds.empty()) continue;
            }
        }
        clear();
        time.wYear = static_cast<uint16_t>(year);
        time.wMonth = static_cast<uint16_t>(month);
        time.wDay = static_cast<uint16_t>(day);
        if (seconds.empty()) {
            kind = kind_date;
            if (is_valid()) return true;
            continue;
        }
        kind = kind_date_time;
        set_hour(hour);
        time.wMinute = static_cast<uint16_t>(minute);
        if (!is_valid_date_part() || !process_milliseconds(seconds.c_str()) || !is_valid()) continue;
        refine_type();
        return true;
    }
    return false;
}

// The forms a US English reader accepts: M/D/Y (also with '-' or '.'), Y-M-D,
// "Dec 31, 2020", "December 31 2020", "31 December 2020", "31-Dec-2020",
// each with an optional time hh:mm[:ss[.fraction]]; or a time hh:mm alone.
bool ole_date::try_english_forms(const std::string& text) {
    // The time, when there is one, is the last blank-separated token.
    std::string date_part = text, time_part;
    size_t blank = text.find_last_of(' ');
    std::string last = blank == std::string::npos ? text : text.substr(blank + 1);
    if (last.find(':') != std::string::npos) {
        time_part = last;
        date_part = blank == std::string::npos ? std::string() : tk_trim(text.substr(0, blank));
    }
    clear();
    if (!date_part.empty()) {
        scanner s{date_part.data(), date_part.data() + date_part.size()};
        int a = 0, b = 0, c = 0, a_digits = 0, c_digits = 0;
        int year = 0, month = 0, day = 0;
        scanner numeric = s;
        char sep = 0;
        if (s.number(a, 4, &a_digits) && !s.at_end()) sep = *s.p;
        if ((sep == '/' || sep == '-' || sep == '.') && numeric.number(a, 4, &a_digits) && numeric.literal(sep) &&
            numeric.number(b, 2) && numeric.literal(sep) && numeric.number(c, 4, &c_digits) && numeric.at_end()) {
            if (a_digits > 2) {  // Y-M-D
                year = a, month = b, day = c;
            } else {  // M/D/Y
                month = a, day = b, year = expand_year(c, c_digits);
            }
        } else if (a_digits >= 1 && a_digits <= 2) {  // 31 December 2020, 31-Dec-2020
            if (!s.literal('-')) s.skip_blanks();
            month = month_from_name(s.word());
            if (!s.literal('-')) s.skip_blanks();
            s.literal(',');
            s.skip_blanks();
            if (!s.number(c, 4, &c_digits) || !s.at_end()) return false;
            day = a;
            year = expand_year(c, c_digits);
        } else if (a_digits == 0) {  // Dec 31, 2020
            month = month_from_name(s.word());
            s.literal('.');
            if (!s.blanks() || !s.number(day, 2)) return false;
            s.literal(',');
            s.skip_blanks();
            if (!s.number(c, 4, &c_digits) || !s.at_end()) return false;
            year = expand_year(c, c_digits);
        } else {
            return false;
        }
        if (month == 0) return false;
        time.wYear = static_cast<uint16_t>(year);
        time.wMonth = static_cast<uint16_t>(month);
        time.wDay = static_cast<uint16_t>(day);
        kind = kind_date_time;
        if (!is_valid_date_part()) return false;
    } else {
        kind = kind_time;
    }
    if (!time_part.empty()) {
        scanner s{time_part.data(), time_part.data() + time_part.size()};
        int hour, minute;
        if (!s.number(hour, 2) || !s.literal(':') || !s.number(minute, 2)) return false;
        set_hour(hour);
        time.wMinute = static_cast<uint16_t>(minute);
        if (s.literal(':')) {
            std::string seconds = s.token();
            if (seconds.empty() || !process_milliseconds(seconds.c_str())) return false;
        } else if (!s.at_end()) {
            return false;
        }
    }
    if (!is_valid()) return false;
    refine_type();
    return true;
}

bool ole_date::is_valid_date_part() const {
    return time.wYear >= 1 && time.wYear <= 9999 && time.wDay >= 1 &&
           time.wDay <= days_in_month(time.wYear, time.wMonth);
}

bool ole_date::is_valid() const {
    if (kind == kind_none) return false;
    const SYSTEMTIME& t = time;
    if (t.wYear == 0 && t.wMonth == 0 && t.wDay == 0) {
        if (kind == kind_date) {
            tk_log(2, "Got zero day/month/year");
            return false;
        }
        tk_log(1, "DATETIME is a pute time");
    } else {
        if (t.wMonth < 1 || t.wMonth > 12) {
            tk_log(2, "Invalid month");
            return false;
        }
        if (t.wDay > 31) {
            tk_log(2, "Invalid day (1)");
            return false;
        }
        if (t.wYear == 0 || t.wDay == 0) {
            tk_log(2, "Got zero day/month/year");
            return false;
        }
        if (t.wDay > days_in_month(t.wYear, t.wMonth)) {
            tk_log(2, "Invalid day (2)");
            return false;
        }
        if (t.wYear > 9999) {
            tk_log(2, "Invalid year");
            return false;
        }
    }
    if (t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 || t.wMilliseconds > 999 || microseconds < 0 ||
        microseconds > 999999) {
        tk_log(2, "Invalid time");
        return false;
    }
    return true;
}

bool ole_date::process_milliseconds(const char* seconds) {
    TK_ASSERT(seconds != nullptr);
    tk_log(1, "ole_date::process_milliseconds(%.80s)", seconds);
    // Digits, optionally a point and more digits: nothing else is a second.
    size_t length = std::strlen(seconds);
    size_t whole_digits = std::strspn(seconds, "0123456789");
    bool ok = whole_digits >= 1 && whole_digits <= 2 && length <= max_text_length;
    if (ok && whole_digits < length) {
        ok = seconds[whole_digits] == '.' &&
             std::strspn(seconds + whole_digits + 1, "0123456789") == length - whole_digits - 1;
    }
    double value = 0;
    if (ok) {
        auto result = std::from_chars(seconds, seconds + length, value);
        ok = result.ec == std::errc() && result.ptr == seconds + length;
    }
    if (!ok) {
        tk_log(2, "Invalid seconds: '%.80s'", seconds);
        clear();
        return false;
    }
    double whole = std::floor(value);
    int64_t micro = std::llround((value - whole) * 1000000.0);
    time.wSecond = static_cast<uint16_t>(whole);
    bool carry = micro >= 1000000;
    if (carry) micro = 0;
    microseconds = static_cast<int32_t>(micro);
    // Milliseconds are the microseconds rounded, but never a whole second:
    // .9996 prints as .999 with three digits.
    time.wMilliseconds = static_cast<uint16_t>(std::min<int64_t>(999, (micro + 500) / 1000));
    if (carry) add_second();
    return true;
}

void ole_date::add_second() {
    SYSTEMTIME& t = time;
    if (++t.wSecond < 60) return;
    t.wSecond = 0;
    if (++t.wMinute < 60) return;
    t.wMinute = 0;
    if (++t.wHour < 24) return;
    t.wHour = 0;
    bool pure_time = kind == kind_time || (t.wYear == 0 && t.wMonth == 0 && t.wDay == 0);
    if (pure_time) return;  // a time of day wraps at midnight
    // Only a real last day of a month rolls over; a day already out of
    // range stays out of range so that is_valid still refuses it.
    int last = days_in_month(t.wYear, t.wMonth);
    if (last == 0 || t.wDay != last) {
        ++t.wDay;
        return;
    }
    t.wDay = 1;
    if (++t.wMonth <= 12) return;
    t.wMonth = 1;
    ++t.wYear;  // past 9999 the value becomes invalid
}

void ole_date::refine_type() {
    if (kind != kind_date_time) return;
    const SYSTEMTIME& t = time;
    bool zero_date = t.wYear == 0 && t.wMonth == 0 && t.wDay == 0;
    bool zero_time = t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0 && t.wMilliseconds == 0 && microseconds == 0;
    if (zero_date) {
        tk_log(1, "Switch to 'pure' time");
        kind = kind_time;
    } else if (zero_time) {
        tk_log(1, "Switch to 'pure' date");
        kind = kind_date;
    }
}

namespace {

// Appends v in decimal with at least `width` digits (zeros in front), as
// "%0*d" prints a value that is not negative. Dates are printed for every
// row of a table, so this avoids the printf machinery.
void put_digits(std::string& out, uint32_t v, int width) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    for (int i = n; i < width; ++i) out += '0';
    while (n > 0) out += digits[--n];
}

void put_date(std::string& out, const SYSTEMTIME& t) {
    put_digits(out, t.wYear, 4);
    out += '-';
    put_digits(out, t.wMonth, 2);
    out += '-';
    put_digits(out, t.wDay, 2);
}

void put_time(std::string& out, uint32_t hour, const SYSTEMTIME& t) {
    put_digits(out, hour, 2);
    out += ':';
    put_digits(out, t.wMinute, 2);
    out += ':';
    put_digits(out, t.wSecond, 2);
}

}  // namespace

std::string ole_date::to_string(int precision) const {
    const SYSTEMTIME& t = time;
    std::string fraction;
    if (precision != 0 && (t.wMilliseconds != 0 || microseconds != 0)) {
        if (precision == 6 && microseconds != 0) {
            if (microseconds > 0) {
                fraction += '.';
                put_digits(fraction, static_cast<uint32_t>(microseconds), 6);
            } else {
                char text[16];
                std::snprintf(text, sizeof text, ".%06d", static_cast<int>(microseconds));
                fraction = text;
            }
        } else {
            fraction += '.';
            put_digits(fraction, t.wMilliseconds, 3);
        }
    }
    const uint32_t hour = t.wHour % 24u;
    std::string out;
    out.reserve(32);
    switch (kind) {
    case kind_date_time:
        put_date(out, t);
        if (!(zero_time_as_date && t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0 && t.wMilliseconds == 0 &&
              microseconds == 0)) {
            out += ' ';
            put_time(out, hour, t);
            out += fraction;
        }
        return out;
    case kind_date:
        put_date(out, t);
        return out;
    case kind_time:
        out += "0000-00-00 ";
        put_time(out, hour, t);
        out += fraction;
        return out;
    default:
        return std::string();
    }
}

std::wstring ole_date::to_wstring(int precision) const {
    std::string text = to_string(precision);
    return std::wstring(text.begin(), text.end());  // ASCII only
}

bool ole_date::to_variant_time(double& result) const {
    if (kind == kind_none) return false;
    const SYSTEMTIME& t = time;
    bool zero_date = t.wYear == 0 && t.wMonth == 0 && t.wDay == 0;
    if (!zero_date && !is_valid_date_part()) return false;
    if (t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59) return false;
    double fraction = microseconds != 0 ? microseconds / 1000000.0 : t.wMilliseconds / 1000.0;
    double seconds = t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + fraction;
    if (zero_date) {
        result = seconds / 86400.0;
        return true;
    }
    result = make_variant_time(t.wYear, t.wMonth, t.wDay, seconds);
    return true;
}
