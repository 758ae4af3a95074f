#include "gui/frame/gui_error_box.h"

#include "app/error_handler.h"
#include "gui/frame/wizard_shell.h"
#include "tk/tk_error_converter.h"

std::string gui_error_box::text_of(const tk_exception& failure) {
    static const tk_error_converter texts(error_handler::mysql_error_text_count(), error_handler::mysql_error_texts());
    std::string text = texts.convert(failure.error_code);
    return text.empty() ? std::string(failure.what()) : text;
}

void gui_error_box::show(const tk_exception& failure) { wizard_shell::error(text_of(failure)); }

int gui_error_box::mysql_number(const tk_exception& failure) {
    if ((failure.error_code & 0x400000) == 0) return 0;
    return failure.error_code & ~0x400000;
}

void gui_error_box::open_help(int topic) {
    if (wizard_shell* shell = wizard_shell::try_ptr()) shell->display_help(topic);
}
