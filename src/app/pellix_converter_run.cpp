// The conversion run of pellix_converter.
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "app/dump_row_pipeline.h"
#include "app/error_handler.h"
#include "app/init_conversion.h"
#include "app/pellix_bool_rule.h"
#include "app/pellix_converter.h"
#include "dbf/dbf_database.h"
#include "dbf/dbf_record.h"
#include "dbf/dbf_recordset.h"
#include "dump/dmp_database.h"
#include "dump/dmp_recordset.h"
#include "mysql/sql_exception.h"
#include "mysql/sql_user_rights.h"
#include "sql/sql_schema_initializer.h"
#include "tk/tk_logger.h"
#include "tk/tk_text.h"
#include "udb/udb_custom_conversion.h"
#include "udb/udb_names.h"
#include "udb/udb_recordset.h"
#include "udb/udb_validator.h"

namespace {

// The engine reads the converter's customisations for the run only; the
// user's storage engine and character set come back afterwards.
class customisations_scope {
public:
    customisations_scope(sql_engine& engine, udb_properties* customs)
        : engine_(engine), tab_type_(engine.get_tab_type()), char_set_(engine.get_char_set()) {
        try {
            engine_.set_properties(customs);
        } catch (...) {
            restore();
            throw;
        }
    }
    ~customisations_scope() { restore(); }

private:
    void restore() noexcept {
        try {
            engine_.set_properties(nullptr);
            engine_.set_tab_type(tab_type_);
            engine_.set_char_set(char_set_);
        } catch (const tk_exception& e) {
            tk_log(2, "Cannot restore the engine settings: %s", e.what());
        }
    }

    sql_engine& engine_;
    std::wstring tab_type_;
    std::wstring char_set_;
};

// The engine's resend of refused rows asks the run whether to stop, for the
// run only.
class stop_check_scope {
public:
    stop_check_scope(sql_engine& engine, std::function<bool()> check) : engine_(engine) {
        engine_.set_stop_check(std::move(check));
    }
    ~stop_check_scope() { engine_.set_stop_check({}); }

private:
    sql_engine& engine_;
};

// Thrown once a failure that ends the run was reported: it passes the
// record and table handlers (no tk_exception) to the run's outermost depth.
struct run_cut_short {};

// The server's answer to CREATE TABLE for a table that exists.
constexpr int32_t table_exists_code = sql_exception::mysql_error_bit | 1050;

}  // namespace

// What one run owns. Members are destroyed in reverse order: the
// validator and rules first, then the target, then the source.
struct pellix_converter::run_state {
    std::optional<customisations_scope> customisations;  // outlives the target
    std::unique_ptr<dbf_database> source;
    std::unique_ptr<udb_database> target;
    std::unique_ptr<udb_custom_conversion> rules;
    std::unique_ptr<udb_validator> validator;
    std::vector<std::wstring> run_list;
    size_t next = 0;                   // the first run-list entry not finished
    std::set<std::wstring> converted;  // folder spellings already run
    // Target names claimed before the first table, by source name.
    std::map<std::wstring, std::wstring> claimed;
    std::vector<std::wstring> whole;  // tables converted whole
    std::vector<std::wstring> cut;    // tables whose file became shorter while they were read
    std::wstring writing;             // the table whose target was created
    bool made_here = false;           // this run made its target table (no merge into one)
    uint64_t appended = 0;            // rows of `writing` appended to its target
    int opened = 0;                   // source tables opened
    int reached = 0;                  // tables created, opened to merge into, or left as they are
    uint64_t to_write = 0;            // records of the tables the run writes (not those mode 2 leaves)
    uint64_t written = 0;             // of them, records that went (or were left out by choice)
    bool takes_all = false;           // every table of the folder is run
    bool names_imported = false;
};

