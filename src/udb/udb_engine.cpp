#include "udb/udb_engine.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_database.h"

udb_engine::udb_engine() = default;
udb_engine::~udb_engine() = default;

void udb_engine::db_delete(const std::wstring& name) {
    tk_wlog(1, L"udb_engine::db_delete(%ls)", name.c_str());
    std::string path = tk_unicode_to_path(name);
    if (::unlink(path.c_str()) != 0) {
        int code = errno;
        throw tk_exception_ex(std::string(), tk_level_error, code);
    }
}

bool udb_engine::is_db_exist(const std::wstring& name) {
    tk_wlog(1, L"udb_engine::is_db_exist(%ls)", name.c_str());
    struct stat st {};
    std::string path = tk_unicode_to_path(name);
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void udb_engine::set_properties(udb_properties* bag) { properties_ = bag; }
