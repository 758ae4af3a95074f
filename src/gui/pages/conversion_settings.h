// The conversion settings page (107): MySQL character set (1303) and
// storage engine (1304) from the engine's lists (the connected server's,
// else the built-in ones), the DBF encoding (1302, item data = the
// language-driver byte) and the switches 1226 skip indexes, 1228 table
// definitions only, 1202 skip deleted records, 1204 logical values as they
// are. Next and Back store them.
#pragma once

#include <string>

#include "gui/frame/wizard_page.h"

class conversion_settings : public wizard_page {
public:
    static constexpr int dialog = 107;
    static constexpr int help_topic = 1021;
    // Controls.
    static constexpr int charset_id = 1303;
    static constexpr int engine_id = 1304;
    static constexpr int encoding_id = 1302;
    static constexpr int skip_indexes_id = 1226;
    static constexpr int definitions_only_id = 1228;
    static constexpr int skip_deleted_id = 1202;
    static constexpr int logical_as_is_id = 1204;

    conversion_settings();

    int page_init() override;
    int on_next() override;
    int on_back() override;
    void on_command(int id, command_event event) override;

    void store_file_info();

    // The name part of a list entry: up to its first blank.
    static std::wstring name_part(const std::wstring& text);
    // The row of the list whose name part is `name` ignoring case ("utf8"
    // also matches "utf8mb3"), or -1.
    static int find_by_name(const page_view& view, int id, const std::wstring& name);

protected:
    QWidget* create_widget() override;
};
