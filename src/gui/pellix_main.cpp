// pellix: the wizard that converts a folder of DBF tables into a MySQL
// database or dump file.
#include <sys/prctl.h>

#include "gui/frame/pellix_program.h"

int main(int argc, char** argv) {
    // No core file and no other process's debugger: the password the
    // wizard is given or remembers must not leave the process.
    ::prctl(PR_SET_DUMPABLE, 0);
    return pellix_main(argc, argv);
}
