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
// their storage size, plus 24 bytes and the NULL bitmap); over 8125 (the
// server refuses an estimate of 8126, "Row size too large (> 8126)") the
// string column of largest in-row cost becomes long text until it fits.
// A column whose type a customisation chose costs what the type takes in
// its character set (sql_column_type); only columns whose type the default
// mapping decides are converted.
// Both estimates and the columns that may still be converted are kept up
// to date as columns come and go to long text, so a table of thousands of
// columns is built in one pass; columns change only through push_back.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "udb/udb_schema.h"

class sql_schema : public udb_schema {
public:
    static constexpr uint32_t row_limit = 65535;
    static constexpr uint32_t innodb_row_limit = 8125;  // the largest in-row estimate InnoDB takes

    // `engine`: the table's storage engine; InnoDB (any case) adds the
    // in-row rule.
    explicit sql_schema(const std::wstring& engine = std::wstring());

    // Appends a copy of the column, whose character set is `charset`
    // (empty: the engine's), and applies the rules; may shrink columns
    // added earlier to size 0.
    void push_back(const t_ftd& column, const std::wstring& charset = std::wstring());

    uint64_t get_total_size() const;                                       // the row estimate
    uint64_t get_inrow_size() const;                                       // the InnoDB in-row estimate
    uint64_t get_inrow_cost(size_t pos) const { return inrow_cost(pos); }  // one column's share
    bool is_innodb() const { return innodb_; }

private:
    bool is_candidate(size_t pos) const;
    uint64_t row_cost(size_t pos) const;
    uint64_t inrow_cost(size_t pos) const;
    uint64_t null_bytes() const;
    // Adds the column's share of the estimates and its place among the
    // candidates (remove: takes them away).
    void count(size_t pos);
    void uncount(size_t pos);
    void convert(size_t pos);

    bool innodb_;
    std::vector<std::wstring> charsets_;
    std::vector<bool> by_rule_;  // a custom conversion rule decides the type
    uint64_t row_sum_ = 0;       // row_cost of every column
    uint64_t inrow_sum_ = 0;     // inrow_cost of every column
    uint64_t nullable_ = 0;
    // Candidates by (size, position) for the row limit and by (in-row cost,
    // position) for InnoDB's, costs above 21 only: the last is the one to
    // convert next (the largest; the later of equal ones).
    std::set<std::pair<uint64_t, size_t>> by_size_;
    std::set<std::pair<uint64_t, size_t>> by_inrow_;
};
