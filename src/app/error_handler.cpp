#include "app/error_handler.h"

#include <cinttypes>
#include <cstdio>

#include "tk/tk_logger.h"
#include "tk/tk_text.h"

namespace {

constexpr int32_t mysql_code(int32_t n) { return 0x400000 | n; }

const char cannot_connect[] =
    "Cannot connect to the MySQL server. Check to verify that MySQL server\n"
    "is launched and the correct host/port values were given.";
const char no_auth_protocol[] =
    "The program does not support authentication protocol requested by server.\n"
    "See 'Troubleshooting' article of the product documentation.";
const char connection_lost[] = "The connection to the MySQL server was lost.";

const tk_error_text sql_error_messages[] = {
    {mysql_code(1044),
     "Access denied. Ask your system administrator to grant you\n"
     "the necessary privileges to write into the database."},
    {mysql_code(1045),
     "Access denied. Verify the user name and password are correct, and you have\n"
     "the necessary privileges to connect to the target MySQL server."},
    {mysql_code(1062),
     "Duplicate field values being used for an unique index were found.\n"
     "See 'Troubleshooting' article of the product documentation\n"
     "for solution."},
    {mysql_code(1071),
     "Primary key in the original database is too long.\n"
     "Restart the program with \"Skip converting indexes\"\n"
     "checkbox selected in order to resolve the conflict.\n"},
    {mysql_code(1130),
     "You are not allowed to connect to the destination MySQL server.\n"
     "Ask your system administrator to grant you necessary privileges\n"
     "to create new databases on target MySQL server."},
    {mysql_code(1051),
     "Failed to overwrite MySQL database. It is being used by\n"
     "another application. Specify a different destination name."},
    {mysql_code(2003), cannot_connect},
    {mysql_code(2005), cannot_connect},
    // The client library reports a refused TCP connection as 2002.
    {mysql_code(2002), cannot_connect},
    {mysql_code(1153),
     "Transferred value is too big. Increase MySQL max packet size and try\n"
     "again. See 'Troubleshooting' article of the product documentation."},
    {mysql_code(2006), connection_lost},
    {mysql_code(2013), connection_lost},
    {mysql_code(1249), no_auth_protocol},
    {mysql_code(1250), no_auth_protocol},
    {mysql_code(1251), no_auth_protocol},
};

// One line for the screen: each CR LF pair, lone LF or lone CR becomes one
// blank (a lone CR would send the cursor back over the line).
std::string flatten(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += ' ';
        } else if (c == '\n') {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

// The table a reader report is about: the file name without folder and
// extension.
std::wstring table_of(const std::wstring& file) {
    const size_t slash = file.rfind(L'/');
    std::wstring name = slash == std::wstring::npos ? file : file.substr(slash + 1);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot != 0) name.erase(dot);
    return name;
}

}  // namespace

const tk_error_text* error_handler::mysql_error_texts() { return sql_error_messages; }

size_t error_handler::mysql_error_text_count() { return sizeof sql_error_messages / sizeof sql_error_messages[0]; }

error_handler::error_handler(std::unique_ptr<error_view> view)
    : error_handler(mysql_error_text_count(), mysql_error_texts(), std::move(view)) {}

error_handler::error_handler(size_t count, const tk_error_text* table, std::unique_ptr<error_view> view)
    : texts_(count, table), view_(std::move(view)) {
    tk_log(2, "error_handler::ctor");
    TK_ASSERT(view_ != nullptr);
}

error_handler::~error_handler() { tk_log(2, "error_handler::dtor"); }

dbf_report error_handler::reader_reporter() {
    // Only the process-wide handler takes the reader's reports.
    return dbf_report([](const tk_exception& failure, const std::wstring& file) {
        if (error_handler* handler = try_ptr()) {
            handler->report_reader_failure(failure, file);
            return;
        }
        dbf_report().report(failure, file);
    });
}

void error_handler::set_context(const std::wstring& table) { context_ = tk_unicode_to_utf8(table); }

void error_handler::set_record_context(const std::wstring& table, uint64_t number) {
    char tail[48];
    std::snprintf(tail, sizeof tail, ", record #%" PRIu64, number);
    context_ = tk_unicode_to_utf8(table) + tail;
}

std::string error_handler::build_message(const tk_exception& failure) const {
    std::string message;
    if (!context_.empty()) message = context_ + ": ";
    // A friendlier text says what to do; the server's own words follow it,
    // for they say what happened (a refusal of TLS reads as one of the
    // password otherwise).
    const std::string friendly = texts_.convert(failure.error_code);
    if (friendly.empty()) return message + failure.message;
    message += friendly;
    if (!failure.message.empty()) message += (friendly.back() == '\n' ? "" : "\n") + failure.message;
    return message;
}

void error_handler::handle(const tk_exception& failure, bool no_stop) {
    tk_log(2, "error_handler::handle");

    if (failure.level >= tk_level_internal) {
        tk_log(3, "Internal error:\n%s", failure.message.c_str());
        view_->show_internal_error(failure.message);
        // The run cleans up and the front end ends the process.
        throw tk_abort_exception(tk_level_internal, failure.message);
    }

    std::string message = build_message(failure);
    tk_log(3, "Error:\n%s", message.c_str());
    message = flatten(message);
    view_->keep_message(message);

    if (failure.level == tk_level_error) {
        tk_log(2, "Got 1-level error");
        if (!quiet_) view_->show_error(message);
        auto range = help_topics_.equal_range(failure.error_code);
        for (auto it = range.first; it != range.second; ++it) view_->open_help(it->second);
        if (view_->level1_ends_run()) throw tk_abort_exception(tk_level_error, message);
        return;
    }

    tk_log(1, "Got 0-level error");
    if (quiet_) return;
    const error_view::answer answer = view_->ask_continue(message, !no_stop);
    if (answer.stop && !no_stop) throw tk_final_exception();
    if (answer.dont_show_again) quiet_ = true;
}

void error_handler::report_reader_failure(const tk_exception& failure, const std::wstring& file) {
    // A reader report comes in the middle of a table: the table's context is
    // put back afterwards, also when the user stops.
    const std::string saved = context_;
    set_context(table_of(file));
    try {
        tk_exception report = failure;
        report.level = tk_level_recoverable;  // the table's own files: the user may go on
        handle(report, false);
    } catch (...) {
        context_ = saved;
        throw;
    }
    context_ = saved;
}
