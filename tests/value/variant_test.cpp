#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "value/ole_decimal.h"
#include "value/ole_exception.h"
#include "value/ole_variant.h"

namespace {

ole_variant from_s(const std::string& text, VARTYPE vt) {
    ole_variant v;
    v.from_string(text, vt);
    return v;
}

ole_variant changed(ole_variant v, VARTYPE vt) {
    v.change_type(vt);
    return v;
}

std::string decimal_text(const std::string& text) {
    ole_decimal d;
    EXPECT_TRUE(ole_decimal::parse(text, d)) << text;
    return d.to_string();
}

// ---- exact decimals and currency ----------------------------------------------

TEST(OleDecimal, PrintsExactlyWithoutTrailingZerosOrExponent) {
    EXPECT_EQ(decimal_text("12.50"), "12.5");
    EXPECT_EQ(decimal_text("-0.0001"), "-0.0001");
    EXPECT_EQ(decimal_text("0.000"), "0");
    EXPECT_EQ(decimal_text("-0"), "0");
    EXPECT_EQ(decimal_text("100"), "100");
    EXPECT_EQ(decimal_text(".5"), "0.5");
    EXPECT_EQ(decimal_text("+7."), "7");
    EXPECT_EQ(decimal_text("1.5e3"), "1500");
    EXPECT_EQ(decimal_text("15E-5"), "0.00015");
    EXPECT_EQ(decimal_text("-123.4560000"), "-123.456");
    EXPECT_EQ(decimal_text("0.0000000000000000001"), "0.0000000000000000001");
    EXPECT_EQ(decimal_text("18446744073709551.615"), "18446744073709551.615");
    EXPECT_EQ(decimal_text("79228162514264337593543950335"), "79228162514264337593543950335");
    EXPECT_EQ(decimal_text("-7.9228162514264337593543950335"), "-7.9228162514264337593543950335");
}

TEST(OleDecimal, RoundsDigitsBeyondItsPrecision) {
    // 30 places: rounded half away from zero to 28.
    EXPECT_EQ(decimal_text("0.123456789012345678901234567850"), "0.1234567890123456789012345679");
    EXPECT_EQ(decimal_text("1e-40"), "0");
    // 31 significant digits: the mantissa keeps what 96 bits hold.
    EXPECT_EQ(decimal_text("1234567890.123456789012345678901"), "1234567890.1234567890123456789");
}

TEST(OleDecimal, RefusesTextThatIsNotOneNumber) {
    ole_decimal d;
    for (const char* bad : {"", "-", ".", "1e", "1.2.3", "12abc", " 12", "0x10", "1,5", "79228162514264337593543950336",
                            "1e29", "nan", "inf"}) {
        EXPECT_FALSE(ole_decimal::parse(bad, d)) << bad;
    }
}

TEST(OleDecimal, ConvertsToIntegersAndDoublesByValue) {
    ole_decimal d;
    ASSERT_TRUE(ole_decimal::parse("-2.5", d));
    int64_t i = 0;
    ASSERT_TRUE(d.to_int64(i));
    EXPECT_EQ(i, -3);
    uint64_t u = 0;
    EXPECT_FALSE(d.to_uint64(u));
    EXPECT_DOUBLE_EQ(d.to_double(), -2.5);
    ASSERT_TRUE(ole_decimal::from_double(0.1, d));
    EXPECT_EQ(d.to_string(), "0.1");
    EXPECT_FALSE(ole_decimal::from_double(std::nan(""), d));
    EXPECT_FALSE(ole_decimal::from_double(1e30, d));
    ole_decimal a, b;
    ASSERT_TRUE(ole_decimal::parse("1.50", a));
    ASSERT_TRUE(ole_decimal::parse("1.5", b));
    EXPECT_TRUE(a == b);
}

TEST(OleCurrency, PrintsTenThousandthsExactly) {
    EXPECT_EQ(ole_currency{123456}.to_string(), "12.3456");
    EXPECT_EQ(ole_currency{-5}.to_string(), "-0.0005");
    EXPECT_EQ(ole_currency{10000}.to_string(), "1");
    EXPECT_EQ(ole_currency{std::numeric_limits<int64_t>::min()}.to_string(), "-922337203685477.5808");
    ole_currency cy;
    ASSERT_TRUE(ole_currency::parse("1.23455", cy));
    EXPECT_EQ(cy.int64, 12346);
    EXPECT_FALSE(ole_currency::parse("922337203685478", cy));
}

// ---- reading text ------------------------------------------------------------------

TEST(VariantFromText, EmptyTextIsEmptyExceptForText) {
    EXPECT_EQ(from_s("", VT_I4).get_type(), VT_EMPTY);
    EXPECT_EQ(from_s("", VT_DATE).get_type(), VT_EMPTY);
    ole_variant s = from_s("", VT_BSTR);
    EXPECT_EQ(s.get_type(), VT_BSTR);
    EXPECT_EQ(s.to_string(), "");
    EXPECT_EQ(from_s("   ", VT_DECIMAL).get_type(), VT_EMPTY);
}

TEST(VariantFromText, NumbersReadTheWholeTrimmedText) {
    EXPECT_EQ(from_s("12", VT_I4).to_long(), 12);
    EXPECT_EQ(from_s(" 12 ", VT_I4).to_long(), 12);
    EXPECT_EQ(from_s("+7", VT_I2).to_string(), "7");
    EXPECT_EQ(from_s("2.5", VT_I4).to_long(), 3);  // any number text, by value
    EXPECT_THROW(from_s("12abc", VT_I4), ole_cast_exception);
    EXPECT_THROW(from_s("abc", VT_R8), ole_cast_exception);
    EXPECT_THROW(from_s("1 2", VT_I8), ole_cast_exception);
    ole_variant r = from_s("1,5", VT_R8);
    EXPECT_EQ(r.get_type(), VT_R8);
    EXPECT_EQ(r.to_string(), "1.5000000000000000e+00");
}

TEST(VariantFromText, NumbersNeverWrap) {
    EXPECT_THROW(from_s("-1", VT_UI4), ole_cast_exception);
    EXPECT_THROW(from_s("256", VT_UI1), ole_cast_exception);
    EXPECT_THROW(from_s("32768", VT_I2), ole_cast_exception);
    EXPECT_THROW(from_s("9223372036854775808", VT_I8), ole_cast_exception);
    EXPECT_THROW(from_s("1e400", VT_R8), ole_cast_exception);
    EXPECT_THROW(from_s("1e39", VT_R4), ole_cast_exception);
    EXPECT_EQ(from_s("1e-400", VT_R8).to_double(), 0.0);  // too small is 0, not a failure
    EXPECT_EQ(from_s("-1e-50", VT_R4).to_double(), 0.0);
    EXPECT_EQ(from_s("18446744073709551615", VT_UI8).get_uint64(), std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(from_s("-9223372036854775808", VT_I8).get_int64(), std::numeric_limits<int64_t>::min());
}

TEST(VariantFromText, DecimalAndCurrencyKeepEveryDigit) {
    ole_variant d = from_s("12345678901234567890.125", VT_DECIMAL);
    EXPECT_EQ(d.get_type(), VT_DECIMAL);
    EXPECT_EQ(d.to_string(), "12345678901234567890.125");
    EXPECT_EQ(from_s("1,50", VT_DECIMAL).to_string(), "1.5");
    ole_variant big = from_s("1e30", VT_DECIMAL);  // beyond 96 bits: a double holds it
    EXPECT_EQ(big.get_type(), VT_R8);
    EXPECT_EQ(from_s("12,5", VT_CY).to_string(), "12.5");
    EXPECT_THROW(from_s("12x", VT_CY), ole_cast_exception);
}

TEST(VariantFromText, BooleansFollowWordsThenTheLeadingInteger) {
    EXPECT_EQ(from_s("Yes", VT_BOOL).to_string(), "1");
    EXPECT_TRUE(from_s("Yes", VT_BOOL).to_bool());
    EXPECT_TRUE(from_s("2", VT_BOOL).to_bool());
    EXPECT_FALSE(from_s("abc", VT_BOOL).to_bool());
    EXPECT_FALSE(from_s("FALSE", VT_BOOL).to_bool());
}

TEST(VariantFromText, HexTextBecomesAByteString) {
    ole_variant b = from_s("0x0A1b", VT_BLOB);
    EXPECT_EQ(b.get_type(), VT_BLOB);
    EXPECT_EQ(b.get_byte_vector(), (std::vector<uint8_t>{0x0A, 0x1B}));
    EXPECT_EQ(b.to_string(), "0x0A1B");
    EXPECT_EQ(b.to_wstring(), L"0x0A1B");
    EXPECT_EQ(from_s("0x0A1", VT_BLOB).get_type(), VT_EMPTY);
    EXPECT_EQ(from_s("\\xFF00", VT_ARRAY_UI1).get_byte_vector(), (std::vector<uint8_t>{0xFF, 0x00}));
    EXPECT_EQ(from_s("zz41", VT_ARRAY_UI1).get_byte_vector(), (std::vector<uint8_t>{0x00, 0x41}));
}

TEST(VariantFromText, DatesThatDoNotParseAreEmpty) {
    ole_variant d = from_s("20201231", VT_DATE);
    EXPECT_EQ(d.get_type(), VT_DATE);
    EXPECT_EQ(d.to_string(), "2020-12-31");
    EXPECT_EQ(d.get_date().wYear, 2020);
    EXPECT_EQ(from_s("00000000", VT_DATE).get_type(), VT_EMPTY);
    EXPECT_EQ(from_s("abc", VT_DATE).get_type(), VT_EMPTY);
}

TEST(VariantFromText, UnsupportedTypeThrowsTypeException) {
    EXPECT_THROW(from_s("x", VT_ERROR), ole_type_exception);
    EXPECT_THROW(from_s("x", VT_UNKNOWN), ole_type_exception);
}

TEST(VariantFromText, WideTextIsReadLikeNarrowText) {
    ole_variant v;
    v.from_wstring(L" -42 ", VT_I4);
    EXPECT_EQ(v.to_long(), -42);
    v.from_wstring(L"0xC3A9", VT_ARRAY_UI1);
    EXPECT_EQ(v.get_byte_vector(), (std::vector<uint8_t>{0xC3, 0xA9}));
    v.from_wstring(L"Grüße", VT_BSTR);
    EXPECT_EQ(v.to_wstring(), L"Grüße");
    EXPECT_EQ(v.to_string(),
              "Gr\xC3\xBC\xC3\x9F"
              "e");
    EXPECT_THROW(v.from_wstring(L"1\u00A02", VT_I4), ole_cast_exception);
}

// ---- printing ---------------------------------------------------------------------------

TEST(VariantPrint, IntAndUintPrintLikeTheirFixedWidthKin) {
    EXPECT_EQ(from_s("-5", VT_INT).to_string(), "-5");
    EXPECT_EQ(from_s("4000000000", VT_UINT).to_string(), "4000000000");
    EXPECT_EQ(from_s("-9223372036854775808", VT_I8).to_string(), "-9223372036854775808");
    EXPECT_EQ(from_s("18446744073709551615", VT_UI8).to_string(), "18446744073709551615");
    EXPECT_EQ(from_s("0", VT_I2).to_string(), "0");
    EXPECT_EQ(from_s("-5", VT_INT).to_long(), -5);
    EXPECT_TRUE(from_s("7", VT_UINT).to_bool());
    EXPECT_DOUBLE_EQ(from_s("7", VT_UINT).to_double(), 7.0);
}

TEST(VariantPrint, FloatsPrintInScientificFormWithEnoughDigits) {
    EXPECT_EQ(ole_variant(0.1).to_string(), "1.0000000000000001e-01");
    ole_variant f = from_s("123456.78", VT_R4);
    EXPECT_EQ(f.to_string(), "1.23456781e+05");
    ole_variant back = from_s(f.to_string(), VT_R4);
    EXPECT_EQ(back.to_string(), f.to_string());
    EXPECT_FLOAT_EQ(static_cast<float>(back.to_double()), 123456.78f);
}

TEST(VariantPrint, NanPrintsZeroAndInfinityPrintsNothing) {
    EXPECT_EQ(ole_variant(std::nan("")).to_string(), "0");
    EXPECT_EQ(ole_variant(std::numeric_limits<double>::infinity()).to_string(), "");
    EXPECT_EQ(ole_variant(-std::numeric_limits<double>::infinity()).to_string(), "");
    EXPECT_EQ(ole_variant(-std::numeric_limits<double>::infinity()).to_wstring(), L"");
}

TEST(VariantPrint, InfinityIsNamedInTheLog) {
    char dir[] = "/tmp/variant_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/trace.log";
    {
        tk_logger logger(path.c_str(), true, 3, false);
        if (tk_logger::try_ptr() != &logger) GTEST_SKIP() << "another logger is registered";
        ole_variant(std::numeric_limits<double>::infinity()).to_string();
    }
    std::ifstream in(path);
    std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(log.find("infinity"), std::string::npos) << log;
    std::remove(path.c_str());
    rmdir(dir);
}

TEST(VariantPrint, BooleansPrintOneOnlyForTrue) {
    EXPECT_EQ(ole_variant(true).to_string(), "1");
    EXPECT_EQ(ole_variant(false).to_string(), "0");
    EXPECT_EQ(ole_variant(true).to_long(), 1);
}

TEST(VariantPrint, ByteStringsPrintWhole) {
    // One byte more than 120,000,000: a cut at that length must show
    // (the value and its text take about 360 MB for a moment).
    const size_t count = 120000001;
    std::vector<uint8_t> bytes(count, 0xAB);
    bytes.back() = 0xCD;
    const ole_variant v(std::move(bytes));
    const std::string s = v.to_string();
    ASSERT_EQ(s.size(), 2 + 2 * count);
    EXPECT_EQ(s.substr(0, 6), "0xABAB");
    EXPECT_EQ(s.substr(s.size() - 4), "ABCD");
    EXPECT_EQ(ole_variant(std::vector<uint8_t>{}).get_type(), VT_EMPTY);
}

TEST(VariantPrint, DecimalAndCurrencyPrintExactly) {
    EXPECT_EQ(ole_variant(ole_currency{123456}).to_string(), "12.3456");
    EXPECT_EQ(ole_variant(ole_currency{-1230000}).to_wstring(), L"-123");
}

// ---- changing type --------------------------------------------------------------------------

TEST(VariantChangeType, FloatsRoundHalfAwayFromZero) {
    EXPECT_EQ(changed(ole_variant(2.5), VT_I4).to_long(), 3);
    EXPECT_EQ(changed(ole_variant(-2.5), VT_I4).to_long(), -3);
    EXPECT_EQ(changed(ole_variant(-2.5), VT_I4).get_type(), VT_I4);
    EXPECT_EQ(changed(from_s("2.5", VT_DECIMAL), VT_I8).get_int64(), 3);
    EXPECT_EQ(changed(from_s("2.5", VT_CY), VT_UI8).get_uint64(), 3u);
}

TEST(VariantChangeType, NarrowingIsRangeChecked) {
    EXPECT_THROW(changed(from_s("5000000000", VT_I8), VT_I4), ole_cast_exception);
    EXPECT_THROW(changed(from_s("-1", VT_I4), VT_UI8), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant(1e20), VT_I2), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant(std::nan("")), VT_I4), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant(std::numeric_limits<double>::infinity()), VT_I8), ole_cast_exception);
    EXPECT_THROW(changed(from_s("-1", VT_I8), VT_UI8), ole_cast_exception);
    EXPECT_THROW(changed(from_s("18446744073709551615", VT_UI8), VT_I8), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant(1e300), VT_R4), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant(1e20), VT_CY), ole_cast_exception);
    EXPECT_EQ(changed(from_s("4294967295", VT_I8), VT_UINT).to_string(), "4294967295");
}

