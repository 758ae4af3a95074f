// Trace helpers of the DBF reader. The level test comes before the arguments
// are evaluated, so a per-field or per-record line costs one load and a
// compare while the logger is silent or the threshold is higher.
#pragma once

#include "tk/tk_logger.h"

inline bool dbf_log_on(int level) {
    const tk_logger* l = tk_logger::try_ptr();
    return l != nullptr && l->accepts(level);
}

#define DBF_LOG(level, ...)                                \
    do {                                                   \
        if (dbf_log_on(level)) tk_log(level, __VA_ARGS__); \
    } while (0)
