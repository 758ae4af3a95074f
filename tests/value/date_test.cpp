// Reading, checking and printing dates; OLE day numbers; GUID shapes.

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "tk/tk_exception.h"
#include "value/ole_date.h"
#include "value/ole_guid_extractor.h"

namespace {

// The printed form with microseconds, or "" for a text that is no date.
std::string read(const std::string& text, int precision = 6) {
    ole_date d(text);
    return d.to_string(precision);
}

SYSTEMTIME make_time(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    SYSTEMTIME t;
    t.wYear = static_cast<uint16_t>(y);
    t.wMonth = static_cast<uint16_t>(mo);
    t.wDay = static_cast<uint16_t>(d);
    t.wHour = static_cast<uint16_t>(h);
    t.wMinute = static_cast<uint16_t>(mi);
    t.wSecond = static_cast<uint16_t>(s);
    t.wMilliseconds = static_cast<uint16_t>(ms);
    return t;
}

}  // namespace

TEST(DateParse, NumericForms) {
    EXPECT_EQ(read("20201231235959"), "2020-12-31 23:59:59");
    EXPECT_EQ(read("20201231"), "2020-12-31");
    EXPECT_EQ(read("2020-12-31"), "2020-12-31");
    EXPECT_EQ(read("2020/12/31 10:20:30"), "2020-12-31 10:20:30");
    EXPECT_EQ(read("2020.12.31 10:20:30"), "2020-12-31 10:20:30");
    EXPECT_EQ(read("31-12-2020"), "2020-12-31");  // day and year swapped
    // After a blank, what follows the date and time is ignored; a time begun is not.
    EXPECT_EQ(read("2020-12-31 10:00:00 +02:00"), "2020-12-31 10:00:00");
    EXPECT_EQ(read("2020-12-31 junk"), "2020-12-31");
    EXPECT_EQ(read("2020-12-31 10:00 junk"), "");
    EXPECT_EQ(read("  2020-01-02  "), "2020-01-02");
    EXPECT_EQ(ole_date("2020-01-02").kind, ole_date::kind_date);
    EXPECT_EQ(ole_date("10:20:30").kind, ole_date::kind_time);
    EXPECT_EQ(ole_date("2020-01-02 10:20:30").kind, ole_date::kind_date_time);
}

// ISO 8601 date-times keep the clock time as written; a zone designator is
// read and checked, never applied.
TEST(DateParse, IsoDateTimes) {
    EXPECT_EQ(read("2020-12-31T10:00:00"), "2020-12-31 10:00:00");
    EXPECT_EQ(ole_date("2020-12-31T10:00:00").kind, ole_date::kind_date_time);
    EXPECT_EQ(read("2020-12-31T10:00:00Z"), "2020-12-31 10:00:00");
    EXPECT_EQ(read("2020-12-31T10:00:00+02:00"), "2020-12-31 10:00:00");
    EXPECT_EQ(read("2020-12-31T10:00:00-0530"), "2020-12-31 10:00:00");
    EXPECT_EQ(read("2020-12-31T10:00:00+02"), "2020-12-31 10:00:00");
    EXPECT_EQ(read("2020-12-31T10:00:00.25-23:59"), "2020-12-31 10:00:00.250000");
    EXPECT_EQ(read("2020-12-31T23:59:59.9999999Z"), "2021-01-01");
    EXPECT_EQ(read("2020-12-31T10:20"), "2020-12-31 10:20:00");
    EXPECT_EQ(read("  2020-12-31T10:00:00Z  "), "2020-12-31 10:00:00");
    // Offsets out of range, malformed zones and times: no date.
    for (const char* bad :
         {"2020-12-31T10:00:00+25:00", "2020-12-31T10:00:00+24", "2020-12-31T10:00:00+02:60", "2020-12-31T10:00:00+2",
          "2020-12-31T10:00:00+020", "2020-12-31T10:00:00+02:0", "2020-12-31T10:00:00ZZ", "2020-12-31T10:00:00 Z",
          "2020-12-31T10:00:00+", "2020-12-31T25:00:00", "2020-12-31T10:00:", "2020-12-31T", "2020-12-31T10",
          "2020-02-30T10:00:00", "2020/12/31T10:00:00", "2020-12-31T10:00:00Q", "2020-12-31T10:00:00.5.5"})
        EXPECT_EQ(read(bad), "") << bad;
}