namespace {

void report(const tk_exception& failure, bool no_stop) {
    if (error_handler* handler = error_handler::try_ptr()) {
        handler->handle(failure, no_stop);
        return;
    }
    tk_log(3, "Error:\n%s", failure.what());
}

void set_context(const std::wstring& table) {
    if (error_handler* handler = error_handler::try_ptr()) handler->set_context(table);
}

std::string join_names(const std::vector<std::wstring>& names) {
    std::string text;
    for (const auto& name : names) {
        if (!text.empty()) text += ", ";
        text += tk_unicode_to_utf8(name);
    }
    return text;
}

// A table read only in part is no converted table: the run does not
// complete (each table has told which of its records were not read).
void check_read_whole(const std::vector<std::wstring>& cut) {
    if (cut.empty()) return;
    if (error_handler* handler = error_handler::try_ptr()) handler->clear_context();
    const bool one = cut.size() == 1;
    throw tk_exception(std::string("The conversion is not complete: the ") +
                           (one ? "file of table " : "files of tables ") + join_names(cut) +
                           (one ? " became shorter while it was read." : " became shorter while they were read."),
                       tk_level_error);
}

}  // namespace

int pellix_converter::operator()() { return static_cast<int>(run()); }

void pellix_converter::interrupt(const std::string& reason) {
    {
        std::lock_guard<std::mutex> lock(interrupt_mutex_);
        if (interrupted_.load(std::memory_order_relaxed)) return;
        interrupt_reason_ = reason;
        interrupted_.store(true, std::memory_order_release);
    }
    tk_log(3, "%s", reason.c_str());
    request_stop();
}

run_outcome pellix_converter::run() {
    tk_log(2, "pellix_converter::operator()");
    init_conversion guard(finished);
    last_outcome_ = run_outcome::failed;
    stop_ = stop_summary();
    renames_.clear();
    clear_created_tables();
    const stop_check_scope stop_check(engine, [this] { return should_stop(); });
    run_state st;
    try {
        if (check_dest_first) check_dest();
        start_run(st);
        for (; st.next < st.run_list.size(); ++st.next) {
            if (should_stop()) throw tk_final_exception();  // the wizard's Abort
            convert_entry(st, st.run_list[st.next]);
        }
        check_any_opened(st);
        check_read_whole(st.cut);
        end_run(st);
        last_outcome_ = run_outcome::completed;
    } catch (const run_cut_short&) {
        // Reported already; the report tells what the target holds.
        note_stop(st);
        discard_target(st);
        last_outcome_ = run_outcome::failed;
    } catch (const tk_final_exception&) {
        if (is_interrupted()) {
            // Interrupted from outside: ends as a level-1 failure does.
            note_stop(st);
            discard_target(st);
            last_outcome_ = run_outcome::failed;
            report_interruption();
        } else {
            // The user stopped: what was written is kept and the dump
            // completed; stop_report() tells what the target holds.
            tk_log(2, "The run was stopped");
            last_outcome_ = run_outcome::stopped;
            note_stop(st);
            try {
                finish_target(st);
            } catch (const tk_exception& e) {
                discard_target(st);
                last_outcome_ = run_outcome::failed;
                report(e, true);
            }
        }
    } catch (const tk_abort_exception& e) {
        tk_log(3, "The run was aborted: %s", e.what());
        discard_target(st);
        last_outcome_ = run_outcome::failed;
        throw;
    } catch (const tk_exception& e) {
        note_stop(st);
        discard_target(st);
        last_outcome_ = run_outcome::failed;
        // A failure the interruption caused (its connection shut down) is the interruption's.
        if (is_interrupted())
            report_interruption();
        else
            report(e, true);
    } catch (const std::exception& e) {
        note_stop(st);
        discard_target(st);
        last_outcome_ = run_outcome::failed;
        tk_log(3, "ERROR:\n%s", e.what());
        if (output_) output_->run_failed(e.what());
    }
    release_database_lock();
    clear_created_tables();
    report_log_failure();
    return last_outcome_;
}

void pellix_converter::hold_database_lock() {
    engine.hold_database_lock(
        destination, [this] { return should_stop() || (output_ && !output_->keep_waiting()); },
        [this](const std::string& line) {
            tk_log(3, "%s", line.c_str());
            if (output_) output_->waiting(line);
        });
}

void pellix_converter::release_database_lock() noexcept {
    try {
        engine.release_database_lock();
    } catch (const tk_exception& e) {
        tk_log(2, "Cannot release the database's lock: %s", e.what());  // a connection gone holds none
    }
}

