#include "dbf/dbf_report.h"

#include "tk/tk_logger.h"
#include "tk/tk_text.h"

void dbf_report::report(const tk_exception& failure, const std::wstring& context) const {
    if (hook_) {
        hook_(failure, context);
        return;
    }
    tk_log(3, "%s (%s)", failure.what(), tk_unicode_to_utf8(context).c_str());
}
