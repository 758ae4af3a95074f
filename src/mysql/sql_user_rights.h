// Whether the connected user could build again what a run drops, asked of
// the server itself before anything is dropped.
//
// Each right is tried with a statement that changes nothing (CREATE ...
// IF NOT EXISTS on what exists, a SELECT or an INSERT of no row): the
// server answers as it will answer the run, with the user's global,
// database (wildcards such as db\_% included), table and role grants all
// counted. Only "access denied" answers count as a refusal; any other
// failure (no such table, say) leaves the right to the run.
#pragma once

#include <string>
#include <vector>

class sql_engine;

class sql_user_rights {
public:
    explicit sql_user_rights(sql_engine& engine) : engine_(engine) {}

    // Before the existing database `db` is dropped: the user may create it
    // again, create the tables `tables` in it, insert into them and select
    // from them; else a level-1 tk_exception with the server's words and
    // "The destination database was left as it was.". Lacking only the
    // right to lock tables is traced, not refused.
    void check_database(const std::wstring& db, const std::vector<std::wstring>& tables);
    // Before the existing table `table` of `db` is dropped: the user may
    // create it again, insert into it and select from it; else the same
    // level-1 refusal.
    void check_table(const std::wstring& db, const std::wstring& table);

private:
    // The server's text when it refuses the statement for want of a right;
    // empty for any other outcome.
    std::string denial(const std::wstring& statement);
    // The first denial of reading or filling table `table` of `db`.
    std::string use_denial(const std::wstring& db, const std::wstring& table);
    [[noreturn]] static void refuse(const std::string& what, const std::string& denial);

    sql_engine& engine_;
};
