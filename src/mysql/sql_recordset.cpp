#include "mysql/sql_recordset.h"

#include <mysql.h>

#include "mysql/sql_database.h"
#include "mysql/sql_engine.h"
#include "mysql/sql_field.h"
#include "sql/sql_types.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"

namespace {

// The first column of the first row of a one-value answer, as a 32-bit
// integer; 0 for no row or NULL.
int32_t first_int(udb_recordset* rs) {
    if (!rs || rs->is_eof()) return 0;
    udb_record* row = rs->get_item();
    if (!row || row->empty() || !row->at(0) || row->at(0)->is_null_or_empty()) return 0;
    int32_t value = row->at(0)->to_long();
    while (!rs->is_eof()) rs->next();  // read off the rest of the stream
    return value;
}

}  // namespace

sql_recordset::sql_recordset(sql_database* db, const std::wstring& table, std::vector<udb_relationship>* relationships)
    : udb_recordset(db, table, false), sdb_(db), relationships_(relationships) {
    tk_log(1, "sql_recordset::sql_recordset1");
    initialize();
}

sql_recordset::sql_recordset(sql_database* db, const std::wstring& name, const std::wstring& text,
                             std::vector<udb_relationship>* relationships)
    : udb_recordset(db, name, text, false), sdb_(db), relationships_(relationships) {
    tk_log(1, "sql_recordset::sql_recordset2");
    initialize();
}

sql_recordset::~sql_recordset() {
    tk_log(1, "sql_recordset::dtor");
    clean();
    reader_.reset();
}

std::unique_ptr<sql_limited_query> sql_recordset::open_reader(uint32_t limit) {
    return is_query() ? std::make_unique<sql_limited_query>(sdb_, query, true, limit)
                      : std::make_unique<sql_limited_query>(sdb_, name, false, limit);
}

void sql_recordset::initialize() {
    sql_engine* engine = sql_engine::ptr();
    tk_log(1, "sql_recordset::initialize");
    tk_log(1, "is_blob_to_text=%d", int(engine->blob_to_text));
    clean();
    rec_count_ = get_rec_count();
    tk_log(1, "get_rec_count returns %d", int(rec_count_));

    std::wstring select = L"SELECT ";
    // Only the first block is kept here: the opening read is bounded.
    std::unique_ptr<sql_limited_query> first = open_reader(uint32_t(sql_limited_query::block_size));
    const unsigned n = first->field_count();
    const MYSQL_FIELD* columns = first->fields();
    for (unsigned i = 0; i < n; ++i) {
        const MYSQL_FIELD& column = columns[i];
        tk_log(1, "Processing field #%d", int(i));
        const std::wstring column_name = tk_utf8_to_unicode(std::string_view(column.name, column.name_length));
        const std::wstring quoted = sql_engine::get_safe_name(column_name);
        if (i) select += L",";
        if (column.type == MYSQL_TYPE_GEOMETRY) {
            tk_log(1, "Got MYSQL_TYPE_GEOMETRY");
            select += L"ST_AsText(" + quoted + L") as ";
            has_geometry_ = true;
        }
        select += quoted;
        tk_log(1, "GOT FIELD: name=%s, type=%d, size=%d, flags=%d", column.name, int(column.type), int(column.length),
               int(column.flags));
        t_ftd descriptor;
        descriptor.name = column_name;
        descriptor.vartype = get_vartype(int(column.type), column.flags);
        descriptor.size = uint32_t(column.length);
        // Result columns of a query carry no default (def is null); the
        // table read-back takes defaults from SHOW COLUMNS.
        if (column.def && column.def_length)
            descriptor.default_value = ole_variant(tk_utf8_to_unicode(std::string_view(column.def, column.def_length)));
        descriptor.b_not_null = column.flags & NOT_NULL_FLAG;
        descriptor.b_auto_increment = column.flags & AUTO_INCREMENT_FLAG;
        if (descriptor.b_auto_increment) {
            auto_column_ = column_name;
            tk_wlog(1, L"Got auto_number column: '%ls'", column_name.c_str());
        }
        const bool byte_string = descriptor.vartype == VT_BLOB || descriptor.vartype == VT_ARRAY_UI1;
        if (byte_string && (engine->blob_to_text || !(column.flags & BINARY_FLAG))) {
            tk_log(1, "Change type from BLOB to TEXT");
            descriptor.vartype = VT_BSTR;
        }
        if (column.type == MYSQL_TYPE_DECIMAL || column.type == MYSQL_TYPE_NEWDECIMAL) {
            tk_log(1, "Scale/precision: (%d,%d)", int(column.decimals), int(column.length));
            descriptor.scale = column.decimals;
            const unsigned long chars = column.length;
            const unsigned long minus = column.decimals ? 2 : 1;
            descriptor.precision = uint32_t(chars > minus ? chars - minus : chars);
        }
        if (column.type == MYSQL_TYPE_GEOMETRY) {
            // Read and written as well-known text.
            descriptor.vartype = VT_BSTR;
            descriptor.dw_reserved = 2;
        }
        schema.push_back(descriptor);
    }
    first->store_to(block_, &schema);
    first.reset();
    select += L" FROM " + sql_database::name_text(name);
    tk_wlog(1, L"local_select_qry=%ls", select.c_str());

    if (is_query()) {
        tk_log(1, "It's a SQL-query, nothing to do anymore");
    } else if (!auto_column_.empty()) {
        tk_wlog(1, L"Refining auto_number '%ls' (last value)", auto_column_.c_str());
        const std::wstring text =
            L"select max( " + sql_engine::get_safe_name(auto_column_) + L") from " + sql_engine::get_safe_name(name);
        tk_wlog(1, L"auto_number query=%ls", text.c_str());
        std::unique_ptr<udb_recordset> rs = sdb_->query(text);
        last_auto_value_ = first_int(rs.get());
        tk_log(1, "got last value=%d", int(last_auto_value_));
    }
    if (has_geometry_ && !is_query()) query = select;
    tk_log(1, "sql_recordset::initialize - END");
}

