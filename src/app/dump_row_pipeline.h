// Copies the records of a DBF table into a dump table on several threads
// and writes exactly the file that one thread writes.
//
// Worker threads take fixed slices of the table, aligned on the reader's
// blocks, read them through readers of their own (dbf_recordset::
// open_reader) and make each row's text, framed as a row of a multi-row
// INSERT (dmp_recordset::make_framed_row). The calling thread takes the
// slices in record order and, record by record, checks for a stop, writes
// the row, or meets the record's failure where the one-thread loop would
// have met it; the unreadable-value notes reach the source recordset in the
// same order. Rows with nothing to note, which no stop can come between,
// are written a stretch at a time. A record over the statement
// limit (large memos) is only marked by its worker; the writer reads it
// again and writes it itself, so its large values are streamed from the
// record instead of copied into the text handed over. The readers read the
// files the source opened; when the table file became shorter, the writer
// meets the first missing record through the source, which tells the
// user once, and the copy ends there. Workers run a few slices ahead
// of the writer at most, each with a bounded amount of unwritten text, so
// memory does not grow with the table.
//
// Trace lines would come out of order from several threads, so the
// pipeline is only for runs that write no trace (see usable()).
#pragma once

#include <cstdint>
#include <functional>

#include "tk/tk_exception.h"

class dbf_recordset;
class dmp_recordset;
class udb_recordset;

class dump_row_pipeline {
public:
    struct hooks {
        std::function<bool()> stop_requested;
        // A record's failure, as the one-thread loop reports it; `record` is
        // its 0-based position. May throw to end the copy.
        std::function<void(uint64_t record, const tk_exception& failure)> failed;
        // Records done so far (the position after the last one handled).
        std::function<void(uint64_t done)> progress;
        // Rows went into the dump (a record left out or failed makes none).
        std::function<void(uint64_t rows)> appended;
    };

    dump_row_pipeline(dbf_recordset& source, dmp_recordset& target, bool skip_deleted, hooks hooks);

    // The dump table a target recordset is, or null: the pipeline writes
    // dump tables only.
    static dmp_recordset* dump_table_of(udb_recordset& target);

    // Whether records from `first` on may go through the pipeline now: a
    // block boundary of the reader, a target whose columns are mapped, more
    // than a few blocks left, more than one core, and no trace written.
    bool usable(uint32_t first) const;

    // Copies the records [first, record count) of the source (fewer when
    // its file became shorter). Returns false, having copied nothing, when
    // the workers cannot have readers of their own (the caller then goes
    // on alone).
    bool run(uint32_t first);

    // Worker threads a run starts: one per core the process may run on but
    // the writer's, at most the limit (none on one core).
    static unsigned worker_count();
    // Limits the workers of later runs; 0 turns the pipeline off, so every
    // table is copied by one thread.
    static void set_max_workers(unsigned count);
    // Four workers make rows of a typical table as fast as the writer puts
    // them into the file; more only spend CPU on the same wall time (the
    // rows' text crossing between cores), so only tables of many columns
    // would gain from them.
    static constexpr unsigned default_max_workers = 4;

private:
    struct batch;
    struct shared;
    class worker;

    void write_slices(shared& sh);
    bool write_batch(const batch& b, uint64_t& record);
    bool write_alone(uint64_t record);

    dbf_recordset& source_;
    dmp_recordset& target_;
    bool skip_deleted_;
    hooks hooks_;
    unsigned workers_;        // worker_count() when made
    uint32_t block_records_;  // the source's records per read
};
