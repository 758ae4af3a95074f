// The configuration reader (sql.map / sql.typ form): the input is the file.
#include <cstddef>
#include <cstdint>

#include "fuzz_kit.h"
#include "tk/tk_exception.h"
#include "tk/tk_yaml_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path file = fuzzkit::work_dir() / "sql.typ";
    fuzzkit::write_file(file, data, size);
    try {
        tk_yaml_config config;
        config.load(file.string(), {L"excluded", L""});
        size_t n = 0;
        for (const auto& [key, items] : config.get_map()) n += key.size() + items.size();
        (void)n;
    } catch (const tk_mail_assertion& e) {
        fuzzkit::fault(e.what());
    } catch (const tk_exception&) {
    }
    return 0;
}
