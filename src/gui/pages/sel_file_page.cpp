#include "gui/pages/sel_file_page.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>

#include <memory>

#include <sys/stat.h>

#include "app/pellix_converter.h"
#include "gui/dialogs/overwrite_dlg2.h"
#include "gui/frame/file_dialog.h"
#include "gui/frame/gui_call.h"
#include "gui/frame/gui_error_box.h"
#include "gui/frame/page_widgets.h"
#include "gui/frame/wizard_shell.h"
#include "gui/pages/dump_page.h"
#include "gui/pages/settings_page.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"
#include "tk/tk_text.h"

namespace {

constexpr int max_path_text = 0;  // paths have no cap

// Turns the run's "all tables" rule on while the guard looks at the
// folder: at this step no table is chosen yet, so the guard asks only
// that the folder opens and lists a table. While the drop waits for another
// conversion into the database, a note says so, the window keeps being
// drawn, and the note's Cancel gives the wait up (the page stays).
class listing_guard_output : public run_output {
public:
    bool convert_all_when_none_selected() const override { return true; }
    void waiting(const std::string& line) override {
        note_ = std::make_unique<QProgressDialog>(QString::fromStdString(line), QStringLiteral("Cancel"), 0, 0,
                                                  wizard_shell::owner_window());
        note_->setObjectName(QStringLiteral("wait_note"));
        note_->setWindowTitle(QString::fromStdWString(wizard_shell::caption(L"Message")));
        note_->setWindowModality(Qt::WindowModal);
        note_->setMinimumDuration(0);
        note_->show();
        QCoreApplication::processEvents();
    }
    bool keep_waiting() override {
        QCoreApplication::processEvents();
        return !note_ || !note_->wasCanceled();
    }

private:
    std::unique_ptr<QProgressDialog> note_;
};

std::wstring drop_trailing_slashes(std::wstring path) {
    while (path.size() > 1 && path.back() == L'/') path.pop_back();
    return path;
}

// An empty log name turns the trace off until a name is given again.
void disable_logging() {
    if (tk_logger* logger = tk_logger::try_ptr()) logger->disable();
}

}  // namespace

sel_file_page::sel_file_page()
    : wizard_page(dialog, wiz_back | wiz_next, page_has_help | page_header, L"Step 2 of 5", L"Select databases",
                  help_topic) {}

QWidget* sel_file_page::create_widget() {
    auto* w = new QWidget();
    auto* grid = new QGridLayout(w);
    QLineEdit* src = page_widgets::edit(w, source_id, max_path_text);
    grid->addWidget(page_widgets::buddy_label(w, QStringLiteral("DB&F database folder:"), src), 0, 0, 1, 2);
    grid->addWidget(src, 1, 0);
    grid->addWidget(page_widgets::button(w, browse_source_id, QStringLiteral("...")), 1, 1);
    QLineEdit* dest = page_widgets::edit(w, destination_id, max_path_text);
    QLabel* dest_label =
        page_widgets::label(w, destination_label_id, QStringLiteral("My&SQL destination database name:"));
    dest_label->setBuddy(dest);
    grid->addWidget(dest_label, 2, 0, 1, 2);
    grid->addWidget(dest, 3, 0);
    grid->addWidget(page_widgets::button(w, browse_destination_id, QStringLiteral("...")), 3, 1);
    QLineEdit* log = page_widgets::edit(w, log_file_id, max_path_text);
    grid->addWidget(page_widgets::buddy_label(w, QStringLiteral("&Logfile (leave blank to disable logging):"), log), 4,
                    0, 1, 2);
    grid->addWidget(log, 5, 0);
    grid->addWidget(page_widgets::button(w, browse_log_id, QStringLiteral("...")), 5, 1);
    grid->setRowStretch(6, 1);
    return w;
}

std::wstring sel_file_page::with_sql_extension(const std::wstring& path) {
    const size_t slash = path.rfind(L'/');
    const size_t start = slash == std::wstring::npos ? 0 : slash + 1;
    const size_t dot = path.rfind(L'.');
    // A leading dot names a hidden file, not an extension.
    if (dot != std::wstring::npos && dot > start) return path.substr(0, dot) + L".sql";
    return path + L".sql";
}