int32_t sql_recordset::get_rec_count() {
    tk_log(1, "sql_recordset::get_rec_count");
    const std::wstring text = is_query() ? L"SELECT COUNT(*) FROM (" + query + L") as query"
                                         : L"SELECT COUNT(*) FROM " + sql_database::name_text(name);
    std::unique_ptr<udb_recordset> rs = sdb_->query(text);
    const int32_t count = first_int(rs.get());
    tk_log(1, "sql_recordset::get_rec_count - END (result=%d)", int(count));
    return count;
}

void sql_recordset::clean() {
    tk_log(1, "sql_recordset::clean");
    for (auto& slot : block_) slot.reset();
}

void sql_recordset::append_record(const udb_record&) {
    tk_log(1, "sql_recordset::append_record");
    TK_ASSERT_FAIL();
}

udb_record* sql_recordset::get_item() { return block_[block_index_].get(); }

bool sql_recordset::is_eof() { return int64_t(position_) >= int64_t(rec_count_); }

void sql_recordset::next() {
    tk_log(1, "sql_recordset::next");
    TK_ASSERT(reader_ != nullptr);
    if (block_index_ + 1 >= sql_limited_query::block_size) {
        clean();
        reader_->store_to(block_, is_query() ? nullptr : &schema);
        block_index_ = 0;
    } else {
        ++block_index_;
    }
    ++position_;
}

void sql_recordset::prev() {
    tk_log(1, "sql_recordset::prev");
    if (position_ == 0) return;
    --position_;
    if (block_index_ > 0) --block_index_;
}

void sql_recordset::reset() {
    tk_log(1, "sql_recordset::reset");
    position_ = 0;
    block_index_ = 0;
    reader_.reset();  // frees the connection before the count is sent
    clean();
    rec_count_ = get_rec_count();
    reader_ = open_reader(0);
    reader_->store_to(block_, is_query() ? nullptr : &schema);
}
