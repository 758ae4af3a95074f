#include "dbf/dbf_codepages.h"

#include <mutex>

namespace {

struct codepage_row {
    uint8_t key;
    int codepage;
    const wchar_t* description;
};

constexpr codepage_row rows[] = {
    {0x00, 0, L"Default"},
    {0x01, 437, L"U.S. MS-DOS"},
    {0x02, 850, L"International MS-DOS"},
    {0x03, 1252, L"Windows ANSI"},
    {0x04, 10000, L"Standard Macintosh"},
    {0x26, 866, L"866 DOS Russian"},
    {0x57, 1251, L"1251 Windows ANSI"},
    {0x64, 852, L"Eastern European MS-DOS"},
    {0x65, 866, L"Russian MS-DOS"},
    {0x66, 865, L"Nordic MS-DOS"},
    {0x67, 861, L"Icelandic MS-DOS"},
    {0x68, 895, L"Kamenicky (Czech) MS-DOS"},
    {0x69, 620, L"Mazovia (Polish) MS-DOS"},
    {0x6A, 737, L"Greek MS-DOS (437G)"},
    {0x6B, 857, L"Turkish MS-DOS"},
    {0x7E, 1256, L"Arabic Windows"},
    {0x96, 10007, L"Russian Macintosh"},
    {0x97, 10029, L"Eastern European Macintosh"},
    {0x98, 10006, L"Greek Macintosh"},
    {0xC8, 1250, L"Eastern European Windows"},
    {0xC9, 1251, L"Russian Windows"},
    {0xCA, 1254, L"Turkish Windows"},
    {0xCB, 1253, L"Greek Windows"},
};

std::once_flag built;
std::map<uint8_t, int> codepages;
std::map<uint8_t, std::wstring> descriptions;

}  // namespace

void init_codepage_tables() {
    std::call_once(built, [] {
        for (const auto& r : rows) {
            codepages.emplace(r.key, r.codepage);
            descriptions.emplace(r.key, r.description);
        }
    });
}

const std::map<uint8_t, int>& dbf_codepage_map() {
    init_codepage_tables();
    return codepages;
}

const std::map<uint8_t, std::wstring>& dbf_codepage_descriptions() {
    init_codepage_tables();
    return descriptions;
}

int dbf_codepage_of(uint8_t language_driver) {
    const auto& m = dbf_codepage_map();
    auto it = m.find(language_driver);
    return it == m.end() ? 0 : it->second;
}

int dbf_effective_codepage(uint8_t user_key, uint8_t header_byte) {
    int cp = dbf_codepage_of(user_key != 0 ? user_key : header_byte);
    return cp == 0 ? 1252 : cp;
}
