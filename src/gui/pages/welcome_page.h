// The first page (103): the choice between converting into a MySQL server
// directly (1329) and writing a dump file (1330), and "Load Settings..."
// (1115), which replays a saved profile into the converter.
#pragma once

#include <string>

#include "gui/frame/wizard_page.h"

class pellix_converter;

class welcome_page : public wizard_page {
public:
    static constexpr int dialog = 103;
    static constexpr int help_topic = 1018;
    // Controls.
    static constexpr int title_id = 1337;
    static constexpr int direct_id = 1329;     // radio: into a MySQL server
    static constexpr int dump_file_id = 1330;  // radio: into a dump file
    static constexpr int load_settings_id = 1115;

    welcome_page();

    int page_init() override;
    int on_next() override;
    void on_command(int id, command_event event) override;

    // Loads a profile into the converter, all or nothing (what it leaves
    // out takes its default), and moves the radios to its target. False
    // (with an error box) when it was refused.
    bool load_settings(const std::string& path);

protected:
    QWidget* create_widget() override;
    // The open picker for a profile; empty when cancelled.
    virtual std::string choose_profile();

private:
    void show_target();
};
