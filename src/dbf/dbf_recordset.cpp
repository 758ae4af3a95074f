#include "dbf/dbf_recordset.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <stdexcept>

#include "dbf/dbf_codepages.h"
#include "dbf/dbf_database.h"
#include "dbf/dbf_exception.h"
#include "dbf/dbf_field.h"
#include "dbf/dbf_files.h"
#include "dbf/dbf_format.h"
#include "dbf/dbf_no_memo_exception.h"
#include "dbf/dbf_record_writer.h"
#include "dbf/dbf_report.h"
#include "dbf/dbt_memo_file.h"
#include "dbf/fpt_memo_file.h"
#include "dbf/old_memo_file.h"
#include "dbf/smt_memo_file.h"
#include "tk/tk_byte_order.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

namespace fmt = dbf_format;

constexpr size_t block_bytes = 64 * 1024;  // records read at once

int memo_kind_of(const dbf_header& h) {
    switch (h.version) {
    // The memo flag (0x02) is not needed: some writers leave it out while
    // the table's .fpt lies beside it; a table without memo fields never
    // looks for one.
    case 0x30:
    case 0x31:
    case 0x32:
        return (h.flags & fmt::header::flag_container) ? dbf_memo_dct : dbf_memo_vfp;
    case 0x7B:
    case 0x8B:
    case 0x8C:
    case 0xCB:
    case 0xEB:
        return dbf_memo_dbt4;
    case 0x83:
        return dbf_memo_dbt3;
    case 0xE5:
        return dbf_memo_smt;
    case 0xF5:
        return dbf_memo_fpt;
    default:
        return dbf_memo_none;
    }
}

const char* memo_ext(int kind) {
    switch (kind) {
    case dbf_memo_dbt3:
    case dbf_memo_dbt4:
        return ".dbt";
    case dbf_memo_smt:
        return ".smt";
    case dbf_memo_dct:
        return ".dct";
    default:
        return ".fpt";
    }
}

}  // namespace

dbf_recordset::dbf_recordset(const std::wstring& path, int mode, uint8_t codepage_key, dbf_database* owner,
                             const dbf_open_options& options)
    : dbf_recordset(path, mode, codepage_key, owner, options, nullptr) {}

dbf_recordset::dbf_recordset(const std::wstring& path, int mode, uint8_t codepage_key, const dbf_report& reporter)
    : dbf_recordset(path, mode, codepage_key, nullptr, dbf_open_options(), &reporter) {}

