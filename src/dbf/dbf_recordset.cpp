#include "dbf/dbf_recordset.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

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
// Descriptor area read at most: as many level-7 descriptors as a record of
// 65535 bytes has one-byte fields.
constexpr size_t header_cap = fmt::header::level7_size + fmt::descriptor7::size * 65535 + 1;

[[noreturn]] void not_dbf(const char* why) {
    tk_log(2, "ERROR: %s", why);
    throw dbf_exception(std::string(dbf_not_dbf_format), tk_level_recoverable);
}

// The name as names are compared: folded character by character.
std::wstring folded(std::wstring_view name) {
    std::wstring out(name);
    for (auto& c : out) c = tk_fold_case(c);
    return out;
}

bool is_vfp_version(uint8_t v) { return v >= 0x30 && v <= 0x32; }
bool is_level7(uint8_t v) { return v == 0x04 || v == 0x8C; }

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
    read_header();
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
      codepage_(from.codepage_),
      header_(from.header_),
      data_offset_(from.data_offset_),
      terminator_(from.terminator_),
      record_count_(from.record_count_),
      memo_kind_(from.memo_kind_),
      memo_path_(from.memo_path_),
      descriptors_(from.descriptors_),
      widths_(from.widths_),
      columns_(from.columns_),
      names_(from.names_),
      nullflags_offset_(from.nullflags_offset_),
      nullflags_width_(from.nullflags_width_),
      backlink_(from.backlink_) {
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
    current_->codepage = codepage_;
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

void dbf_recordset::read_header() {
    uint64_t size = 0;
    try {
        size = file_->get_size();
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    if (size < fmt::header::size) not_dbf("File is too small");
    // Level 7 names its language driver in bytes 32-63 of a 68-byte header.
    uint8_t h[fmt::header::driver_name_at + fmt::header::driver_name_size] = {};
    try {
        file_->get_at(0, h, static_cast<size_t>(std::min<uint64_t>(size, sizeof h)));
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    header_.version = h[fmt::header::version_at];
    if (h[0] == 0x02) {
        header_.last_rec = load_le16(h + fmt::header2::record_count_at);
        header_.rec_size = load_le16(h + fmt::header2::record_size_at);
        if (header_.rec_size < 2) not_dbf("Invalid DBF header");
        read_descriptors_dbase2(size);
    } else {
        std::memcpy(header_.update, h + fmt::header::updated_at, fmt::header::updated_size);
        header_.last_rec = static_cast<int32_t>(load_le32(h + fmt::header::record_count_at));
        header_.data_offset = load_le16(h + fmt::header::data_offset_at);
        header_.rec_size = load_le16(h + fmt::header::record_size_at);
        header_.flags = h[fmt::header::flags_at];
        header_.language_driver = h[fmt::header::language_driver_at];
        if (header_.rec_size < 2 || header_.last_rec < 0) not_dbf("Invalid DBF header");
        const auto* driver_name = reinterpret_cast<const char*>(h + fmt::header::driver_name_at);
        choose_codepage(is_level7(h[0]) ? std::string_view(driver_name, fmt::header::driver_name_size)
                                        : std::string_view());
        read_descriptors_standard(size);
    }
    tk_log(2, "data_offset=%u, last_rec=%d, rec_size=%d", data_offset_, header_.last_rec, header_.rec_size);
    if (descriptors_.empty()) not_dbf("Table has no fields");
    check_widths();
    count_records(size);
    tk_log(2, "DBF file has codepage: %d", header_.language_driver);
    if (codepage_key_ != 0) tk_log(2, "Setting user-defined codepage: %d", codepage_key_);
    build_columns();
    container_step(size);
    refine_from_dbc();
    make_names_unique();
    build_schema();
    init_memo_file();
    init_indexes();
}

void dbf_recordset::choose_codepage(std::string_view driver_name) {
    const dbf_codepage_choice choice = dbf_choose_codepage(codepage_key_, header_.language_driver, driver_name);
    codepage_ = choice.codepage;
    if (!choice.unknown_driver.empty())
        reporter_.report(dbf_exception(choice.unknown_driver, tk_level_recoverable), path_);
}

void dbf_recordset::read_descriptors_standard(uint64_t file_size) {
    const bool level7 = is_level7(header_.version);
    const size_t hdr = level7 ? fmt::header::level7_size : fmt::header::size;
    const size_t dsz = level7 ? fmt::descriptor7::size : fmt::descriptor::size;
    uint64_t limit = header_.data_offset ? header_.data_offset : file_size;
    limit = std::min<uint64_t>({limit, file_size, header_cap});
    std::vector<uint8_t> buf(static_cast<size_t>(limit));
    try {
        file_->get_at(0, buf.data(), buf.size());
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    tk_log(2, level7 ? "Processing dBASE Level 7 format" : "Default processing");
    size_t pos = hdr;
    for (; pos + 1 <= buf.size(); pos += dsz) {
        if (buf[pos] == fmt::descriptors_end) {
            terminator_ = static_cast<uint32_t>(pos);
            break;
        }
        if (pos + dsz > buf.size()) break;
        const uint8_t* d = buf.data() + pos;
        dbf_field_descriptor7 fd;
        const size_t name_len = level7 ? fmt::descriptor7::name_size : fmt::descriptor::name_size;
        std::memcpy(fd.name, d + (level7 ? fmt::descriptor7::name_at : fmt::descriptor::name_at), name_len);
        if (!level7) fd.name[fmt::descriptor::name_size] = 0;
        fd.name[31] = 0;
        fd.field_type = d[level7 ? fmt::descriptor7::type_at : fmt::descriptor::type_at];
        fd.length = d[level7 ? fmt::descriptor7::length_at : fmt::descriptor::length_at];
        fd.decimals = d[level7 ? fmt::descriptor7::decimals_at : fmt::descriptor::decimals_at];
        fd.flags = level7 ? 0 : d[fmt::descriptor::flags_at];
        fd.version = header_.version;
        if (fd.name[0] == 0 && fd.field_type == 0) {
            tk_log(3, "WARNING: %s: the field descriptors are not ended by 0x0D", fs_path_.c_str());
            break;
        }
        add_descriptor(fd);
    }
    if (header_.data_offset == 0) {
        if (terminator_ == 0) not_dbf("No header length and no descriptor terminator");
        data_offset_ = terminator_ + 1 + (is_vfp_version(header_.version) ? fmt::backlink::size : 0);
    } else {
        data_offset_ = header_.data_offset;
        if (terminator_ != 0 && data_offset_ < terminator_ + 1) not_dbf("Header length inside the descriptors");
        if (terminator_ == 0 && data_offset_ < pos) not_dbf("Header length inside the descriptors");
    }
}

void dbf_recordset::read_descriptors_dbase2(uint64_t file_size) {
    tk_log(2, "Processing FoxBase format (signature=2)");
    constexpr size_t area = fmt::header2::size + fmt::header2::max_descriptors * fmt::descriptor2::size + 1;
    const size_t limit = static_cast<size_t>(std::min<uint64_t>(file_size, area));
    std::vector<uint8_t> buf(limit);
    try {
        file_->get_at(0, buf.data(), buf.size());
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    size_t pos = fmt::header2::size;
    for (size_t i = 0; i < fmt::header2::max_descriptors && pos < buf.size(); ++i, pos += fmt::descriptor2::size) {
        if (buf[pos] == fmt::descriptors_end) {
            terminator_ = static_cast<uint32_t>(pos);
            break;
        }
        if (pos + fmt::descriptor2::size > buf.size()) break;
        const uint8_t* d = buf.data() + pos;
        dbf_field_descriptor7 fd;
        std::memcpy(fd.name, d + fmt::descriptor2::name_at, fmt::descriptor2::name_size);
        fd.field_type = d[fmt::descriptor2::type_at];
        fd.length = d[fmt::descriptor2::length_at];
        fd.decimals = d[fmt::descriptor2::decimals_at];
        fd.version = 0x02;
        if (fd.name[0] == 0 && fd.field_type == 0) break;
        tk_log(2, "Got field: %s/%c/%d", fd.name, fd.field_type, fd.length);
        add_descriptor(fd);
    }
    // The published layout puts the records at 521; some writers put them
    // 33 bytes behind the terminator instead.
    const uint64_t need = static_cast<uint64_t>(header_.last_rec) * header_.rec_size;
    constexpr size_t published = fmt::header2::data_offset;
    constexpr size_t behind = fmt::header2::data_after_terminator;
    data_offset_ = published;
    if (file_size < published + need && terminator_ != 0 && file_size >= terminator_ + behind + need)
        data_offset_ = terminator_ + behind;
    header_.data_offset = static_cast<uint16_t>(data_offset_);
    codepage_ = dbf_effective_codepage(codepage_key_, 0);
}

void dbf_recordset::add_descriptor(const dbf_field_descriptor7& fd) {
    descriptors_.push_back(fd);
    const uint32_t w = static_cast<uint32_t>(dbf_get_size_2(fd));
    widths_.push_back(w);
    tk_log(2, "Got field: %s, type=%c, size=%u", fd.name, fd.field_type, w);
}

void dbf_recordset::check_widths() {
    uint64_t sum = 1;
    for (uint32_t w : widths_) sum += w;
    if (sum <= header_.rec_size) return;
    // Spreadsheet exports write stray decimals on character fields: read
    // as a length high byte they overflow the record. The plain length
    // bytes are taken when they fill the record exactly.
    uint64_t plain = 1;
    for (const auto& fd : descriptors_) plain += fd.length;
    if (plain == header_.rec_size) {
        tk_log(3, "WARNING: %s: field lengths with their high bytes overflow the record; the length bytes are used",
               fs_path_.c_str());
        for (size_t i = 0; i < descriptors_.size(); ++i) {
            if (descriptors_[i].field_type != 'N' && descriptors_[i].field_type != 'F') descriptors_[i].decimals = 0;
            widths_[i] = descriptors_[i].length;
        }
        return;
    }
    not_dbf("Field widths do not fit the record length");
}

void dbf_recordset::count_records(uint64_t file_size) {
    const uint64_t rs = header_.rec_size;
    const uint64_t fit = file_size > data_offset_ ? (file_size - data_offset_) / rs : 0;
    const uint64_t declared = static_cast<uint64_t>(header_.last_rec);
    record_count_ = static_cast<uint32_t>(std::min(declared, fit));
    if (fit < declared) {
        tk_log(3, "WARNING: table '%s' declares %llu records but holds %llu; the records present are read",
               fs_path_.c_str(), static_cast<unsigned long long>(declared), static_cast<unsigned long long>(fit));
        // A file cut short must not pass for a complete table: the user is
        // told how many records are missing; the table reads on.
        reporter_.report(
            dbf_exception("The table declares " + std::to_string(declared) + " records but its file holds only " +
                              std::to_string(fit) + "; the records present are converted",
                          tk_level_recoverable),
            path_);
    } else {
        const uint64_t end = data_offset_ + declared * rs;
        const uint64_t extra = file_size - end;
        if (extra > 1)
            tk_log(3, "WARNING: table '%s' holds %llu bytes past its %llu records; they are not converted",
                   fs_path_.c_str(), static_cast<unsigned long long>(extra), static_cast<unsigned long long>(declared));
        // Whole records past the declared count (an interrupted append) are
        // left out, as the header says, but not without a word.
        if (rs != 0 && extra / rs > 0)
            reporter_.report(dbf_exception("The file holds " + std::to_string(extra / rs) + " more records than the " +
                                               std::to_string(declared) + " the table declares; they are not converted",
                                           tk_level_recoverable),
                             path_);
    }
}

void dbf_recordset::build_columns() {
    const bool vfp = is_vfp_version(header_.version);
    uint32_t offset = 1;
    int bit = 0;
    for (size_t i = 0; i < descriptors_.size(); ++i) {
        const auto& fd = descriptors_[i];
        const uint32_t w = widths_[i];
        if (fd.field_type == '0') {
            tk_log(2, "Unsupported type, skip it");
            if (nullflags_offset_ < 0) {
                nullflags_offset_ = static_cast<int>(offset);
                nullflags_width_ = w;
            }
            offset += w;
            continue;
        }
        dbf_column c;
        c.descriptor = static_cast<uint32_t>(i);
        c.offset = offset;
        c.width = w;
        c.type = static_cast<char>(fd.field_type);
        c.how = dbf_field::decoding_of(fd);
        c.vartype = dbf_get_vartype_2(fd);
        if (c.how == dbf_decoding::decimal) dbf_field::set_decimal_bounds(c, fd);
        if (vfp) {
            if (fd.field_type == 'V' || fd.field_type == 'Q') c.varlen_bit = bit++;
            if (fd.flags & dbf_flag_nullable) c.null_bit = bit++;
        }
        columns_.push_back(c);
        names_.push_back(tk_codepage_to_unicode(fd.name_view(), codepage_));
        offset += w;
    }
    // Bits beyond the null-flags field (or without one) are not used.
    const int bits = nullflags_offset_ < 0 ? 0 : static_cast<int>(nullflags_width_ * 8);
    for (auto& c : columns_) {
        if (c.null_bit >= bits) c.null_bit = -1;
        if (c.varlen_bit >= bits) c.varlen_bit = -1;
    }
}

void dbf_recordset::container_step(uint64_t file_size) {
    if (!is_vfp_version(header_.version) || terminator_ == 0) return;
    const uint64_t start = terminator_ + 1;
    const uint64_t end = std::min<uint64_t>({data_offset_, start + fmt::backlink::size, file_size});
    if (end <= start) return;
    std::string area(static_cast<size_t>(end - start), '\0');
    try {
        file_->get_at(start, area.data(), area.size());
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    area.resize(strnlen(area.c_str(), area.size()));
    if (area.empty() || area[0] == ' ') {
        tk_log(2, "No information about .dbc file");
        return;
    }
    backlink_ = area;
    tk_log(2, "Got DBC name=%s", backlink_.c_str());
    if (!options_.container_step || !owner_ || !owner_->get_use_dbc() || owner_->get_dbc()) return;

    // A Windows path in the table's code page, resolved from the table's
    // folder component by component in any letter case.
    std::string link = tk_unicode_to_path(tk_codepage_to_unicode(backlink_, codepage_));
    std::replace(link.begin(), link.end(), '\\', '/');
    std::string folder = dbf_files::folder_of(fs_path_);
    std::vector<std::string> parts;
    const bool absolute = (link.size() >= 2 && link[1] == ':') || link.rfind("//", 0) == 0 || link[0] == '/';
    if (absolute) {
        parts.push_back(dbf_files::file_of(link));
    } else {
        size_t b = 0;
        while (b <= link.size()) {
            size_t e = link.find('/', b);
            if (e == std::string::npos) e = link.size();
            std::string part = link.substr(b, e - b);
            if (!part.empty() && part != ".") parts.push_back(part);
            b = e + 1;
        }
    }
    std::string resolved = folder.empty() ? std::string(".") : folder;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i] == "..") {
            resolved = dbf_files::join(resolved, "..");
            continue;
        }
        std::string hit = dbf_files::find_no_case(resolved, parts[i]);
        if (hit.empty()) {
            // A folder component is taken as written; so is a last one that
            // exists but is no regular file: the database refuses it aloud.
            std::string exact = dbf_files::join(resolved, parts[i]);
            struct stat st {};
            if (i + 1 < parts.size() || ::lstat(exact.c_str(), &st) == 0) hit = exact;
        }
        if (hit.empty()) {
            tk_log(3, "File '%s' does not exists", dbf_files::join(resolved, parts[i]).c_str());
            return;
        }
        resolved = hit;
    }
    if (parts.empty()) return;
    owner_->init_dbc(resolved);
}

void dbf_recordset::refine_from_dbc() {
    tk_log(1, "dbf_recordset::refine_from_dbc");
    dbf_dbc* dbc = owner_ ? owner_->get_dbc() : nullptr;
    if (!dbc || !options_.container_step) {
        tk_log(3, ".dbc is not initialized, nothing to do");
        return;
    }
    const std::string table = tk_unicode_to_utf8(tk_path_to_unicode(dbf_files::stem_of(fs_path_)));
    auto t = dbc->fnames_map.find(table);
    if (t == dbc->fnames_map.end()) {
        // Visual FoxPro names a table whose file name holds blanks with
        // underscores in their place.
        std::string alias = table;
        std::replace(alias.begin(), alias.end(), ' ', '_');
        t = dbc->fnames_map.find(alias);
    }
    if (t == dbc->fnames_map.end()) {
        tk_log(2, "No entries for table '%s' in .dbc", table.c_str());
        return;
    }
    for (auto& n : names_) {
        auto f = t->second.find(tk_unicode_to_utf8(n));
        if (f == t->second.end()) continue;
        tk_log(3, "Tuning field name: %s -> %s", tk_unicode_to_utf8(n).c_str(), f->second.c_str());
        n = tk_utf8_to_unicode(f->second);
    }
}

void dbf_recordset::make_names_unique() {
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i].empty()) names_[i] = L"FIELD" + std::to_wstring(i + 1);
    // One set of the case-folded names holds every name given so far and
    // every name still to come, so a candidate NAME_k never takes a later
    // field's own name; each name's next k is remembered, so thousands of
    // fields of one name cost one pass.
    std::unordered_set<std::wstring> taken;
    taken.reserve(names_.size() * 2);
    for (const auto& n : names_) taken.insert(folded(n));
    std::unordered_set<std::wstring> seen;
    seen.reserve(names_.size());
    std::unordered_map<std::wstring, int> next_k;
    for (auto& name : names_) {
        const std::wstring key = folded(name);
        if (seen.insert(key).second) continue;
        int& k = next_k.try_emplace(key, 2).first->second;
        std::wstring cand;
        for (;; ++k) {
            cand = name + L"_" + std::to_wstring(k);
            if (!taken.count(folded(cand))) break;
        }
        ++k;
        tk_log(3, "WARNING: %s: duplicate field name '%s' read as '%s'", fs_path_.c_str(),
               tk_unicode_to_utf8(name).c_str(), tk_unicode_to_utf8(cand).c_str());
        const std::wstring cand_folded = folded(cand);
        taken.insert(cand_folded);
        seen.insert(cand_folded);
        name = std::move(cand);
    }
}

void dbf_recordset::build_schema() {
    current_ = std::make_unique<dbf_record>();
    current_->codepage = codepage_;
    for (size_t i = 0; i < columns_.size(); ++i) {
        const auto& c = columns_[i];
        const auto& fd = descriptors_[c.descriptor];
        const bool memo = c.how == dbf_decoding::memo_text || c.how == dbf_decoding::memo_binary;
        const uint32_t size = memo ? 0 : c.width;
        uint32_t reserved = 0;
        if (c.type == 'D') reserved = 2;
        if (c.type == 'T' || c.type == '@') reserved = 1;
        t_ftd col(size, names_[i], c.vartype, false, false, ole_variant(), reserved);
        if (c.vartype == VT_DECIMAL && c.type == 'N') {
            col.precision = dbf_field::decimal_precision(fd);
            col.scale = dbf_field::decimal_scale(fd);
            tk_log(2, "Got VT_DECIMAL(%u,%u)", col.precision, col.scale);
        }
        schema.push_back(col);
        if (i < options_.max_columns) current_->add_field(std::make_unique<dbf_field>(names_[i], size));
    }
}

void dbf_recordset::init_memo_file() {
    tk_log(1, "dbf_recordset::init_memo_file");
    bool has_memo_fields = false;
    for (const auto& c : columns_)
        has_memo_fields |= c.how == dbf_decoding::memo_text || c.how == dbf_decoding::memo_binary;
    memo_kind_ = memo_kind_of(header_);
    if (!has_memo_fields) return;
    std::string found;
    std::string not_regular;
    if (memo_kind_ != dbf_memo_none) {
        const std::string folder = dbf_files::folder_of(fs_path_);
        const std::string memo = dbf_files::stem_of(fs_path_) + memo_ext(memo_kind_);
        found = dbf_files::find_no_case(folder, memo);
        if (found.empty()) not_regular = dbf_files::find_any_no_case(folder, memo);
    }
    if (found.empty()) {
        reporter_.report(not_regular.empty() ? dbf_no_memo_exception() : dbf_no_memo_exception(not_regular), path_);
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
        // A memo file that cannot be used costs the memos, not the rows:
        // told like a missing one, its cells read as NULL.
        memo_.reset();
        memo_path_.clear();
        reporter_.report(
            dbf_exception(std::string(e.what()) + "; the memo fields are read as NULL", tk_level_recoverable), path_);
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
    if (header_.version == 0x02)
        throw dbf_exception("Table '" + fs_path_ + "': records cannot be appended to a dBASE II table",
                            tk_level_recoverable);
    writer_ = std::make_unique<dbf_record_writer>(fs_path_, codepage_, header_.rec_size, memo_kind_,
                                                  memo_ && memo_->can_write_memo(), memo_kind_ == dbf_memo_dbt3);
    for (size_t i = 0; i < columns_.size(); ++i)
        writer_->add_column(columns_[i], descriptors_[columns_[i].descriptor], names_[i]);
    if (nullflags_offset_ >= 0) writer_->set_null_flags(nullflags_offset_, nullflags_width_);
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
    if (record_count_ >= 0x7FFFFFFFu) throw dbf_exception("Table '" + fs_path_ + "' is full", tk_level_recoverable);
    std::string bytes;
    std::vector<dbf_memo_slot> memos;
    writer_->encode(record, bytes, memos);
    for (const dbf_memo_slot& slot : memos) writer_->put_reference(bytes, slot, memo_->write_memo(slot.data));
    // The record, with the end-of-file mark after it.
    bytes.push_back(static_cast<char>(fmt::file_end));
    write_at(data_offset_ + static_cast<uint64_t>(record_count_) * header_.rec_size, bytes.data(), bytes.size());
    const uint32_t count = record_count_ + 1;
    uint8_t le[4];
    store_le32(le, count);
    write_at(fmt::header::record_count_at, le, sizeof le);
    record_count_ = count;
    header_.last_rec = static_cast<int32_t>(count);
}

bool dbf_recordset::is_eof() { return cursor_ >= record_count_; }
void dbf_recordset::next() { ++cursor_; }
void dbf_recordset::prev() {
    if (cursor_ > 0) --cursor_;
}
void dbf_recordset::reset() { cursor_ = 0; }
void dbf_recordset::move_to(int32_t pos) { cursor_ = pos < 0 ? 0 : static_cast<uint32_t>(pos); }

uint32_t dbf_recordset::get_block_records() const {
    return static_cast<uint32_t>(std::max<size_t>(1, block_bytes / header_.rec_size));
}

void dbf_recordset::load_block() {
    const size_t rs = header_.rec_size;
    block_first_ = cursor_;
    block_count_ = 0;
    // Each failed read either ends in a failure or lowers the record count.
    while (cursor_ < record_count_) {
        const uint32_t count = std::min(get_block_records(), record_count_ - cursor_);
        block_.resize(static_cast<size_t>(count) * rs);
        try {
            file_->get_at(data_offset_ + static_cast<uint64_t>(cursor_) * rs, block_.data(), block_.size());
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
    const uint64_t present = size > data_offset_ ? (size - data_offset_) / header_.rec_size : 0;
    if (present >= record_count_) return false;  // the records are there: the read itself failed
    const uint32_t before = record_count_;
    record_count_ = static_cast<uint32_t>(present);
    if (cut_count_ != 0) return true;
    cut_count_ = before;
    tk_log(3, "WARNING: table '%s' became shorter while it was read: %u of %u records are left", fs_path_.c_str(),
           record_count_, before);
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
    return bit >= 0 && ((rec[nullflags_offset_ + bit / 8] >> (bit % 8)) & 1);
}

dbf_record* dbf_recordset::get_item() {
    tk_log(1, "dbf_recordset::get_item");
    if (!current_ || cursor_ >= record_count_) return nullptr;
    if (cursor_ < block_first_ || cursor_ >= block_first_ + block_count_) load_block();
    if (cursor_ >= record_count_) return nullptr;  // the file became shorter
    const uint8_t* rec = block_.data() + static_cast<size_t>(cursor_ - block_first_) * header_.rec_size;
    current_->b_deleted = rec[0] == '*';
    const size_t n = std::min(columns_.size(), current_->size());
    for (size_t i = 0; i < n; ++i) {
        const dbf_column& c = columns_[i];
        auto* f = static_cast<dbf_field*>(current_->at(i));
        f->loss = dbf_loss::none;
        if (bit_set(rec, c.null_bit)) {
            f->set_null();
            continue;
        }
        const uint8_t* p = rec + c.offset;
        if (c.how == dbf_decoding::memo_text || c.how == dbf_decoding::memo_binary) {
            read_memo_cell(*f, i, p);
            continue;
        }
        if (bit_set(rec, c.varlen_bit) && c.width > 0) {
            dbf_column v = c;
            v.width = std::min<uint32_t>(p[c.width - 1], c.width - 1);
            f->decode(p, v, codepage_, scratch_);
            continue;
        }
        f->decode(p, c, codepage_, scratch_);
    }
    if (scratch_.capacity() * sizeof(wchar_t) > dbf_field::large_buffer) std::wstring().swap(scratch_);
    if (cursor_ >= unread_checked_upto_) {
        unread_checked_upto_ = cursor_ + 1;
        note_unreadable(rec);
    }
    return current_.get();
}

void dbf_recordset::read_memo_cell(dbf_field& f, size_t column, const uint8_t* p) {
    const dbf_column& c = columns_[column];
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
        f.set_memo(memo_data_, c.how == dbf_decoding::memo_binary, codepage_, scratch_);
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
    const size_t n = std::min(columns_.size(), current_->size());
    for (size_t i = 0; i < n; ++i) {
        const auto* f = static_cast<const dbf_field*>(current_->at(i));
        if (f->loss == dbf_loss::none) continue;
        tally& t = f->loss == dbf_loss::rounded ? rounded_ : lost_;
        if (t.count++ != 0) continue;
        t.first = describe_loss(*f, columns_[i], rec, i);
    }
    first_memo_problem_column_ = SIZE_MAX;
}

std::wstring dbf_recordset::describe_loss(const dbf_field& f, const dbf_column& c, const uint8_t* rec,
                                          size_t column) const {
    const std::wstring where = L"field " + f.name + L" of record #" + std::to_wstring(cursor_ + 1);
    auto holds = [&] {
        std::string_view raw(reinterpret_cast<const char*>(rec + c.offset), c.width);
        while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0')) raw.remove_suffix(1);
        while (!raw.empty() && raw.front() == ' ') raw.remove_prefix(1);
        return where + L" holds '" + tk_codepage_to_unicode(raw, codepage_) + L"'";
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
    std::swap(note.lost, lost_);
    std::swap(note.rounded, rounded_);
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
}

std::wstring dbf_recordset::get_unreadable_summary() const {
    std::wstring text;
    if (lost_.count != 0)
        text = std::to_wstring(lost_.count) + (lost_.count == 1 ? L" value" : L" values") +
               L" could not be read and became NULL; the first: " + lost_.first;
    if (rounded_.count == 0) return text;
    if (!text.empty()) text += L". ";
    const bool one = rounded_.count == 1;
    return text + std::to_wstring(rounded_.count) +
           (one ? L" value had more decimals than its column holds and was rounded"
                : L" values had more decimals than their columns hold and were rounded") +
           L"; the first: " + rounded_.first;
}
