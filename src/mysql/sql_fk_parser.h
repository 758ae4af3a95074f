// Extracts the foreign keys of one table from its SHOW CREATE TABLE text.
//
// Each line holding "CONSTRAINT <name> FOREIGN KEY (<cols>) REFERENCES
// <table> (<cols>) <rule>" becomes one udb_relationship; other lines are
// skipped. The text is UTF-8.
#pragma once

#include <string>
#include <vector>

#include "udb/udb_relationship.h"

class sql_fk_parser {
public:
    sql_fk_parser(const std::wstring& table, const std::string& create_text);

    // Appends one relationship per foreign key, in text order.
    void do_parse(std::vector<udb_relationship>& relationships) const;

    // The names of a backquoted column list ("`a`, `b`").
    static std::vector<std::wstring> get_columns(const std::string& text);
    static std::string trim(const std::string& text);

private:
    std::wstring table_;
    std::vector<std::string> chunks_;
};
