#include "dbf/dbf_exception.h"

#include <cstring>

dbf_exception dbf_exception::io_failure(const std::string& path, const std::exception& cause) {
    std::string reason = cause.what();
    int code = 0;
    if (auto* tk = dynamic_cast<const tk_exception*>(&cause)) code = tk->error_code;
    if (code != 0 && reason.find(':') == std::string::npos) {
        char buf[256];
        reason += ": ";
        reason += strerror_r(code, buf, sizeof buf);
    }
    return dbf_exception("Cannot read file '" + path + "' (" + reason + ")", tk_level_recoverable);
}
