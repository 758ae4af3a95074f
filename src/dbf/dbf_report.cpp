#include "dbf/dbf_report.h"

#include <mutex>

#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {
std::mutex hook_mutex;
dbf_report::hook current;
}  // namespace

dbf_report::hook dbf_report::set_hook(hook h) {
    std::lock_guard<std::mutex> lock(hook_mutex);
    hook old = std::move(current);
    current = std::move(h);
    return old;
}

void dbf_report::report(const tk_exception& failure, const std::wstring& context) {
    hook h;
    {
        std::lock_guard<std::mutex> lock(hook_mutex);
        h = current;
    }
    if (h) {
        h(failure, context);
        return;
    }
    tk_log(3, "%s (%s)", failure.what(), tk_unicode_to_utf8(context).c_str());
}
