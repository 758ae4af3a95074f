// pellix: the wizard that converts a folder of DBF tables into a MySQL
// database or dump file.
#include "gui/frame/pellix_program.h"

int main(int argc, char** argv) { return pellix_main(argc, argv); }
