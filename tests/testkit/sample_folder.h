// The bundled sample DBF folder (sample/ in the repository): three small
// tables that show what the converter handles.
//
//   customer.dbf  dBase III with a .dbt memo, Windows-1252 text, a deleted
//                 record, logical, date, numeric and memo fields
//   parts.dbf     FoxPro 2 with an .fpt memo, Russian MS-DOS (866) text
//   orders.dbf    Visual FoxPro with an .fpt memo, belonging to the
//                 container sample.dbc, which gives its fields long names
//
// The files are generated, never edited by hand: make_sample writes them and
// a test regenerates them and compares the bytes with the committed folder.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "testkit/dbf_fixture.h"

namespace testkit {

struct sample_table {
    std::string file;  // e.g. "customer.dbf"
    dbf_fixture_table table;
};

// The sample's tables (the container last).
std::vector<sample_table> sample_tables();

// Writes every file of the sample into `folder` (which must exist) and
// returns the names of the files written, sorted.
std::vector<std::string> write_sample_folder(const std::filesystem::path& folder);

}  // namespace testkit
