// The source and destination page (105): the DBF folder (1003, Browse
// 1107), the destination (1004: a database name, or a dump file with
// Browse 1104) and the optional log file (1005, Browse 1105).
//
// Next stores the three fields and checks them. A server target: the
// database name must pass the server's rules and name none of the
// server's own databases; an existing database asks the overwrite dialog,
// and mode 0 drops it at once, but only when the source folder opens and
// lists a table; the drop takes the database's lock (a note with Cancel
// shows while another conversion into it holds it), kept for the run until
// another destination is stored. A dump target: the path is checked by the
// converter and an existing file is only confirmed, never deleted here
// (the run's new dump replaces it when complete). Every refusal is shown
// and the page stays.
#pragma once

#include <string>

#include "gui/frame/wizard_page.h"

class sel_file_page : public wizard_page {
public:
    static constexpr int dialog = 105;
    static constexpr int help_topic = 1020;
    // Controls.
    static constexpr int source_id = 1003;
    static constexpr int browse_source_id = 1107;
    static constexpr int destination_label_id = 1311;
    static constexpr int destination_id = 1004;
    static constexpr int browse_destination_id = 1104;  // dump target only
    static constexpr int log_file_id = 1005;
    static constexpr int browse_log_id = 1105;

    sel_file_page();

    int page_init() override;
    int on_next() override;
    int on_back() override;
    void on_command(int id, command_event event) override;

    // Fills 1004 from 1003 when 1004 is empty.
    void check_destination();

    // The suggested destination for a folder: its last name component
    // (server), or its path with the extension ".sql" (dump).
    static std::wstring suggest(const std::wstring& folder, bool direct);
    // The path with the extension of its last component set to ".sql".
    static std::wstring with_sql_extension(const std::wstring& path);
    // Names the log file (empty: logging off); refuses a name that would
    // write over the dump or a file of the DBF database (level-1
    // tk_exception, pellix_converter::check_logfile). The setting is kept
    // only when accepted.
    static void apply_logfile(const std::string& name);

protected:
    QWidget* create_widget() override;
    // The server side of Next; tests replace them.
    virtual bool db_exists(const std::wstring& name);
    // Drops the database through the converter's guard (the source must
    // open and list a table), else its level-1 refusal.
    virtual void guarded_drop();
    // The overwrite dialog: the chosen mode or -1 (Cancel).
    virtual int ask_overwrite(const std::wstring& text);
    // Pickers: the chosen path or empty.
    virtual std::wstring browse_folder(const std::wstring& start);
    virtual std::string browse_save(const std::string& filter, const std::string& title, const std::string& initial,
                                    const std::string& extension);

private:
    void store();
    bool next_checks();
    bool check_server();
    bool check_dump();
};