void pellix_converter::report_log_failure() {
    // Said once, after the run: a log that cannot be written changes nothing
    // of the conversion.
    tk_logger* logger = tk_logger::try_ptr();
    if (logger == nullptr) return;
    const std::string text = logger->take_write_failure();
    if (!text.empty()) report(tk_exception(text, tk_level_recoverable), true);
}

void pellix_converter::start_run(run_state& st) {
    st.customisations.emplace(engine, static_cast<sql_db_mutator*>(this));
    st.source = std::make_unique<dbf_database>(source, udb_open_read, static_cast<uint8_t>(code_page & 0xFF), true,
                                               error_handler::reader_reporter());
    st.target = open_target();
    TK_ASSERT(st.target != nullptr);
    tk_log(2, "After initializing DBs");

    st.rules = std::make_unique<udb_custom_conversion>();
    if (bool_dbf) st.rules->add_rule(std::make_unique<pellix_bool_rule>());

    st.takes_all = run_takes_all_tables();
    if (st.takes_all) selected_tables = st.source->table_names;
    tables_done = 0;
    tables_total = static_cast<int>(!selected_tables.empty() ? selected_tables.size() : selected_pairs.size());
    tk_wlog(3, L"Converting database %ls (%d tables)", source.c_str(), tables_total.load());
    if (output_) output_->database_started(source, tables_total);

    std::vector<std::wstring>& existing = st.target->get_table_names();
    tk_log(1, "sql_engine::create_tn_validator");
    st.validator = engine.create_tn_validator(existing, std::vector<std::wstring>());
    build_run_list(st);
    report_unlisted_files(st);
    claim_own_names(st);
}

void pellix_converter::build_run_list(run_state& st) {
    const auto& names = st.source->table_names;
    auto same_file = [&](const std::wstring& a, const std::wstring& b) {
        if (a == b) return true;
        const std::wstring ra = resolve_table(names, a);
        return !ra.empty() && ra == resolve_table(names, b);
    };
    for (const auto& table : selected_tables) {
        bool listed = false;
        for (const auto& pair : selected_pairs) listed = listed || same_file(pair.first, table);
        if (!listed) selected_pairs.emplace_back(table, std::wstring());
    }
    for (const auto& pair : selected_pairs) st.run_list.push_back(pair.first);
}

void pellix_converter::report_unlisted_files(run_state& st) {
    // A "*.dbf" file that gives no table is told about when the run would
    // have converted it: every table is taken, or the list names it.
    for (const auto& file : st.source->get_unlisted_files()) {
        bool wanted = st.takes_all;
        for (const auto& entry : st.run_list) wanted = wanted || udb_same_name(entry, file.table);
        if (!wanted) continue;
        if (error_handler* handler = error_handler::try_ptr()) handler->clear_context();
        report(tk_exception(file.message, tk_level_recoverable), false);
    }
}

void pellix_converter::claim_own_names(run_state& st) {
    // Tables whose name is usable in the target claim it before any table
    // is converted, the names given in the table editor first: a source's
    // own name never takes the name the user chose for another table, and a
    // name cleaned later (a;b -> a_b) never takes the name a later table
    // (a_b) keeps.
    auto claim = [&st](const std::wstring& table, const std::wstring& wanted) {
        if (st.validator->claim_name(wanted)) st.claimed.emplace(table, wanted);
    };
    std::set<std::wstring> seen;
    std::vector<std::wstring> own_names;  // claimed after the editor's names
    for (const auto& entry : st.run_list) {
        const std::wstring name = resolve_table(st.source->table_names, entry);
        if (name.empty() || !seen.insert(name).second) continue;
        const sql_table_mutator* mutator = get_table_mutator3(name);
        if (mutator && !mutator->new_name.empty() && mutator->new_name != name)
            claim(name, mutator->new_name);
        else
            own_names.push_back(name);
    }
    for (const auto& name : own_names) claim(name, name);
}

