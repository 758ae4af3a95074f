#include "dump/dump_options.h"

#include "tk/tk_logger.h"

dump_options::dump_options() { tk_log(1, "dump_options::ctor1"); }

const char* dump_options::get_eol() const { return line_break == 0 ? "\r\n" : "\n"; }

const wchar_t* dump_options::get_weol() const { return line_break == 0 ? L"\r\n" : L"\n"; }