TEST(DateParse, MidnightIsADateAndZeroDateIsATime) {
    ole_date midnight("2020-01-02 00:00:00");
    EXPECT_EQ(midnight.kind, ole_date::kind_date);
    EXPECT_EQ(midnight.to_string(), "2020-01-02");
    EXPECT_EQ(read("00000000000000"), "0000-00-00 00:00:00");
    EXPECT_EQ(read("00000000"), "");  // a date of zeros is no date
}

TEST(DateParse, CalendarChecks) {
    EXPECT_EQ(read("2020-02-29"), "2020-02-29");
    EXPECT_EQ(read("2020-02-30"), "");
    EXPECT_EQ(read("1900-02-29"), "");
    EXPECT_EQ(read("2000-02-29"), "2000-02-29");
    EXPECT_EQ(read("2020-13-01"), "");
    EXPECT_EQ(read("2020-00-10"), "");
    EXPECT_EQ(read("0000-01-01"), "");
    EXPECT_EQ(read("10000-01-01"), "");
    EXPECT_EQ(read("9999-12-31 23:59:59"), "9999-12-31 23:59:59");
    EXPECT_EQ(read("0001-01-01"), "0001-01-01");
}

TEST(DateParse, TimeChecks) {
    EXPECT_EQ(read("24:00:00"), "");
    EXPECT_EQ(read("25:00:00"), "");
    EXPECT_EQ(read("10:60:00"), "");
    EXPECT_EQ(read("10:59:60"), "");
    EXPECT_EQ(read("2020-01-01 24:00:00"), "");
    EXPECT_EQ(read("2020-01-01 23:59:59"), "2020-01-01 23:59:59");
    EXPECT_EQ(read("-1:00:00"), "");
    EXPECT_EQ(read("2020--1-01"), "");
    EXPECT_EQ(read("10:20:3x"), "");
    EXPECT_EQ(read("10:20:30 extra"), "");
}

TEST(DateParse, BadTextNeverOverruns) {
    EXPECT_EQ(ole_date("").kind, ole_date::kind_none);
    EXPECT_EQ(ole_date("1:05").kind, ole_date::kind_none);  // under five characters
    EXPECT_EQ(ole_date(static_cast<const char*>(nullptr)).kind, ole_date::kind_none);
    EXPECT_EQ(read("abcdefgh"), "");
    EXPECT_EQ(read(std::string(10000, '9')), "");
    EXPECT_EQ(read("2020-01-01 10:20:" + std::string(10000, '1')), "");
    EXPECT_EQ(read("99999999999999999999-1-1"), "");
    EXPECT_EQ(read("12:30:99999999999999999999"), "");
    EXPECT_EQ(read(std::string(5000, ' ') + "2020-01-01"), "");
    EXPECT_EQ(read(std::string("2020-01-01\0garbage", 18)), "");
}

TEST(DateFraction, PrintsByPrecision) {
    ole_date d("10:20:30.5");
    EXPECT_EQ(d.to_string(3), "0000-00-00 10:20:30.500");
    EXPECT_EQ(d.to_string(6), "0000-00-00 10:20:30.500000");
    EXPECT_EQ(d.to_string(0), "0000-00-00 10:20:30");
    EXPECT_EQ(d.to_wstring(6), L"0000-00-00 10:20:30.500000");
    EXPECT_EQ(read("2020-01-02 03:04:05.123456"), "2020-01-02 03:04:05.123456");
    EXPECT_EQ(read("2020-01-02 03:04:05.123456", 3), "2020-01-02 03:04:05.123");
    EXPECT_EQ(read("2020-01-02 03:04:05.9996", 3), "2020-01-02 03:04:05.999");
}

