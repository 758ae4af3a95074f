// The table-list file of --tab_file=: the input is the file; the names it
// gives replace the converter's selected tables. A rejected file ends in
// console_exit, the program's own way out.
#include <cstddef>
#include <cstdint>

#include "app/pellix_converter.h"
#include "console/console_program.h"
#include "fuzz_kit.h"
#include "tk/tk_exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static pellix_converter* converter = [] {
        auto* c = new pellix_converter();
        char program[] = "pqzagent";
        char silent[] = "--silent";
        char* argv[] = {program, silent, nullptr};
        parse_cmd_line(2, argv);
        return c;
    }();
    static const std::filesystem::path file = fuzzkit::work_dir() / "tables.txt";
    fuzzkit::write_file(file, data, size);
    try {
        process_tab_file(file.string());
        size_t n = 0;
        for (const std::wstring& name : converter->selected_tables) n += name.size();
        (void)n;
    } catch (const console_exit&) {
    } catch (const tk_mail_assertion& e) {
        fuzzkit::fault(e.what());
    } catch (const tk_exception&) {
    }
    return 0;
}
