#include "dbf/dbf_dbc.h"

#include "dbf/dbf_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

bool dbf_no_case_less::operator()(const std::string& a, const std::string& b) const {
    return tk_compare_no_case(std::string_view(a), std::string_view(b)) < 0;
}

namespace {

dbf_open_options container_options() {
    dbf_open_options o;
    o.container_step = false;  // a container never opens a container
    o.max_columns = 4;         // only the four fields it uses are decoded
    return o;
}

}  // namespace

dbf_dbc::dbf_dbc(const std::wstring& path, uint8_t codepage_key, dbf_database* owner)
    : dbf_recordset(path, udb_open_read, codepage_key, owner, container_options()) {
    tk_log(1, "dbf_dbc::ctor");
    const VARTYPE wanted[4] = {VT_I4, VT_I4, VT_BSTR, VT_BSTR};
    if (schema.size() < 4)
        throw dbf_exception(std::string("the container has fewer than four fields"), tk_level_recoverable);
    for (size_t i = 0; i < 4; ++i)
        if (schema.at(i)->vartype != wanted[i])
            throw dbf_exception(
                std::string("the container's first fields are not integer, integer, character, character"),
                tk_level_recoverable);
    initialize();
}

dbf_dbc::~dbf_dbc() = default;

void dbf_dbc::initialize() {
    tk_log(1, "dbf_dbc::initialize");
    for (reset(); !is_eof(); next()) {
        udb_record* r = get_item();
        if (!r || static_cast<dbf_record*>(r)->b_deleted) continue;
        const int id = r->at(0)->to_long();
        const int parent = r->at(1)->to_long();
        const std::wstring type = r->at(2)->to_wstring();
        const std::string obj = tk_unicode_to_utf8(r->at(3)->to_wstring());
        tk_log(1, "id=%d, parent_id=%d", id, parent);
        if (tk_equal_no_case(type, L"Table")) {
            tk_log(1, "Got table '%s'", obj.c_str());
            objects.emplace(id, obj);
        } else if (tk_equal_no_case(type, L"Field")) {
            auto t = objects.find(parent);
            if (t == objects.end()) {
                tk_log(2, "Parent table not found, got field '%s'", obj.c_str());
                continue;
            }
            add_field(t->second, obj);
        }
    }
    reset();
}

void dbf_dbc::add_field(const std::string& table, const std::string& long_name) {
    tk_log(1, "Got field '%s.%s'", table.c_str(), long_name.c_str());
    auto& fields = fnames_map[table];
    const std::wstring wide = tk_utf8_to_unicode(long_name);
    std::string short_name = tk_unicode_to_utf8(wide.substr(0, 10));
    auto it = fields.find(short_name);
    if (it != fields.end()) {
        if (tk_equal_no_case(std::string_view(it->second), std::string_view(long_name))) {
            tk_log(1, "Mapping for column name exists, skip it");
            return;
        }
        tk_log(1, "Name '%s' exists, generate another short form", short_name.c_str());
        short_name.clear();
        for (int d = 2; d <= 9; ++d) {
            std::string cand = tk_unicode_to_utf8(wide.substr(0, 9)) + std::to_string(d);
            if (fields.find(cand) == fields.end()) {
                short_name = cand;
                tk_log(1, "New short form: %s", cand.c_str());
                break;
            }
        }
        if (short_name.empty()) return;
    }
    fields.emplace(short_name, long_name);
    tk_log(1, "Inserted: (%s, {%s->%s})", table.c_str(), short_name.c_str(), long_name.c_str());
}
