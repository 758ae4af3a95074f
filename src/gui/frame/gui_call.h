// Calls into the GUI thread, and modal dialogs, for the wizard.
//
// Widgets live only on the GUI thread. run() executes a function there: on
// the GUI thread it is a direct call; from another thread the function is
// posted and the caller waits for it. The wait gives up when the calling
// worker's stop has been requested or the sheet has closed; a posted call
// that starts after that touches nothing, and a dialog already open is
// closed. Callers treat a give-up as the safe answer (No, Abort).
//
// exec_modal() runs one of our dialogs modally, modal to its owner window
// only, so the help window stays usable; tests answer dialogs through the
// modal hook.
#pragma once

#include <functional>

class QDialog;

class gui_call {
public:
    static bool on_gui_thread();

    // Runs `fn` on the GUI thread. False when the call gave up (fn did not
    // run, or its dialog was closed for the give-up): its result means
    // nothing then. Exceptions out of fn are logged, never rethrown.
    static bool run(const std::function<void()>& fn);
    // Queues `fn` on the GUI thread without waiting; it runs unless the
    // sheet has closed by then.
    static void post(std::function<void()> fn);

    // Set while the sheet is closed: waits give up, boxes are only logged.
    static void set_closed(bool closed);
    static bool is_closed();
    // True when calls from this thread should give up now.
    static bool should_give_up();

    // Runs the dialog modally (modal to its parent) and returns its result.
    static int exec_modal(QDialog& dialog);
    // Rejects every dialog exec_modal() has open.
    static void close_modals();

    // Called (from the dialog's own event loop) for every dialog that
    // exec_modal() opens; tests answer it. An empty function clears it.
    static void set_modal_hook(std::function<void(QDialog&)> hook);
};
