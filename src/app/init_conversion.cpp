#include "app/init_conversion.h"

#include <ctime>

#include "tk/tk_logger.h"

namespace {

void log_time(const char* what) {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    tk_log(3, "Conversion %s on %02d/%02d/%04d at %02d:%02d:%02d", what, t.tm_mday, t.tm_mon + 1, t.tm_year + 1900,
           t.tm_hour, t.tm_min, t.tm_sec);
}

}  // namespace

init_conversion::init_conversion(std::atomic<bool>& finished) : finished_(finished) {
    tk_log(2, "init_conversion::ctor");
    finished_.store(false);
    log_time("started");
}

init_conversion::~init_conversion() {
    tk_log(2, "init_conversion::dtor");
    log_time("ended");
    finished_.store(true);
}
