#include "tk/tk_file.h"

#include "tk/tk_exception.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"

tk_file::tk_file(const std::string& file_path, int file_mode) : mode(file_mode) {
    TK_ASSERT(!file_path.empty());
    path = tk_make_full_path(file_path);
    tk_log(1, "Canonized file name: %s", path.c_str());
    if (!(mode & mode_write) && !tk_is_file_exist1(path, tk_exist_file))
        throw tk_exception(std::string("Bad path or busy with another process"), tk_level_error);
}

tk_file::~tk_file() { close_stream(); }

bool tk_file::eof() { return stream == nullptr || feof(stream) != 0; }

void tk_file::close_stream() {
    if (stream) {
        fclose(stream);
        stream = nullptr;
    }
}