TEST(DateFraction, RoundingCarriesThroughTheCalendar) {
    EXPECT_EQ(read("2020-01-02 03:04:59.9999999"), "2020-01-02 03:05:00");
    EXPECT_EQ(read("2020-12-31 23:59:59.9999999"), "2021-01-01");
    EXPECT_EQ(read("2019-02-28 23:59:59.9999999"), "2019-03-01");
    EXPECT_EQ(read("2020-02-28 23:59:59.9999999"), "2020-02-29");
    EXPECT_EQ(read("2020-04-30 23:59:59.99999999"), "2020-05-01");
    EXPECT_EQ(read("9999-12-31 23:59:59.9999999"), "");          // past the last year
    EXPECT_EQ(read("2020-02-30 23:59:59.9999999"), "");          // a bad day stays bad
    EXPECT_EQ(read("23:59:59.9999999"), "0000-00-00 00:00:00");  // a time wraps
}

TEST(DateProcessMilliseconds, TakesOnlyNumbers) {
    ole_date d("10:20:30");
    EXPECT_TRUE(d.process_milliseconds("45.25"));
    EXPECT_EQ(d.to_string(3), "0000-00-00 10:20:45.250");
    EXPECT_FALSE(d.process_milliseconds("1e1"));
    EXPECT_EQ(d.kind, ole_date::kind_none);
    EXPECT_THROW(d.process_milliseconds(nullptr), tk_mail_assertion);
}

TEST(DateMeridiem, AmAndPm) {
    EXPECT_EQ(read("1:05:00 PM"), "0000-00-00 13:05:00");
    EXPECT_EQ(read("1:05:00pm"), "0000-00-00 13:05:00");
    EXPECT_EQ(read("12:00:00 PM"), "0000-00-00 12:00:00");
    EXPECT_EQ(read("12:30:00 AM"), "0000-00-00 00:30:00");
    EXPECT_EQ(read("9:15:00 am"), "0000-00-00 09:15:00");
    EXPECT_EQ(read("2020-12-31 11:59:59.9999999 PM"), "2021-01-01");
    EXPECT_EQ(read("2020-01-01 12:00:00 AM"), "2020-01-01");
}

TEST(DateEnglish, UsForms) {
    EXPECT_EQ(read("12/31/2020"), "2020-12-31");
    EXPECT_EQ(read("12/31/20"), "2020-12-31");
    EXPECT_EQ(read("12/31/99"), "1999-12-31");
    EXPECT_EQ(read("12/31/29"), "2029-12-31");
    EXPECT_EQ(read("12/31/30"), "1930-12-31");
    EXPECT_EQ(read("12/31/2020 1:05 PM"), "2020-12-31 13:05:00");
    EXPECT_EQ(read("Dec 31, 2020"), "2020-12-31");
    EXPECT_EQ(read("December 31 2020"), "2020-12-31");
    EXPECT_EQ(read("31 December 2020"), "2020-12-31");
    EXPECT_EQ(read("31-Dec-2020"), "2020-12-31");
    EXPECT_EQ(read("Sep 1, 2021 10:20:30.5"), "2021-09-01 10:20:30.500000");
    EXPECT_EQ(read("2020-12-31 10:20"), "2020-12-31 10:20:00");
    EXPECT_EQ(read("10:20"), "0000-00-00 10:20:00");
    EXPECT_EQ(read("Foo 31, 2020"), "");
    EXPECT_EQ(read("Feb 30, 2020"), "");
    EXPECT_EQ(read("13/31/2020"), "");
}

TEST(DateSystemTime, ConstructorRefinesAndChecks) {
    ole_date d(make_time(2020, 12, 31, 23, 59, 58, 250));
    EXPECT_EQ(d.kind, ole_date::kind_date_time);
    EXPECT_EQ(d.to_string(6), "2020-12-31 23:59:58.250000");
    EXPECT_EQ(d.to_string(3), "2020-12-31 23:59:58.250");
    EXPECT_EQ(ole_date(make_time(2020, 12, 31)).kind, ole_date::kind_date);
    EXPECT_EQ(ole_date(make_time(0, 0, 0, 10, 0, 0)).kind, ole_date::kind_time);
    EXPECT_EQ(ole_date(make_time(2020, 2, 30)).kind, ole_date::kind_none);
    EXPECT_EQ(ole_date(make_time(2020, 1, 1, 25)).to_string(), "");
    EXPECT_EQ(ole_date("2020-12-31").time.wDayOfWeek, 4);  // a Thursday
}

