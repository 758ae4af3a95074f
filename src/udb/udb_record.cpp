#include "udb/udb_record.h"

#include "tk/tk_logger.h"
#include "udb/udb_names.h"

udb_record::udb_record() = default;

udb_record::~udb_record() {
    tk_log(1, "udb_record::dtor");
    reset();
}

udb_record::udb_record(udb_record&&) noexcept = default;
udb_record& udb_record::operator=(udb_record&&) noexcept = default;

void udb_record::reset() {
    tk_log(1, "udb_record::reset");
    fields.clear();
}

int udb_record::find_pos(const std::wstring& name) const {
    bool trace = tk_log_enabled(1);
    for (size_t i = 0; i < fields.size(); ++i) {
        const udb_field* f = fields[i].get();
        if (f == nullptr) continue;
        if (trace) tk_wlog(1, L"Processing %ls", f->name.c_str());
        if (udb_same_name(f->name, name)) return static_cast<int>(i);
    }
    return -1;
}

bool udb_record::find_field(const std::wstring& name) const {
    tk_wlog(1, L"udb_record::find_field(%ls)", name.c_str());
    return find_pos(name) >= 0;
}

udb_field& udb_record::get_field(const std::wstring& name) {
    tk_wlog(1, L"udb_record::get_field(%ls)", name.c_str());
    int pos = find_pos(name);
    if (pos >= 0) {
        tk_log(1, "Field found at pos=%d", pos);
        return *fields[static_cast<size_t>(pos)];
    }
    // A fresh empty field on every miss: what a caller wrote into the last
    // one never shows up in a later answer.
    if (missing_)
        *missing_ = udb_field();
    else
        missing_ = std::make_unique<udb_field>();
    return *missing_;
}

const udb_field& udb_record::get_field(const std::wstring& name) const {
    tk_wlog(1, L"udb_record::get_field(%ls)", name.c_str());
    int pos = find_pos(name);
    if (pos >= 0) {
        tk_log(1, "Field found at pos=%d", pos);
        return *fields[static_cast<size_t>(pos)];
    }
    static const udb_field empty;  // read-only, so sharing it is safe
    return empty;
}

int32_t udb_record::get_total_size() const {
    tk_log(1, "udb_record::get_total_size");
    // Asked for every record written: the traced walk only when tracing.
    if (tk_log_enabled(1)) return total_size<true>();
    return total_size<false>();
}

template <bool Traced>
int32_t udb_record::total_size() const {
    int64_t sum = 0;
    const size_t n = fields.size();
    for (size_t i = 0; i < n; ++i) {
        const udb_field* f = fields[i].get();
        if (f == nullptr) {
            tk_log(3, "Incorrect field #%d", static_cast<int>(i));
            continue;
        }
        if (f->get_type() != VT_EMPTY) sum += f->get_size();
        if (Traced) {
            tk_log(1, "size=%lld", static_cast<long long>(sum));
            tk_log(1, "processed field %d of %d", static_cast<int>(i + 1), static_cast<int>(fields.size()));
        }
    }
    // The writers size statements from this; never let it wrap negative.
    return sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum);
}

void udb_record::add_field(std::unique_ptr<udb_field> field) { fields.push_back(std::move(field)); }

udb_field& udb_record::add_field(const udb_field& field) {
    fields.push_back(std::make_unique<udb_field>(field));
    return *fields.back();
}