void pellix_converter::convert_entry(run_state& st, const std::wstring& entry) {
    const std::wstring name = resolve_table(st.source->table_names, entry);
    set_current_table(name.empty() ? entry : name);
    records_total = 0;
    records_done = 0;
    if (name.empty()) {
        // A listed table the folder lacks: reported, counted done.
        if (!output_ || !output_->table_missing(entry)) {
            set_context(entry);
            report(tk_exception("Table " + tk_unicode_to_utf8(entry) + " not exists", tk_level_recoverable), false);
        }
        ++tables_done;
        return;
    }
    if (!st.converted.insert(name).second) {
        tk_wlog(2, L"Table '%ls' was converted already, skip it", name.c_str());
        ++tables_done;
        return;
    }
    try {
        if (convert_table(st, name)) st.whole.push_back(name);
    } catch (const tk_exception& e) {
        set_context(name);
        report_inside_table(e);
    }
    // A stop or a failure that ends the run leaves `writing` set: that
    // table was cut short.
    st.writing.clear();
    st.appended = 0;
    ++tables_done;
}

void pellix_converter::report_inside_table(const tk_exception& failure) {
    // The connection was shut down on purpose: its failures are the interruption's.
    if (is_interrupted()) throw tk_final_exception();
    report(failure, false);
    if (failure.level >= tk_level_error) throw run_cut_short();
}

bool pellix_converter::convert_table(run_state& st, const std::wstring& name) {
    std::unique_ptr<dbf_recordset> source_rs = st.source->open_table(name, udb_open_read);
    ++st.opened;
    tk_log(2, "pi.n_tab_proc=%d", tables_done.load());

    // The container opens with the first table that names it.
    if (!st.names_imported && st.source->get_dbc()) {
        st.names_imported = true;
        tk_log(2, "Importing dbf_fnames_map into udb_names_map of MySQL db");
        add_fn_mapping(*st.target, st.source->get_dbc()->get_fnames_map(), *st.source);
    }

    tk_wlog(2, L"udb_db_mutator::modify1(%ls)", name.c_str());
    sql_table_mutator* mutator = get_table_mutator3(name);
    const target_name target = name_target(st, name, *source_rs, mutator);
    // Records this table should bring; mode 2 leaving it brings none, by the user's choice.
    const uint64_t records = tab_def ? 0 : source_rs->get_record_count();
    st.to_write += records;
    std::unique_ptr<udb_recordset> target_rs = create_target(st, name, target.name, *source_rs);
    if (!target_rs) {
        st.to_write -= records;
        return false;
    }
    return fill_target(st, name, target, *source_rs, *target_rs, mutator);
}

pellix_converter::target_name pellix_converter::name_target(run_state& st, const std::wstring& name,
                                                            dbf_recordset& source_rs, sql_table_mutator* mutator) {
    target_name target{name, false};
    if (mutator) {
        mutator->modify3(source_rs.indexes);
        target.name = mutator->modify1(source_rs.schema);
    }

    // Two source tables never share one target table: a name this run
    // created already, or one the rules reject, is replaced. A name
    // claimed at the start is this table's already.
    const auto claimed = st.claimed.find(name);
    if (claimed == st.claimed.end() || claimed->second != target.name) {
        const std::wstring usable = st.validator->get_usable_name(target.name);
        if (usable != target.name) {
            tk_wlog(2, L"Store generated table name '%ls'", usable.c_str());
            target.name = usable;
            target.renamed = true;
        }
    }
    tk_wlog(2, L"udb_database::add_tn_mapping(%ls->%ls)", name.c_str(), target.name.c_str());
    tk_wlog(2, L"udb_names_map::add_tn_mapping(%ls,%ls)", name.c_str(), target.name.c_str());
    st.target->names_map.add_tn_mapping(name, target.name);
    note_created_table(name, target.name);
    return target;
}

