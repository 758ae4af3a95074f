// The dump-file settings page (102): the dialect pair (1329 new / 1330
// old), the line-break pair (1331 CRLF / 1332 LF), and the boxes 1202 lock
// around INSERT, 1203 CREATE DATABASE (enabled only while 1204 is ticked),
// 1204 CREATE TABLE and 1205 comments. Next and Back store them into the
// converter's dump options; Next goes to the source page (105).
#pragma once

#include <cstdint>

#include "gui/wizard_page.h"

class dump_page : public wizard_page {
public:
    static constexpr int dialog = 102;
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
