// Where the wizard finds the files it ships with: its help folder and the
// table editor's type maps.
//
// A build folder holds them beside the program; an install puts them in the
// data folder beside the program's folder (<prefix>/share/quorvex beside
// <prefix>/bin, QZ_DATA_FROM_BIN). The program's own folder wins.
#pragma once

#include <string>

class program_files {
public:
    // The path of `name` beside the program when it is there, else in the
    // installed data folder.
    static std::string path_of(const std::string& name);
};
