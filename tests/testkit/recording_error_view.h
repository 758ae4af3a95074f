// An error_view for tests: records every call and answers level-0 reports
// as told. Header only; include it from test programs that link qz_app.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/error_handler.h"
#include "app/error_view.h"

class recording_error_view : public error_view {
public:
    struct call {
        int level;            // 0, 1 or 2
        std::string message;  // as shown
        bool can_stop;        // level 0 only
    };

    void show_internal_error(const std::string& text) override { calls.push_back({2, text, false}); }
    void show_error(const std::string& message) override { calls.push_back({1, message, false}); }
    answer ask_continue(const std::string& message, bool can_stop) override {
        calls.push_back({0, message, can_stop});
        if (on_ask) on_ask();
        return next_answer;
    }
    void keep_message(const std::string& message) override { kept.push_back(message); }
    void open_help(int topic) override { help.push_back(topic); }
    bool level1_ends_run() const override { return ends_run_on_level1; }

    std::vector<call> calls;
    std::vector<std::string> kept;
    std::vector<int> help;
    answer next_answer;               // what ask_continue answers
    std::function<void()> on_ask;     // runs at each level-0 report, before the answer
    bool ends_run_on_level1 = false;  // console behaviour when true
};

// The process-wide error handler over a new recording view; `view` is left
// pointing at the view, which the handler owns.
inline std::unique_ptr<error_handler> make_recording_handler(recording_error_view*& view) {
    auto owned = std::make_unique<recording_error_view>();
    view = owned.get();
    return std::make_unique<error_handler>(std::move(owned));
}
