#include "dump/dmp_recordset.h"

#include <cstring>

#include "dump/dmp_database.h"
#include "sql/sql_dialect.h"
#include "sql/sql_field_binding.h"
#include "sql/sql_text_cursor.h"
#include "sql/sql_types.h"
#include "sql/sql_values.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/t_ftd.h"
#include "udb/udb_custom_conversion.h"

namespace {

// A text field whose text is taken over, not copied (a value may be large).
struct text_field : udb_field {
    text_field(const udb_field& field, std::wstring&& text) : udb_field(field.name, field.size, ole_variant()) {
        set_text_value(std::move(text));
    }
};

// The text field with '?' for each character `codepage` lacks, or null when
// it holds them all (or the value is no text, or a rule writes it).
std::shared_ptr<const udb_field> narrowed_copy(const udb_field& field, int codepage) {
    if (field.get_type() != VT_BSTR || udb_custom_conversion::is_acceptable2(field)) return nullptr;
    std::wstring text;
    if (tk_codepage_lacks(field.get_text(), codepage, &text) == 0) return nullptr;
    return std::make_shared<text_field>(field, std::move(text));
}

// a == b for the field names, compared for every value: two characters
// at a time, as names are short.
static_assert(sizeof(wchar_t) == 4, "two wide characters fill eight bytes");
bool same_text(const std::wstring& a, const std::wstring& b) {
    size_t n = a.size();
    if (n != b.size()) return false;
    const wchar_t* x = a.data();
    const wchar_t* y = b.data();
    for (; n >= 2; n -= 2, x += 2, y += 2) {
        uint64_t u, v;
        std::memcpy(&u, x, sizeof u);
        std::memcpy(&v, y, sizeof v);
        if (u != v) return false;
    }
    return n == 0 || *x == *y;
}

}  // namespace

dmp_recordset::dmp_recordset(dmp_database* dump, const std::wstring& table, const udb_schema& columns,
                             const std::vector<std::wstring>& charsets)
    : udb_recordset(dump, table, true),
      dump_(dump),
      eol_(dump->get_options().get_eol()),
      verb_(dump->get_options().on_existing == dump_options::existing::replace_rows ? "REPLACE INTO "
                                                                                    : "INSERT INTO ") {
    tk_wlog(2, L"dmp_recordset::dmp_recordset(%ls)", table.c_str());
    schema = columns;
    // The UTF-8 sets hold every character: a table of them checks nothing.
    bool checked = false;
    for (const std::wstring& charset : charsets) {
        codepages_.push_back(sql_charset_codepage(charset));
        checked = checked || codepages_.back() != 0;
    }
    if (checked)
        charsets_ = charsets;
    else
        codepages_.clear();
}

dmp_recordset::~dmp_recordset() {
    tk_log(1, "dmp_recordset::dtor");
    if (!finished_) {
        try {
            write_last();
        } catch (const std::exception& e) {
            // The database has failed with this and reports it at its finish().
            tk_log(3, "The last rows of the table were not written: %s", e.what());
        } catch (...) {
        }
        if (narrowed_ != 0) tk_log(3, "%s", narrowed_report().c_str());
    }
    if (dump_) dump_->detach(this);
}

// Pairs each destination column with a field of the first record, as the
// columns were named; columns the record lacks are left out.
void dmp_recordset::pair_columns(const udb_record& record) {
    const sql_field_binding binding(record, schema, dump_->get_dialect());
    std::string list;
    for (const sql_field_binding::cell& c : binding.by_columns(sql_field_binding::missing::leave_out)) {
        if (!columns_.empty()) list += ", ";
        list += dump_->quote_name(schema.at(c.column)->name);
        columns_.push_back(c.column);
        targets_.push_back(schema.at(c.column));
        sources_.push_back(record.at(c.field)->name);
        positions_.push_back(c.field);
    }
    head_ = verb_ + dump_->quote_name(name) + "(" + list + ")";
    paired_ = true;
}

// The fields of a record in column order. Records normally come with
// their fields where the first one had them; any other order is looked up.
// A record whose layout is fixed keeps what was found for its next rows.
void dmp_recordset::find_fields(const udb_record& record, row_fields& fields) const {
    if (record.fixed_layout && fields.record == &record && fields.table == this) return;
    fields.record = nullptr;
    std::vector<const udb_field*>& found = fields.by_column;
    found.resize(columns_.size());  // each one set below
    bool in_place = true;
    for (size_t k = 0; k < columns_.size() && in_place; ++k) {
        size_t pos = positions_[k];
        const udb_field* f = pos < record.size() ? record.at(pos) : nullptr;
        if (!f || !same_text(f->name, sources_[k]))
            in_place = false;
        else
            found[k] = f;
    }
    if (!in_place) {
        const sql_field_binding binding(record, schema, dump_->get_dialect());
        for (size_t k = 0; k < columns_.size(); ++k) {
            const int pos = binding.field_of(columns_[k]);
            if (pos < 0) sql_field_binding::fail_record();
            found[k] = record.at(static_cast<size_t>(pos));
        }
    }
    if (record.fixed_layout) {
        fields.record = &record;
        fields.table = this;
    }
}

