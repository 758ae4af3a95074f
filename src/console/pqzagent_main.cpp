// pqzagent: converts a folder of DBF tables into a MySQL database or dump file.
#include "console/console_program.h"

int main(int argc, char** argv) { return pqzagent_main(argc, argv); }
