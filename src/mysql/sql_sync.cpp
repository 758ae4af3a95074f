#include "mysql/sql_sync.h"

#include "tk/tk_logger.h"
#include "udb/udb_recordset.h"

sql_sync::sql_sync(udb_recordset* table) : table_(table) { tk_log(1, "sql_sync::ctor"); }

std::wstring sql_sync::get_filter_subquery(const std::wstring& key) const {
    tk_wlog(1, L"sql_sync::get_filter_subquery(%ls,%ls)", table_->name.c_str(), key.c_str());
    // The model's rules, whatever the table overrides.
    return table_->udb_recordset::get_filter_subquery(key);
}
