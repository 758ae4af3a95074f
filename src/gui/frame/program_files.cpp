#include "gui/frame/program_files.h"

#include <sys/stat.h>

#include "tk/tk_path.h"

#ifndef QZ_DATA_FROM_BIN
#define QZ_DATA_FROM_BIN "../share/quorvex"
#endif

std::string program_files::path_of(const std::string& name) {
    const std::string beside = tk_get_module_dir() + name;  // the folder ends with '/'
    struct stat st {};
    if (::stat(beside.c_str(), &st) == 0) return beside;
    return tk_get_module_dir() + QZ_DATA_FROM_BIN + "/" + name;
}
