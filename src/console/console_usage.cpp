#include "console/console_usage.h"

#include <cstdio>

namespace {

// Option lines: the option indented by three blanks, its description from the
// 19th column; continuation lines start at that column too.
struct usage_row {
    const char* option;
    const char* lines[3];
};

const usage_row rows[] = {
    {"--charset=...",
     {"MySQL character set (see 'Command Line' article of", "the product documentation for list of possible values)"}},
    {"--dest=...", {"MySQL database or dump file name"}},
    {"--dump", {"convert DBF database into MySQL dump file"}},
    {"--encoding=...",
     {"decode all text fields using DBase codepage specified", "(see 'Command Line' article of the manual to learn",
      "about DBase codepages)"}},
    {"--engine=...", {"MySQL storage engine (MyISAM, MEMORY, InnoDB", "BerkeleyDB, ARCHIVE, FEDERATED, etc)"}},
    {"--help", {"display this help message and exit"}},
    {"--logfile=...", {"path to the file where execution trace will be written"}},
    {"--log2int",
     {"convert DBase logical fields into MySQL TINYINT(1)", "according to ANSI standard (true=1, false=0)"}},
    {"--mode=...",
     {"how to process an existing MySQL database", "(0 - overwrite the entire database, 1 - overwrite existing",
      "tables only, 2 - skip existing tables, 3 - merge)"}},
    {"--mysqlh=...", {"MySQL server IP address or network name"}},
    {"--mysqlu=...", {"MySQL user name"}},
    {"--mysqlp=...", {"MySQL user password"}},
    {"--port=...", {"MySQL port"}},
    {"--profile=...", {"path to the file to load conversion settings from"}},
    {"--silent", {"disable program output"}},
    {"--skip_del", {"don't convert records marked as deleted"}},
    {"--src=...", {"path to DBF database"}},
    {"--tab_def", {"convert table definitions only"}},
    {"--tab_file=...", {"file containing the list of tables to convert", "(one table name per line)"}},
};

const char notes[] =
    "NOTES:\n"
    "   1) You can omit 'mysqlh' parameter to connect local MySQL server.\n"
    "   2) It is necessary to specify 'port' parameter only if it differs from\n"
    "      the default MySQL port 3306.\n"
    "   3) If you omit 'tab_file' parameter, all database files will be converted.\n"
    "   4) If you omit 'mode' parameter, default mode 'overwrite' will be used.\n"
    "   5) If you omit 'encoding' parameter, this value will be taken from\n"
    "      DBF file header.\n"
    "   6) Command line parameters that contain spaces must be enclosed in quotes\n"
    "      (for example --dest=\"my database\")";

constexpr size_t description_column = 18;  // 0-based: the 19th character

}  // namespace

std::string usage_text(int major, int minor) {
    char banner[96];
    std::snprintf(banner, sizeof banner, "PQZAGENT v%d.%d - DBF to MySQL converter\n", major, minor);
    std::string text = banner;
    text += "Usage: PQZAGENT.EXE OPTIONS\n\n";
    for (const usage_row& row : rows) {
        std::string line = std::string("   ") + row.option;
        line.resize(description_column, ' ');
        text += line + row.lines[0] + "\n";
        for (int i = 1; i < 3 && row.lines[i]; ++i) text += std::string(description_column, ' ') + row.lines[i] + "\n";
    }
    text += "\n";
    text += notes;
    return text;
}