dbf_recordset::dbf_recordset(const std::wstring& path, int mode, uint8_t codepage_key, dbf_database* owner,
                             const dbf_open_options& options, const dbf_report* reporter)
    : udb_recordset(owner, tk_path_to_unicode(dbf_files::stem_of(tk_unicode_to_path(path))), true),
      path_(path),
      fs_path_(tk_unicode_to_path(path)),
      mode_(mode),
      owner_(owner),
      options_(options),
      codepage_key_(codepage_key) {
    tk_log(1, "dbf_recordset::ctor(%s, cp=%d)", fs_path_.c_str(), codepage_key);
    init_codepage_tables();
    if (!owner_) owner_ = dbf_database::try_ptr();
    if (reporter)
        reporter_ = *reporter;
    else if (owner_)
        reporter_ = owner_->get_reporter();
    // Appending never creates a table file.
    if (mode == udb_open_append && !dbf_files::is_regular(fs_path_))
        throw dbf_exception("Table file not found: " + fs_path_, tk_level_recoverable);
    // Only appending writes; every other mode opens read-only, so a source
    // folder is never created, written or locked into.
    try {
        file_ = std::make_unique<tk_huge_file>(fs_path_, mode == udb_open_append);
    } catch (const dbf_exception&) {
        throw;
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    if (mode != udb_open_read && mode != udb_open_append) {
        tk_log(2, "a_mode=%d, returning...", mode);
        return;
    }
    current_ = std::make_unique<dbf_record>();
    current_->fixed_layout = true;
    layout_ = dbf_table_opener(*file_, path_, reporter_, owner_, options_, codepage_key_).open(schema, *current_);
    text_reader_ = tk_codepage_reader(layout_.codepage);
    init_memo_file();
    init_indexes();
    tk_log(1, "dbf_recordset::ctor - at the END");
}

// The reader copies what the first opening parsed and decided (names made
// unique, the container's long names, the code page) instead of reading it
// again, so both decode every record the same way.
dbf_recordset::dbf_recordset(const dbf_recordset& from, reader_tag)
    : udb_recordset(nullptr, from.name, true),
      path_(from.path_),
      fs_path_(from.fs_path_),
      mode_(udb_open_read),
      owner_(from.owner_),
      reporter_(from.reporter_),
      options_(from.options_),
      codepage_key_(from.codepage_key_),
      layout_(from.layout_),
      text_reader_(from.text_reader_),
      memo_kind_(from.memo_kind_),
      memo_path_(from.memo_path_) {
    first_opening_ = false;
    // The files the first opening holds, not whatever their names lead to
    // now: a table saved by renaming a new copy over it is never mixed in.
    try {
        file_ = std::make_unique<tk_huge_file>(*from.file_, tk_huge_file::duplicate_tag{});
        if (from.memo_) memo_ = from.memo_->duplicate();
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    schema = from.schema;
    current_ = std::make_unique<dbf_record>();
    current_->fixed_layout = true;
    current_->codepage = layout_.codepage;
    for (size_t i = 0; i < from.current_->size(); ++i) {
        const udb_field* f = from.current_->at(i);
        current_->add_field(std::make_unique<dbf_field>(f->name, f->get_size()));
    }
}

dbf_recordset::~dbf_recordset() { tk_log(1, "dbf_recordset::dtor"); }

std::unique_ptr<dbf_recordset> dbf_recordset::open_reader() const {
    TK_ASSERT(current_ != nullptr);
    return std::unique_ptr<dbf_recordset>(new dbf_recordset(*this, reader_tag{}));
}

void dbf_recordset::init_memo_file() {
    tk_log(1, "dbf_recordset::init_memo_file");
    bool has_memo_fields = false;
    for (const auto& c : layout_.columns)
        has_memo_fields |= c.how == dbf_decoding::memo_text || c.how == dbf_decoding::memo_binary;
    memo_kind_ = memo_kind_of(layout_.header);
    if (!has_memo_fields) return;
    const std::string folder = dbf_files::folder_of(fs_path_);
    const std::string stem = dbf_files::stem_of(fs_path_);
    char version[8];
    std::snprintf(version, sizeof version, "0x%02X", layout_.header.version);
    std::string found;
    std::string not_regular;
    std::string looked_for;
    if (memo_kind_ != dbf_memo_none) {
        const std::string memo = stem + memo_ext(memo_kind_);
        found = dbf_files::find_no_case(folder, memo);
        if (found.empty()) not_regular = dbf_files::find_any_no_case(folder, memo);
        looked_for = "the version byte " + std::string(version) + " names " + memo;
    } else {
        // The version byte names no memo file, but the memo fields need
        // one: the one beside the table is the file they were written to.
        for (const int kind : {dbf_memo_dbt4, dbf_memo_fpt, dbf_memo_smt}) {
            found = dbf_files::find_no_case(folder, stem + memo_ext(kind));
            if (found.empty()) continue;
            memo_kind_ = kind;
            break;
        }
        looked_for = "the version byte " + std::string(version) + " names no memo file, and none of " + stem +
                     ".dbt, " + stem + ".fpt and " + stem + ".smt is beside the table";
    }
    if (found.empty()) {
        reporter_.report(
            not_regular.empty() ? dbf_no_memo_exception::missing(looked_for) : dbf_no_memo_exception(not_regular),
            path_);
        return;
    }
    memo_path_ = found;
    if (mode_ == udb_open_append) {
        open_memo_file(1);  // appending writes memos too: its memo file must be sound
        return;
    }
    try {
        open_memo_file(0);
    } catch (const dbf_exception& e) {
        // A .dbt the version byte does not name may be dBASE III's, which
        // has no block size in its header.
        bool opened = false;
        if (memo_kind_ == dbf_memo_dbt4 && memo_kind_of(layout_.header) == dbf_memo_none) try {
                memo_kind_ = dbf_memo_dbt3;
                open_memo_file(0);
                opened = true;
            } catch (const dbf_exception&) {
            }
        if (!opened) {
            // A memo file that cannot be used costs the memos, not the rows:
            // told like a missing one, its cells read as NULL.
            memo_.reset();
            memo_path_.clear();
            reporter_.report(
                dbf_exception(std::string(e.what()) + "; the memo fields are read as NULL", tk_level_recoverable),
                path_);
        }
    }
}

void dbf_recordset::open_memo_file(int memo_mode) {
    const std::string& found = memo_path_;
    try {
        switch (memo_kind_) {
        case dbf_memo_dbt4:
            memo_ = std::make_unique<dbt_memo_file>(found, memo_mode);
            break;
        case dbf_memo_dbt3:
            memo_ = std::make_unique<old_memo_file>(found, memo_mode);
            break;
        case dbf_memo_smt:
            memo_ = std::make_unique<smt_memo_file>(found, memo_mode);
            break;
        default:
            memo_ = std::make_unique<fpt_memo_file>(found, memo_mode, memo_kind_);
            break;
        }
    } catch (const dbf_exception&) {
        throw;
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(found, e);
    }
}

void dbf_recordset::init_indexes() {
    tk_log(1, "dbf_recordset::init_indexes(%s)", fs_path_.c_str());
    if (!tk_log_enabled(1)) return;
    const std::string folder = dbf_files::folder_of(fs_path_);
    const std::string stem = dbf_files::stem_of(fs_path_);
    if (!dbf_files::find_no_case(folder, stem + ".idx").empty()) {
        tk_log(1, "dbf_recordset::process_idx(%s)", (stem + ".idx").c_str());
    } else if (!dbf_files::find_no_case(folder, stem + ".cdx").empty()) {
        tk_log(1, "dbf_recordset::process_cdx(%s)", (stem + ".cdx").c_str());
    } else {
        tk_log(1, "Failed to find .cdx, aborting");
    }
}

void dbf_recordset::init_writer() {
    if (layout_.header.version == 0x02)
        throw dbf_exception("Table '" + fs_path_ + "': records cannot be appended to a dBASE II table",
                            tk_level_recoverable);
    writer_ = std::make_unique<dbf_record_writer>(fs_path_, layout_.codepage, layout_.header.rec_size, memo_kind_,
                                                  memo_ && memo_->can_write_memo(), memo_kind_ == dbf_memo_dbt3);
    for (size_t i = 0; i < layout_.columns.size(); ++i)
        writer_->add_column(layout_.columns[i], layout_.descriptors[layout_.columns[i].descriptor], layout_.names[i]);
    if (layout_.nullflags_offset >= 0) writer_->set_null_flags(layout_.nullflags_offset, layout_.nullflags_width);
}

void dbf_recordset::write_at(uint64_t position, const void* data, size_t length) {
    try {
        file_->put_at(position, data, length);
    } catch (const tk_exception& e) {
        throw dbf_exception("Cannot write into file '" + fs_path_ + "' (" + e.what() + ")", tk_level_recoverable);
    }
}

void dbf_recordset::append_record(const udb_record& record) {
    tk_log(1, "dbf_recordset::append_record");
    TK_ASSERT(mode_ == udb_open_append && current_);
    if (!writer_) init_writer();
    if (layout_.record_count >= 0x7FFFFFFFu)
        throw dbf_exception("Table '" + fs_path_ + "' is full", tk_level_recoverable);
    std::string bytes;
    std::vector<dbf_memo_slot> memos;
    writer_->encode(record, bytes, memos);
    for (const dbf_memo_slot& slot : memos) writer_->put_reference(bytes, slot, memo_->write_memo(slot.data));
    // The record, with the end-of-file mark after it.
    bytes.push_back(static_cast<char>(fmt::file_end));
    write_at(layout_.data_offset + static_cast<uint64_t>(layout_.record_count) * layout_.header.rec_size, bytes.data(),
             bytes.size());
    const uint32_t count = layout_.record_count + 1;
    uint8_t le[4];
    store_le32(le, count);
    write_at(fmt::header::record_count_at, le, sizeof le);
    layout_.record_count = count;
    layout_.header.last_rec = static_cast<int32_t>(count);
}

bool dbf_recordset::is_eof() { return cursor_ >= layout_.record_count; }
void dbf_recordset::next() { ++cursor_; }
void dbf_recordset::prev() {
    if (cursor_ > 0) --cursor_;
}
void dbf_recordset::reset() { cursor_ = 0; }
void dbf_recordset::move_to(int32_t pos) { cursor_ = pos < 0 ? 0 : static_cast<uint32_t>(pos); }

uint32_t dbf_recordset::get_block_records() const {
    return static_cast<uint32_t>(std::max<size_t>(1, block_bytes / layout_.header.rec_size));
}

void dbf_recordset::load_block() {
    const size_t rs = layout_.header.rec_size;
    block_first_ = cursor_;
    block_count_ = 0;
    // Each failed read either ends in a failure or lowers the record count.
    while (cursor_ < layout_.record_count) {
        const uint32_t count = std::min(get_block_records(), layout_.record_count - cursor_);
        block_.resize(static_cast<size_t>(count) * rs);
        try {
            file_->get_at(layout_.data_offset + static_cast<uint64_t>(cursor_) * rs, block_.data(), block_.size());
            block_count_ = count;
            return;
        } catch (const tk_exception& e) {
            if (!note_cut()) throw dbf_exception::io_failure(fs_path_, e);
        }
    }
}

bool dbf_recordset::note_cut() {
    uint64_t size = 0;
    try {
        size = file_->get_size();
    } catch (const tk_exception&) {
        return false;
    }
    const uint64_t present = size > layout_.data_offset ? (size - layout_.data_offset) / layout_.header.rec_size : 0;
    if (present >= layout_.record_count) return false;  // the records are there: the read itself failed
    const uint32_t before = layout_.record_count;
    layout_.record_count = static_cast<uint32_t>(present);
    if (cut_count_ != 0) return true;
    cut_count_ = before;
    tk_log(3, "WARNING: table '%s' became shorter while it was read: %u of %u records are left", fs_path_.c_str(),
           layout_.record_count, before);
    // Said once, by the table's own cursor; the records present are read.
    if (!first_opening_) return true;
    const std::string first = std::to_string(present + 1), last = std::to_string(before);
    reporter_.report(
        dbf_exception("the file became shorter during the conversion: " +
                          (first == last ? "record " + first + " was" : "records " + first + "-" + last + " were") +
                          " not read",
                      tk_level_recoverable),
        path_);
    return true;
}

bool dbf_recordset::bit_set(const uint8_t* rec, int bit) const {
    return bit >= 0 && ((rec[layout_.nullflags_offset + bit / 8] >> (bit % 8)) & 1);
}

dbf_record* dbf_recordset::get_item() {
    tk_log(1, "dbf_recordset::get_item");
    if (!current_ || cursor_ >= layout_.record_count) return nullptr;
    if (cursor_ < block_first_ || cursor_ >= block_first_ + block_count_) load_block();
    if (cursor_ >= layout_.record_count) return nullptr;  // the file became shorter
    const uint8_t* rec = block_.data() + static_cast<size_t>(cursor_ - block_first_) * layout_.header.rec_size;
    current_->b_deleted = rec[0] == '*';
    const size_t n = std::min(layout_.columns.size(), current_->size());
    bool noted = false;  // a value of the record lost or rounded, or a text with undefined bytes
    for (size_t i = 0; i < n; ++i) {
        const dbf_column& c = layout_.columns[i];
        auto* f = static_cast<dbf_field*>(current_->at(i));
        f->loss = dbf_loss::none;
        f->undefined = 0;
        if (bit_set(rec, c.null_bit)) {
            f->set_null();
            continue;
        }
        const uint8_t* p = rec + c.offset;
        if (c.how == dbf_decoding::memo_text || c.how == dbf_decoding::memo_binary) {
            read_memo_cell(*f, i, p);
        } else if (bit_set(rec, c.varlen_bit) && c.width > 0) {
            dbf_column v = c;
            v.width = std::min<uint32_t>(p[c.width - 1], c.width - 1);
            f->decode(p, v, text_reader_);
        } else {
            f->decode(p, c, text_reader_);
        }
        noted = noted || f->loss != dbf_loss::none || f->undefined != 0;
    }
    if (scratch_.capacity() * sizeof(wchar_t) > dbf_field::large_buffer) std::wstring().swap(scratch_);
    if (cursor_ >= unread_checked_upto_) {
        unread_checked_upto_ = cursor_ + 1;
        if (noted)
            note_unreadable(rec);
        else
            first_memo_problem_column_ = SIZE_MAX;
    }
    return current_.get();
}

void dbf_recordset::read_memo_cell(dbf_field& f, size_t column, const uint8_t* p) {
    const dbf_column& c = layout_.columns[column];
    if (!memo_) {
        tk_log(1, "No MEMO file!");
        f.set_null();
        return;
    }
    uint32_t block = 0;
    if (!memo_->get_block_number(p, c.width, block)) return lose_memo(f, column);
    tk_log(1, "Got memo block number: %u", block);
    if (block == 0) {
        f.clear();
        return;
    }
    bool fits = true;
    try {
        if (!memo_->read_memo(block, memo_data_)) return lose_memo(f, column);
        f.set_memo(memo_data_, c.how == dbf_decoding::memo_binary, text_reader_, scratch_);
    } catch (const std::bad_alloc&) {
        fits = false;
    } catch (const std::length_error&) {
        fits = false;
    }
    // A large memo's bytes are not kept for the next one.
    if (memo_data_.capacity() > dbf_field::large_buffer) std::vector<uint8_t>().swap(memo_data_);
    if (fits) return;
    // A value that does not fit in memory costs its cell like a damaged memo.
    std::wstring().swap(scratch_);
    memo_->does_not_fit(block);
    lose_memo(f, column);
}

void dbf_recordset::lose_memo(dbf_field& f, size_t column) {
    f.set_lost_memo();
    // Only the first loss of the table is named; its reason is kept until
    // note_unreadable writes it.
    if (lost_.count == 0 && first_memo_problem_column_ == SIZE_MAX) {
        first_memo_problem_column_ = column;
        first_memo_problem_ = memo_->problem();
    }
}

void dbf_recordset::note_unreadable(const uint8_t* rec) {
    const size_t n = std::min(layout_.columns.size(), current_->size());
    for (size_t i = 0; i < n; ++i) {
        const auto* f = static_cast<const dbf_field*>(current_->at(i));
        count_undefined(i, *f);
        if (f->loss == dbf_loss::none) continue;
        tally& t = f->loss == dbf_loss::rounded ? rounded_ : lost_;
        if (t.count++ != 0) continue;
        t.first = describe_loss(*f, layout_.columns[i], rec, i);
    }
    first_memo_problem_column_ = SIZE_MAX;
}

// Text read in a code page with undefined bytes holds one U+FFFD for each
// of them (no code page defines a byte as U+FFFD): the cell counted them as
// its text was read.
void dbf_recordset::count_undefined(size_t column, const dbf_field& f) {
    if (f.undefined == 0 || f.get_type() != VT_BSTR) return;
    add_undefined({column, f.name, f.undefined, uint64_t{cursor_} + 1});
}

void dbf_recordset::add_undefined(const byte_tally& bytes) {
    auto at = std::lower_bound(undefined_.begin(), undefined_.end(), bytes.column,
                               [](const byte_tally& t, size_t column) { return t.column < column; });
    if (at == undefined_.end() || at->column != bytes.column)
        undefined_.insert(at, bytes);
    else
        at->count += bytes.count;  // the first record stays: notes come in record order
}

std::wstring dbf_recordset::describe_loss(const dbf_field& f, const dbf_column& c, const uint8_t* rec,
                                          size_t column) const {
    const std::wstring where = L"field " + f.name + L" of record #" + std::to_wstring(cursor_ + 1);
    auto holds = [&] {
        std::string_view raw(reinterpret_cast<const char*>(rec + c.offset), c.width);
        while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0')) raw.remove_suffix(1);
        while (!raw.empty() && raw.front() == ' ') raw.remove_prefix(1);
        return where + L" holds '" + tk_codepage_to_unicode(raw, layout_.codepage) + L"'";
    };
    switch (f.loss) {
    case dbf_loss::not_a_number:
        return holds() + L", which is not a number";
    case dbf_loss::does_not_fit:
        return holds() + L", which does not fit the field's type";
    case dbf_loss::not_a_date:
        return holds() + L", which is not a date";
    case dbf_loss::too_wide:
        return holds() + L", which has more digits before the point than the " + std::to_wstring(c.integer_digits) +
               L" its column holds";
    case dbf_loss::rounded:
        return holds() + L", written as " + f.to_wstring();
    case dbf_loss::out_of_range:
        return where + L" holds a date outside 0001-01-01 to 9999-12-31";
    case dbf_loss::not_finite:
        return where + L" holds NaN or an infinity, which MySQL cannot store";
    case dbf_loss::memo_damaged:
        if (column == first_memo_problem_column_) return where + L": " + tk_utf8_to_unicode(first_memo_problem_);
        return where + L": its memo cannot be read";
    case dbf_loss::none:
        break;
    }
    return where;
}

dbf_recordset::unreadable_note dbf_recordset::take_unreadable() {
    unreadable_note note;
    // Taken after every record: mostly nothing.
    if (lost_.count == 0 && rounded_.count == 0 && undefined_.empty()) return note;
    std::swap(note.lost, lost_);
    std::swap(note.rounded, rounded_);
    std::swap(note.undefined, undefined_);
    return note;
}

void dbf_recordset::add_to(tally& to, uint64_t count, const std::wstring& first) {
    if (count == 0) return;
    if (to.count == 0) to.first = first;
    to.count += count;
}

void dbf_recordset::add_unreadable(const unreadable_note& note) {
    add_to(lost_, note.lost.count, note.lost.first);
    add_to(rounded_, note.rounded.count, note.rounded.first);
    for (const byte_tally& bytes : note.undefined) add_undefined(bytes);
}

std::wstring dbf_recordset::get_unreadable_summary() const {
    std::wstring text;
    if (lost_.count != 0)
        text = std::to_wstring(lost_.count) + (lost_.count == 1 ? L" value" : L" values") +
               L" could not be read and became NULL; the first: " + lost_.first;
    if (rounded_.count != 0) {
        if (!text.empty()) text += L". ";
        const bool one = rounded_.count == 1;
        text += std::to_wstring(rounded_.count) +
                (one ? L" value had more decimals than its column holds and was rounded"
                     : L" values had more decimals than their columns hold and were rounded") +
                L"; the first: " + rounded_.first;
    }
    // "field TXT: 2 bytes that code page 1253 does not define, written as
    // U+FFFD, the first in record #2", one part a field.
    for (size_t k = 0; k < undefined_.size(); ++k) {
        const byte_tally& t = undefined_[k];
        const bool one = t.count == 1;
        text += (k != 0 ? L"; " : text.empty() ? L"" : L". ") + (L"field " + t.field + L": ") +
                std::to_wstring(t.count) + (one ? L" byte" : L" bytes") + L" that code page " +
                std::to_wstring(layout_.codepage) + L" does not define, written as U+FFFD, " +
                (one ? L"in record #" : L"the first in record #") + std::to_wstring(t.record);
    }
    return text;
}
