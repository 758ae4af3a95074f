// A Visual FoxPro database container (.dbc with its .dct memo file), read
// once into the long field names of its tables.
//
// The container is an ordinary DBF table whose first four fields are the
// object id, the parent id, the object type and the object name. Live
// "Table" records name tables, live "Field" records name the long names of
// their parent table's fields; deleted records are skipped. The short name
// of a long name is its first 10 characters; a second long name with the
// same short form gets the first 9 characters and a digit 2-9.
//
// All names in dbf_fnames_map are UTF-8, decoded from the container's code
// page. A container never follows a back-link to another container.
#pragma once

#include <map>
#include <string>

#include "dbf/dbf_recordset.h"

// Case-insensitive order of UTF-8 names (all scripts fold).
struct dbf_no_case_less {
    bool operator()(const std::string& a, const std::string& b) const;
};

// table name -> (short field name -> long field name), UTF-8.
using dbf_fnames_map = std::map<std::string, std::map<std::string, std::string, dbf_no_case_less>, dbf_no_case_less>;

class dbf_dbc : public dbf_recordset {
public:
    // Throws dbf_exception (level 0) when the file cannot be read as a DBF
    // table or its first four fields are not integer, integer, character,
    // character.
    dbf_dbc(const std::wstring& path, uint8_t codepage_key, dbf_database* owner);
    ~dbf_dbc() override;

    const dbf_fnames_map& get_fnames_map() const { return fnames_map; }

    dbf_fnames_map fnames_map;
    std::map<int, std::string> objects;  // object id -> table name

private:
    void initialize();
    void add_field(const std::string& table, const std::string& long_name);
};
