// Large memos through the real pqzagent. FoxPro tables hold one memo of
// 64 MiB, as text and as bytes, and a small one after it; each table goes
// into a dump (replayed by the mariadb client) and straight to the server.
// The large value arrives whole (length and MD5, computed by the server),
// its neighbour too, and the conversion's peak memory passes that of only
// reading the table (read_tables) by at most 16 MiB: the value is held
// once and leaves in pieces. Reading itself holds a text memo below 6 times
// its size (its wide text and, while decoding, its bytes) and a binary one
// below twice.
//
// Peak memory is the process's own (wait4), with the sanitizer's quarantine
// off so freed memory is used again, counted above what the same program
// takes for the same table with a small memo (the sanitizer's own memory
// differs much between the two programs). The tables are written by a child
// process, so that the test process stays small (a child's peak counts the
// pages it shares with its parent). The server's max_allowed_packet is
// raised for the test and put back, so the test runs alone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "console_harness.h"
#include "server_session.h"
#include "testkit/dbf_fixture.h"
#include "testkit/test_server.h"

#ifndef READ_TABLES_PATH
#error "READ_TABLES_PATH must name the built read_tables"
#endif

namespace {

namespace fs = std::filesystem;
using console_test::harness;
using console_test::read_file;
using console_test::result;
using console_test::server_session;
using console_test::write_file;
using testkit::dbf_fixture;
using testkit::dbf_value;

constexpr size_t memo_size = size_t(64) << 20;
constexpr long slack_kib = 16 * 1024;

// The text memo repeats these 13 Windows-1252 bytes (a quote, a backslash,
// two letters of two UTF-8 bytes, a line break): no piece size divides the
// period, so a piece lost, doubled or misplaced changes the MD5.
const std::string text_period = "it's \xE9\\ \xFC\r\nab";
const std::string text_period_utf8 = "it's \xC3\xA9\\ \xC3\xBC\r\nab";

// The UTF-8 bytes of the first `size` bytes of the repeated text.
size_t utf8_size(size_t size) {
    size_t bytes = size / text_period.size() * text_period_utf8.size();
    for (size_t i = 0; i < size % text_period.size(); ++i)
        bytes += static_cast<unsigned char>(text_period[i]) < 0x80 ? 1 : 2;
    return bytes;
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The binary memo: bytes 0, 1, ... 250 over and over (a prime period).
std::string binary_period() {
    std::string bytes;
    for (int i = 0; i < 251; ++i) bytes.push_back(static_cast<char>(i));
    return bytes;
}

std::string repeated(const std::string& period, size_t size) {
    std::string out;
    out.reserve(size + period.size());
    while (out.size() < size) out += period;
    out.resize(size);
    return out;
}

// A FoxPro 2 table of two records: ID 1 with the large memo, ID 2 with a small one.
void write_table(const std::string& path, char type, const std::string& field, const std::string& large,
                 const std::string& small) {
    testkit::dbf_fixture_table table;
    table.version = 0xF5;
    table.language_driver = 0x03;  // Windows-1252
    table.fields.push_back({"ID", 'N', 10, 0, 0});
    table.fields.push_back({field, type, 0, 0, 0});
    auto value = [&](const std::string& bytes) { return type == 'M' ? dbf_value::str(bytes) : dbf_value::bin(bytes); };
    table.records.push_back({false, {dbf_value::num("1"), value(large)}});
    table.records.push_back({false, {dbf_value::num("2"), value(small)}});
    dbf_fixture::write(path, table);
}

// Runs `work` in a child process: its memory never becomes the test's.
void in_child(const std::function<void()>& work) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        try {
            work();
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

struct large_table {
    std::string name;  // table and folder
    char type;         // 'M' text, 'G' bytes
    std::string column;
    std::string expected;    // SQL expression of the value as it must arrive
    size_t length;           // its bytes
    std::string small;       // the neighbour's value as SELECT gives it
    long reading_limit_kib;  // what only reading may take
};

class LargeValues : public ::testing::Test {
protected:
    void SetUp() override {
        QZ_REQUIRE_SERVER();
        server = test_server::from_environment();
        session = std::make_unique<server_session>(server);
        saved_packet = session->value("SELECT @@GLOBAL.max_allowed_packet");
        session->exec("SET GLOBAL max_allowed_packet = 268435456");
        cnf = h.file("client.cnf");
        write_file(cnf, "[client]\nhost=" + server.host + "\nport=" + std::to_string(server.port) +
                            "\nuser=" + server.user + "\npassword=" + server.password +
                            "\ndefault-character-set=utf8mb4\nmax-allowed-packet=1G\n");
        ::chmod(cnf.c_str(), 0600);
        profile = console_test::write_server_profile(h.file("server.pqz"), server.host, server.port, server.user,
                                                     server.password);
        const char* asan = std::getenv("ASAN_OPTIONS");
        saved_asan = asan ? std::optional<std::string>(asan) : std::nullopt;
        ::setenv("ASAN_OPTIONS", ((asan ? std::string(asan) + ":" : std::string()) + "quarantine_size_mb=0").c_str(),
                 1);
    }
    void TearDown() override {
        if (saved_asan)
            ::setenv("ASAN_OPTIONS", saved_asan->c_str(), 1);
        else
            ::unsetenv("ASAN_OPTIONS");
        if (!session) return;
        for (const char* db :
             {"qz_large_dump_text", "qz_large_dump_bin", "qz_large_text", "qz_large_bin", "qz_large_small"})
            session->exec(std::string("DROP DATABASE IF EXISTS ") + db);
        if (!saved_packet.empty()) session->exec("SET GLOBAL max_allowed_packet = " + saved_packet);
    }

    // Both rows of the table in `database`, the large one checked by the server.
    void expect_arrived(const std::string& database, const large_table& t) {
        // A new session: the raised packet limit holds for sessions begun after it.
        server_session check(server);
        const std::string table = "`" + database + "`.`" + t.name + "`";
        EXPECT_EQ(check.value("SELECT CONCAT(LENGTH(" + t.column + "), ' ', MD5(" + t.column + ") = MD5(" + t.expected +
                              ")) FROM " + table + " WHERE ID = 1"),
                  std::to_string(t.length) + " 1")
            << database;
        EXPECT_EQ(check.value("SELECT " + t.column + " FROM " + table + " WHERE ID = 2"), t.small) << database;
    }

    // Peak memory of reading, dumping and loading the table in `folder`
    // (loaded into `database`); every run must succeed.
    struct peaks {
        long reading = 0, dump = 0, server = 0;
        bool ok = false;  // every run succeeded
    };
    peaks convert(const std::string& folder, const std::string& dump, const std::string& database) {
        const result reading = h.run_program(READ_TABLES_PATH, {folder});
        EXPECT_EQ(reading.status, 0) << reading.err;
        EXPECT_EQ(reading.out, "2\n");
        const result dumped = h.run({"--src=" + folder, "--dest=" + dump, "--dump"});
        EXPECT_EQ(dumped.status, 0) << dumped.out << dumped.err;
        const result loaded = h.run({"--src=" + folder, "--dest=" + database, "--profile=" + profile});
        EXPECT_EQ(loaded.status, 0) << loaded.out << loaded.err;
        EXPECT_EQ(loaded.out.find("Error"), std::string::npos) << loaded.out;
        return {reading.peak_rss_kib, dumped.peak_rss_kib, loaded.peak_rss_kib,
                reading.status == 0 && dumped.status == 0 && loaded.status == 0};
    }

    void convert_and_check(const large_table& t) {
        // The same table with a small memo: what each program takes anyway.
        const peaks base = convert(h.file(t.name + "_small"), h.file(t.name + "_small.sql"), "qz_large_small");
        const peaks large = convert(h.file(t.name), h.file(t.name + ".sql"), "qz_large_" + t.name.substr(5));
        if (!base.ok || !large.ok) return;
        const long reading = large.reading - base.reading;
        EXPECT_LT(reading, t.reading_limit_kib) << "only reading the table";
        EXPECT_LE(large.dump - base.dump, reading + slack_kib)
            << "dump: " << large.dump << " KiB (" << base.dump << " for a small memo), reading: " << large.reading
            << " KiB (" << base.reading << ")";
        EXPECT_LE(large.server - base.server, reading + slack_kib)
            << "server: " << large.server << " KiB (" << base.server << " for a small memo), reading: " << large.reading
            << " KiB (" << base.reading << ")";

        const std::string replayed = "qz_large_dump_" + t.name.substr(5);
        session->exec("CREATE DATABASE " + replayed);
        const std::string command = "mariadb --defaults-file='" + cnf + "' " + replayed + " < '" +
                                    h.file(t.name + ".sql") + "' > '" + h.file("replay.out") + "' 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << read_file(h.file("replay.out"));
        expect_arrived(replayed, t);
        expect_arrived("qz_large_" + t.name.substr(5), t);
    }

    harness h;
    test_server server;
    std::unique_ptr<server_session> session;
    std::string saved_packet;
    std::string cnf;
    std::string profile;
    std::optional<std::string> saved_asan;
};

TEST_F(LargeValues, GlobalPacketSixtyFourMegabyteMemosArriveWholeHeldOnce) {
    const long memo_kib = long(memo_size / 1024);
    large_table text{"memo_text",
                     'M',
                     "NOTES",
                     "LEFT(REPEAT(CONVERT(UNHEX('" + hex(text_period_utf8) + "') USING utf8mb4), " +
                         std::to_string(memo_size / text_period.size() + 1) + "), " + std::to_string(memo_size) + ")",
                     utf8_size(memo_size),
                     "after",
                     6 * memo_kib};
    large_table bytes{"memo_bin",
                      'G',
                      "DATA",
                      "LEFT(REPEAT(UNHEX('" + hex(binary_period()) + "'), " + std::to_string(memo_size / 251 + 1) +
                          "), " + std::to_string(memo_size) + ")",
                      memo_size,
                      "\x01\x02",
                      2 * memo_kib};
    in_child([&] {
        for (const large_table* t : {&text, &bytes}) {
            const std::string& period = t->type == 'M' ? text_period : binary_period();
            for (size_t size : {memo_size, size_t(1000)}) {
                const std::string folder = h.file(t->name + (size == memo_size ? "" : "_small"));
                fs::create_directories(folder);
                write_table(folder + "/" + t->name + ".dbf", t->type, t->column, repeated(period, size),
                            t->type == 'M' ? "after" : "\x01\x02");
            }
        }
    });
    for (const large_table* t : {&text, &bytes}) {
        SCOPED_TRACE(t->name);
        convert_and_check(*t);
    }
}

}  // namespace
