#include "mysql/sql_record.h"

#include <mysql.h>

#include "mysql/sql_engine.h"
#include "mysql/sql_field.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_schema.h"

namespace {

bool is_text_or_blob(int type) {
    return type == MYSQL_TYPE_VAR_STRING || type == MYSQL_TYPE_STRING || type == MYSQL_TYPE_VARCHAR ||
           (type >= MYSQL_TYPE_TINY_BLOB && type <= MYSQL_TYPE_BLOB);
}

}  // namespace

sql_record::sql_record(unsigned n_fields, const MYSQL_FIELD* fields, const unsigned long* lengths, MYSQL_ROW row) {
    sql_engine* engine = sql_engine::ptr();
    const bool blob_to_text = engine->blob_to_text;
    tk_log(1, "sql_record::ctor1(n_fields=%d)", int(n_fields));
    TK_ASSERT(fields != nullptr);
    this->fields.reserve(n_fields);
    for (unsigned i = 0; i < n_fields; ++i) {
        const MYSQL_FIELD& column = fields[i];
        const std::wstring name = tk_utf8_to_unicode(std::string_view(column.name, column.name_length));
        const unsigned long length = lengths ? lengths[i] : 0;
        const char* value = row ? row[i] : nullptr;
        const bool binary = column.flags & BINARY_FLAG;
        if (value && is_text_or_blob(column.type) && (!binary || blob_to_text)) {
            std::wstring text = tk_utf8_to_unicode(std::string_view(value, length));
            const int type = blob_to_text ? MYSQL_TYPE_STRING : int(column.type);
            // Decoded text: the binary flag no longer applies.
            add_field(std::make_unique<sql_field>(name, type == MYSQL_TYPE_STRING ? MYSQL_TYPE_VAR_STRING : type,
                                                  text.size(), column.flags & ~BINARY_FLAG, text.c_str()));
        } else {
            add_field(std::make_unique<sql_field>(name, int(column.type), length, column.flags, value));
        }
    }
}

sql_record::sql_record(unsigned n_fields, const udb_schema& schema, const unsigned long* lengths, MYSQL_ROW row) {
    tk_log(1, "sql_record::ctor2(n_fields=%d)", int(n_fields));
    tk_log(1, "schema.size=%d", int(schema.size()));
    this->fields.reserve(n_fields);
    for (unsigned i = 0; i < n_fields && i < schema.size(); ++i) {
        const t_ftd* column = schema.at(i);
        TK_ASSERT(column != nullptr);
        add_field(std::make_unique<sql_field>(*column, lengths ? lengths[i] : 0, row ? row[i] : nullptr));
    }
}
