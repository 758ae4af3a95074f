// The destination schema of a CREATE TABLE, kept within the server's row
// limits while columns are added.
//
// Two estimates are kept. The row estimate (every engine) counts a short
// string column as 4 bytes a character plus its length bytes (1, or 2 past
// 255 bytes), other columns by their size, plus a bit per nullable column;
// at 65536 or more the largest short string column becomes long text
// (size 0) until the row fits. For InnoDB the in-row estimate follows the
// engine's worst case (a string of at most 255 bytes in its character set
// costs those bytes + 1, a longer string, TEXT or BLOB 21, other columns
// their storage size, plus 24 bytes and the NULL bitmap); over 8126 the
// string column of largest in-row cost becomes long text until it fits.
// Only columns whose type the default mapping decides are converted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "udb/udb_schema.h"

class sql_schema : public udb_schema {
public:
    static constexpr uint32_t row_limit = 65535;
    static constexpr uint32_t innodb_row_limit = 8126;

    // `engine`: the table's storage engine; InnoDB (any case) adds the
    // in-row rule.
    explicit sql_schema(const std::wstring& engine = std::wstring());

    // Appends a copy of the column, whose character set is `charset`
    // (empty: the engine's), and applies the rules; may shrink columns
    // added earlier to size 0.
    void push_back(const t_ftd& column, const std::wstring& charset = std::wstring());

    uint64_t get_total_size() const;   // the row estimate
    uint64_t get_inrow_size() const;   // the InnoDB in-row estimate
    bool is_innodb() const { return innodb_; }

private:
    bool is_candidate(size_t pos) const;
    uint64_t row_cost(size_t pos) const;
    uint64_t inrow_cost(size_t pos) const;
    uint64_t null_bytes() const;
    void convert(size_t pos);

    bool innodb_;
    std::vector<std::wstring> charsets_;
    std::vector<bool> by_rule_;  // a custom conversion rule decides the type
};