std::unique_ptr<udb_recordset> pellix_converter::create_target(run_state& st, const std::wstring& name,
                                                               const std::wstring& new_name, dbf_recordset& source_rs) {
    const bool existed = st.target->is_table_exist(new_name);
    st.made_here = !existed || mode != merge_tables;
    if (existed) {
        if (mode == skip_tables) {
            // Left as it is; counted done by the caller.
            ++st.reached;
            tk_wlog(3, L"Table %ls exists; it is left as it is", new_name.c_str());
            if (output_) output_->table_left(new_name);
            return nullptr;
        }
        if (mode == overwrite_tables) {
            // Dropped only when it can be made again.
            udb_indexes indexes;
            if (!skip_idx) indexes = source_rs.indexes;
            const std::string refused = schema_refusal(new_name, source_rs.schema, indexes);
            if (!refused.empty()) throw tk_exception(refused + "; the table was left as it was", tk_level_recoverable);
            if (direct) sql_user_rights(engine).check_table(destination, new_name);
            st.target->delete_tab(new_name);
        }
        // Mode 0 starts from an empty database: a table there now is
        // another run's (two at once), never to be appended to.
        if (mode == overwrite_database)
            throw tk_exception("Table '" + tk_unicode_to_utf8(new_name) + "' already exists", tk_level_recoverable);
    }

    udb_indexes indexes;
    if (!skip_idx) indexes = source_rs.indexes;
    std::unique_ptr<udb_recordset> target_rs;
    try {
        target_rs = st.target->create_table(new_name, source_rs.schema, indexes);
    } catch (const tk_exception& e) {
        if (e.error_code != table_exists_code) throw;
        target_rs = take_raced_table(st, new_name, source_rs, e);
        st.made_here = false;
    }
    TK_ASSERT(target_rs != nullptr);
    st.writing = name;
    st.appended = 0;

    if (mode == merge_tables && !source_rs.schema.conform_to(target_rs->schema, true))
        udb_schema::fail_not_conform();
    ++st.reached;
    return target_rs;
}

std::unique_ptr<udb_recordset> pellix_converter::take_raced_table(run_state& st, const std::wstring& new_name,
                                                                  dbf_recordset& source_rs,
                                                                  const tk_exception& failure) {
    // Modes 0 and 1 start the table anew: one another client made is not
    // this run's to append to.
    if (mode != merge_tables && mode != replace_rows) {
        tk_exception refusal = failure;
        refusal.level = tk_level_recoverable;
        throw refusal;
    }
    tk_wlog(3, L"Table %ls was created by another client meanwhile; it is merged into", new_name.c_str());
    st.target->get_table_names().push_back(new_name);
    return st.target->create_table(new_name, source_rs.schema, skip_idx ? udb_indexes() : source_rs.indexes);
}

bool pellix_converter::fill_target(run_state& st, const std::wstring& name, const target_name& target,
                                   dbf_recordset& source_rs, udb_recordset& target_rs, sql_table_mutator* mutator) {
    if (mutator) mutator->set_source_codepage(source_rs.get_codepage());
    const uint64_t count = source_rs.get_record_count();
    records_total = count;
    tk_wlog(3, L"Converting table %ls (%llu records)", name.c_str(), static_cast<unsigned long long>(count));
    if (output_) output_->table_started(name, count);
    if (target.renamed) {
        renames_.push_back("Table " + tk_unicode_to_utf8(name) + " is written as " + tk_unicode_to_utf8(target.name));
        tk_log(3, "%s", renames_.back().c_str());
        if (output_) output_->table_renamed(name, target.name);
    }
    if (st.made_here)
        for (const auto& [field, written] : source_rs.schema.renamed_columns(target_rs.schema)) {
            renames_.push_back("Field " + tk_unicode_to_utf8(field) + " of table " + tk_unicode_to_utf8(name) +
                               " is written as " + tk_unicode_to_utf8(written));
            tk_log(3, "%s", renames_.back().c_str());
            if (output_) output_->field_renamed(name, field, written);
        }

    try {
        uint64_t failed = 0;
        if (count != 0 && !tab_def) copy_records(source_rs, target_rs, mutator, name, st.appended, failed);
        st.written += records_done - failed;
        if (source_rs.became_shorter()) st.cut.push_back(name);
        // Values the source could not read went in as NULL or rounded, and
        // values the customisation changed: the user hears of it.
        if (!source_rs.get_unreadable_summary().empty()) {
            set_context(name);
            report_inside_table(tk_exception(source_rs.get_unreadable_summary(), tk_level_recoverable));
        }
        for (const std::wstring& note : mutator ? mutator->take_notes() : std::vector<std::wstring>()) {
            set_context(name);
            report_inside_table(tk_exception(note, tk_level_recoverable));
        }
    } catch (const tk_exception&) {
        finish_after_failure(target_rs);
        throw;
    } catch (const tk_final_exception&) {
        // A stop keeps what was written; after an interruption nothing more is sent.
        if (!is_interrupted()) finish_after_failure(target_rs);
        throw;
    }
    target_rs.finish();  // the last batch: its failure is this table's
    return !source_rs.became_shorter();
}