// The value texts of a record in column order.
void dmp_recordset::make_row(const udb_record& record, row_fields& row, std::string& out,
                             narrowed_values& narrowed, std::vector<streamed_value>* streamed) const {
    TK_ASSERT(paired_);
    narrowed = narrowed_values();
    find_fields(record, row);
    const std::vector<const udb_field*>& fields = row.by_column;
    const size_t start = out.size();
    const size_t listed = streamed ? streamed->size() : 0;
    try {
        const bool checked = !codepages_.empty();
        if (!checked && !streamed) {
            // Nothing to narrow or stream (nearly every row): the literals
            // are written at one cursor.
            sql_text_cursor cursor(out);
            for (size_t k = 0; k < columns_.size(); ++k) {
                if (k > 0) cursor.put(", ");
                put_fld_str(cursor, fields[k], targets_[k]);
            }
            return;
        }
        for (size_t k = 0; k < columns_.size(); ++k) {
            if (k > 0) out.append(", ", 2);
            const udb_field* field = fields[k];
            // Only a value over the piece limit can be streamed.
            if (checked || (streamed && field->get_size() > sql_max_field_size))
                append_value(k, *field, out, narrowed, streamed);
            else
                append_fld_str(out, field, targets_[k]);
        }
    } catch (...) {
        out.resize(start);
        if (streamed) streamed->resize(listed);
        narrowed = narrowed_values();
        throw;
    }
}

// One value of make_row() that its column's character set may narrow or
// that may be streamed.
void dmp_recordset::append_value(size_t k, const udb_field& value, std::string& out, narrowed_values& narrowed,
                                 std::vector<streamed_value>* streamed) const {
    const t_ftd* column = targets_[k];
    const udb_field* field = &value;
    std::shared_ptr<const udb_field> kept;
    if (!codepages_.empty() && codepages_[columns_[k]] != 0) {
        kept = narrowed_copy(*field, codepages_[columns_[k]]);
        if (kept) {
            if (narrowed.count++ == 0) narrowed.first = static_cast<uint32_t>(k);
            field = kept.get();
        }
    }
    if (streamed && is_streamed_value(field, column)) {
        streamed->push_back({out.size(), field, std::move(kept)});
        return;
    }
    append_fld_str(out, field, column);
}

void dmp_recordset::append_record(const udb_record& record) {
    tk_log(1, "dmp_recordset::append_record");
    check_usable();
    if (!paired_) pair_columns(record);
    // The row's text is made before anything is written (its large values
    // only listed, they cannot fail): a record that fails here leaves the
    // file and the pending statement as they were.
    row_.clear();
    streamed_.clear();
    narrowed_values narrowed;
    // A value to stream is over sql_max_field_size, which puts its record
    // over the statement limit: the records within it list none.
    static_assert(sql_max_field_size >= statement_limit);
    const int32_t size = record.get_total_size();
    if (size <= static_cast<int32_t>(statement_limit) && dump_->get_dialect().fast_insert) {
        // The row joins the pending statement: its text is made in place
        // there, and taken out again when the record fails.
        tk_log(1, "record size=%d", size);
        const size_t before = append_buffer.size();
        open_fast_row();
        try {
            make_row(record, fields_, append_buffer, narrowed);
        } catch (...) {
            append_buffer.resize(before);
            throw;
        }
        ++rows_;
        if (narrowed.count != 0) note_narrowed(narrowed);
        close_fast_row();
        return;
    }
    make_row(record, fields_, row_, narrowed, size > static_cast<int32_t>(statement_limit) ? &streamed_ : nullptr);
    write_row(row_, size, streamed_, narrowed);
}

void dmp_recordset::append_row(std::string_view row, int32_t record_size, const narrowed_values& narrowed) {
    tk_log(1, "dmp_recordset::append_row");
    check_usable();
    write_row(row, record_size, {}, narrowed);
}

void dmp_recordset::make_framed_row(const udb_record& record, row_fields& fields, std::string& out,
                                    narrowed_values& narrowed) const {
    const size_t start = out.size();
    out += ", (";
    try {
        make_row(record, fields, out, narrowed);
    } catch (...) {
        out.resize(start);
        throw;
    }
    out += ')';
}

void dmp_recordset::append_framed_rows(std::string_view text, size_t from, std::span<const size_t> ends,
                                       size_t& taken) {
    taken = 0;
    check_usable();
    if (!dump_->get_dialect().fast_insert) {
        for (const size_t end : ends) {
            ++rows_;
            write_pending();
            slow_append(unframed(text.substr(from, end - from)), {});
            from = end;
            ++taken;
        }
        return;
    }
    // A framed row is what fast_append() adds to a statement, ", (" values
    // ")", but for the first row of a statement, which follows its head
    // and " VALUES" instead of ", ". A statement is written with the row
    // that takes it past the limit.
    size_t i = 0;
    while (i < ends.size()) {
        if (append_buffer.empty()) {
            append_buffer.assign(head_);
            append_buffer += " VALUES";
            from += 2;
        }
        size_t j = i;
        const size_t base = append_buffer.size() - from;
        while (j < ends.size() && base + ends[j++] <= statement_limit) {
        }
        append_buffer.append(text.substr(from, ends[j - 1] - from));
        rows_ += j - i;
        from = ends[j - 1];
        taken = j - 1;  // the last one fails with the statement it ends
        if (append_buffer.size() > statement_limit) write_pending();
        taken = i = j;
    }
}

