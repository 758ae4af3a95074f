#include "mysql/sql_exception.h"

#include <mysql.h>

#include "mysql/sql_engine.h"
#include "tk/tk_logger.h"

sql_exception::sql_exception() : sql_exception(sql_engine::ptr()->get_mysql()) {}

sql_exception::sql_exception(MYSQL* mysql) : tk_exception(std::string(mysql_error(mysql)), tk_level_recoverable) {
    set_error(mysql_errno(mysql));
}

sql_exception::sql_exception(unsigned error_number, const std::string& text)
    : tk_exception(text, tk_level_recoverable) {
    set_error(error_number);
}

void sql_exception::set_error(unsigned error_number) {
    tk_log(2, "sql_exception::sql_exception( msg=%s)", message.c_str());
    tk_log(2, "Got MySQL error code=%u", error_number);
    error_code = mysql_error_bit | int32_t(error_number & 0xFFFF);
}
