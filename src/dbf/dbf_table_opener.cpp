#include "dbf/dbf_table_opener.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "dbf/dbf_codepages.h"
#include "dbf/dbf_database.h"
#include "dbf/dbf_exception.h"
#include "dbf/dbf_field.h"
#include "dbf/dbf_files.h"
#include "dbf/dbf_format.h"
#include "tk/tk_byte_order.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

namespace fmt = dbf_format;

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

}  // namespace

dbf_table_opener::dbf_table_opener(tk_huge_file& file, const std::wstring& path, const dbf_report& reporter,
                                   dbf_database* owner, const dbf_open_options& options, uint8_t codepage_key)
    : file_(file),
      path_(path),
      fs_path_(tk_unicode_to_path(path)),
      reporter_(reporter),
      owner_(owner),
      options_(options),
      codepage_key_(codepage_key) {}

dbf_table_layout dbf_table_opener::open(udb_schema& schema, dbf_record& record) {
    uint64_t size = 0;
    try {
        size = file_.get_size();
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    read_header(size);
    tk_log(2, "data_offset=%u, last_rec=%d, rec_size=%d", layout_.data_offset, layout_.header.last_rec,
           layout_.header.rec_size);
    if (layout_.descriptors.empty()) not_dbf("Table has no fields");
    check_widths();
    count_records(size);
    tk_log(2, "DBF file has codepage: %d", layout_.header.language_driver);
    if (codepage_key_ != 0) tk_log(2, "Setting user-defined codepage: %d", codepage_key_);
    build_columns();
    container_step(size);
    refine_from_dbc();
    make_names_unique();
    build_schema(schema, record);
    return std::move(layout_);
}

void dbf_table_opener::read_header(uint64_t file_size) {
    if (file_size < fmt::header::size) not_dbf("File is too small");
    // Level 7 names its language driver in bytes 32-63 of a 68-byte header.
    uint8_t h[fmt::header::driver_name_at + fmt::header::driver_name_size] = {};
    try {
        file_.get_at(0, h, static_cast<size_t>(std::min<uint64_t>(file_size, sizeof h)));
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    layout_.header.version = h[fmt::header::version_at];
    if (h[0] == 0x02) {
        layout_.header.last_rec = load_le16(h + fmt::header2::record_count_at);
        layout_.header.rec_size = load_le16(h + fmt::header2::record_size_at);
        if (layout_.header.rec_size < 2) not_dbf("Invalid DBF header");
        read_descriptors_dbase2(file_size);
    } else {
        std::memcpy(layout_.header.update, h + fmt::header::updated_at, fmt::header::updated_size);
        layout_.header.last_rec = static_cast<int32_t>(load_le32(h + fmt::header::record_count_at));
        layout_.header.data_offset = load_le16(h + fmt::header::data_offset_at);
        layout_.header.rec_size = load_le16(h + fmt::header::record_size_at);
        layout_.header.flags = h[fmt::header::flags_at];
        layout_.header.language_driver = h[fmt::header::language_driver_at];
        if (layout_.header.rec_size < 2 || layout_.header.last_rec < 0) not_dbf("Invalid DBF header");
        const auto* driver_name = reinterpret_cast<const char*>(h + fmt::header::driver_name_at);
        choose_codepage(is_level7(h[0]) ? std::string_view(driver_name, fmt::header::driver_name_size)
                                        : std::string_view());
        read_descriptors_standard(file_size);
    }
}

void dbf_table_opener::choose_codepage(std::string_view driver_name) {
    const dbf_codepage_choice choice = dbf_choose_codepage(codepage_key_, layout_.header.language_driver, driver_name);
    layout_.codepage = choice.codepage;
    if (!choice.unknown_driver.empty())
        reporter_.report(dbf_exception(choice.unknown_driver, tk_level_recoverable), path_);
}

void dbf_table_opener::read_descriptors_standard(uint64_t file_size) {
    const bool level7 = is_level7(layout_.header.version);
    const size_t hdr = level7 ? fmt::header::level7_size : fmt::header::size;
    const size_t dsz = level7 ? fmt::descriptor7::size : fmt::descriptor::size;
    uint64_t limit = layout_.header.data_offset ? layout_.header.data_offset : file_size;
    limit = std::min<uint64_t>({limit, file_size, header_cap});
    std::vector<uint8_t> buf(static_cast<size_t>(limit));
    try {
        file_.get_at(0, buf.data(), buf.size());
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    tk_log(2, level7 ? "Processing dBASE Level 7 format" : "Default processing");
    size_t pos = hdr;
    for (; pos + 1 <= buf.size(); pos += dsz) {
        if (buf[pos] == fmt::descriptors_end) {
            layout_.terminator = static_cast<uint32_t>(pos);
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
        fd.version = layout_.header.version;
        if (fd.name[0] == 0 && fd.field_type == 0) {
            tk_log(3, "WARNING: %s: the field descriptors are not ended by 0x0D", fs_path_.c_str());
            break;
        }
        add_descriptor(fd);
    }
    if (layout_.header.data_offset == 0) {
        if (layout_.terminator == 0) not_dbf("No header length and no descriptor terminator");
        layout_.data_offset =
            layout_.terminator + 1 + (is_vfp_version(layout_.header.version) ? fmt::backlink::size : 0);
    } else {
        layout_.data_offset = layout_.header.data_offset;
        if (layout_.terminator != 0 && layout_.data_offset < layout_.terminator + 1)
            not_dbf("Header length inside the descriptors");
        if (layout_.terminator == 0 && layout_.data_offset < pos) not_dbf("Header length inside the descriptors");
    }
}

void dbf_table_opener::read_descriptors_dbase2(uint64_t file_size) {
    tk_log(2, "Processing FoxBase format (signature=2)");
    constexpr size_t area = fmt::header2::size + fmt::header2::max_descriptors * fmt::descriptor2::size + 1;
    const size_t limit = static_cast<size_t>(std::min<uint64_t>(file_size, area));
    std::vector<uint8_t> buf(limit);
    try {
        file_.get_at(0, buf.data(), buf.size());
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    size_t pos = fmt::header2::size;
    for (size_t i = 0; i < fmt::header2::max_descriptors && pos < buf.size(); ++i, pos += fmt::descriptor2::size) {
        if (buf[pos] == fmt::descriptors_end) {
            layout_.terminator = static_cast<uint32_t>(pos);
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
    const uint64_t need = static_cast<uint64_t>(layout_.header.last_rec) * layout_.header.rec_size;
    constexpr size_t published = fmt::header2::data_offset;
    constexpr size_t behind = fmt::header2::data_after_terminator;
    layout_.data_offset = published;
    if (file_size < published + need && layout_.terminator != 0 && file_size >= layout_.terminator + behind + need)
        layout_.data_offset = layout_.terminator + behind;
    layout_.header.data_offset = static_cast<uint16_t>(layout_.data_offset);
    layout_.codepage = dbf_effective_codepage(codepage_key_, 0);
}

void dbf_table_opener::add_descriptor(const dbf_field_descriptor7& fd) {
    layout_.descriptors.push_back(fd);
    const uint32_t w = static_cast<uint32_t>(dbf_get_size_2(fd));
    layout_.widths.push_back(w);
    tk_log(2, "Got field: %s, type=%c, size=%u", fd.name, fd.field_type, w);
}

void dbf_table_opener::check_widths() {
    uint64_t sum = 1;
    for (uint32_t w : layout_.widths) sum += w;
    if (sum <= layout_.header.rec_size) return;
    // Spreadsheet exports write stray decimals on character fields: read
    // as a length high byte they overflow the record. The plain length
    // bytes are taken when they fill the record exactly.
    uint64_t plain = 1;
    for (const auto& fd : layout_.descriptors) plain += fd.length;
    if (plain == layout_.header.rec_size) {
        tk_log(3, "WARNING: %s: field lengths with their high bytes overflow the record; the length bytes are used",
               fs_path_.c_str());
        for (size_t i = 0; i < layout_.descriptors.size(); ++i) {
            if (layout_.descriptors[i].field_type != 'N' && layout_.descriptors[i].field_type != 'F')
                layout_.descriptors[i].decimals = 0;
            layout_.widths[i] = layout_.descriptors[i].length;
        }
        return;
    }
    not_dbf("Field widths do not fit the record length");
}

uint64_t dbf_table_opener::stray_bytes(uint64_t end, uint64_t extra) {
    // The end-of-file byte many writers append after the records is none.
    if (extra == 0) return 0;
    char mark = 0;
    file_.get_at(end, &mark, 1);
    return mark == 0x1A ? extra - 1 : extra;
}

void dbf_table_opener::count_records(uint64_t file_size) {
    const uint64_t rs = layout_.header.rec_size;
    const uint64_t fit = file_size > layout_.data_offset ? (file_size - layout_.data_offset) / rs : 0;
    const uint64_t declared = static_cast<uint64_t>(layout_.header.last_rec);
    layout_.record_count = static_cast<uint32_t>(std::min(declared, fit));
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
        const uint64_t end = layout_.data_offset + declared * rs;
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
        else if (stray_bytes(end, extra) > 0)  // told like whole records
            reporter_.report(
                dbf_exception("The file holds " + std::to_string(stray_bytes(end, extra)) + " bytes past its " +
                                  std::to_string(declared) + " records; they are not converted",
                              tk_level_recoverable),
                path_);
    }
}

void dbf_table_opener::build_columns() {
    const bool vfp = is_vfp_version(layout_.header.version);
    uint32_t offset = 1;
    int bit = 0;
    for (size_t i = 0; i < layout_.descriptors.size(); ++i) {
        const auto& fd = layout_.descriptors[i];
        const uint32_t w = layout_.widths[i];
        if (fd.field_type == '0') {
            tk_log(2, "Unsupported type, skip it");
            if (layout_.nullflags_offset < 0) {
                layout_.nullflags_offset = static_cast<int>(offset);
                layout_.nullflags_width = w;
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
        layout_.columns.push_back(c);
        layout_.names.push_back(tk_codepage_to_unicode(fd.name_view(), layout_.codepage));
        offset += w;
    }
    // Bits beyond the null-flags field (or without one) are not used.
    const int bits = layout_.nullflags_offset < 0 ? 0 : static_cast<int>(layout_.nullflags_width * 8);
    for (auto& c : layout_.columns) {
        if (c.null_bit >= bits) c.null_bit = -1;
        if (c.varlen_bit >= bits) c.varlen_bit = -1;
    }
}

void dbf_table_opener::container_step(uint64_t file_size) {
    if (!is_vfp_version(layout_.header.version) || layout_.terminator == 0) return;
    const uint64_t start = layout_.terminator + 1;
    const uint64_t end = std::min<uint64_t>({layout_.data_offset, start + fmt::backlink::size, file_size});
    if (end <= start) return;
    std::string area(static_cast<size_t>(end - start), '\0');
    try {
        file_.get_at(start, area.data(), area.size());
    } catch (const tk_exception& e) {
        throw dbf_exception::io_failure(fs_path_, e);
    }
    area.resize(strnlen(area.c_str(), area.size()));
    if (area.empty() || area[0] == ' ') {
        tk_log(2, "No information about .dbc file");
        return;
    }
    layout_.backlink = area;
    tk_log(2, "Got DBC name=%s", layout_.backlink.c_str());
    if (!options_.container_step || !owner_ || !owner_->get_use_dbc() || owner_->get_dbc()) return;

    // A Windows path in the table's code page, resolved from the table's
    // folder component by component in any letter case.
    std::string link = tk_unicode_to_path(tk_codepage_to_unicode(layout_.backlink, layout_.codepage));
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

void dbf_table_opener::refine_from_dbc() {
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
    for (auto& n : layout_.names) {
        auto f = t->second.find(tk_unicode_to_utf8(n));
        if (f == t->second.end()) continue;
        tk_log(3, "Tuning field name: %s -> %s", tk_unicode_to_utf8(n).c_str(), f->second.c_str());
        n = tk_utf8_to_unicode(f->second);
    }
}

void dbf_table_opener::make_names_unique() {
    // What the source calls each field, for the fields read under another
    // name: a field without a name is known by its place.
    layout_.own_names.assign(layout_.names.size(), std::wstring());
    for (size_t i = 0; i < layout_.names.size(); ++i)
        if (layout_.names[i].empty()) {
            layout_.own_names[i] = L"#" + std::to_wstring(i + 1);
            layout_.names[i] = L"FIELD" + std::to_wstring(i + 1);
        }
    // One set of the case-folded names holds every name given so far and
    // every name still to come, so a candidate NAME_k never takes a later
    // field's own name; each name's next k is remembered, so thousands of
    // fields of one name cost one pass.
    std::unordered_set<std::wstring> taken;
    taken.reserve(layout_.names.size() * 2);
    for (const auto& n : layout_.names) taken.insert(folded(n));
    std::unordered_set<std::wstring> seen;
    seen.reserve(layout_.names.size());
    std::unordered_map<std::wstring, int> next_k;
    for (auto& name : layout_.names) {
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
        std::wstring& own = layout_.own_names[static_cast<size_t>(&name - layout_.names.data())];
        if (own.empty()) own = name;
        name = std::move(cand);
    }
}

void dbf_table_opener::build_schema(udb_schema& schema, dbf_record& record) {
    record.codepage = layout_.codepage;
    for (size_t i = 0; i < layout_.columns.size(); ++i) {
        const auto& c = layout_.columns[i];
        const auto& fd = layout_.descriptors[c.descriptor];
        const bool memo = c.how == dbf_decoding::memo_text || c.how == dbf_decoding::memo_binary;
        const uint32_t size = memo ? 0 : c.width;
        uint32_t reserved = 0;
        if (c.type == 'D') reserved = 2;
        if (c.type == 'T' || c.type == '@') reserved = 1;
        t_ftd col(size, layout_.names[i], c.vartype, false, false, ole_variant(), reserved);
        if (i < layout_.own_names.size()) col.own_name = layout_.own_names[i];
        if (c.vartype == VT_DECIMAL && c.type == 'N') {
            col.precision = dbf_field::decimal_precision(fd);
            col.scale = dbf_field::decimal_scale(fd);
            tk_log(2, "Got VT_DECIMAL(%u,%u)", col.precision, col.scale);
        }
        schema.push_back(col);
        if (i < options_.max_columns) record.add_field(std::make_unique<dbf_field>(layout_.names[i], size));
    }
}
