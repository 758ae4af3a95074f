// The server connection page (123): access mode Local (1329) or Remote
// (1330), user (1012), password (1013), host (1014) and port (1015), the
// last two only in Remote mode; choosing Remote puts "3306" into an empty
// port. Next stores the values and connects; a failed connection is shown
// and the page stays. Back stores and returns to the welcome page.
#pragma once

#include "gui/wizard_page.h"

class settings_page : public wizard_page {
public:
    static constexpr int dialog = 123;

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
