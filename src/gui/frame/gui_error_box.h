// How the pages before the run show a failure they catch: the friendlier
// text the MySQL error table gives for the failure's code, else the
// failure's own text, in an error box. The page stays where it is.
#pragma once

#include <string>

#include "tk/tk_exception.h"

class gui_error_box {
public:
    // The text shown for the failure.
    static std::string text_of(const tk_exception& failure);
    // Shows it in an error box.
    static void show(const tk_exception& failure);
    // The MySQL error number a failure carries (0x400000 removed), or 0.
    static int mysql_number(const tk_exception& failure);
    // Opens a help topic when the shell exists.
    static void open_help(int topic);
};
