// The date parser: the input is a date text, read narrow and wide, printed
// at each precision; its seconds part goes through process_milliseconds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_kit.h"
#include "tk/tk_exception.h"
#include "tk/tk_text.h"
#include "value/ole_date.h"

namespace {

void print_all(const ole_date& d) {
    for (int precision : {0, 3, 6}) {
        const std::string s = d.to_string(precision);
        if (d.kind == ole_date::kind_none && !s.empty()) fuzzkit::fault("a value of kind 0 printed a text");
        (void)d.to_wstring(precision);
    }
    double day = 0;
    if (d.to_variant_time(day)) {
        SYSTEMTIME back;
        (void)tk_variant_time_to_system_time(day, back);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        print_all(ole_date(text));
        print_all(ole_date(text.c_str()));
        print_all(ole_date(tk_utf8_to_unicode(text)));
        ole_date d;
        if (d.import_from_string(text)) print_all(d);
        ole_date s(std::string("2024-02-29 23:59:00"));
        s.process_milliseconds(text.c_str());
        print_all(s);
    } catch (const tk_mail_assertion& e) {
        fuzzkit::fault(e.what());
    } catch (const tk_exception&) {
    }
    return 0;
}
