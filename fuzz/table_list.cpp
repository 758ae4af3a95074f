// The table-list file of --tab_file=: the input is the file; the names it
// gives replace the converter's selected tables. A rejected file ends in
// console_exit, the program's own way out.
#include <cstddef>
#include <cstdint>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "console/console_error_view.h"
#include "console/console_program.h"
#include "fuzz_kit.h"
#include "tk/tk_exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The program's own objects, made once as pqzagent_main makes them.
    static pellix_converter* converter = [] {
        static error_handler handler(std::make_unique<console_error_view>());
        auto* c = new pellix_converter();
        char program[] = "pqzagent";
        char silent[] = "--silent";
        char* argv[] = {program, silent, nullptr};
        try {
            parse_cmd_line(2, argv);  // silences the program; its path checks fail here
        } catch (const console_exit&) {
        }
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
