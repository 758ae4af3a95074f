// The dump-file settings page (102): the dialect pair (1329 new / 1330
// old), the line-break pair (1331 CRLF / 1332 LF), and the boxes 1202 lock
// around INSERT, 1203 CREATE DATABASE (enabled only while 1204 is ticked),
// 1204 CREATE TABLE and 1205 comments. Next and Back store them into the
// converter's dump options; Next goes to the source page (105).
#pragma once

#include <cstdint>

#include "gui/frame/wizard_page.h"

class dump_page : public wizard_page {
public:
    static constexpr int dialog = 102;
    static constexpr int help_topic = 1014;
    // Controls.
    static constexpr int new_version_id = 1329;  // radio: 4.1 or higher
    static constexpr int old_version_id = 1330;  // radio: before 4.1
    static constexpr int windows_eol_id = 1331;  // radio: \r\n
    static constexpr int unix_eol_id = 1332;     // radio: \n
    static constexpr int lock_tables_id = 1202;
    static constexpr int create_db_id = 1203;
    static constexpr int create_table_id = 1204;
    static constexpr int comments_id = 1205;

    static constexpr uint32_t new_version = 262400;  // 4.1.0
    static constexpr uint32_t old_version = 201729;  // 3.20.1

    dump_page();

    int page_init() override;
    int on_next() override;
    int on_back() override;
    void on_command(int id, command_event event) override;

    // The server version the stored options write for.
    uint32_t get_server_version() const { return server_version_; }

protected:
    QWidget* create_widget() override;

private:
    void store();

    uint32_t server_version_ = new_version;
};
