// The wizard program pellix: start-up, the quick launch from a profile, the
// modal sheet and the exit status.
//
// pellix_main refuses to start without a display ("Failed to initialize GUI
// library", 255), builds the QApplication (which takes its own options out
// of argv), puts LC_NUMERIC back to "C" and runs a pellix_program with the
// arguments left. pellix_program::run builds, in this order, the logger,
// the error handler, the converter (remembered settings loaded) and the
// shell with its pages, runs the sheet and tears everything down in
// reverse order (the converter stores its settings).
//
// Any argument means a quick launch: the arguments joined by one blank are
// the path of a profile, which must load whole and name a table to
// convert; then the program connects when the target is a server, checks a
// dump's destination and shows only the progress and finish pages (a
// server's database is prepared by the run, on the progress page). A quick
// launch starts from the console program's settings, as pqzagent does
// (what the profile leaves out never comes from the wizard's remembered
// settings), and leaves the settings store as it was. A refused profile, a
// failed connection or a refused dump destination end the program with 255
// before any sheet opens; a server's refused destination ends the run,
// whose finish page follows (255).
//
// SIGINT, SIGTERM and SIGHUP are handled as in pqzagent (run_signals): during
// the wizard they interrupt the run (its temporary dump removed, an older
// dump kept) and close the wizard with 255; before and after it they end the
// process at once with 255.
//
// Exit status: 0 when the wizard closed before any run, or after a run that
// completed (reported and skipped records or tables included); 255 for a
// refused quick launch, a run that was stopped or did not complete, and any
// internal error.
#pragma once

#include <string>
#include <vector>

class pellix_converter;
class progress_page;
class wizard_shell;

// Logs the start-up steps of the user interface. The display itself is
// checked before the QApplication is built (pellix_main).
void gui_initialize();

// Runs the program; returns the exit status.
int pellix_main(int argc, char** argv);

class pellix_program {
public:
    static constexpr int failure_status = 255;
    static const wchar_t* const success_text;
    static const wchar_t* const error_text;

    pellix_program() = default;
    virtual ~pellix_program() = default;

    // Runs the wizard; `args` are the command-line arguments after the
    // program name. A QApplication must exist.
    int run(const std::vector<std::string>& args);

    // The profile path of a quick launch: the arguments joined by one blank.
    static std::string command_line(const std::vector<std::string>& args);

protected:
    // The quick launch's steps before the sheet (tests replace them);
    // check_dest leaves a server's destination to the run.
    virtual void connect(pellix_converter& conv);
    virtual void check_dest(pellix_converter& conv);
    // Runs the sheet modally; its status.
    virtual int run_sheet(wizard_shell& shell);

private:
    int run_wizard(pellix_converter& conv, const std::vector<std::string>& args);
    static void load_quick_launch_profile(pellix_converter& conv, const std::string& path);
};
