// The DBF table and memo file layouts, as the reader and the writer use
// them. Offsets are in bytes from the start of their record; LE and BE mark
// little- and big-endian integers. Names ending in _at are offsets, names
// ending in _size are widths.
//
// Table header, dBASE III and later (32 bytes; 68 for dBASE level 7)
//   offset  size  meaning
//   0       1     version byte (0x02 is dBASE II, laid out below)
//   1       3     date of the last update: year (modulo 100), month, day
//   4       4     record count (LE)
//   8       2     header length, the offset of the first record (LE)
//   10      2     record length, the deletion flag included (LE)
//   28      1     table flags (Visual FoxPro: 0x02 has memos, 0x04 is a database container)
//   29      1     language driver, the mark of the table's code page
//   32      32    level 7 only: language driver name
//   The field descriptors follow the header, ended by the byte 0x0D.
//
// Table header, dBASE II (8 bytes)
//   0       1     version byte 0x02
//   1       2     record count (LE)
//   3       3     date of the last update
//   6       2     record length (LE)
//   At most 32 descriptors of 16 bytes follow, ended by 0x0D; the records
//   start at 521 (some writers put them 33 bytes behind the terminator).
//
// Field descriptor (32 bytes)
//   0       11    name, NUL-padded (10 characters at most)
//   11      1     type letter
//   12      4     Visual FoxPro: the field's offset in the record (LE)
//   16      1     length
//   17      1     decimals; for long non-numeric fields the length's high byte
//   18      1     Visual FoxPro field flags (dbf_flag_* in dbf_field_descriptor.h)
//
// Field descriptor, dBASE II (16 bytes)
//   0       11    name, NUL-padded
//   11      1     type letter
//   12      1     length
//   15      1     decimals
//
// Field descriptor, dBASE level 7 (48 bytes)
//   0       32    name, NUL-padded
//   32      1     type letter
//   33      1     length
//   34      1     decimals
//
// Back-link, Visual FoxPro (versions 0x30-0x32): right after the 0x0D
//   0       263   path of the table's database container (.dbc), NUL-padded;
//                 empty or blank for a free table
//
// The records follow the header; the file ends with the byte 0x1A. A memo
// field holds a reference to its memo: ten digits as text, blank for no
// memo; a field of four bytes in any version, and every memo field of
// Visual FoxPro and database containers, a 4-byte block number (LE).
//
// Memo header, dBASE IV and later (.dbt, dbt_memo_file)
//   0       4     next free block (LE)
//   20      2     block size (LE); the reader needs the first 24 bytes
//   A memo block: 4 bytes unused, then the memo's length (4, LE) counting
//   these 8 bytes, then the memo.
//
// Memo header, dBASE III (.dbt, old_memo_file)
//   0       4     next free block (LE), in blocks of 512 bytes
//   16      1     version byte (3)
//   The header is block 0; a memo runs from its block to the first 0x1A
//   (written as two) or the end of the file.
//
// Memo header, FoxPro (.fpt, and the .dct of a database container)
//   0       4     next free block (BE)
//   6       2     block size (BE)
//   The header fills 512 bytes. A memo block: its type (4, BE; 1 is text),
//   its length (4, BE), then the memo.
//
// Memo header, SMT (.smt)
//   4       4     block size (LE)
//   The header fills 512 bytes; a memo runs from its block to the first NUL
//   or the end of the file. The record's reference is 10 bytes, the block
//   number at 6 (4, LE); ten blanks mean no memo.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dbf_format {

constexpr uint8_t descriptors_end = 0x0D;  // the byte after the last descriptor
constexpr uint8_t file_end = 0x1A;         // the byte after the last record

namespace header {
constexpr size_t size = 32;
constexpr size_t level7_size = 68;
constexpr size_t version_at = 0;
constexpr size_t updated_at = 1;
constexpr size_t updated_size = 3;
constexpr size_t record_count_at = 4;
constexpr size_t data_offset_at = 8;
constexpr size_t record_size_at = 10;
constexpr size_t flags_at = 28;
constexpr size_t language_driver_at = 29;
constexpr size_t driver_name_at = 32;
constexpr size_t driver_name_size = 32;
// Table flags.
constexpr uint8_t flag_memo = 0x02;
constexpr uint8_t flag_container = 0x04;
}  // namespace header

namespace header2 {
constexpr size_t size = 8;
constexpr size_t record_count_at = 1;
constexpr size_t record_size_at = 6;
constexpr size_t max_descriptors = 32;
constexpr size_t data_offset = 521;
constexpr size_t data_after_terminator = 33;  // where some writers put the records instead
}  // namespace header2

namespace descriptor {
constexpr size_t size = 32;
constexpr size_t name_at = 0;
constexpr size_t name_size = 11;
constexpr size_t type_at = 11;
constexpr size_t record_offset_at = 12;
constexpr size_t length_at = 16;
constexpr size_t decimals_at = 17;
constexpr size_t flags_at = 18;
}  // namespace descriptor

namespace descriptor2 {
constexpr size_t size = 16;
constexpr size_t name_at = 0;
constexpr size_t name_size = 11;
constexpr size_t type_at = 11;
constexpr size_t length_at = 12;
constexpr size_t decimals_at = 15;
}  // namespace descriptor2

namespace descriptor7 {
constexpr size_t size = 48;
constexpr size_t name_at = 0;
constexpr size_t name_size = 32;
constexpr size_t type_at = 32;
constexpr size_t length_at = 33;
constexpr size_t decimals_at = 34;
}  // namespace descriptor7

namespace backlink {
constexpr size_t size = 263;
}  // namespace backlink

// The memo reference in a record.
namespace memo_reference {
constexpr size_t text_size = 10;   // digits of a block number as text
constexpr size_t binary_size = 4;  // a block number (LE)
}  // namespace memo_reference

namespace dbt4 {
constexpr size_t next_block_at = 0;
constexpr size_t block_size_at = 20;
constexpr size_t used_header_size = 24;
constexpr size_t block_length_at = 4;
constexpr size_t block_header_size = 8;
}  // namespace dbt4

namespace dbt3 {
constexpr size_t next_block_at = 0;
constexpr size_t version_at = 16;
constexpr uint8_t version = 0x03;
constexpr size_t used_header_size = 4;
constexpr uint32_t block_size = 512;
constexpr uint32_t first_free_block = 1;  // the header is block 0
constexpr char memo_end = 0x1A;
}  // namespace dbt3

namespace fpt {
constexpr size_t next_block_at = 0;
constexpr size_t block_size_at = 6;
constexpr size_t used_header_size = 8;
constexpr uint32_t header_size = 512;
constexpr size_t block_type_at = 0;
constexpr size_t block_length_at = 4;
constexpr size_t block_header_size = 8;
constexpr uint32_t text_block = 1;  // the block type of a memo of text
// What a new memo file holds: its blocks start behind the header.
constexpr uint32_t new_file_block_size = 64;
constexpr uint32_t new_file_next_block = header_size / new_file_block_size;
}  // namespace fpt

namespace smt {
constexpr size_t block_size_at = 4;
constexpr uint32_t header_size = 512;
constexpr size_t reference_size = 10;
constexpr size_t reference_block_at = 6;
constexpr char memo_end = '\0';
}  // namespace smt

}  // namespace dbf_format
