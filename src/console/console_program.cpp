#include "console/console_program.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/error_handler.h"
#include "app/pellix_converter.h"
#include "app/run_signals.h"
#include "console/console_error_view.h"
#include "console/console_run_output.h"
#include "console/console_usage.h"
#include "dbf/dbf_codepages.h"
#include "tk/tk_cmd_line.h"
#include "tk/tk_exception.h"
#include "tk/tk_helpers.h"
#include "tk/tk_logger.h"
#include "tk/tk_path.h"
#include "tk/tk_text.h"

namespace {

enum option_id {
    opt_charset,
    opt_dest,
    opt_dump,
    opt_encoding,
    opt_engine,
    opt_help,
    opt_logfile,
    opt_log2int,
    opt_mode,
    opt_mysqlh,
    opt_mysqlu,
    opt_mysqlp,
    opt_port,
    opt_profile,
    opt_silent,
    opt_skip_del,
    opt_src,
    opt_tab_def,
    opt_tab_file,
};

const char password_prefix[] = "--mysqlp=";

// True when the argument starts with "--mysqlp" in any letter case: a
// mistyped password option matches no option but still holds the password.
bool names_password(const char* arg) {
    for (const char* p = password_prefix; *p != '=' && *p != '\0'; ++p, ++arg) {
        char c = *arg;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != *p) return false;
    }
    return true;
}

// Overwrites the bytes of an argument from `from` on with 'x', keeping its
// length (the visible command line keeps its shape).
void wipe(char* arg, size_t from) {
    for (char* p = arg + from; *p != '\0'; ++p) *p = 'x';
}

// argv[i] as the trace may show it: a password option keeps its name and
// loses its value, and the argument after a bare "--mysqlp" (a password
// given as an argument of its own) is hidden whole.
std::string loggable_argument(char** argv, int i) {
    const char* arg = argv[i] ? argv[i] : "";
    if (names_password(arg)) {
        const char* equals = std::strchr(arg, '=');
        return equals ? std::string(arg, equals + 1) + "***" : std::string(arg);
    }
    const char* previous = i > 1 && argv[i - 1] ? argv[i - 1] : "";
    if (names_password(previous) && std::strchr(previous, '=') == nullptr) return "***";
    return arg;
}

// A numeric option's value: a whole decimal number written plainly (digits
// only: no sign, blank, leading zero or trailing text) of at most `max`.
bool read_number(const std::string& text, unsigned long max, unsigned long& value) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = std::stoul(text);  // ten digits fit
    return value <= max;
}

std::wstring to_wide(const std::string& text) { return tk_utf8_to_unicode(text); }

// Options whose value is a path: its bytes pass as given (a file name need
// not be UTF-8). The destination is a path only for a dump; a database
// name must be text (checked once the target is known).
bool takes_path(int option) {
    return option == opt_src || option == opt_dest || option == opt_logfile || option == opt_tab_file ||
           option == opt_profile;
}

[[noreturn]] void not_text(int index) {
    fatal_exit("Argument #" + std::to_string(index) + " is not valid UTF-8 text");
}

// What the options set that takes effect after the last one: the server
// connection, unless a profile was loaded (whose settings then stand), and
// the check of the destination. The password leaves no copy behind.
struct connection_options {
    connection_options() = default;
    connection_options(const connection_options&) = delete;
    connection_options& operator=(const connection_options&) = delete;
    ~connection_options() { tk_wipe(password); }

    std::string host;
    std::string user;
    std::string password;
    std::string port = "3306";
    bool profile_loaded = false;
    int dest_argument = 0;  // the argument that named the destination last
};

