// The scope guard of one conversion run: logs the start and end times and
// sets the finished flag when the run leaves, on every path. It also clears
// the flag at the start, so a poller never sees a previous run's end.
#pragma once

#include <atomic>

class init_conversion {
public:
    explicit init_conversion(std::atomic<bool>& finished);
    ~init_conversion();
    init_conversion(const init_conversion&) = delete;
    init_conversion& operator=(const init_conversion&) = delete;

private:
    std::atomic<bool>& finished_;
};
