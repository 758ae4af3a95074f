// What a server error says about the statement that met it.
//
// A row error is one a single row can cause: a value too long, out of
// range or incorrect, a duplicate key, a foreign key, a trigger's SIGNAL,
// a CHECK, no partition for the value. The other rows of its statement may
// go again one by one. A state error is the server's or the session's:
// the connection lost or the server gone (every client error), the
// database or the table missing, a privilege refused, a read-only server
// or table, a full disk or table, a shutdown, no memory, a lock wait
// timeout or a deadlock (after which the server has rolled the statement
// back). Nothing sent after it can succeed. An error that is neither is a
// statement's own: rows that meet it are loaded no further, since no row
// explains it and every row would meet it again.
#pragma once

class sql_error_class {
public:
    static bool is_row_error(unsigned error_number);
    static bool is_state_error(unsigned error_number);
    // The client library's own errors (2000-2999): the connection failed.
    static bool is_client_error(unsigned error_number) { return error_number >= 2000 && error_number < 3000; }
    // Lock wait timeout and deadlock: the server rolled the statement back.
    static bool is_rolled_back(unsigned error_number);
    // A refusal of LOCK TABLES for want of the privilege.
    static bool is_privilege_error(unsigned error_number);
};