// Applies the cursor's option; false when it is a numeric option whose
// value is no number in its range (a usage error, as an unknown option).
bool apply_option(ansi_cmd_line& line, pellix_converter& conv, connection_options& connection) {
    const std::string& value = line.get_value();
    unsigned long number = 0;
    switch (line.get_option()) {
    case opt_charset:
        tk_log(2, "parse_cmd_line - got charset '%s'", value.c_str());
        conv.engine.set_char_set(to_wide(value));
        break;
    case opt_dest:
        tk_log(2, "parse_cmd_line - got dest %s", value.c_str());
        conv.destination = tk_path_to_unicode(value);
        connection.dest_argument = line.get_index();
        break;
    case opt_dump:
        tk_log(2, "\tconvert into dump files");
        conv.direct = false;
        break;
    case opt_encoding: {
        // A key is one language-driver byte: a larger number is no key
        // (it would wrap onto another one).
        if (!read_number(value, 0xFF, number)) return false;
        const uint8_t key = static_cast<uint8_t>(number);
        tk_log(2, "\tgot encoding: %d", key);
        if (dbf_codepage_map().count(key) == 0)
            fatal_exit(
                "Invalid codepage. See 'Command Line' article of the manual to learn\n"
                "about DBase codepages");
        conv.code_page = key;
        break;
    }
    case opt_engine:
        tk_log(2, "parse_cmd_line - got engine '%s'", value.c_str());
        conv.engine.set_tab_type(to_wide(value));
        break;
    case opt_help:
        fatal_exit(usage_text());
    case opt_logfile:
        tk_log(2, "parse_cmd_line - got logfile %s", value.c_str());
        // Opened after the last option, once checked against the source and
        // the destination the options end up naming.
        conv.keep_logfile(value);
        break;
    case opt_log2int:
        tk_log(2, "\tconvert logical into (1,0)");
        conv.bool_dbf = false;
        break;
    case opt_mode: {
        // Every mode a profile may name, 4 (replace rows) included.
        const bool valid = read_number(value, udb_converter::max_mode, number);
        tk_log(2, "\tgot mode %d", valid ? static_cast<int>(number) : -1);
        if (!valid) fatal_exit("Invalid merge/overwrite mode");
        conv.set_mode(static_cast<int>(number));
        break;
    }
    case opt_mysqlh:
        connection.host = value;
        break;
    case opt_mysqlu:
        connection.user = value;
        break;
    case opt_mysqlp:
        connection.password = value;
        // Keep the password off the process's visible command line.
        line.wipe_value(sizeof password_prefix - 1);
        break;
    case opt_port:
        if (!read_number(value, 65535, number) || number == 0) return false;
        connection.port = value;
        break;
    case opt_profile: {
        tk_log(2, "parse_cmd_line - got profile %s", value.c_str());
        // What the profile leaves out keeps what the options before it set;
        // a profile that cannot be read whole is refused here, before
        // anything is connected or changed.
        connection.profile_loaded = conv.load_profile(value);
        // Of a table list given before and the profile's own, the later
        // one is converted; a profile that lists nothing keeps the other.
        if (!conv.selected_pairs.empty()) conv.selected_tables.clear();
        break;
    }
    case opt_silent:
        tk_log(2, "parse_cmd_line - silent mode is ON");
        conv.set_silent(true);
        error_handler::ptr()->set_quiet(true);
        break;
    case opt_skip_del:
        tk_log(2, "\tdon't convert records marked as deleted");
        conv.skip_del = true;
        break;
    case opt_src:
        tk_log(2, "parse_cmd_line - got src %s", value.c_str());
        conv.source = tk_path_to_unicode(value);
        break;
    case opt_tab_def:
        tk_log(2, "\tconvert table definitions only");
        conv.tab_def = true;
        break;
    case opt_tab_file:
        tk_log(2, "\tparse_cmd_line - got tab_file %s", value.c_str());
        process_tab_file(value);
        break;
    default:
        break;  // unrecognised: collected by the cursor
    }
    return true;
}

// A path inside a message: its control characters are shown as \xHH, so a
// name cannot break the message's line or forge another.
std::string shown(const std::string& path) { return console_run_output::printable(path); }

[[noreturn]] void cannot_read(const std::string& folder, int code) {
    fatal_exit("Cannot read the folder '" + shown(folder) + "': " + tk_last_error_text(code));
}

void check_paths(const pellix_converter& conv) {
    if (conv.source.empty()) fatal_exit("You should specify path to DBF database");
    if (conv.destination.empty()) fatal_exit("You should specify destination MySQL database or dump file name");
    const std::string folder = tk_unicode_to_path(conv.source);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 && errno != ENOENT && errno != ENOTDIR) cannot_read(folder, errno);
    if (!tk_is_path_exist(conv.source)) {
        if (tk_is_file_exist2(conv.source, tk_exist_file))
            fatal_exit("You should enter path to DBF database, not a file name");
        if (!S_ISDIR(st.st_mode))
            fatal_exit("Path to DBF database does not exist.\nPlease verify the correct path was given.");
    }
    // A folder that is there but cannot be listed or searched is no
    // missing folder.
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) cannot_read(folder, errno);
    if (::faccessat(AT_FDCWD, folder.c_str(), X_OK, AT_EACCESS) != 0) cannot_read(folder, errno);
}

