// dBASE III / FoxBASE memo file (.dbt): 512-byte blocks; a memo runs from
// its block to the first 0x1A or the end of the file.
#pragma once

#include "dbf/dbf_memo_file.h"

class old_memo_file : public dbf_memo_file {
public:
    // Throws dbf_exception "Failed to read MEMO field" when the header's
    // next free block is 0 or the header is missing, "Memo file is
    // corrupted" for a file under 4 bytes.
    old_memo_file(const std::string& path, int mode);
    void read_memo(uint32_t block, std::string& data) override;

private:
    uint32_t next_block_ = 0;
};
