#include "gui/frame/gui_error_view.h"

#include <QString>

#include "gui/dialogs/dlg_error_continue.h"
#include "gui/dialogs/dlg_error_ex.h"
#include "gui/frame/gui_call.h"
#include "gui/frame/wizard_shell.h"
#include "tk/tk_text.h"

namespace {

QString from_utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString error_caption() { return QString::fromStdWString(wizard_shell::caption(L"Error")); }

}  // namespace

void gui_error_view::show_internal_error(const std::string& text) {
    std::string subject;
    if (wizard_shell::is_initialized()) subject = tk_unicode_to_utf8(wizard_shell::ptr()->get_title());
    gui_call::run([&] {
        dlg_error_ex dialog(wizard_shell::owner_window(), error_caption(), from_utf8(text), subject);
        dialog.show_modal();
    });
}

void gui_error_view::show_error(const std::string& message) { wizard_shell::error(message); }

error_view::answer gui_error_view::ask_continue(const std::string& message, bool can_stop) {
    answer result;
    const bool answered = gui_call::run([&] {
        dlg_error_continue dialog(wizard_shell::owner_window(), error_caption(), from_utf8(message), can_stop);
        result.stop = dialog.show_modal() == dlg_error_continue::id_abort;
        result.dont_show_again = dialog.dont_show_again();
    });
    if (!answered) result = answer{true, false};
    return result;
}

void gui_error_view::keep_message(const std::string& message) {
    if (wizard_shell::is_initialized()) wizard_shell::ptr()->add_message(message);
}

void gui_error_view::open_help(int topic) {
    if (wizard_shell* shell = wizard_shell::try_ptr()) shell->display_help(topic);
}