void dmp_recordset::write_row(std::string_view row, int32_t size, const std::vector<streamed_value>& streamed,
                              const narrowed_values& narrowed) {
    tk_log(1, "record size=%d", size);
    ++rows_;
    if (narrowed.count != 0) note_narrowed(narrowed);
    // A row over the statement limit (a value over 1048576 bytes makes its
    // record bigger than that) goes alone; the next rows are gathered again.
    const bool alone = size > static_cast<int32_t>(statement_limit) || !streamed.empty();
    if (alone) tk_log(3, "Row is too big (%d bytes), swtich to slow_append", size);
    if (alone || !dump_->get_dialect().fast_insert) {
        write_pending();
        slow_append(row, streamed);
    } else {
        fast_append(row);
    }
}

void dmp_recordset::note_narrowed(const narrowed_values& narrowed) {
    if (narrowed_ == 0) {
        const size_t pos = columns_[narrowed.first];
        first_narrowed_ = "column " + tk_unicode_to_utf8(schema.at(pos)->name) + " (" +
                          tk_unicode_to_utf8(charsets_[pos]) + ") of row " + std::to_string(rows_);
    }
    narrowed_ += narrowed.count;
}

std::string dmp_recordset::narrowed_report() const {
    return std::to_string(narrowed_) + (narrowed_ == 1 ? " value" : " values") +
           " had characters the column's character set lacks, written as '?' as the server stores them; the "
           "first: " +
           first_narrowed_;
}

void dmp_recordset::fast_append(std::string_view row) {
    open_fast_row();
    append_buffer += row;
    close_fast_row();
}

// What comes before a row's values in the pending statement: its head and
// " VALUES(" for the first row, else ", (".
void dmp_recordset::open_fast_row() {
    tk_log(1, "dmp_recordset::fast_append");
    if (append_buffer.empty()) {
        tk_log(1, "Initialize new query...");
        append_buffer.assign(head_);
        append_buffer += " VALUES(";
    } else {
        append_buffer += ", (";
    }
}

// And after them; a statement past the limit is written.
void dmp_recordset::close_fast_row() {
    append_buffer += ')';
    if (append_buffer.size() > statement_limit) write_pending();
}

// One INSERT of its own: the whole column list, then the values in column
// order, the large ones piece by piece in their places.
void dmp_recordset::slow_append(std::string_view row, const std::vector<streamed_value>& streamed) {
    tk_log(1, "dmp_recordset::slow_append");
    dump_->write(head_);
    dump_->write(" \nVALUES (");
    size_t at = 0;
    for (const streamed_value& value : streamed) {
        dump_->write(row.substr(at, value.offset - at));
        stream_fld_str(value.field, [this](std::string_view piece) { dump_->write(piece); });
        at = value.offset;
    }
    dump_->write(row.substr(at));
    dump_->write(")");
    dump_->write(";" + eol_);
}

void dmp_recordset::write_pending() {
    if (append_buffer.empty()) return;
    tk_log(1, "Run SQL query (%zu bytes)", append_buffer.size());
    // The buffer keeps its room for the next statement; it is emptied even
    // when the write fails, as the statement is then lost with the file.
    struct emptied {
        std::string& text;
        ~emptied() { text.clear(); }
    } guard{append_buffer};
    dump_->write(append_buffer);
    dump_->write(";" + eol_);
}

void dmp_recordset::finish() {
    const bool reporting = !finished_;
    write_last();
    if (reporting && narrowed_ != 0) throw tk_exception(narrowed_report(), tk_level_recoverable);
}

void dmp_recordset::write_last() {
    if (finished_) {
        if (failure_) throw *failure_;
        return;
    }
    finished_ = true;
    dmp_database* dump = dump_;
    if (!dump) return;
    dump->detach(this);
    if (append_buffer.empty()) {
        dump_ = nullptr;
        return;
    }
    // Written through the database while this recordset is no longer
    // listed there, so that a failure is reported here, once.
    try {
        write_pending();
    } catch (const tk_exception& e) {
        failure_ = e;
        dump_ = nullptr;
        throw;
    }
    dump_ = nullptr;
}

void dmp_recordset::check_usable() const {
    if (failure_) throw *failure_;
    TK_ASSERT(dump_ != nullptr && !finished_);
    dump_->check_open();
}

void dmp_recordset::detach(const tk_exception* failure) {
    if (failure) failure_ = *failure;
    finished_ = true;
    dump_ = nullptr;
    db = nullptr;
    append_buffer.clear();
}