std::wstring sel_file_page::suggest(const std::wstring& folder, bool direct) {
    const std::wstring path = drop_trailing_slashes(folder);
    if (!direct) return with_sql_extension(path);
    const size_t slash = path.rfind(L'/');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

int sel_file_page::page_init() {
    tk_log(1, "sel_file_page::page_init");
    pellix_converter* conv = pellix_converter::ptr();
    view().set_text(destination_label_id,
                    conv->direct ? L"My&SQL destination database name:" : L"&Destination dump file name:");
    show_ctrl(browse_destination_id, !conv->direct);
    view().set_text(log_file_id, tk_path_to_unicode(conv->log_file));
    if (conv->source.empty() && conv->destination.empty()) return 1;
    view().set_text(source_id, conv->source);
    std::wstring dest = conv->destination;
    if (!conv->direct && !dest.empty()) dest = with_sql_extension(dest);
    view().set_text(destination_id, dest);
    return 1;
}

void sel_file_page::on_command(int id, command_event event) {
    if (id == destination_id && event == command_event::focus_in) {
        if (!view().get_text(source_id).empty()) check_destination();
        return;
    }
    if (event != command_event::click) return;
    if (id == browse_source_id) {
        std::wstring start = view().get_text(source_id);
        if (start.empty()) start = pellix_converter::ptr()->source;
        if (start.empty()) start = QDir::currentPath().toStdWString();
        const std::wstring path = browse_folder(start);
        if (path.empty()) return;
        tk_wlog(1, L"Got path: %ls", path.c_str());
        view().set_text(source_id, path);
        check_destination();
    } else if (id == browse_destination_id) {
        const std::string path = browse_save("MySQL Dump Files (.sql)", "Select Dump File",
                                             tk_unicode_to_path(view().get_text(destination_id)), "sql");
        if (!path.empty()) view().set_text(destination_id, tk_path_to_unicode(path));
    } else if (id == browse_log_id) {
        const std::string path =
            browse_save("Log Files (.log)", "Select Log File", tk_unicode_to_path(view().get_text(log_file_id)), "log");
        if (!path.empty()) view().set_text(log_file_id, tk_path_to_unicode(path));
    }
}

void sel_file_page::check_destination() {
    if (!view().get_text(destination_id).empty()) return;
    const std::wstring folder = view().get_text(source_id);
    if (folder.empty()) return;
    view().set_text(destination_id, suggest(folder, pellix_converter::ptr()->direct));
}

std::wstring sel_file_page::browse_folder(const std::wstring& start) {
    // Our own dialog run like every other modal one: modal to the sheet,
    // closed when the sheet closes.
    QFileDialog picker(wizard_shell::owner_window(), QStringLiteral("Select DBF database folder"),
                       QString::fromStdWString(start));
    picker.setObjectName(QStringLiteral("folder_dialog"));
    picker.setOption(QFileDialog::DontUseNativeDialog, true);
    picker.setFileMode(QFileDialog::Directory);
    picker.setOption(QFileDialog::ShowDirsOnly, true);
    if (gui_call::exec_modal(picker) != QDialog::Accepted) return std::wstring();
    const QStringList chosen = picker.selectedFiles();
    return chosen.isEmpty() ? std::wstring() : chosen.first().toStdWString();
}

std::string sel_file_page::browse_save(const std::string& filter, const std::string& title, const std::string& initial,
                                       const std::string& extension) {
    save_file_dialog picker(wizard_shell::owner_window(), filter, initial, extension);
    picker.set_title(title);
    return picker.show() ? picker.get_file_name() : std::string();
}

void sel_file_page::apply_logfile(const std::string& name) {
    pellix_converter* conv = pellix_converter::ptr();
    pellix_converter::check_logfile(name, conv->source, conv->destination, conv->direct);
    const std::string old = conv->log_file;
    if (name.empty()) {
        conv->log_file.clear();
        disable_logging();
        return;
    }
    try {
        conv->set_logfile(name);
    } catch (...) {
        conv->log_file = old;
        throw;
    }
}

void sel_file_page::store() {
    pellix_converter* conv = pellix_converter::ptr();
    conv->source = view().get_text(source_id);
    // Another name (or a dump) leaves the database whose lock the overwrite
    // question's drop took.
    const std::wstring destination = view().get_text(destination_id);
    if (destination != conv->destination || !conv->direct) conv->release_database_lock();
    conv->destination = destination;
    apply_logfile(tk_unicode_to_path(view().get_text(log_file_id)));
}

bool sel_file_page::check_server() {
    pellix_converter* conv = pellix_converter::ptr();
    conv->check_mysql_db_name(conv->destination);
    tk_wlog(1, L"mysql_converter_impl::is_mysql_base_exist( %ls )", conv->destination.c_str());
    if (!db_exists(conv->destination)) {
        tk_log(1, "MySQL DB not exists...");
        return true;
    }
    tk_log(1, "MySQL DB exists...");
    const int mode = ask_overwrite(
        L"The destination database already exists. Select one of the\noptions below. Click 'Help' "
        L"button for more information.");
    if (mode < 0) return false;
    if (mode == udb_converter::overwrite_database) guarded_drop();
    tk_log(1, "udb_converter::set_mode(%d)", mode);
    conv->set_mode(mode);
    return true;
}

bool sel_file_page::check_dump() {
    pellix_converter* conv = pellix_converter::ptr();
    // "Skip existing tables" is an answer about a server database that
    // exists; a dump cannot honour it and the wizard asks no mode for one,
    // so the dump takes its default instead of a refusal the user cannot
    // answer here.
    if (conv->mode == udb_converter::skip_tables) conv->set_mode(udb_converter::overwrite_database);
    conv->check_dest();  // the path, its folder, and no file of the source database
    const std::string path = tk_unicode_to_path(conv->destination);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return wizard_shell::question(L"Destination file already exists. Overwrite?", true);
    return true;
}

bool sel_file_page::next_checks() {
    store();
    pellix_converter* conv = pellix_converter::ptr();
    if (conv->source.empty()) {
        wizard_shell::message(L"You should enter path to DBF database");
        return false;
    }
    if (conv->destination.empty()) {
        wizard_shell::message(conv->direct ? L"You should enter MySQL database name"
                                           : L"You should enter MySQL dump file name");
        return false;
    }
    if (!tk_is_path_exist(conv->source)) {
        const std::string fs = tk_unicode_to_path(conv->source);
        struct stat st {};
        if (::stat(fs.c_str(), &st) == 0)
            wizard_shell::error(L"You should enter path to DBF database, not a file name");
        else
            wizard_shell::error(L"Path to DBF database does not exist.\nPlease verify the correct path was given.");
        return false;
    }
    return conv->direct ? check_server() : check_dump();
}

int sel_file_page::on_next() {
    try {
        return next_checks() ? 0 : -1;
    } catch (const tk_exception& e) {
        gui_error_box::show(e);
        return -1;
    }
}

int sel_file_page::on_back() {
    try {
        store();
    } catch (const tk_exception& e) {
        gui_error_box::show(e);
        return -1;
    }
    return pellix_converter::ptr()->direct ? settings_page::dialog : dump_page::dialog;
}

bool sel_file_page::db_exists(const std::wstring& name) { return pellix_converter::ptr()->is_mysql_base_exist(name); }

void sel_file_page::guarded_drop() {
    pellix_converter* conv = pellix_converter::ptr();
    const int old_mode = conv->mode;
    run_output* old_output = conv->get_output();
    listing_guard_output listing;
    conv->mode = udb_converter::overwrite_database;
    conv->set_output(&listing);
    try {
        conv->check_dest();
    } catch (...) {
        conv->set_output(old_output);
        conv->mode = old_mode;
        throw;
    }
    conv->set_output(old_output);
}

int sel_file_page::ask_overwrite(const std::wstring& text) {
    return overwrite_dlg2::ask(text, pellix_converter::ptr()->mode);
}
