#include "udb/udb_database.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/udb_names.h"
#include "udb/udb_recordset.h"

udb_database::udb_database(const std::wstring& name, int32_t open_mode, bool case_sensitive)
    : open_mode(open_mode), name(name), case_sensitive(case_sensitive) {
    tk_wlog(2, L"udb_database::ctor(%ls,%d)", name.c_str(), open_mode);
}

udb_database::~udb_database() { tk_log(2, "udb_database::dtor"); }

std::unique_ptr<udb_recordset> udb_database::create_table(const std::wstring&, const udb_schema&, const udb_indexes&,
                                                          const std::wstring&) {
    tk_log(1, "udb_database::create_table(partition)");
    TK_ASSERT_FAIL();
}

void udb_database::create_index(const std::wstring&, udb_recordset*, const udb_index&) {}

void udb_database::create_indexes(const std::wstring& name, udb_recordset* table, const udb_indexes& indexes) {
    tk_wlog(2, L"udb_database::create_indexes(%ls)", name.c_str());
    tk_log(1, "idxs.size=%d", static_cast<int>(indexes.size()));
    for (const udb_index& idx : indexes) create_index(name, table, idx);
    tk_log(1, "udb_database::create_indexes - at the END");
}

void udb_database::create_views(const udb_query_list&) {}

void udb_database::delete_fk(const std::wstring&) {}

void udb_database::delete_idx(const std::wstring&, const udb_index&) {}

bool udb_database::delete_tab(const std::wstring& name) {
    tk_wlog(2, L"udb_database::delete_tab(%ls)", name.c_str());
    for (auto it = table_names.begin(); it != table_names.end(); ++it) {
        if (udb_same_name(*it, name, case_sensitive)) {
            table_names.erase(it);
            return true;
        }
    }
    tk_log(2, "Table not found!");
    return false;
}

void udb_database::empty_table(const std::wstring& name) {
    // The name is quoted so that it can never change the statement.
    std::wstring quoted;
    for (wchar_t c : name) {
        if (c == L'`') quoted.push_back(L'`');
        quoted.push_back(c);
    }
    query(L"delete from `" + quoted + L"`");
}

void udb_database::clear_names(std::vector<std::wstring>& names) { names.clear(); }

std::unique_ptr<udb_recordset> udb_database::query(const std::wstring&) { TK_ASSERT_FAIL(); }

void udb_database::create_relationships(const std::vector<udb_relationship>&) {}

std::vector<std::wstring>& udb_database::get_table_names() { return table_names; }

bool udb_database::is_table_exist(const std::wstring& name) {
    tk_wlog(2, L"udb_database::is_table_exist(%ls,case_sensitive=%d)", name.c_str(), case_sensitive ? 1 : 0);
    if (table_names.empty()) tk_log(2, "Tables list is EMPTY!");
    bool trace = tk_log_enabled(1);
    for (const std::wstring& t : table_names) {
        if (trace) tk_wlog(1, L"Compare with %ls", t.c_str());
        if (udb_same_name(t, name, case_sensitive)) {
            tk_log(1, "table exists");
            return true;
        }
    }
    tk_log(1, "table not found");
    return false;
}
