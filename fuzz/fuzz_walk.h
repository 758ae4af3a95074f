// Reads a whole DBF table the way a conversion does: every record, every
// cell printed as text, with the cursor moved about as the writers move it.
#pragma once

#include <string>

#include "dbf/dbf_record.h"
#include "dbf/dbf_recordset.h"
#include "fuzz_kit.h"
#include "tk/tk_exception.h"

namespace fuzzkit {

inline size_t walk_table(dbf_recordset& rs) {
    size_t total = 0;
    for (rs.reset(); !rs.is_eof(); rs.next()) {
        udb_record* r = rs.get_item();
        if (r == nullptr) fault("get_item gave null before the end");
        for (size_t i = 0; i < r->size(); ++i) {
            const udb_field* f = r->at(i);
            if (f == nullptr) continue;
            total += f->to_string().size();
            total += f->to_wstring().size();
            total += f->get_size();
        }
    }
    if (rs.get_record_count() > 0) {
        rs.move_to(static_cast<int32_t>(rs.get_record_count() - 1));
        if (!rs.is_eof() && rs.get_item() == nullptr) fault("get_item gave null on the last record");
        rs.prev();
    }
    return total;
}

}  // namespace fuzzkit

// Runs `body`, letting the reader's own failures pass and turning anything
// else into a fault.
#define QZ_FUZZ_GUARD(body)                \
    try {                                  \
        body;                              \
    } catch (const tk_mail_assertion& e) { \
        fuzzkit::fault(e.what());          \
    } catch (const tk_exception&) {        \
    }
