// pqzagent: converts a folder of DBF tables into a MySQL database or dump file.
#include <malloc.h>

#include "console/console_program.h"

int main(int argc, char** argv) {
    // Statements of about a megabyte are built and freed over and over. With
    // glibc's sliding threshold they would move from mmap to the heap after
    // the first few and leave it fragmented, so memory would creep up with
    // the table's length; a fixed threshold gives them back at once.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    return pqzagent_main(argc, argv);
}
