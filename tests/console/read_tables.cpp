// Reads every record of every table of a DBF folder through the DBF reader
// and writes nothing: read_tables <folder>. The large-value tests compare a
// conversion's peak memory with this program's, which is what only reading
// the tables takes. Prints the number of records read.
#include <cstdio>
#include <exception>

#include "dbf/dbf_codepages.h"
#include "dbf/dbf_database.h"
#include "tk/tk_text.h"
#include "udb/udb_recordset.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: read_tables FOLDER\n");
        return 2;
    }
    try {
        init_codepage_tables();
        dbf_database source(tk_path_to_unicode(argv[1]), 1, 0, false);
        unsigned long long records = 0;
        for (const std::wstring& name : source.get_table_names()) {
            auto rs = source.get_table(name, 1);
            for (rs->reset(); !rs->is_eof(); rs->next()) {
                if (rs->get_item()) ++records;
            }
        }
        std::printf("%llu\n", records);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "read_tables: %s\n", e.what());
        return 1;
    }
    return 0;
}
