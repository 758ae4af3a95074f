#include "testkit/sample_folder.h"

#include <algorithm>

namespace testkit {
namespace {

using v = dbf_value;

dbf_fixture_record row(std::vector<dbf_value> values, bool deleted = false) {
    dbf_fixture_record r;
    r.deleted = deleted;
    r.values = std::move(values);
    return r;
}

// dBase III, Windows-1252 (language driver 0x03), memo in customer.dbt.
dbf_fixture_table customer() {
    dbf_fixture_table t;
    t.version = 0x83;
    t.language_driver = 0x03;
    t.fields = {{"CUST_ID", 'N', 5, 0}, {"NAME", 'C', 20, 0},    {"CITY", 'C', 15, 0}, {"BORN", 'D', 8, 0},
                {"ACTIVE", 'L', 1, 0},  {"BALANCE", 'N', 10, 2}, {"NOTES", 'M', 10, 0}};
    t.records = {
        row({v::num("1"), v::str("M\xFCller"), v::str("Z\xFCrich"), v::date(1961, 3, 14), v::boolean(true),
             v::num("1250.50"), v::str("Stammkunde seit 1999, zahlt p\xFCnktlich.")}),
        row({v::num("2"), v::str("H\xE9l\xE8ne Dubois"), v::str("Lyon"), v::date(1975, 11, 2), v::boolean(false),
             v::num("-80.25"), v::null()}),
        row({v::num("3"), v::str("Old Account"), v::str("Nowhere"), v::date(1950, 1, 1), v::boolean(false),
             v::num("0.00"), v::str("Closed; marked as deleted.")},
            true),
        row({v::num("4"), v::str("Jo\xE3o Silva"), v::str("S\xE3o Paulo"), v::null(), v::boolean(true),
             v::num("99999.99"),
             v::str("Cr\xE8me br\xFBl\xE9"
                    "e f\xFCr 4 \x80\r\nzweite Zeile")}),
        row({v::num("5"), v::str("Jensen"),
             v::str("\xC6r\xF8sk\xF8"
                    "bing"),
             v::date(2000, 2, 29), v::boolean(true), v::num("12.00"), v::str("")}),
    };
    return t;
}

// FoxPro 2, Russian MS-DOS 866 (language driver 0x65), memo in parts.fpt.
dbf_fixture_table parts() {
    dbf_fixture_table t;
    t.version = 0xF5;
    t.language_driver = 0x65;
    t.fields = {{"PART_NO", 'N', 6, 0},  {"DESCR", 'C', 30, 0}, {"PRICE", 'N', 9, 2},
                {"IN_STOCK", 'L', 1, 0}, {"ADDED", 'D', 8, 0},  {"SPEC", 'M', 10, 0}};
    t.records = {
        row({v::num("1001"),
             v::str("\x83\xA0\xA9\xAA\xA0 \x8C"
                    "8"),
             v::num("0.15"), v::boolean(true), v::date(2019, 7, 1),
             v::str("\x8D\xA5\xE0\xA6\xA0\xA2\xA5\xEE\xE9\xA0\xEF \xE1\xE2\xA0\xAB\xEC, DIN 125")}),
        row({v::num("1002"),
             v::str("\x81\xAE\xAB\xE2 \x8C"
                    "8x40"),
             v::num("0.42"), v::boolean(false), v::date(2020, 1, 15), v::null()}),
        row({v::num("1003"), v::str("\x98\xA0\xA9\xA1\xA0"), v::num("0.05"), v::boolean(true), v::date(2021, 12, 31),
             v::str("\x8E\xE6\xA8\xAD\xAA\xAE\xA2\xA0\xAD\xAD\xA0\xEF")}),
    };
    return t;
}

// Visual FoxPro table of the container sample.dbc; its short field names are
// the first ten characters of the long names the container gives.
dbf_fixture_table orders() {
    dbf_fixture_table t;
    t.version = 0x30;
    t.language_driver = 0x03;
    t.backlink = "sample.dbc";
    t.fields = {{"ORDER_NUMB", 'I', 4, 0}, {"CUSTOMER_N", 'C', 25, 0}, {"ORDER_DATE", 'D', 8, 0},
                {"IS_SHIPPED", 'L', 1, 0}, {"TOTAL_AMOU", 'Y', 8, 0},  {"SHIPPED_AT", 'T', 8, 0},
                {"REMARKS", 'M', 4, 0}};
    t.records = {
        row({v::i(1), v::str("M\xFCller"), v::date(2023, 5, 4), v::boolean(true), v::currency(1999900),
             v::datetime(2023, 5, 6, 14, 30, 0), v::str("Express, K\xF6ln")}),
        row({v::i(2), v::str("Jensen"), v::date(2023, 6, 18), v::boolean(false), v::currency(45000), v::null(),
             v::null()}),
        row({v::i(3), v::str("Jo\xE3o Silva"), v::date(2024, 1, 9), v::boolean(true), v::currency(-1250),
             v::datetime(2024, 1, 10, 9, 5, 59), v::str("Refund")}),
    };
    return t;
}

dbf_fixture_table container() {
    return dbf_fixture::container(dbf_fixture::container_objects(
        {{"orders",
          {"order_number", "customer_name", "order_date", "is_shipped", "total_amount", "shipped_at", "remarks"}}}));
}

}  // namespace

std::vector<sample_table> sample_tables() {
    return {
        {"customer.dbf", customer()}, {"parts.dbf", parts()}, {"orders.dbf", orders()}, {"sample.dbc", container()}};
}

std::vector<std::string> write_sample_folder(const std::filesystem::path& folder) {
    std::vector<std::string> files;
    for (const auto& s : sample_tables()) {
        std::filesystem::path path = folder / s.file;
        files.push_back(s.file);
        std::filesystem::path memo = dbf_fixture::write(path, s.table);
        if (!memo.empty()) files.push_back(memo.filename().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace testkit