void pellix_converter::finish_after_failure(udb_recordset& target) {
    // Rows appended before the failure or the stop are kept; the failure
    // itself is reported once, by the caller.
    try {
        target.finish();
    } catch (const tk_exception& e) {
        tk_log(2, "Cannot complete the table after a failure: %s", e.what());
    }
}

void pellix_converter::copy_records(dbf_recordset& source_rs, udb_recordset& target_rs, sql_table_mutator* mutator,
                                    const std::wstring& name, uint64_t& appended, uint64_t& failed) {
    // Decided once per table: whether deleted records are left out, and
    // whether records pass through the table's customisation.
    const bool skip_deleted = skip_del;
    const bool customised = mutator && !mutator->fields.empty();
    auto report_record = [&](uint64_t index, const tk_exception& e) {
        ++failed;
        if (error_handler* handler = error_handler::try_ptr()) handler->set_record_context(name, index + 1);
        report_inside_table(e);
    };
    // A DBF table going plainly into a dump file is read and turned into
    // text on several threads once its first block is done by this one.
    std::optional<dump_row_pipeline> pipeline;
    dmp_recordset* dump_rs = dump_row_pipeline::dump_table_of(target_rs);
    if (dump_rs && !customised)
        pipeline.emplace(
            source_rs, *dump_rs, skip_deleted,
            dump_row_pipeline::hooks{[this] { return should_stop(); }, report_record,
                                     [this](uint64_t done) { records_done = done; },
                                     [&appended](uint64_t rows) { appended += rows; }});
    source_rs.move_to(0);
    uint64_t index = 0;
    while (!source_rs.is_eof()) {
        if (pipeline && pipeline->usable(static_cast<uint32_t>(index))) {
            if (pipeline->run(static_cast<uint32_t>(index))) return;
            pipeline.reset();
        }
        if (should_stop()) throw tk_final_exception();
        try {
            tk_log(1, "Converting %llu record", static_cast<unsigned long long>(index + 1));
            const dbf_record* record = source_rs.get_item();
            if (record == nullptr) break;  // the file became shorter: the reader has said so
            if (!(skip_deleted && record->b_deleted)) {
                if (customised) {
                    target_rs.append_record(mutator->modify2(*record, index + 1));
                } else {
                    tk_wlog(2, L"Not found: '%ls'", name.c_str());
                    target_rs.append_record(*record);
                }
                ++appended;
            }
        } catch (const tk_exception& e) {
            report_record(index, e);
        }
        source_rs.next();
        ++index;
        records_done = index;
    }
}

void pellix_converter::check_any_opened(const run_state& st) {
    // A run that converted nothing is no success, and the previous dump
    // stays as it was. An empty folder the console takes whole has nothing
    // to convert; a table mode 2 leaves is the user's choice.
    const char* what = nullptr;
    if (st.run_list.empty())
        what = st.takes_all ? nullptr : "No table was selected";
    else if (st.reached == 0)
        what = st.opened == 0 ? "None of the tables to convert could be opened"
                              : "None of the tables to convert could be created";
    else if (st.to_write != 0 && st.written == 0)
        what = "None of the records to convert could be written";
    if (what == nullptr) return;
    if (error_handler* handler = error_handler::try_ptr()) handler->clear_context();
    throw tk_exception(std::string(what) + "; nothing was converted.", tk_level_error);
}

std::string pellix_converter::creation_refusal(udb_recordset& table, const std::wstring& name) {
    // The table as convert_table hands it to create_table, and the checks
    // the dump makes before it writes one.
    customisations_scope customisations(engine, static_cast<sql_db_mutator*>(this));
    std::wstring new_name = name;
    udb_indexes indexes;
    if (!skip_idx) indexes = table.indexes;
    if (sql_table_mutator* mutator = get_table_mutator3(name)) {
        mutator->modify3(indexes);
        new_name = mutator->modify1(table.schema);
    }
    note_created_table(name, new_name);
    return schema_refusal(new_name, table.schema, indexes);
}

