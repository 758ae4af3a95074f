// The language-driver bytes of DBF headers with their code pages and the
// descriptions the front ends list (23 keys, ascending). The same bytes serve
// as the user's code-page key, 0 meaning "Default" (each table keeps its own).
//
// Built once per process by init_codepage_tables() (thread-safe, later calls
// change nothing) and read-only afterwards.
#pragma once

#include <cstdint>
#include <map>
#include <string>

void init_codepage_tables();

const std::map<uint8_t, int>& dbf_codepage_map();
const std::map<uint8_t, std::wstring>& dbf_codepage_descriptions();

// The code page of exactly this key, 0 when the byte is not a key.
int dbf_codepage_of(uint8_t language_driver);

// The code page a table's text is read with: the user's key when it is not
// 0, else the header's byte; a byte that gives no code page means 1252.
int dbf_effective_codepage(uint8_t user_key, uint8_t header_byte);
