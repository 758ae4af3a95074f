// One record of a DBF table: the deletion flag and one dbf_field per column
// of the schema, in descriptor order, carrying the schema's names. The
// recordset owns it and decodes each record into the same fields.
#pragma once

#include "udb/udb_record.h"

class dbf_record : public udb_record {
public:
    dbf_record() = default;
    ~dbf_record() override;

    bool b_deleted = false;
    int codepage = 0;  // the code page its text was read with
};