std::string pellix_converter::schema_refusal(const std::wstring& new_name, const udb_schema& schema,
                                             const udb_indexes& indexes) {
    std::wstring auto_name;
    sql_schema_initializer columns(new_name, schema, &indexes, auto_name);
    std::vector<std::wstring> chunks;
    columns.get_init_chunks(chunks);
    const std::string refused = columns.get_refusal();
    if (!refused.empty()) return refused;
    return engine.refusal_of(columns.get_table_engine(), columns.get_table_charset());
}

void pellix_converter::note_stop(const run_state& st) {
    stop_.whole = st.whole;
    if (!st.writing.empty()) {
        stop_.cut = st.writing;
        // Rows the target holds: records left out or failed are not among them.
        stop_.cut_records = st.appended;
        stop_.cut_total = records_total;
    }
    // The entry the stop came in and those after it, each table once.
    std::set<std::wstring> listed;
    for (size_t i = st.next; i < st.run_list.size(); ++i) {
        const std::wstring name =
            resolve_table(st.source ? st.source->table_names : std::vector<std::wstring>(), st.run_list[i]);
        const std::wstring shown = name.empty() ? st.run_list[i] : name;
        if (shown == stop_.cut) continue;
        if (i != st.next && !name.empty() && st.converted.count(name) != 0) continue;
        if (listed.insert(shown).second) stop_.left.push_back(shown);
    }
}

std::vector<std::string> pellix_converter::run_notes() const {
    std::vector<std::string> notes;
    if (direct && !replaced_database_.empty() && replaced_database_ == destination)
        notes.push_back("The database " + tk_unicode_to_utf8(destination) +
                        " was dropped and is made anew by this conversion.");
    notes.insert(notes.end(), renames_.begin(), renames_.end());
    return notes;
}

std::vector<std::string> pellix_converter::stop_report() const {
    if (last_outcome_ == run_outcome::completed) return {};
    const bool failed = last_outcome_ == run_outcome::failed;
    if (failed && !direct)  // the temporary file was removed, an older dump kept
        return {"The conversion was not completed.",
                "No table was converted: the dump file '" + tk_unicode_to_utf8(destination) + "' was not written."};
    std::vector<std::string> lines{failed ? "The conversion was not completed." : "The conversion was stopped."};
    if (!stop_.whole.empty()) lines.push_back("Tables converted whole: " + join_names(stop_.whole));
    if (!stop_.cut.empty())
        lines.push_back("Table " + tk_unicode_to_utf8(stop_.cut) + (failed ? " holds at most " : " holds ") +
                        std::to_string(stop_.cut_records) + " of " + std::to_string(stop_.cut_total) + " records");
    if (!stop_.left.empty()) lines.push_back("Tables not converted: " + join_names(stop_.left));
    if (failed && stop_.whole.empty() && stop_.cut.empty() && stop_.left.empty())
        lines.push_back("No table was converted.");
    if (!direct) {
        const std::string file = tk_unicode_to_utf8(destination);
        if (stop_.whole.empty() && stop_.cut.empty())
            lines.push_back("The dump file '" + file + "' holds no table.");
        else
            lines.push_back("The dump file '" + file + "' holds only these tables.");
    }
    return lines;
}

void pellix_converter::report_interruption() {
    std::string reason;
    {
        std::lock_guard<std::mutex> lock(interrupt_mutex_);
        reason = interrupt_reason_;
    }
    // It belongs to the run, not to the table or record being written.
    if (error_handler* handler = error_handler::try_ptr()) handler->clear_context();
    report(tk_exception(reason, tk_level_error), true);
}

void pellix_converter::end_run(run_state& st) {
    // The last chance for an interruption not to leave a finished dump.
    if (is_interrupted()) throw tk_final_exception();
    if (error_handler* handler = error_handler::try_ptr()) handler->clear_context();
    finish_target(st);
    tables_done = 0;
    tables_total = 0;
}

void pellix_converter::finish_target(run_state& st) {
    st.validator.reset();
    st.rules.reset();
    if (st.target) st.target->finish();
    st.target.reset();
    st.source.reset();
}

void pellix_converter::discard_target(run_state& st) noexcept {
    st.validator.reset();
    st.rules.reset();
    if (st.target) st.target->discard();
    st.target.reset();
    st.source.reset();
}
