// An in-memory target database for run tests: records every call the run
// makes and every row it appends, and fails where a test says so.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tk/tk_text.h"
#include "udb/udb_database.h"
#include "udb/udb_recordset.h"

struct recording_log {
    std::vector<std::string> calls;                         // "create_table:t", "delete_tab:t", ...
    std::vector<std::pair<std::string, std::string>> rows;  // (table, first field text)
    std::vector<std::string> finished;                      // tables whose finish() ran
    std::vector<std::vector<std::string>> columns;          // created tables' column names
    // Throws for a row (table, row text) when set.
    std::function<void(const std::string&, const std::string&)> on_append;
    std::function<void(const std::string&)> on_create;
    std::function<void(const std::string&)> on_finish;
    std::vector<std::wstring> existing;  // tables the target holds before the run
    udb_schema existing_schema;          // their schema (mode 3)
};

class recording_table : public udb_recordset {
public:
    recording_table(recording_log& log, const std::wstring& name) : udb_recordset(name), log_(log) {}
    void append_record(const udb_record& record) override {
        const std::string table = tk_unicode_to_utf8(name);
        std::string first = record.size() ? record.at(0)->to_string() : std::string();
        if (log_.on_append) log_.on_append(table, first);
        std::string all;
        for (const auto& f : record.fields) all += tk_unicode_to_utf8(f->name) + "=" + f->to_string() + ";";
        log_.rows.emplace_back(table, all);
    }
    void finish() override {
        const std::string table = tk_unicode_to_utf8(name);
        if (log_.on_finish) log_.on_finish(table);
        log_.finished.push_back(table);
    }

private:
    recording_log& log_;
};

class recording_target : public udb_database {
public:
    explicit recording_target(recording_log& log) : udb_database(L"target", 0, false), log_(log) {
        table_names = log.existing;
    }
    using udb_database::create_table;
    using udb_database::query;
    std::unique_ptr<udb_recordset> create_table(const std::wstring& name, const udb_schema& schema,
                                                const udb_indexes& indexes) override {
        const std::string n = tk_unicode_to_utf8(name);
        log_.calls.push_back("create_table:" + n);
        if (log_.on_create) log_.on_create(n);
        auto t = std::make_unique<recording_table>(log_, name);
        bool existed = false;
        for (const auto& e : log_.existing) existed = existed || e == name;
        t->schema = existed ? log_.existing_schema : schema;
        t->indexes = indexes;
        std::vector<std::string> cols;
        for (const auto& c : schema.fields) cols.push_back(tk_unicode_to_utf8(c->name));
        log_.columns.push_back(cols);
        return t;
    }
    bool is_table_exist(const std::wstring& name) override {
        log_.calls.push_back("is_table_exist:" + tk_unicode_to_utf8(name));
        for (const auto& e : log_.existing)
            if (e == name) return true;
        return false;
    }
    bool delete_tab(const std::wstring& name) override {
        log_.calls.push_back("delete_tab:" + tk_unicode_to_utf8(name));
        return true;
    }
    std::unique_ptr<udb_recordset> get_query(const std::wstring&, const std::wstring&) override { return nullptr; }
    std::unique_ptr<udb_recordset> get_table(const std::wstring&, int) override { return nullptr; }
    bool query(const std::string&) override { return true; }

private:
    recording_log& log_;
};
