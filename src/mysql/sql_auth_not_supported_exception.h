// The server asks for an authentication protocol the program cannot speak
// (a 4.1.0 server with a password). Level 1: the operation ends.
#pragma once

#include "tk/tk_exception.h"

class sql_auth_not_supported_exception : public tk_exception {
public:
    sql_auth_not_supported_exception()
        : tk_exception(std::string("The program does not support authentication protocol requested by "
                                   "server. See 'Troubleshooting' article of the product documentation."),
                       tk_level_error) {}
};
