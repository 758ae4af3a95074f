// The code pages of DBF text: the user's code-page keys with the descriptions
// the front ends list, and the language-driver marks that table headers carry.
//
// The user's key is a language-driver byte, 0 meaning "Default" (each table
// keeps its own). Its 28 keys keep the meanings their descriptions give (key
// 0x57 is "1251 Windows ANSI"). A header byte is read through the published
// language-driver table instead, where 0x57 is plain ANSI (1252) and the
// national OEM marks, the Asian marks and Hebrew are known too. A level-7
// header with byte 0 names its code page in its language-driver name.
//
// Built once per process by init_codepage_tables() (thread-safe, later calls
// change nothing) and read-only afterwards.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

void init_codepage_tables();

// The user's keys, ascending.
const std::map<uint8_t, int>& dbf_codepage_map();
const std::map<uint8_t, std::wstring>& dbf_codepage_descriptions();

// The code page of exactly this user key, 0 when the byte is not a key.
int dbf_codepage_of(uint8_t key);

// The code page a table header's language-driver byte names, 0 for byte 0
// and for a byte the published table does not define.
int dbf_header_codepage(uint8_t language_driver);

// The header byte that names the code page of a user key, for tables this
// program writes; 0x03 (1252) when the key names no code page.
uint8_t dbf_header_byte_of_key(uint8_t key);

// How a table's text is read: the code page, and what to tell the user
// when the header names a language driver this program does not know
// (empty when there is nothing to tell).
struct dbf_codepage_choice {
    int codepage = 1252;
    std::string unknown_driver;
};

// The user's key when it is not 0; else the header byte; else, for a
// level-7 table, its language-driver name (header bytes 32-63: "DB" and a
// three-digit code page, or "DBWIN..." for 1252); else 1252.
dbf_codepage_choice dbf_choose_codepage(uint8_t user_key, uint8_t header_byte, std::string_view driver_name = {});

// The code page of a user key and a header byte, without a driver name.
int dbf_effective_codepage(uint8_t user_key, uint8_t header_byte);
