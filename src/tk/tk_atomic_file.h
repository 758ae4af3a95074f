// Replacing a whole file so that readers see either the old content or the
// new one, never a partial write: the data goes to a temporary file in the
// same folder, is flushed to disk, and is renamed over the target.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// Writes `data` to `path` atomically; the file gets `mode` (the temporary
// file is created with 0600, so the content is never readable by others in
// between). The folder must exist. Returns 0, or the errno of the step that
// failed; on failure the old file is untouched and no temporary file is left.
int tk_write_file_atomically(const std::string& path, std::string_view data, mode_t mode);
