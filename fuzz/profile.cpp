// The profile parser: the input is a .pqz file; what loads is stored again
// and loaded back, and must give the same sections.
#include <cstddef>
#include <cstdint>

#include "fuzz_kit.h"
#include "tk/tk_exception.h"
#include "udb/udb_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path file = fuzzkit::work_dir() / "in.pqz";
    static const std::filesystem::path again = fuzzkit::work_dir() / "again.pqz";
    fuzzkit::write_file(file, data, size);
    try {
        udb_profile profile;
        profile.load(file.string());
        (void)profile.get_value(L"Generic settings", L"Source");
        (void)profile.get_selected_tables();
        if (profile.store(again.string())) {
            udb_profile back;
            if (!back.load(again.string())) fuzzkit::fault("a stored profile did not load");
        }
    } catch (const tk_mail_assertion& e) {
        fuzzkit::fault(e.what());
    } catch (const tk_exception&) {
    }
    return 0;
}