TEST(VariantChangeType, NonZeroBecomesTrue) {
    ole_variant b = changed(from_s("1", VT_I8), VT_BOOL);
    EXPECT_EQ(b.get_type(), VT_BOOL);
    EXPECT_EQ(b.to_string(), "1");
    EXPECT_EQ(changed(from_s("256", VT_I8), VT_BOOL).to_string(), "1");
    EXPECT_EQ(changed(ole_variant(0.0), VT_BOOL).to_string(), "0");
    EXPECT_EQ(changed(ole_variant(true), VT_I4).to_long(), 1);
    EXPECT_THROW(changed(ole_variant(std::nan("")), VT_BOOL), ole_cast_exception);
}

TEST(VariantChangeType, UnsignedMaximumSurvivesDecimal) {
    ole_variant v = from_s("18446744073709551615", VT_UI8);
    ole_variant d = changed(v, VT_DECIMAL);
    EXPECT_EQ(d.get_type(), VT_DECIMAL);
    EXPECT_EQ(d.to_string(), "18446744073709551615");
    EXPECT_EQ(changed(d, VT_UI8).get_uint64(), std::numeric_limits<uint64_t>::max());
}

TEST(VariantChangeType, TextIsReadStrictly) {
    EXPECT_EQ(changed(ole_variant(L"12"), VT_I4).to_long(), 12);
    EXPECT_EQ(changed(ole_variant(L" 12 "), VT_I4).to_long(), 12);
    EXPECT_THROW(changed(ole_variant(L"12abc"), VT_I4), ole_cast_exception);
    EXPECT_EQ(changed(ole_variant(L""), VT_I4).get_type(), VT_EMPTY);
    EXPECT_EQ(changed(ole_variant(L"  "), VT_DECIMAL).get_type(), VT_EMPTY);
    EXPECT_THROW(changed(ole_variant(L"abc"), VT_DATE), ole_cast_exception);
    EXPECT_EQ(changed(ole_variant(L"0000-00-00"), VT_DATE).get_type(), VT_EMPTY);
    EXPECT_EQ(changed(ole_variant(L"2004-02-29 13:05"), VT_DATE).to_string(), "2004-02-29 13:05:00");
    EXPECT_THROW(changed(ole_variant(L"maybe"), VT_BOOL), ole_cast_exception);
    EXPECT_TRUE(changed(ole_variant(L"True"), VT_BOOL).to_bool());
    EXPECT_FALSE(changed(ole_variant(L"0"), VT_BOOL).to_bool());
}

