// The last page of the wizard (dialog 116): whether the conversion went
// well, the first messages of the failures reported during the run, and
// "&Save Settings..." to keep this conversion's settings as a profile.
//
// Controls: 1313 title ("Conversion is Completed", or "Conversion is
// Stopped" after a run that did not complete: stopped by the user, or ended
// by a failure), 1314 result, 1016 the read-only report (shown only with
// messages), 1116 Save Settings. Cancel and Help are off; Escape and the
// close box act as Finish here. The success text is shown only for a run
// that completed and reported nothing. The report also lists the database
// the wizard replaced and the tables and fields written under another name
// (the converter's run_notes, after a success too) and, after a run that did
// not complete, what the target holds (its stop_report).
#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <vector>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "gui/frame/file_dialog.h"
#include "gui/frame/wizard_page.h"
#include "gui/frame/wizard_shell.h"
#include "tk/tk_exception.h"
#include "tk/tk_logger.h"

class gui_finish_page : public wizard_page {
public:
    static constexpr int dialog = 116;
    static constexpr int title_id = 1313;
    static constexpr int result_id = 1314;
    static constexpr int report_id = 1016;
    static constexpr int store_id = 1116;
    // The sheet's Cancel button for wizard_shell::enable_button.
    static constexpr int cancel_button = 8;

    gui_finish_page(std::wstring success_text, std::wstring error_text);
    ~gui_finish_page() override;

    int page_init() override;
    void on_command(int id, command_event event) override;

    // The first time the report gets the focus it is deselected, scrolled
    // to its caret, and the focus goes on to Finish.
    void on_eb_focus();
    // Saves the converter's settings as a profile.
    virtual void on_store() {}

    // The report's text for these messages: each on one line (line breaks
    // as blanks), an empty line after each.
    static std::wstring report_text(const std::vector<std::string>& messages);

protected:
    QWidget* create_widget() override;
    // True when the run reached its end without being stopped or failing.
    virtual bool run_completed() const = 0;
    // Lines that follow the messages: the tables written under another
    // name, then what a run that did not complete left.
    virtual std::vector<std::string> renamed_tables() const { return {}; }
    virtual std::vector<std::string> run_report() const { return {}; }

private:
    class close_filter;

    std::wstring success_text_;
    std::wstring error_text_;
    bool first_focus_ = true;
    std::unique_ptr<close_filter> filter_;
};

template <class Converter, int Dialog = gui_finish_page::dialog>
class gui_finish_page_t : public gui_finish_page {
public:
    gui_finish_page_t(std::wstring success_text, std::wstring error_text, std::string extension)
        : gui_finish_page(std::move(success_text), std::move(error_text)), extension_(std::move(extension)) {
        static_assert(Dialog == gui_finish_page::dialog, "the finish page is dialog 116");
    }

    void on_store() override {
        const std::string filter = "Profile Files (." + extension_ + ")|*." + extension_ + "|All Files (*.*)|*.*|";
        tk_log(1, "gui_finish_page_t::on_store(%s)", filter.c_str());
        const std::string path = choose_path(filter);
        if (path.empty()) return;
        try {
            Converter::ptr()->store_profile(path);
        } catch (const tk_exception& e) {
            // Not written: reported, and the page stays for another try.
            if (error_handler* handler = error_handler::try_ptr())
                handler->handle(e, true);
            else
                wizard_shell::error(std::string(e.what()));
        }
    }

protected:
    bool run_completed() const override {
        const Converter* conv = Converter::try_ptr();
        return conv != nullptr && conv->get_last_outcome() == run_outcome::completed;
    }
    std::vector<std::string> renamed_tables() const override {
        const Converter* conv = Converter::try_ptr();
        return conv != nullptr ? conv->run_notes() : std::vector<std::string>();
    }
    std::vector<std::string> run_report() const override {
        const Converter* conv = Converter::try_ptr();
        return conv != nullptr ? conv->stop_report() : std::vector<std::string>();
    }
    // The save picker; empty when cancelled.
    virtual std::string choose_path(const std::string& filter) {
        save_file_dialog picker(wizard_shell::owner_window(), filter, std::string(), extension_);
        picker.set_title("Select Profile");
        return picker.show() ? picker.get_file_name() : std::string();
    }

private:
    std::string extension_;
};
