// Opening a DBF table: reads the header (standard, dBASE II and level-7
// forms) and the field descriptors, and decides once what every cursor over
// the table needs: the code page, the field widths, the record count, the
// columns and their null-flag bits, the container's back-link (followed to
// the database's .dbc when the owner uses one), names made unique and the
// schema. The result is a dbf_table_layout the recordset keeps and its
// readers copy. An opener serves one open() and refers to what it was
// given only while that runs.
//
// Every failure of the table's own file is a level-0 dbf_exception; what
// lets the table be read on (an unknown language driver, a count that does
// not match the file) goes to the reporter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbf/dbf_column.h"
#include "dbf/dbf_field_descriptor.h"
#include "dbf/dbf_record.h"
#include "dbf/dbf_report.h"
#include "tk/tk_huge_file.h"
#include "udb/udb_schema.h"

class dbf_database;

// The 32-byte table header as read (dBASE II fields filled in).
struct dbf_header {
    uint8_t version = 0;
    uint8_t update[3] = {};
    int32_t last_rec = 0;
    uint16_t data_offset = 0;
    uint16_t rec_size = 0;
    uint8_t flags = 0;
    uint8_t language_driver = 0;
};

struct dbf_open_options {
    bool container_step = true;     // follow the back-link to a .dbc
    size_t max_columns = SIZE_MAX;  // decode only the first columns
};

// What opening a table decided. The record count is min(header count, whole
// records in the file) when opened; the recordset lowers it when the file
// becomes shorter and raises it as it appends.
struct dbf_table_layout {
    dbf_header header;
    int codepage = 1252;
    uint32_t data_offset = 0;  // first record, as used
    uint32_t terminator = 0;   // position of the 0x0D (0: none found)
    uint32_t record_count = 0;
    std::vector<dbf_field_descriptor7> descriptors;
    std::vector<uint32_t> widths;     // per descriptor
    std::vector<dbf_column> columns;  // per schema column
    std::vector<std::wstring> names;  // per schema column
    // Per schema column, the source's name of one read under another (a
    // duplicate, "#7" for the seventh field without a name); else empty.
    std::vector<std::wstring> own_names;
    int nullflags_offset = -1;
    uint32_t nullflags_width = 0;
    std::string backlink;  // the container path of the back-link area, "" if none
};

class dbf_table_opener {
public:
    // `file` is the open table file at `path`; `owner` (may be null) is the
    // database whose container gives long names; `codepage_key` is the
    // user's (0: the header's).
    dbf_table_opener(tk_huge_file& file, const std::wstring& path, const dbf_report& reporter, dbf_database* owner,
                     const dbf_open_options& options, uint8_t codepage_key);

    // Reads and decides the layout; appends one column per schema column to
    // `schema` and one field to `record` for each of the first
    // options.max_columns.
    dbf_table_layout open(udb_schema& schema, dbf_record& record);

private:
    // The header and the descriptors, in the form the version byte names.
    void read_header(uint64_t file_size);
    void choose_codepage(std::string_view driver_name);
    void read_descriptors_standard(uint64_t file_size);
    void read_descriptors_dbase2(uint64_t file_size);
    void add_descriptor(const dbf_field_descriptor7& fd);
    void check_widths();
    void count_records(uint64_t file_size);
    void build_columns();
    void container_step(uint64_t file_size);
    void refine_from_dbc();
    void make_names_unique();
    void build_schema(udb_schema& schema, dbf_record& record);

    // Of the `extra` bytes at `end` past the records, those that are not
    // the end-of-file byte.
    uint64_t stray_bytes(uint64_t end, uint64_t extra);
    tk_huge_file& file_;
    const std::wstring& path_;
    std::string fs_path_;
    const dbf_report& reporter_;
    dbf_database* owner_;
    const dbf_open_options& options_;
    uint8_t codepage_key_;
    dbf_table_layout layout_;
};
