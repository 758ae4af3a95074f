// A cursor over a program's arguments, classified by an option table.
//
// An option table is an array of cmd_option rows ended by a row whose prefix
// is empty. An argument matches the first row whose prefix it starts with
// (plain, case-sensitive comparison); the option's value is the rest of the
// argument. So "--dumpfile" matches a "--dump" row: a switch ignores what
// follows its prefix. An argument that matches no row gets the option -1 and
// is remembered as unrecognised (the first max_unknown of them are kept, all
// of them are counted).
//
// TCmdLine holds the classification; a derived class walks its own kind of
// argument vector. ansi_cmd_line walks narrow (UTF-8) arguments and skips the
// program name. The cursor does not own the table or the arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct cmd_option {
    int id;
    const char* prefix;  // "" ends the table
};

class TCmdLine {
public:
    static constexpr int max_unknown = 20;

    explicit TCmdLine(const cmd_option* options);
    virtual ~TCmdLine();

    TCmdLine(const TCmdLine&) = delete;
    TCmdLine& operator=(const TCmdLine&) = delete;

    // Advances to the following argument and classifies it.
    virtual void next() = 0;
    // True while arguments remain to be visited by next().
    virtual bool has_more() const = 0;

    // The current argument's option id, -1 when it matched no row.
    int get_option() const { return option_; }
    // The text behind the matched prefix (the whole argument for -1).
    const std::string& get_value() const { return value_; }

    // Every unrecognised argument met so far, and the first max_unknown of them.
    int get_unknown_count() const { return unknown_count_; }
    const std::vector<std::string>& get_unknown() const { return unknown_; }

protected:
    // Classifies one argument against the table.
    void classify(std::string_view argument);

private:
    const cmd_option* options_;
    std::string value_;
    int option_ = -1;
    std::vector<std::string> unknown_;
    int unknown_count_ = 0;
};

class ansi_cmd_line : public TCmdLine {
public:
    // Visits argv[1] .. argv[argc - 1].
    ansi_cmd_line(int argc, char** argv, const cmd_option* options);

    void next() override;
    bool has_more() const override { return remaining_ > 0; }

    // The current argument itself (writable, so a secret can be wiped from
    // the process's visible command line), or null before the first next().
    char* get_argument() const { return current_; }
    // 1-based index of the current argument in argv.
    int get_index() const { return index_; }

    // Overwrites the bytes of the current argument behind `offset` with
    // 'x' characters, keeping its length.
    void wipe_value(size_t offset);

    // True when the text is well-formed UTF-8 (no overlong forms, no
    // surrogates, nothing above U+10FFFF).
    static bool is_valid_text(std::string_view text);

private:
    char** next_;
    char* current_ = nullptr;
    int remaining_;
    int index_ = 0;
};
