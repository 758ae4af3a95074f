// A date, a time or a date-time with a fraction of a second: the value of a
// date cell.
//
// ole_date reads the many text forms in which dates arrive and prints the one
// form the MySQL writers use: "YYYY-MM-DD HH:MM:SS" with an optional fraction,
// "YYYY-MM-DD" for a date, "0000-00-00 HH:MM:SS" for a time. A value that did
// not parse or is out of range has kind 0 and prints as the empty text.
// ISO 8601 date-times ("2020-12-31T10:00:00.5+02:00") read with their clock
// time as written: a zone designator is checked but not applied.
// Parsing is bounded: any text, of any length or content, gives either a valid
// value or kind 0.
//
// The calendar fields live in a SYSTEMTIME of our own with the Windows field
// names. An OLE date is a double: days since 1899-12-30, the fraction being
// the time of day (for days before that date the fraction still counts
// forward from midnight of the day).
#pragma once

#include <cstdint>
#include <string>

struct SYSTEMTIME {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;  // 0 Sunday .. 6 Saturday
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
};

// SYSTEMTIME <-> OLE date. False (output untouched) when the calendar fields
// are out of range (a real date in the years 1-9999, hour 0-23, minute and
// second 0-59) or the day number is outside those years or not finite. The
// fraction of a second is kept to the millisecond; wDayOfWeek is ignored on
// input and set on output.
bool tk_system_time_to_variant_time(const SYSTEMTIME& time, double& result);
bool tk_variant_time_to_system_time(double date, SYSTEMTIME& result);

// The proleptic Gregorian calendar: days since 1970-01-01 of a date (month
// 1-12, day 1-31), and the date of such a day count. Any year, no checks.
int64_t days_from_civil(int64_t year, int month, int day);
void civil_from_days(int64_t days, int& year, int& month, int& day);

class ole_date {
public:
    enum : int32_t { kind_none = 0, kind_date_time = 1, kind_date = 2, kind_time = 3 };

    ole_date();  // kind 0
    // kind 1, then refine_type(). Milliseconds are kept.
    explicit ole_date(const SYSTEMTIME& value);
    // Parse a text (UTF-8 / ASCII narrow, or wide). A null text gives kind 0.
    explicit ole_date(const char* text);
    explicit ole_date(const std::string& text);
    explicit ole_date(const std::wstring& text);

    // The date (kind_date) of a year, month and day that make a real date
    // in the years 1-9999, with its OLE date; false, leaving both as they
    // were, for any others.
    static bool make_date(int year, int month, int day, ole_date& out, double& variant_time);

    // Tries the numeric forms, then the US English forms. True when a form
    // read and is_valid(). Expects a trimmed text without an AM/PM marker.
    bool import_from_string(const std::string& text);

    // Year 1-9999 with a real month and day (or the zero date of a pure
    // time), hour 0-23, minute and second 0-59.
    bool is_valid() const;

    // Takes seconds with an optional fraction ("30", "30.5", "59.9999999"):
    // sets the second, milliseconds and microseconds; a fraction that rounds
    // to a whole second carries into the minute, hour and, for a date-time,
    // the day, month and year. A text that is not such a number makes the
    // value kind 0 and returns false. A null text is an internal error.
    bool process_milliseconds(const char* seconds);

    // A date-time with a zero date becomes a time; one with a zero time part
    // (fraction included) and a real date becomes a date.
    void refine_type();

    // Precision 0 prints no fraction; 6 prints microseconds when there are
    // any; any other precision prints milliseconds.
    std::string to_string(int precision = 0) const;
    std::wstring to_wstring(int precision = 0) const;

    // The OLE date of the value (a pure time counts from 1899-12-30). False
    // for kind 0 or a value outside the OLE range.
    bool to_variant_time(double& result) const;

    int32_t kind = kind_none;
    int32_t zone = 0;               // hours; always 0, never printed
    bool zero_time_as_date = true;  // a date-time at midnight prints as a date
    int32_t microseconds = 0;       // fraction of the second
    SYSTEMTIME time;                // the value itself

private:
    void parse(const std::string& text);
    bool try_compact(const std::string& text);
    bool try_time(const std::string& text);
    bool try_date_forms(const std::string& text);
    bool try_english_forms(const std::string& text);
    bool is_valid_date_part() const;
    void set_hour(int hour);
    void add_second();
    void clear();

    int meridiem_ = 0;  // while parsing: 1 AM, 2 PM marker seen
};
