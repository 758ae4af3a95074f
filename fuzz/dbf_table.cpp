// The DBF header, descriptor and record decoder: the input is a whole .dbf
// file, opened through dbf_database like a conversion's source folder and
// read to the end. Memo files are absent, so memo cells take the reported
// "no memo file" path.
#include <cstddef>
#include <cstdint>

#include "dbf/dbf_database.h"
#include "fuzz_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path dir = fuzzkit::work_dir() / "table";
    static const bool made = std::filesystem::create_directories(dir);
    (void)made;
    fuzzkit::write_file(dir / "t.dbf", data, size);
    QZ_FUZZ_GUARD({
        dbf_database db(dir.wstring(), 1, 0, true);
        std::unique_ptr<udb_recordset> table = db.get_table(L"t", 1);
        if (table) fuzzkit::walk_table(static_cast<dbf_recordset&>(*table));
    });
    // The same bytes under a fixed code page, as a user's key selects it.
    QZ_FUZZ_GUARD({
        dbf_recordset rs((dir / "t.dbf").wstring(), 1, 0x65);
        fuzzkit::walk_table(rs);
    });
    return 0;
}
