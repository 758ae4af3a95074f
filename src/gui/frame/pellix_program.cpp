#include "gui/frame/pellix_program.h"

#include <QApplication>

#include <sys/stat.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "app/run_signals.h"
#include "gui/frame/gui_call.h"
#include "gui/frame/gui_error_view.h"
#include "gui/frame/wizard_shell.h"
#include "gui/pages/conversion_settings.h"
#include "gui/pages/dump_page.h"
#include "gui/pages/gui_finish_page.h"
#include "gui/pages/pqz_sel_tables_page.h"
#include "gui/pages/progress_page.h"
#include "gui/pages/sel_file_page.h"
#include "gui/pages/settings_page.h"
#include "gui/pages/welcome_page.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"

const wchar_t* const pellix_program::success_text =
    L"Wizard has converted your DBF file(s) into\nMySQL data source successfully.\n\nClick 'Finish' to exit the "
    L"wizard.";
const wchar_t* const pellix_program::error_text =
    L"There were some errors while converting the database.\nClick 'Finish' to exit the wizard.";

namespace {

bool has_display() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

bool is_valid_utf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra;
        uint32_t code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            code = (code << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are no text.
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[extra] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
        i += extra + 1;
    }
    return true;
}

void report(const tk_exception& failure) {
    try {
        if (error_handler* handler = error_handler::try_ptr())
            handler->handle(failure, true);
        else
            wizard_shell::error(std::string(failure.what()));
    } catch (const tk_abort_exception&) {
        // An internal error: shown by the handler.
    } catch (const tk_final_exception&) {
    }
}

}  // namespace

void gui_initialize() {
    tk_log(2, "gui_initialize");
    tk_log(2, "gui_initialize - Step #1");
    tk_log(2, "gui_initialize - Step #2");
    tk_log(2, "gui_initialize - end");
}

std::string pellix_program::command_line(const std::vector<std::string>& args) {
    std::string line;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i != 0) line += ' ';
        line += args[i];
    }
    return line;
}

void pellix_program::connect(pellix_converter& conv) { conv.connect_mysql_server(); }

void pellix_program::check_dest(pellix_converter& conv) {
    // A server's database is prepared by the run itself, while the progress
    // page shows what is being done: a drop or a wait for another run may
    // take long, and a failure there is the run's, shown in the wizard.
    if (conv.direct)
        conv.check_dest_first = true;
    else
        conv.check_dest();
}

int pellix_program::run_sheet(wizard_shell& shell) { return shell.run(); }

void pellix_program::load_quick_launch_profile(pellix_converter& conv, const std::string& path) {
    // The whole line is the path, quotes and blanks included.
    if (!is_valid_utf8(path)) throw tk_exception(std::string("The profile path is not valid UTF-8."), tk_level_error);
    tk_log(2, "QUICK LAUNCH: profile=%s", path.c_str());
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        throw tk_exception(std::string("Profile does not exist. Please verify the correct path/name was given."),
                           tk_level_error);
    // A profile that cannot be read whole is refused by the reader: it must
    // not run with what it failed to say (mode 0 would drop the database).
    conv.load_profile(path);
    conv.open_logfile();
}