TEST(VariantChangeType, NumbersBecomeTheirText) {
    EXPECT_EQ(changed(ole_variant(1.5), VT_BSTR).to_wstring(), L"1.5");
    EXPECT_EQ(changed(from_s("-12.340", VT_DECIMAL), VT_BSTR).to_wstring(), L"-12.34");
    EXPECT_EQ(changed(from_s("-9", VT_I8), VT_BSTR).to_wstring(), L"-9");
    EXPECT_THROW(changed(ole_variant(std::numeric_limits<double>::infinity()), VT_BSTR), ole_cast_exception);
}

TEST(VariantChangeType, DatesAndDayNumbers) {
    ole_variant d = from_s("1899-12-31", VT_DATE);
    ole_variant r = changed(d, VT_R8);
    EXPECT_EQ(r.get_type(), VT_R8);
    EXPECT_DOUBLE_EQ(r.to_double(), 1.0);
    EXPECT_EQ(changed(ole_variant(2.5), VT_DATE).to_string(), "1900-01-01 12:00:00");
    EXPECT_EQ(changed(d, VT_BSTR).to_wstring(), L"1899-12-31");
    EXPECT_THROW(changed(d, VT_I4), ole_cast_exception);
    EXPECT_THROW(changed(ole_variant(1e12), VT_DATE), ole_cast_exception);
}

