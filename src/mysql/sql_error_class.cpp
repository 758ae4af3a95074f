#include "mysql/sql_error_class.h"

#include <mysqld_error.h>

#include <algorithm>
#include <iterator>

namespace {

// MySQL 8's numbers, absent from the MariaDB headers.
constexpr unsigned mysql_foreign_duplicate_key = 1557;
constexpr unsigned mysql_invalid_json_text = 3140;
constexpr unsigned mysql_check_constraint_violated = 3819;

// Refusals of one row's values or keys, as the server's error reference
// lists them.
constexpr unsigned row_errors[] = {
    ER_DUP_KEY,                                   // 1022 duplicate key in table
    ER_BAD_NULL_ERROR,                            // 1048 column cannot be null
    ER_DUP_ENTRY,                                 // 1062 duplicate entry for key
    ER_TOO_BIG_ROWSIZE,                           // 1118 row size too large (the row's inline values)
    ER_DUP_UNIQUE,                                // 1169 unique constraint
    ER_NO_REFERENCED_ROW,                         // 1216 foreign key: no parent row
    ER_ROW_IS_REFERENCED,                         // 1217 foreign key: the row is referenced
    ER_WARN_NULL_TO_NOTNULL,                      // 1263 NULL into a NOT NULL column
    ER_WARN_DATA_OUT_OF_RANGE,                    // 1264 out of range value
    WARN_DATA_TRUNCATED,                          // 1265 data truncated
    ER_TRUNCATED_WRONG_VALUE,                     // 1292 incorrect value (dates, numbers)
    ER_INVALID_CHARACTER_STRING,                  // 1300 invalid character string
    ER_DIVISION_BY_ZERO,                          // 1365
    ER_TRUNCATED_WRONG_VALUE_FOR_FIELD,           // 1366 incorrect value for column
    ER_ILLEGAL_VALUE_FOR_TYPE,                    // 1367
    ER_VIEW_CHECK_FAILED,                         // 1369 CHECK OPTION failed
    ER_DATA_TOO_LONG,                             // 1406 data too long for column
    ER_WRONG_VALUE_FOR_TYPE,                      // 1411 incorrect value for a function
    ER_CANT_CREATE_GEOMETRY_OBJECT,               // 1416
    ER_DATETIME_FUNCTION_OVERFLOW,                // 1441
    ER_ROW_IS_REFERENCED_2,                       // 1451 foreign key: the row is referenced
    ER_NO_REFERENCED_ROW_2,                       // 1452 foreign key: no parent row
    ER_NO_PARTITION_FOR_GIVEN_VALUE,              // 1526
    mysql_foreign_duplicate_key,                  // 1557 upholding a foreign key gives a duplicate
    ER_DUP_ENTRY_WITH_KEY_NAME,                   // 1586
    ER_NO_PARTITION_FOR_GIVEN_VALUE_SILENT,       // 1591
    ER_SIGNAL_WARN,                               // 1642 a trigger's SIGNAL
    ER_SIGNAL_NOT_FOUND,                          // 1643
    ER_SIGNAL_EXCEPTION,                          // 1644
    ER_DATA_OUT_OF_RANGE,                         // 1690 value out of range
    ER_ROW_DOES_NOT_MATCH_GIVEN_PARTITION_SET,    // 1748
    ER_FOREIGN_DUPLICATE_KEY_WITH_CHILD_INFO,     // 1761
    ER_FOREIGN_DUPLICATE_KEY_WITHOUT_CHILD_INFO,  // 1762
    ER_DUP_UNKNOWN_IN_INDEX,                      // 1859
    ER_DATA_OVERFLOW,                             // 1916 overflow converting a value
    ER_DATA_TRUNCATED,                            // 1917
    ER_BAD_DATA,                                  // 1918 illegal value converting
    mysql_invalid_json_text,                      // 3140
    mysql_check_constraint_violated,              // 3819 CHECK constraint (MySQL)
    ER_CONSTRAINT_FAILED,                         // 4025 CHECK constraint (MariaDB)
};

// The server's or the session's state.
constexpr unsigned state_errors[] = {
    ER_DISK_FULL,                     // 1021
    ER_OPEN_AS_READONLY,              // 1036 table is read only
    ER_OUTOFMEMORY,                   // 1037
    ER_OUT_OF_SORTMEMORY,             // 1038
    ER_OUT_OF_RESOURCES,              // 1041
    ER_DBACCESS_DENIED_ERROR,         // 1044
    ER_ACCESS_DENIED_ERROR,           // 1045
    ER_BAD_DB_ERROR,                  // 1049 unknown database
    ER_SERVER_SHUTDOWN,               // 1053
    ER_RECORD_FILE_FULL,              // 1114 the table is full
    ER_TABLEACCESS_DENIED_ERROR,      // 1142
    ER_COLUMNACCESS_DENIED_ERROR,     // 1143
    ER_NO_SUCH_TABLE,                 // 1146
    ER_NET_PACKET_TOO_LARGE,          // 1153 the server closes the connection after it
    ER_LOCK_WAIT_TIMEOUT,             // 1205
    ER_LOCK_DEADLOCK,                 // 1213
    ER_SPECIFIC_ACCESS_DENIED_ERROR,  // 1227
    ER_OPTION_PREVENTS_STATEMENT,     // 1290 --read-only and the like
    ER_CONNECTION_KILLED,             // 1927
};

template <size_t n>
bool listed(const unsigned (&list)[n], unsigned error_number) {
    return std::find(std::begin(list), std::end(list), error_number) != std::end(list);
}

}  // namespace

bool sql_error_class::is_row_error(unsigned error_number) { return listed(row_errors, error_number); }

bool sql_error_class::is_state_error(unsigned error_number) {
    return is_client_error(error_number) || listed(state_errors, error_number);
}

bool sql_error_class::is_rolled_back(unsigned error_number) {
    return error_number == ER_LOCK_WAIT_TIMEOUT || error_number == ER_LOCK_DEADLOCK;
}

bool sql_error_class::is_privilege_error(unsigned error_number) {
    return error_number == ER_DBACCESS_DENIED_ERROR || error_number == ER_TABLEACCESS_DENIED_ERROR ||
           error_number == ER_SPECIFIC_ACCESS_DENIED_ERROR;
}