int pellix_program::run_wizard(pellix_converter& conv, const std::vector<std::string>& args) {
    const bool quick = !args.empty();
    if (quick) {
        load_quick_launch_profile(conv, command_line(args));
        // Nothing to convert: refused before the destination is touched
        // (mode 0 would drop the database for nothing).
        if (conv.selected_pairs.empty() && conv.selected_tables.empty())
            throw tk_exception(std::string("The profile names no table to convert."), tk_level_error);
    }

    // Declared before the shell, so that it lasts until the pages have
    // joined the run: a signal from here on interrupts the run and closes
    // the wizard, which ends with 255.
    run_signals::span signal_span(conv, [] {
        gui_call::post([] {
            if (wizard_shell* shell = wizard_shell::try_ptr()) shell->end(failure_status);
        });
    });
    wizard_shell shell(pellix_converter::make_product_title());
    progress_page* progress = nullptr;
    {
        if (!quick) {
            shell.add_page(std::make_unique<welcome_page>());
            shell.add_page(std::make_unique<dump_page>());
            shell.add_page(std::make_unique<settings_page>());
            shell.add_page(std::make_unique<sel_file_page>());
            shell.add_page(std::make_unique<conversion_settings>());
            shell.add_page(std::make_unique<pqz_sel_tables_page>());
        }
        auto page = std::make_unique<progress_page>();
        progress = page.get();
        shell.add_page(std::move(page));
        shell.add_page(std::make_unique<gui_finish_page_t<pellix_converter>>(success_text, error_text, "pqz"));
    }
    if (quick) {
        if (conv.direct) connect(conv);
        check_dest(conv);
        if (conv.is_interrupted()) return failure_status;
    }
    int status = run_sheet(shell);
    // Once a run took place its outcome decides.
    if (status == 0 && progress->run_started()) status = progress->run_status();
    if (conv.is_interrupted()) status = failure_status;
    return status;
}

namespace {

// What the settings store could not give or keep, in a box (once).
void tell_settings_problem(pellix_converter& conv) {
    const std::string text = conv.take_settings_problem();
    if (!text.empty()) wizard_shell::message(tk_utf8_to_unicode(text));
}

// The full wizard remembers its settings: whatever way the run ends, the
// converter's settings go back to the settings store as it is destroyed.
class settings_keeper {
public:
    explicit settings_keeper(pellix_converter& conv) : conv_(conv) {}
    ~settings_keeper() {
        try {
            if (!conv_.serialize(true)) tk_log(3, "The settings could not be stored");
            tell_settings_problem(conv_);
        } catch (const std::exception& e) {
            tk_log(3, "The settings could not be stored: %s", e.what());
        }
    }
    settings_keeper(const settings_keeper&) = delete;
    settings_keeper& operator=(const settings_keeper&) = delete;

private:
    pellix_converter& conv_;
};

}  // namespace

int pellix_program::run(const std::vector<std::string>& args) {
    tk_logger logger(nullptr, false, 3, false);
    error_handler handler(std::make_unique<gui_error_view>());
    int status = 0;
    try {
        gui_initialize();
        // A quick launch runs the profile as pqzagent would: from the
        // console's settings, and without writing them back.
        const bool quick = !args.empty();
        pellix_converter conv(quick);
        tell_settings_problem(conv);
        std::optional<settings_keeper> keeper;
        if (!quick) keeper.emplace(conv);
        status = run_wizard(conv, args);
    } catch (const tk_abort_exception& e) {
        tk_log(3, "pellix ends after an error: %s", e.what());
        status = failure_status;
    } catch (const tk_final_exception&) {
        status = failure_status;
    } catch (const tk_exception& e) {
        report(e);
        status = failure_status;
    } catch (const std::exception& e) {
        tk_log(3, "pellix: %s", e.what());
        wizard_shell::error(std::string(e.what()));
        status = failure_status;
    }
    tk_log(2, "pellix ends with %d", status);
    return status;
}

int pellix_main(int argc, char** argv) {
    // Qt aborts the process when it finds no display; say why and end.
    if (!has_display()) {
        std::fputs("Failed to initialize GUI library\n", stderr);
        return pellix_program::failure_status;
    }
    // Before Qt starts any thread: SIGINT, SIGTERM and SIGHUP end a run
    // cleanly, and a dump or log that grows past the process's file size
    // limit fails its write instead of ending the program half written.
    run_signals signal_watcher(pellix_program::failure_status);
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    // Qt sets the locale from the environment; numbers are always written
    // and read with '.'.
    std::setlocale(LC_NUMERIC, "C");
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    pellix_program program;
    return program.run(args);
}
