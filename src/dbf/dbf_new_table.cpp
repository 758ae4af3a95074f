#include "dbf/dbf_new_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "dbf/dbf_create_field.h"
#include "dbf/dbf_exception.h"
#include "dbf/dbf_fn_validator.h"
#include "dbf/dbf_format.h"
#include "tk/tk_byte_order.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

namespace fmt = dbf_format;

std::string system_text(int code) {
    char buf[256];
    return strerror_r(code, buf, sizeof buf);
}

}  // namespace

dbf_new_table::dbf_new_table(const std::wstring& table, const udb_schema& schema, uint8_t language_driver)
    : language_driver_(language_driver) {
    const std::string tname = tk_unicode_to_utf8(table);
    if (schema.empty()) throw dbf_exception("Table '" + tname + "' has no fields", tk_level_recoverable);
    bool vfp = false;
    for (size_t i = 0; i < schema.size(); ++i)
        if (schema.at(i) && dbf_needs_vfp(*schema.at(i))) vfp = true;

    dbf_fn_validator validator(schema);
    uint64_t rec_size = 1;
    for (size_t i = 0; i < schema.size(); ++i) {
        const t_ftd* column = schema.at(i);
        if (!column) continue;
        // The schema's own name is kept unless another field has it already.
        std::wstring name = column->name;
        if (validator.is_acceptable(name) && !validator.is_used(name))
            validator.add_used_name(name);
        else
            name = validator.get_safe_name(name);
        dbf_field_descriptor7 fd;
        try {
            fd = dbf_create_field(*column, tk_unicode_to_utf8(name), vfp);
        } catch (const dbf_exception& e) {
            throw dbf_exception("Table '" + tname + "': " + e.message, tk_level_recoverable);
        }
        fd.version = vfp ? 0x30 : 0x03;
        has_memo_ |= fd.field_type == 'M';
        rec_size += static_cast<uint64_t>(dbf_get_size_2(fd));
        descriptors_.push_back(fd);
        names_.push_back(name);
    }
    version_ = vfp ? 0x30 : (has_memo_ ? 0xF5 : 0x03);
    // The header, the descriptors, their terminator and the back-link area.
    const uint64_t data_offset =
        fmt::header::size + fmt::descriptor::size * descriptors_.size() + 1 + (vfp ? fmt::backlink::size : 0);
    if (descriptors_.empty()) throw dbf_exception("Table '" + tname + "' has no fields", tk_level_recoverable);
    if (data_offset > 0xFFFF || rec_size > 0xFFFF)
        throw dbf_exception("Table '" + tname + "' is too wide for a DBF table (" +
                                std::to_string(descriptors_.size()) + " fields, record of " + std::to_string(rec_size) +
                                " bytes)",
                            tk_level_recoverable);
    data_offset_ = static_cast<uint16_t>(data_offset);
    rec_size_ = static_cast<uint16_t>(rec_size);
    for (auto& fd : descriptors_) fd.version = version_;
}

std::string dbf_new_table::file_bytes() const {
    std::string b(data_offset_ + 1u, '\0');
    b[fmt::header::version_at] = static_cast<char>(version_);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    b[fmt::header::updated_at] = static_cast<char>(local.tm_year % 100);
    b[fmt::header::updated_at + 1] = static_cast<char>(local.tm_mon + 1);
    b[fmt::header::updated_at + 2] = static_cast<char>(local.tm_mday);
    store_le16(&b[fmt::header::data_offset_at], data_offset_);
    store_le16(&b[fmt::header::record_size_at], rec_size_);
    if (is_vfp() && has_memo_) b[fmt::header::flags_at] = fmt::header::flag_memo;
    b[fmt::header::language_driver_at] = static_cast<char>(language_driver_);
    uint32_t offset = 1;
    for (size_t i = 0; i < descriptors_.size(); ++i) {
        const dbf_field_descriptor7& fd = descriptors_[i];
        char* d = &b[fmt::header::size + fmt::descriptor::size * i];
        std::memcpy(d + fmt::descriptor::name_at, fd.name, strnlen(fd.name, fmt::descriptor::name_size - 1));
        d[fmt::descriptor::type_at] = static_cast<char>(fd.field_type);
        // Visual FoxPro keeps each field's place in the record.
        if (is_vfp()) store_le32(d + fmt::descriptor::record_offset_at, offset);
        d[fmt::descriptor::length_at] = static_cast<char>(fd.length);
        d[fmt::descriptor::decimals_at] = static_cast<char>(fd.decimals);
        offset += static_cast<uint32_t>(dbf_get_size_2(fd));
    }
    b[fmt::header::size + fmt::descriptor::size * descriptors_.size()] = fmt::descriptors_end;
    b[data_offset_] = fmt::file_end;
    return b;
}

void dbf_new_table::write_exclusive(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int code = errno;
        if (code == EEXIST) throw dbf_exception("File '" + path + "' already exists", tk_level_recoverable);
        throw dbf_exception("Cannot create file '" + path + "' (" + system_text(code) + ")", tk_level_recoverable);
    }
    size_t done = 0;
    int code = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            code = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 && code == 0) code = errno;
    if (code != 0) {
        ::unlink(path.c_str());
        throw dbf_exception("Cannot write into file '" + path + "' (" + system_text(code) + ")", tk_level_recoverable);
    }
    tk_log(2, "Created '%s' (%zu bytes)", path.c_str(), bytes.size());
}
