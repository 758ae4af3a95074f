// The model's operations write their trace lines, non-ASCII names as UTF-8.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "testkit/temp_dir.h"
#include "tk/tk_logger.h"
#include "udb/udb_database.h"
#include "udb/udb_record.h"
#include "udb/udb_schema.h"
#include "udb/udb_validator.h"

namespace {

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(UdbTrace, OperationsLogTheirLines) {
    if (tk_logger::exists()) GTEST_SKIP() << "a logger is already registered";
    temp_dir dir;
    std::string log = dir.file("trace.log");
    {
        tk_logger logger(log.c_str(), true, 1, false);
        udb_record r;
        r.add_field(std::make_unique<udb_field>(L"Größe", 3, ole_variant(1)));
        r.get_field(L"GRÖßE");
        udb_schema s;
        s.push_back(t_ftd(10, L"a", VT_BSTR, false, false));
        s.get_field_size(L"nope");
        udb_validator v(64);
        v.get_safe_name(L"x");
    }
    std::string text = read_all(log);
    EXPECT_NE(text.find("udb_record::get_field(GRÖßE)\r\n"), std::string::npos);
    EXPECT_NE(text.find("Field found at pos=0\r\n"), std::string::npos);
    EXPECT_NE(text.find("\tfield name='a', vartype=8, size=10, b_not_null=0, reserved=0\r\n"), std::string::npos);
    EXPECT_NE(text.find("Field 'nope' not found\r\n"), std::string::npos);
    EXPECT_NE(text.find("udb_validator::get_safe_name(x)\r\n"), std::string::npos);
}

}  // namespace