TEST(DateVariantTime, DaysSinceTheOleEpoch) {
    double v = -1;
    ASSERT_TRUE(tk_system_time_to_variant_time(make_time(1899, 12, 30), v));
    EXPECT_DOUBLE_EQ(v, 0.0);
    ASSERT_TRUE(tk_system_time_to_variant_time(make_time(1900, 1, 1), v));
    EXPECT_DOUBLE_EQ(v, 2.0);
    ASSERT_TRUE(tk_system_time_to_variant_time(make_time(2020, 12, 31, 12), v));
    EXPECT_DOUBLE_EQ(v, 44196.5);
    ASSERT_TRUE(tk_system_time_to_variant_time(make_time(1899, 12, 29, 6), v));
    EXPECT_DOUBLE_EQ(v, -1.25);
    EXPECT_FALSE(tk_system_time_to_variant_time(make_time(2020, 2, 30), v));

    SYSTEMTIME t;
    ASSERT_TRUE(tk_variant_time_to_system_time(-1.25, t));
    EXPECT_EQ(ole_date(t).to_string(), "1899-12-29 06:00:00");
    ASSERT_TRUE(tk_variant_time_to_system_time(44196.5, t));
    EXPECT_EQ(ole_date(t).to_string(), "2020-12-31 12:00:00");
    EXPECT_EQ(t.wDayOfWeek, 4);
    ASSERT_TRUE(tk_variant_time_to_system_time(44196.99999999999, t));  // rounds to midnight
    EXPECT_EQ(ole_date(t).to_string(), "2021-01-01");
    EXPECT_FALSE(tk_variant_time_to_system_time(1e300, t));
    EXPECT_FALSE(tk_variant_time_to_system_time(std::nan(""), t));
}

TEST(DateVariantTime, RoundTripsToTheMillisecond) {
    for (const char* text :
         {"0001-01-01 00:00:01", "1850-06-15 13:14:15.678", "2020-02-29 23:59:59.999", "9999-12-31 23:59:59.5"}) {
        ole_date d(text);
        double v;
        ASSERT_TRUE(d.to_variant_time(v)) << text;
        SYSTEMTIME t;
        ASSERT_TRUE(tk_variant_time_to_system_time(v, t)) << text;
        EXPECT_EQ(ole_date(t).to_string(3), d.to_string(3));
    }
    double v;
    EXPECT_FALSE(ole_date().to_variant_time(v));
    ASSERT_TRUE(ole_date("06:00:00").to_variant_time(v));
    EXPECT_DOUBLE_EQ(v, 0.25);
}

// ---- GUIDs ---------------------------------------------------------------------------

TEST(Guid, ExactShapesOnly) {
    const std::string g = "6F9619FF-8B86-D011-B42D-00C04FC964FF";
    EXPECT_EQ(ole_guid_extractor(g).get_string(), g);
    EXPECT_EQ(ole_guid_extractor("{" + g + "}").get_string(), g);
    EXPECT_EQ(ole_guid_extractor("  {" + g + "}  ").get_string(), g);
    EXPECT_EQ(ole_guid_extractor(std::wstring(L"6f9619ff-8b86-d011-b42d-00c04fc964ff")).get_wstring(),
              L"6f9619ff-8b86-d011-b42d-00c04fc964ff");

    for (const std::string& bad : {
             std::string("see guid {" + g + "}"),
             std::string(36, '-'),
             std::string("6F9619FF8B86-D011-B42D-00C04FC964FF-"),
             std::string("6F9619FG-8B86-D011-B42D-00C04FC964FF"),
             std::string("(" + g + ")"),
             std::string("{" + g),
             std::string(g + "0"),
             std::string("6F9619FF-8B86-D011-B42D-00C04FC964F"),
             std::string(200, 'A'),
             std::string(),
         }) {
        ole_guid_extractor e(bad);
        EXPECT_FALSE(e.is_valid()) << bad;
        EXPECT_EQ(e.get_string(), "") << bad;
    }
}