TEST(VariantChangeType, ByteStringsTradeRawBytes) {
    ole_variant v = changed(ole_variant(0x01020304), VT_ARRAY_UI1);
    EXPECT_EQ(v.get_byte_vector(), (std::vector<uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(changed(from_s("-1", VT_I8), VT_BLOB).get_safe_array_size(), 8u);
    ole_variant t = changed(ole_variant(L"h\u00E9"), VT_BLOB);
    EXPECT_EQ(t.get_byte_vector(), (std::vector<uint8_t>{'h', 0xC3, 0xA9}));
    t.change_type(VT_BLOB_OBJECT);  // synonym: only the tag changes
    EXPECT_EQ(t.get_type(), VT_BLOB_OBJECT);
    EXPECT_EQ(changed(t, VT_BSTR).to_wstring(), L"h\u00E9");
    EXPECT_THROW(changed(t, VT_I4), ole_cast_exception);
    // Bytes become the text of every byte, a zero byte too: read as UTF-8
    // (the ANSI code page) or in the code page given.
    ole_variant utf8(std::vector<uint8_t>{'a', 0xC3, 0xA9, 0, 'c', 0xFF});
    EXPECT_EQ(changed(utf8, VT_BSTR).get_text(), std::wstring(L"a\u00E9\0c\uFFFD", 5));
    ole_variant cp1252(std::vector<uint8_t>{'a', 0xE9, 'b', 0, 'c'});
    cp1252.change_type(VT_BSTR, 1252);
    EXPECT_EQ(cp1252.get_text(), std::wstring(L"a\u00E9b\0c", 5));
    ole_variant cp866(std::vector<uint8_t>{0, 0xE0, 0});
    cp866.change_type(VT_BSTR, 866);
    EXPECT_EQ(cp866.get_text(), std::wstring(L"\0\u0440\0", 3));
}

TEST(VariantChangeType, EmptyAndSameTypeStayAsTheyAre) {
    EXPECT_EQ(changed(ole_variant(), VT_I4).get_type(), VT_EMPTY);
    ole_variant n;
    n.set_null();
    EXPECT_EQ(changed(n, VT_BSTR).get_type(), VT_NULL);
    EXPECT_EQ(changed(ole_variant(5), VT_I4).to_long(), 5);
}

// ---- reading numbers ------------------------------------------------------------------------

TEST(VariantRead, ToLongGivesZeroOutOfRange) {
    EXPECT_EQ(from_s("5000000000", VT_I8).to_long(), 0);
    EXPECT_EQ(from_s("4294967295", VT_UI4).to_long(), 0);
    EXPECT_EQ(ole_variant(1e10).to_long(), 0);
    EXPECT_EQ(ole_variant(-2.9).to_long(), -2);
    EXPECT_EQ(from_s("-7.5", VT_DECIMAL).to_long(), -8);
    EXPECT_EQ(ole_variant(L"12").to_long(), 0);
}

TEST(VariantRead, ToDoubleOfTextIsAnInternalError) {
    EXPECT_THROW(ole_variant(L"1").to_double(), tk_mail_assertion);
    EXPECT_DOUBLE_EQ(ole_variant().to_double(), 0.0);
    EXPECT_DOUBLE_EQ(from_s("18446744073709551615", VT_UI8).to_double(), 18446744073709551615.0);
}

TEST(VariantRead, CopiesKeepEveryKindOfPayload) {
    ole_variant i8 = from_s("-9000000000", VT_I8);
    ole_variant dec = from_s("0.125", VT_DECIMAL);
    ole_variant date = from_s("2020-01-02 03:04:05.5", VT_DATE);
    ole_variant blob = from_s("0102", VT_BLOB);
    for (const ole_variant* v : {&i8, &dec, &date, &blob}) {
        ole_variant copy(*v);
        EXPECT_EQ(copy.to_string(), v->to_string());
        ole_variant assigned(L"x");
        assigned = *v;
        EXPECT_EQ(assigned.get_type(), v->get_type());
        EXPECT_EQ(assigned.to_string(), v->to_string());
        ole_variant moved(std::move(copy));
        EXPECT_EQ(moved.to_string(), v->to_string());
    }
    EXPECT_EQ(date.to_string(), "2020-01-02 03:04:05.500000");
}

// A field is reused row after row: after a large value, the next value
// does not keep its room (a table of large memos would hold the largest
// one for every field, and every reader, to the end).
TEST(VariantRead, LargeTextsAndBytesGiveTheirRoomBackWhenReused) {
    ole_variant text(std::wstring(1 << 20, L'x'));
    text = std::wstring(L"small");
    EXPECT_LT(text.get_text().capacity(), size_t(1) << 16);
    ole_variant bytes(std::vector<uint8_t>(size_t(2) << 20, 7));
    bytes = std::wstring(L"small");
    EXPECT_LT(bytes.get_byte_vector().capacity(), size_t(1) << 16);
}

// ---- pieces for long data --------------------------------------------------------------------

TEST(VariantPieces, HexPiecesNeverPassTheCapacity) {
    ole_variant v(std::vector<uint8_t>{0x00, 0x11, 0x22, 0x33, 0x44});
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(v.get_at(1, 100, buf, 5), 2u);  // 5 bytes of room: two whole bytes
    EXPECT_EQ(std::string(buf, 5), "1122#");
    EXPECT_EQ(std::string(buf + 5, 11), std::string(11, '#'));
    EXPECT_EQ(v.get_at(3, 100, buf, 16), 2u);
    EXPECT_EQ(std::string(buf, 4), "3344");
    EXPECT_EQ(v.get_at(5, 100, buf, 16), 0u);
    EXPECT_EQ(v.get_at(0, 1, buf, 16), 1u);
    EXPECT_EQ(ole_variant(5).get_at(0, 1, buf, 16), 0u);
}

TEST(VariantPieces, TextPiecesTakeWholeCharacters) {
    ole_variant v(L"a\u00E9\u20AC\U0001F600");  // 1, 2, 3 and 4 UTF-8 bytes
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(v.get_at(0, 10, buf, 5), 2u);  // a, é and € need 6 bytes: a and é fit
    EXPECT_EQ(buf[5], '#');
    EXPECT_EQ(v.get_at(3, 10, buf, 3), 0u);  // the 4-byte character does not fit
    EXPECT_EQ(v.get_at(3, 10, buf, 4), 1u);
}

TEST(VariantPieces, RawPiecesRejoinToTheExactBytes) {
    std::wstring text;
    std::string expected;
    for (int i = 0; i < 500; ++i) {
        text += L"x\u00E9\u20AC\U0001F600";
        text.push_back(L'\0');  // a NUL character is one byte of the text, not its end
        expected += "x\u00E9\u20AC\U0001F600";
        expected.push_back('\0');
    }
    ole_variant v(text);
    for (std::size_t piece : {1u, 2u, 3u, 5u, 7u, 131u}) {
        std::string joined;
        std::vector<char> buf(piece + 4, '#');
        std::size_t pos = 0;
        for (;;) {
            std::size_t n = v.get_raw_at(pos, buf.data(), piece);
            if (n == 0) break;
            ASSERT_LE(n, piece);
            ASSERT_EQ(std::string(buf.data() + piece, 4), "####");
            joined.append(buf.data(), n);
            pos += n;
        }
        EXPECT_EQ(joined, expected) << "piece " << piece;
    }
    // Reading again from an earlier place, inside a character.
    char again[8];
    ASSERT_EQ(v.get_raw_at(2, again, 4), 4u);
    EXPECT_EQ(std::string(again, 4), expected.substr(2, 4));
    ASSERT_EQ(v.get_raw_at(expected.size() - 3, again, 8), 3u);
    EXPECT_EQ(std::string(again, 3), expected.substr(expected.size() - 3));
    std::vector<uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    ole_variant b(bytes);
    std::string joined;
    char buf[64];
    for (std::size_t pos = 0, n; (n = b.get_raw_at(pos, buf, sizeof buf)) != 0; pos += n) joined.append(buf, n);
    EXPECT_EQ(joined, std::string(bytes.begin(), bytes.end()));
}

TEST(VariantPieces, BytesOfTextAreItsUtf8) {
    const uint8_t* data = nullptr;
    std::string holder;
    EXPECT_EQ(ole_variant(L"\u00E9").get_bytes(data, holder), 2u);
    EXPECT_EQ(data[0], 0xC3);
    EXPECT_EQ(ole_variant().get_bytes(data, holder), 0u);
    EXPECT_EQ(data, nullptr);
    EXPECT_THROW(ole_variant(5).get_bytes(data, holder), tk_mail_assertion);
    ole_variant a;
    a.allocate_safe_array(3);
    EXPECT_EQ(a.get_type(), VT_ARRAY_UI1);
    a.get_safe_array_data()[2] = 0x7F;
    EXPECT_EQ(a.to_string(), "0x00007F");
}

// ---- from DBF bytes to SQL text ----------------------------------------------------------------

TEST(VariantEndToEnd, Cp866FieldsBecomeExactSqlText) {
    struct field {
        std::string bytes;
        VARTYPE vt;
        const char* sql;
    };
    const field fields[] = {
        {"  1234.5600", VT_DECIMAL, "1234.56"},
        {"   -0.0100", VT_DECIMAL, "-0.01"},
        {"20040229", VT_DATE, "2004-02-29"},
        {"20201231235959", VT_DATE, "2020-12-31 23:59:59"},
        {"        -42", VT_I4, "-42"},
        {"\x8F\xE0\xA8\xA2\xA5\xE2", VT_BSTR, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},  // Привет
    };
    for (const field& f : fields) {
        std::wstring wide = tk_codepage_to_unicode(f.bytes, 866);
        ole_variant v;
        v.from_wstring(wide, f.vt);
        EXPECT_EQ(v.get_type(), f.vt) << f.sql;
        EXPECT_EQ(v.to_string(), f.sql);
    }
    ole_variant blank;
    blank.from_wstring(tk_codepage_to_unicode("        ", 866), VT_DATE);
    EXPECT_EQ(blank.get_type(), VT_EMPTY);
    ole_variant zeros;
    zeros.from_wstring(tk_codepage_to_unicode("00000000", 866), VT_DATE);
    EXPECT_EQ(zeros.get_type(), VT_EMPTY);
}

TEST(VariantTypes, NumericAndByteStringClasses) {
    for (unsigned vt : {2u, 3u, 4u, 5u, 6u, 11u, 14u, 16u, 17u, 18u, 19u, 20u, 21u, 22u, 23u})
        EXPECT_TRUE(is_numeric_vt(vt)) << vt;
    for (unsigned vt : {0u, 1u, 7u, 8u, 9u, 10u, 12u, 13u, 15u, 24u, 65u, 0x2011u})
        EXPECT_FALSE(is_numeric_vt(vt)) << vt;
    EXPECT_TRUE(is_date_or_string_vt(VT_DATE));
    EXPECT_TRUE(is_date_or_string_vt(VT_BSTR));
    for (unsigned vt : {0x2011u, 65u, 70u, 9u}) EXPECT_TRUE(is_byte_string_vt(vt));
    EXPECT_FALSE(is_byte_string_vt(VT_SAFEARRAY));
}

}  // namespace

TEST(OleDecimal, ShortNumbersParseAsTheGeneralPathDoes) {
    // Leading zeros past 18 digits send a text the long way; the value,
    // scale and sign must be the same either way.
    const std::string zeros(19, '0');
    for (const char* text :
         {"1", "-1", "12345.67", "-12345.67", "0.05", "-0.050", "5.", ".5", "-.5", "1.50", "999999999999999999",
          "99999999999.9999999", "0.00000000000000001", "100", "-0", "0.00", "000123.4500"}) {
        std::string t(text);
        const bool negative = t[0] == '-';
        std::string long_form = (negative ? "-" : "") + zeros + t.substr(negative ? 1 : 0);
        ole_decimal fast, general;
        ASSERT_TRUE(ole_decimal::parse(t, fast)) << text;
        ASSERT_TRUE(ole_decimal::parse(long_form, general)) << long_form;
        EXPECT_EQ(fast.scale, general.scale) << text;
        EXPECT_EQ(fast.sign, general.sign) << text;
        EXPECT_EQ(fast.hi32, general.hi32) << text;
        EXPECT_EQ(fast.lo64, general.lo64) << text;
        EXPECT_EQ(fast.to_string(), general.to_string()) << text;
    }
}

TEST(ValueExceptions, TextsAndLevels) {
    ole_cast_exception cast;
    EXPECT_STREQ(cast.what(), "Cannot cast from source type to destination type");
    EXPECT_EQ(cast.level, 0);
    ole_type_exception type;
    EXPECT_STREQ(type.what(), "The operating type is not supported yet");
    EXPECT_EQ(type.level, 1);
    EXPECT_THROW(throw ole_cast_exception(), tk_exception);
}
