// The database container: the input packs the .dbc table and its .dct memo
// file (fuzz_kit.h, pack). The container is read into its long names, then
// walked as a table, then used by a Visual FoxPro table that links to it.
#include <cstddef>
#include <cstdint>

#include "dbf/dbf_database.h"
#include "dbf/dbf_dbc.h"
#include "fuzz_walk.h"

namespace {

const std::filesystem::path& folder() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path d = fuzzkit::work_dir() / "dbc";
        std::filesystem::create_directories(d);
        using V = testkit::dbf_value;
        testkit::dbf_fixture_table t;
        t.version = 0x30;
        t.backlink = "db.dbc";
        t.fields = {{"CUSTOMER_N", 'C', 8}, {"AMOUNT", 'I'}};
        t.records = {{false, {V::str("a"), V::i(1)}}};
        testkit::dbf_fixture::write(d / "orders.dbf", t);
        return d;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string dbc, dct;
    fuzzkit::unpack(data, size, dbc, dct);
    const std::filesystem::path& dir = folder();
    fuzzkit::write_file(dir / "db.dbc", dbc);
    fuzzkit::write_file(dir / "db.dct", dct);
    QZ_FUZZ_GUARD({
        dbf_dbc container((dir / "db.dbc").wstring(), 0, nullptr);
        size_t n = 0;
        for (const auto& [table, fields] : container.get_fnames_map())
            for (const auto& [short_name, long_name] : fields) n += table.size() + short_name.size() + long_name.size();
        (void)n;
        fuzzkit::walk_table(container);
    });
    QZ_FUZZ_GUARD({
        dbf_database db(dir.wstring(), 1, 0, true);
        std::unique_ptr<udb_recordset> table = db.get_table(L"orders", 1);
        if (table) fuzzkit::walk_table(static_cast<dbf_recordset&>(*table));
    });
    return 0;
}