// The most a table list may hold: a device such as /dev/zero never ends.
constexpr size_t max_tab_file = size_t(16) << 20;

// Reads the whole file, or max_tab_file + 1 bytes of a longer one; a pipe
// or /dev/stdin is read to its end like a file.
bool read_file(const std::string& path, std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) return false;
    char buffer[8192];
    size_t n;
    while (bytes.size() <= max_tab_file && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

// A problem the run goes on from, on a line of its own (and in the log).
void warn(const std::string& text) {
    if (text.empty()) return;
    tk_log(3, "Warning: %s", text.c_str());
    if (console_is_silent()) return;
    std::fputs(("Warning: " + console_run_output::printable(text) + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// Shows a failure that reached the program's top level.
void report(const tk_exception& failure) {
    try {
        error_handler::ptr()->handle(failure, true);
    } catch (const tk_abort_exception&) {
        // Levels 1 and 2: already shown; the status says the rest.
    }
}

}  // namespace

std::vector<std::string> take_arguments(int argc, char** argv) {
    std::vector<std::string> copy;
    copy.reserve(static_cast<size_t>(argc > 0 ? argc : 0));
    for (int i = 0; i < argc; ++i) copy.emplace_back(argv[i] ? argv[i] : "");
    // Every password value, and the argument after a bare "--mysqlp" (a
    // password given as an argument of its own), whatever option matches.
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr || !names_password(argv[i])) continue;
        if (const char* equals = std::strchr(argv[i], '=')) {
            wipe(argv[i], static_cast<size_t>(equals - argv[i]) + 1);
        } else if (i + 1 < argc && argv[i + 1] != nullptr) {
            wipe(argv[i + 1], 0);
        }
    }
    return copy;
}

bool console_is_silent() {
    if (pellix_converter* conv = pellix_converter::try_ptr()) return conv->silent;
    if (error_handler* handler = error_handler::try_ptr()) return handler->is_quiet();
    return false;
}

void fatal_exit(const std::string& text) {
    tk_log(3, "%s", text.c_str());
    if (!console_is_silent()) {
        std::fputs(text.c_str(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    throw console_exit();
}

void process_tab_file(const std::string& path) {
    tk_log(2, "process_tab_file(%s)", path.c_str());
    const char missing[] = "Table names file does not exist.\nPlease verify the correct path/name was given.";
    if (!tk_is_file_exist1(path, tk_exist_file)) fatal_exit(missing);

    std::string bytes;
    if (!read_file(path, bytes)) {
        const int code = errno;
        fatal_exit("Cannot read the table names file " + shown(path) + ": " + std::strerror(code));
    }
    if (bytes.size() > max_tab_file)
        throw tk_exception("Table names file " + path + " is larger than 16 MiB.", tk_level_error);

    std::vector<std::wstring> names;
    bool first = true;
    int number = 0;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // A blank line names no table.
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        // The first non-empty line may carry the byte-order mark; it is only
        // dropped (the file is UTF-8 either way).
        if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        first = false;
        if (!ansi_cmd_line::is_valid_text(line))
            fatal_exit("Table names file " + shown(path) + ": line " + std::to_string(number) +
                       " is not valid UTF-8 text");
        // A name listed again is converted, and counted, once.
        std::wstring name = tk_utf8_to_unicode(line);
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
    }
    // A list that names nothing would convert every table.
    if (names.empty()) fatal_exit("The table list names no table.");
    // The file's list replaces any list given before, a profile's included.
    pellix_converter* conv = pellix_converter::ptr();
    conv->selected_tables = std::move(names);
    conv->selected_pairs.clear();
}

bool parse_cmd_line(int argc, char** argv) {
    tk_log(1, "parse_cmd_line");
    for (int i = 0; i < argc; ++i) tk_log(1, "parameter #%d: %s", i, loggable_argument(argv, i).c_str());

    const cmd_option options[] = {
        {opt_charset, "--charset="},   {opt_dest, "--dest="},
        {opt_dump, "--dump"},          {opt_encoding, "--encoding="},
        {opt_engine, "--engine="},     {opt_help, "--help"},
        {opt_logfile, "--logfile="},   {opt_log2int, "--log2int"},
        {opt_mode, "--mode="},         {opt_mysqlh, "--mysqlh="},
        {opt_mysqlu, "--mysqlu="},     {opt_mysqlp, "--mysqlp="},
        {opt_port, "--port="},         {opt_profile, "--profile="},
        {opt_silent, "--silent"},      {opt_skip_del, "--skip_del"},
        {opt_src, "--src="},           {opt_tab_def, "--tab_def"},
        {opt_tab_file, "--tab_file="}, {-1, ""},
    };

    pellix_converter& conv = *pellix_converter::ptr();
    connection_options connection;

    ansi_cmd_line line(argc, argv, options);
    std::vector<int> unknown;  // argv indices of the unrecognised arguments the cursor keeps
    int bad_values = 0;        // numeric options whose value is no number in range
    while (line.has_more()) {
        line.next();
        if (!takes_path(line.get_option()) &&
            !ansi_cmd_line::is_valid_text(line.get_argument() ? line.get_argument() : "")) {
            if (line.get_option() == opt_mysqlp) line.wipe_value(sizeof password_prefix - 1);
            not_text(line.get_index());
        }
        if (line.get_option() == -1 && unknown.size() < static_cast<size_t>(TCmdLine::max_unknown))
            unknown.push_back(line.get_index());
        if (!apply_option(line, conv, connection)) {
            tk_log(2, "parse_cmd_line - invalid value in %s", loggable_argument(argv, line.get_index()).c_str());
            ++bad_values;
        }
    }
    if (line.get_unknown_count() > 0 || bad_values > 0) {
        for (int i : unknown) tk_log(2, "parse_cmd_line - unknown argument %s", loggable_argument(argv, i).c_str());
        return false;
    }

    // A database name goes into statements: it must be text.
    if (conv.direct && !ansi_cmd_line::is_valid_text(tk_unicode_to_path(conv.destination)))
        not_text(connection.dest_argument);
    check_paths(conv);
    // A loaded profile's "MySQL settings" stand; the options do not.
    if (!connection.profile_loaded)
        conv.store_mysql_settings(connection.host, connection.user, connection.password, connection.port);
    return true;
}

int pqzagent_main(int argc, char** argv) {
    tk_logger logger(nullptr, false, 3, false);
    error_handler handler(std::make_unique<console_error_view>());
    int status = 0;
    bool run_entered = false;
    try {
        pellix_converter conv(true);
        console_run_output output(conv);
        conv.set_output(&output);
        init_codepage_tables();

        if (argc < 2 || !parse_cmd_line(argc, argv)) fatal_exit(usage_text());
        conv.open_logfile();
        warn(conv.take_settings_problem());
        if (conv.direct) {
            conv.connect_mysql_server();
            tk_wipe(conv.password);  // never needed again: nothing is saved
        }
        {
            // From the destination's first change (a mode-0 drop) on, a
            // signal interrupts the run, which says so.
            run_signals::span span(conv);
            try {
                conv.check_dest();
            } catch (...) {
                // Its failure then is the signal's (the drop's connection
                // shut down, the wait for another run given up), and the
                // destination may be changed already.
                if (!conv.is_interrupted()) throw;
                run_entered = true;
                conv.report_interruption();
                throw;
            }
            run_entered = true;
            if (conv.run() != run_outcome::completed) status = pqzagent_failure;
        }
        conv.set_output(nullptr);
    } catch (const console_exit&) {
        status = pqzagent_failure;
    } catch (const tk_abort_exception&) {
        status = pqzagent_failure;  // shown by the error handler
    } catch (const tk_exception& e) {
        report(e);
        status = pqzagent_failure;
    } catch (const std::exception& e) {
        try {
            fatal_exit(e.what());
        } catch (const console_exit&) {
        }
        status = pqzagent_failure;
    }
    // Lines the log lost are told once, at the end; the status stays.
    const std::string lost = logger.take_write_failure();
    if (!lost.empty()) report(tk_exception(lost, tk_level_recoverable));
    // A run that failed part-way must not be taken for a partial success:
    // the last line says so.
    if (status != 0 && run_entered && !console_is_silent()) {
        std::fputs("The conversion was not completed: the destination does not hold the complete data.\n", stdout);
        std::fflush(stdout);
    }
    return status;
}
