#include "dbf/dbf_new_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "dbf/dbf_create_field.h"
#include "dbf/dbf_exception.h"
#include "dbf/dbf_fn_validator.h"
#include "dbf/dbf_log.h"
#include "tk/tk_text.h"

namespace {

constexpr uint32_t backlink_size = 263;

void put16(std::string& b, size_t at, uint32_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

std::string system_text(int code) {
    char buf[256];
    return strerror_r(code, buf, sizeof buf);
}

}  // namespace

dbf_new_table::dbf_new_table(const std::wstring& table, const udb_schema& schema, uint8_t language_driver)
    : language_driver_(language_driver) {
    const std::string tname = tk_unicode_to_utf8(table);
    if (schema.empty()) throw dbf_exception("Table '" + tname + "' has no fields", 0);
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
        if (validator.is_acceptable(name) && !validator.is_used(name)) validator.add_used_name(name);
        else name = validator.get_safe_name(name);
        dbf_field_descriptor7 fd;
        try {
            fd = dbf_create_field(*column, tk_unicode_to_utf8(name), vfp);
        } catch (const dbf_exception& e) {
            throw dbf_exception("Table '" + tname + "': " + e.message, 0);
        }
        fd.version = vfp ? 0x30 : 0x03;
        has_memo_ |= fd.field_type == 'M';
        rec_size += static_cast<uint64_t>(dbf_get_size_2(fd));
        descriptors_.push_back(fd);
        names_.push_back(name);
    }
    version_ = vfp ? 0x30 : (has_memo_ ? 0xF5 : 0x03);
    const uint64_t data_offset = 32 * descriptors_.size() + 33 + (vfp ? backlink_size : 0);
    if (descriptors_.empty()) throw dbf_exception("Table '" + tname + "' has no fields", 0);
    if (data_offset > 0xFFFF || rec_size > 0xFFFF)
        throw dbf_exception("Table '" + tname + "' is too wide for a DBF table (" + std::to_string(descriptors_.size()) +
                                " fields, record of " + std::to_string(rec_size) + " bytes)",
                            0);
    data_offset_ = static_cast<uint16_t>(data_offset);
    rec_size_ = static_cast<uint16_t>(rec_size);
    for (auto& fd : descriptors_) fd.version = version_;
}

std::string dbf_new_table::file_bytes() const {
    std::string b(data_offset_ + 1u, '\0');
    b[0] = static_cast<char>(version_);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    b[1] = static_cast<char>(local.tm_year % 100);
    b[2] = static_cast<char>(local.tm_mon + 1);
    b[3] = static_cast<char>(local.tm_mday);
    put16(b, 8, data_offset_);
    put16(b, 10, rec_size_);
    if (is_vfp() && has_memo_) b[28] = 0x02;
    b[29] = static_cast<char>(language_driver_);
    uint32_t offset = 1;
    for (size_t i = 0; i < descriptors_.size(); ++i) {
        const dbf_field_descriptor7& fd = descriptors_[i];
        const size_t at = 32 + 32 * i;
        std::memcpy(&b[at], fd.name, strnlen(fd.name, 10));
        b[at + 11] = static_cast<char>(fd.field_type);
        if (is_vfp()) {
            // Visual FoxPro keeps each field's place in the record.
            put16(b, at + 12, offset & 0xFFFF);
            put16(b, at + 14, offset >> 16);
        }
        b[at + 16] = static_cast<char>(fd.length);
        b[at + 17] = static_cast<char>(fd.decimals);
        offset += static_cast<uint32_t>(dbf_get_size_2(fd));
    }
    b[32 + 32 * descriptors_.size()] = 0x0D;
    b[data_offset_] = 0x1A;
    return b;
}

void dbf_new_table::write_exclusive(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int code = errno;
        if (code == EEXIST) throw dbf_exception("File '" + path + "' already exists", 0);
        throw dbf_exception("Cannot create file '" + path + "' (" + system_text(code) + ")", 0);
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
        throw dbf_exception("Cannot write into file '" + path + "' (" + system_text(code) + ")", 0);
    }
    DBF_LOG(2, "Created '%s' (%zu bytes)", path.c_str(), bytes.size());
}
