// The wizard: its sheet, its pages in order, navigation, message boxes,
// help, the progress timer and the list of messages for the finish page.
//
// One wizard_shell exists (a singleton) from the start of the program to
// the end of its sheet. It owns its pages and the sheet window. The boxes,
// display_help, set_timer/kill_timer, add_message and end may be called
// from any thread: off the GUI thread they run there while the caller
// waits (gui_call). Everything else belongs to the GUI thread.
//
// Navigation: Next and Back ask the current page for a target (a dialog
// number, 0 the neighbour, -1 stay), then whether it may be left; the
// target page's button set is applied before its page_init, and a page
// whose page_init is not > 0 passes the move on in the same direction.
// With no taker, or when a callback fails, the current page stays.
#pragma once

#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gui/frame/wizard_page.h"
#include "tk/tk_singleton.h"

class QTimer;
class QWidget;
class QTextBrowser;
class wizard_sheet;

class wizard_shell : public tk_singleton<wizard_shell> {
public:
    // Messages kept for the finish page.
    static constexpr size_t max_messages = 20;
    // The exit status after an error the wizard must not go on from.
    static constexpr int abort_status = 255;

    explicit wizard_shell(const std::wstring& title);
    ~wizard_shell() override;

    const std::wstring& get_title() const { return title_; }

    // Appends a page; the order of the calls is the page order.
    void add_page(std::unique_ptr<wizard_page> page);
    // Shows the sheet at its first page and returns the exit status when it
    // closes: 0 for Finish and Cancel, 255 after an abort.
    int run();
    // Closes the sheet with this status (any thread).
    void end(int status);

    void initialize_if();
    static bool is_initialized();

    // Message boxes, from any thread, with or without a shell: owned by the
    // sheet and captioned "<title> Error" once the shell is initialised,
    // else ownerless and captioned "Error". Once the sheet has closed (or
    // the calling worker is being stopped) they are only logged; a question
    // then answers No.
    static void error(const std::wstring& text);
    static void error(const std::string& text);  // UTF-8
    static void message(const std::wstring& text);
    static bool question(const std::wstring& text, bool default_no);

    // Opens a topic page of the help folder (a missing one opens the
    // default topic); without a topic the default topic.
    void display_help(int topic);
    void display_help();
    // The folder holding index.html and <topic>.html; default
    // "pellix.help" beside the program, else where an install puts it
    // (program_files).
    void set_help_folder(const std::string& folder) { help_folder_ = folder; }
    const std::string& get_help_folder() const { return help_folder_; }

    // One periodic timer whose ticks reach the current page's on_timer on
    // the GUI thread. A second set_timer while it is set is an assertion.
    void set_timer(int milliseconds);
    void kill_timer();
    bool is_timer_set() const { return timer_set_.load(std::memory_order_acquire); }

    // Buttons of the current page (wizard_button bits).
    void set_buttons(int buttons);
    void enable_button(int button, bool on);
    // Makes the page with this dialog number current, as if reached by Next.
    void select_page(int dialog);

    // The first max_messages messages of failures; reads return a copy.
    void add_message(const std::string& message);
    std::vector<std::string> get_messages() const;
    // Empties the list (before a run, so it holds only the run's failures).
    void clear_messages();

    wizard_page* current_page() const;
    int current_dialog() const;
    // The sheet (GUI thread), made on first use.
    wizard_sheet& sheet();
    // The window boxes and dialogs belong to: the sheet once initialised.
    static QWidget* owner_window();
    // "<title> <kind>" once initialised, else "<kind>".
    static std::wstring caption(const std::wstring& kind);

    // Runs a page or sheet callback: failures are reported and false is
    // returned; the abort exception closes the wizard with 255.
    static bool guard(const std::function<void()>& fn);

    // Sheet events (GUI thread).
    void press_next();
    void press_back();
    void press_finish();
    void press_cancel();
    void press_help();

private:
    // Next (+1) or Back (-1): the page names the target dialog (-1 stays),
    // may refuse to be left, then the wizard moves.
    void leave_page(int direction);
    void navigate(int direction, int target);
    int activate(size_t index);
    int index_of(int dialog) const;
    void tick();

    std::wstring title_;
    std::vector<std::unique_ptr<wizard_page>> pages_;
    std::unique_ptr<wizard_sheet> sheet_;
    std::unique_ptr<QTextBrowser> help_;
    QTimer* timer_ = nullptr;  // child of the sheet
    std::atomic<bool> timer_set_{false};
    std::atomic<bool> initialized_{false};
    std::atomic<int> status_{0};
    int current_ = -1;
    std::string help_folder_;
    mutable std::mutex messages_mutex_;
    std::vector<std::string> messages_;
};
