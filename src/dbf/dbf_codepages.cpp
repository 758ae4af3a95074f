#include "dbf/dbf_codepages.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "tk/tk_text.h"

namespace {

struct codepage_row {
    uint8_t key;
    int codepage;
    const wchar_t* description;
};

// The user's keys. 0x26 and 0x57 are keys of this program's own; the others
// are the language-driver marks of the published FoxPro code-page table.
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
    {0x78, 950, L"Traditional Chinese (Hong Kong SAR, Taiwan) Windows"},
    {0x79, 949, L"Korean Windows"},
    {0x7A, 936, L"Chinese Simplified (PRC, Singapore) Windows"},
    {0x7B, 932, L"Japanese Windows"},
    {0x7C, 874, L"Thai Windows"},
    {0x7E, 1256, L"Arabic Windows"},
    {0x96, 10007, L"Russian Macintosh"},
    {0x97, 10029, L"Eastern European Macintosh"},
    {0x98, 10006, L"Greek Macintosh"},
    {0xC8, 1250, L"Eastern European Windows"},
    {0xC9, 1251, L"Russian Windows"},
    {0xCA, 1254, L"Turkish Windows"},
    {0xCB, 1253, L"Greek Windows"},
};

struct header_mark {
    uint8_t byte;
    int codepage;
};

// Header bytes beyond the user's keys, from the published language-driver
// table: the national OEM drivers of dBASE, the Asian double-byte marks and
// the ANSI marks 0x57-0x59.
constexpr header_mark marks[] = {
    {0x08, 865}, {0x09, 437},  {0x0A, 850},  {0x0B, 437},  {0x0D, 437},  {0x0E, 850}, {0x0F, 437}, {0x10, 850},
    {0x11, 437}, {0x12, 850},  {0x13, 932},  {0x14, 850},  {0x15, 437},  {0x16, 850}, {0x17, 865}, {0x18, 437},
    {0x19, 437}, {0x1A, 850},  {0x1B, 437},  {0x1C, 863},  {0x1D, 850},  {0x1F, 852}, {0x22, 852}, {0x23, 852},
    {0x24, 860}, {0x25, 850},  {0x26, 866},  {0x37, 850},  {0x40, 852},  {0x4D, 936}, {0x4E, 949}, {0x4F, 950},
    {0x50, 874}, {0x57, 1252}, {0x58, 1252}, {0x59, 1252}, {0x7D, 1255},
};

std::once_flag built;
std::map<uint8_t, int> codepages;
std::map<uint8_t, std::wstring> descriptions;
std::array<int, 256> header_codepages{};

void build() {
    for (const auto& r : rows) {
        codepages.emplace(r.key, r.codepage);
        descriptions.emplace(r.key, r.description);
        header_codepages[r.key] = r.codepage;
    }
    // A mark overrides a key of the same byte: in a header 0x57 is ANSI.
    for (const auto& m : marks) header_codepages[m.byte] = m.codepage;
}

std::string hex_byte(uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

std::string unknown_text(const std::string& driver) {
    return "Language driver " + driver + " is unknown; text is read as code page 1252";
}

// A level-7 language-driver name: "DB" and three digits naming the code
// page ("DB437US0"), or "DBWIN" and the locale for Windows ANSI.
dbf_codepage_choice choice_of_name(std::string_view name) {
    dbf_codepage_choice choice;
    name = name.substr(0, std::min(name.find('\0'), name.size()));
    if (name.substr(0, 5) == "DBWIN" || name.size() < 5 || name.substr(0, 2) != "DB") return choice;
    int cp = 0;
    for (size_t i = 2; i < 5; ++i) {
        if (name[i] < '0' || name[i] > '9') return choice;
        cp = cp * 10 + (name[i] - '0');
    }
    if (tk_is_codepage_supported(cp))
        choice.codepage = cp;
    else
        choice.unknown_driver = unknown_text(std::string(name));
    return choice;
}

}  // namespace

void init_codepage_tables() { std::call_once(built, build); }

const std::map<uint8_t, int>& dbf_codepage_map() {
    init_codepage_tables();
    return codepages;
}

const std::map<uint8_t, std::wstring>& dbf_codepage_descriptions() {
    init_codepage_tables();
    return descriptions;
}

int dbf_codepage_of(uint8_t key) {
    const auto& m = dbf_codepage_map();
    auto it = m.find(key);
    return it == m.end() ? 0 : it->second;
}

int dbf_header_codepage(uint8_t language_driver) {
    init_codepage_tables();
    return header_codepages[language_driver];
}

uint8_t dbf_header_byte_of_key(uint8_t key) {
    const int cp = dbf_codepage_of(key);
    if (cp == 0) return 0x03;
    if (dbf_header_codepage(key) == cp) return key;
    // A key whose byte means another code page in a header (0x57): the
    // first user key whose byte names the same code page in a header.
    for (const auto& [byte, page] : dbf_codepage_map())
        if (page == cp && dbf_header_codepage(byte) == cp) return byte;
    return 0x03;
}

dbf_codepage_choice dbf_choose_codepage(uint8_t user_key, uint8_t header_byte, std::string_view driver_name) {
    dbf_codepage_choice choice;
    if (user_key != 0) {
        const int cp = dbf_codepage_of(user_key);
        if (cp != 0) choice.codepage = cp;
        return choice;
    }
    if (header_byte == 0) return choice_of_name(driver_name);
    const int cp = dbf_header_codepage(header_byte);
    if (cp != 0)
        choice.codepage = cp;
    else
        choice.unknown_driver = unknown_text(hex_byte(header_byte));
    return choice;
}

int dbf_effective_codepage(uint8_t user_key, uint8_t header_byte) {
    return dbf_choose_codepage(user_key, header_byte).codepage;
}
