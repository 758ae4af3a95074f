// pqzagent: converts a folder of DBF tables into a MySQL database or dump file.
#include <malloc.h>
#include <sys/prctl.h>

#include <string>
#include <vector>

#include "app/run_signals.h"
#include "console/console_program.h"
#include "tk/tk_helpers.h"

int main(int argc, char** argv) {
    // No core file and no other process's debugger: the arguments hold the
    // password from the start.
    ::prctl(PR_SET_DUMPABLE, 0);
    // Then the password leaves the visible command line: the program works
    // on a copy.
    std::vector<std::string> args = take_arguments(argc, argv);
    std::vector<char*> copy;
    for (std::string& a : args) copy.push_back(a.data());
    copy.push_back(nullptr);
    // Before any other thread: SIGINT, SIGTERM and SIGHUP end a run cleanly.
    run_signals signals(pqzagent_failure);

    // Statements of about a megabyte are built and freed over and over. With
    // glibc's sliding threshold they would move from mmap to the heap after
    // the first few and leave it fragmented, so memory would creep up with
    // the table's length; a fixed threshold gives them back at once.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    const int status = pqzagent_main(argc, copy.data());
    for (std::string& a : args) tk_wipe(a);
    return status;
}
