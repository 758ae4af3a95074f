// The server connection page (123): access mode Local (1329) or Remote
// (1330), user (1012), password (1013), host (1014) and port (1015), the
// last two only in Remote mode; choosing Remote puts "3306" into an empty
// port. Next stores the values and connects; a failed connection is shown
// and the page stays. Back stores and returns to the welcome page.
#pragma once

#include "gui/frame/wizard_page.h"

class settings_page : public wizard_page {
public:
    static constexpr int dialog = 123;
    static constexpr int help_topic = 1017;
    // The help on connecting, opened after some failed connections.
    static constexpr int connect_help_topic = 1022;
    // Controls.
    static constexpr int local_id = 1329;   // radio
    static constexpr int remote_id = 1330;  // radio
    static constexpr int user_id = 1012;
    static constexpr int password_id = 1013;
    static constexpr int host_id = 1014;
    static constexpr int port_id = 1015;

    settings_page();

    int page_init() override;
    int on_next() override;
    int on_back() override;
    void on_command(int id, command_event event) override;

protected:
    QWidget* create_widget() override;
    // Connects the converter with the stored values (tests replace it).
    virtual void connect();

private:
    void store();
    void set_remote(bool remote);
};
