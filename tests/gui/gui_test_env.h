// Shared set-up of the wizard tests: one QApplication for the program, a
// Qt message handler that fails the test on any threading warning, and a
// helper that keeps the GUI thread's events flowing while it waits.
#pragma once

#include <chrono>
#include <functional>

void gui_pump_until(const std::function<bool()>& done,
                    std::chrono::milliseconds bound = std::chrono::milliseconds(10000));
