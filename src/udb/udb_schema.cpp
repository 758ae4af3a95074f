#include "udb/udb_schema.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "udb/udb_names.h"

udb_schema::udb_schema(bool flag) : flag(flag) { tk_log(1, "udb_schema::ctor"); }

void udb_schema::fail_not_conform() {
    throw tk_exception(std::string("The structure of data source does not conform to the destination table. For more "
                                   "information see Troubleshooting article of the product documentation."),
                       tk_level_recoverable);
}

udb_schema::udb_schema(const udb_schema& that) : flag(that.flag), counter1(that.counter1), counter2(that.counter2) {
    fields.reserve(that.fields.size());
    for (const auto& f : that.fields) fields.push_back(f ? std::make_unique<t_ftd>(*f) : nullptr);
}

udb_schema& udb_schema::operator=(const udb_schema& that) {
    if (this != &that) {
        udb_schema copy(that);
        fields = std::move(copy.fields);
        flag = that.flag;
        counter1 = that.counter1;
        counter2 = that.counter2;
    }
    return *this;
}

udb_schema::~udb_schema() {
    tk_log(1, "udb_schema::dtor");
    fields.clear();
    tk_log(1, "udb_schema::dtor - at the end");
}

void udb_schema::push_back(const t_ftd& column) { fields.push_back(std::make_unique<t_ftd>(column)); }

void udb_schema::push_back(std::unique_ptr<t_ftd> column) { fields.push_back(std::move(column)); }

void udb_schema::clear() { fields.clear(); }

int udb_schema::find_pos(const std::wstring& name) const {
    for (size_t i = 0; i < fields.size(); ++i) {
        const t_ftd* f = fields[i].get();
        if (f != nullptr && udb_same_name(f->name, name)) return static_cast<int>(i);
    }
    return -1;
}

const t_ftd* udb_schema::find(const std::wstring& name) const {
    int pos = find_pos(name);
    return pos < 0 ? nullptr : fields[static_cast<size_t>(pos)].get();
}

std::vector<std::pair<std::wstring, std::wstring>> udb_schema::renamed_columns(const udb_schema& written) const {
    std::vector<std::pair<std::wstring, std::wstring>> renamed;
    if (written.size() != size()) return renamed;  // not made column for column
    for (size_t i = 0; i < size(); ++i) {
        if (!at(i) || !written.at(i)) continue;
        const std::wstring& asked = at(i)->own_name.empty() ? at(i)->name : at(i)->own_name;
        if (asked != written.at(i)->name) renamed.emplace_back(asked, written.at(i)->name);
    }
    return renamed;
}

bool udb_schema::find_field(const std::wstring& name) const {
    tk_wlog(1, L"udb_schema::find_field(%ls)", name.c_str());
    bool trace = tk_log_enabled(1);
    if (trace) tk_log(1, "Schema size=%d", static_cast<int>(fields.size()));
    for (size_t i = 0; i < fields.size(); ++i) {
        const t_ftd* f = fields[i].get();
        if (f == nullptr) continue;
        if (trace) {
            tk_log(1, "Iterating field #%d", static_cast<int>(i));
            tk_wlog(1, L"Compare with field: '%ls'", f->name.c_str());
        }
        if (udb_same_name(f->name, name)) {
            tk_log(1, "Field found!!!");
            return true;
        }
    }
    tk_log(1, "Field NOT found!!!");
    return false;
}

t_ftd& udb_schema::get_field1(const std::wstring& name) {
    tk_wlog(1, L"udb_schema::get_field1(%ls)", name.c_str());
    int pos = find_pos(name);
    if (pos >= 0) return *fields[static_cast<size_t>(pos)];
    tk_wlog(2, L"Field '%ls' not found", name.c_str());
    // A fresh empty descriptor on every miss, owned by this schema.
    if (missing_)
        *missing_ = t_ftd();
    else
        missing_ = std::make_unique<t_ftd>();
    return *missing_;
}

const t_ftd& udb_schema::get_field2(const std::wstring& name) const {
    tk_wlog(1, L"udb_schema::get_field2(%ls)", name.c_str());
    if (const t_ftd* f = find(name)) return *f;
    tk_wlog(2, L"Field '%ls' not found", name.c_str());
    static const t_ftd empty;  // read-only, so sharing it is safe
    return empty;
}

int32_t udb_schema::get_field_size(const std::wstring& name) const {
    if (const t_ftd* f = find(name)) return static_cast<int32_t>(f->size);
    tk_wlog(3, L"Field '%ls' not found", name.c_str());
    return -1;
}

uint16_t udb_schema::get_field_type(const std::wstring& name) const {
    if (const t_ftd* f = find(name)) return f->vartype;
    tk_wlog(2, L"Field '%ls' not found", name.c_str());
    return VT_NULL;
}

namespace {

void log_mismatch(size_t pos, const t_ftd& src, const t_ftd& dest) {
    tk_log(2, "Column #%d doesn't conform (src_vt=%d, src_size=%u, dest_vt=%d, dest_size=%u)",
           static_cast<int>(pos + 1), static_cast<int>(src.vartype), src.size, static_cast<int>(dest.vartype),
           dest.size);
}

}  // namespace

bool udb_schema::conform_to(const udb_schema& that, bool by_name) const {
    tk_log(1, "udb_schema::conform_to");
    if (fields.size() != that.fields.size()) {
        tk_log(2, "Tables are not conformed: src_size=%d, dest_size=%d", static_cast<int>(fields.size()),
               static_cast<int>(that.fields.size()));
        return false;
    }
    if (!by_name) {
        for (size_t i = 0; i < fields.size(); ++i) {
            const t_ftd* src = fields[i].get();
            const t_ftd* dest = that.fields[i].get();
            if (src == nullptr || dest == nullptr) {
                if (src != dest) return false;  // a column against a hole
                continue;
            }
            if (!src->conform_to(*dest)) {
                log_mismatch(i, *src, *dest);
                return false;
            }
        }
        return true;
    }
    // By name: rows are loaded by column name, so each destination column
    // must receive exactly one source column, whatever the order.
    std::vector<bool> taken(that.fields.size(), false);
    for (size_t i = 0; i < fields.size(); ++i) {
        const t_ftd* src = fields[i].get();
        if (src == nullptr) continue;
        int pos = that.find_pos(src->name);
        if (pos < 0) {
            tk_wlog(2, L"Field '%ls' is not found in record", src->name.c_str());
            return false;
        }
        if (taken[static_cast<size_t>(pos)]) {
            tk_wlog(2, L"Field '%ls' is given twice", src->name.c_str());
            return false;
        }
        taken[static_cast<size_t>(pos)] = true;
        const t_ftd& dest = *that.fields[static_cast<size_t>(pos)];
        if (!src->conform_to(dest)) {
            log_mismatch(i, *src, dest);
            return false;
        }
    }
    // Null entries on either side would leave a destination column unpaired.
    for (size_t i = 0; i < taken.size(); ++i)
        if (!taken[i] && that.fields[i] != nullptr) {
            tk_wlog(2, L"Field '%ls' is not found in record", that.fields[i]->name.c_str());
            return false;
        }
    return true;
}
