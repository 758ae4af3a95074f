// Puts text on the system clipboard (GUI thread; other threads wait).
#pragma once

#include <string>

// False when no clipboard is available.
bool tk_copy_to_clipboard2(const std::wstring& text);
