#include "app/dump_row_pipeline.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sched.h>

#include "dbf/dbf_record.h"
#include "dbf/dbf_recordset.h"
#include "dump/dmp_recordset.h"
#include "tk/tk_logger.h"

namespace {

std::atomic<unsigned> max_workers{dump_row_pipeline::default_max_workers};

constexpr size_t slice_bytes = 256 * 1024;  // record bytes a worker takes at once
constexpr size_t batch_bytes = 64 * 1024;   // text handed to the writer at once
constexpr size_t slice_budget = 1 << 20;    // unwritten text one slice may hold
constexpr size_t total_budget = 16 << 20;   // unwritten text all slices but the writer's may hold
constexpr uint64_t min_slices = 2;          // fewer records left are copied alone

// `alone`: a record over the statement limit, which the writer reads and
// writes itself, so that its large values are never copied into a batch.
// `gone`: the table file ended before the record (it became shorter); the
// writer reads it again, so that the table's own cursor tells the user.
enum class row_kind : uint8_t { written, deleted, read_failed, row_failed, alone, gone };

// What a worker made of one record.
struct row_result {
    int32_t record_size = 0;                  // the record's get_total_size()
    uint32_t lost = 0;                        // its values that read as NULL for not being of their type
    uint32_t rounded = 0;                     // and its numbers rounded to their columns
    dmp_recordset::narrowed_values narrowed;  // its values fitted to their columns' character sets
    row_kind kind = row_kind::written;
};

// A row written that has nothing to note: no value lost, rounded or
// fitted to its column's character set.
bool is_plain(const row_result& row) {
    return row.kind == row_kind::written && row.lost == 0 && row.rounded == 0 && row.narrowed.count == 0;
}

}  // namespace

// Consecutive records of one slice, handed to the writer together. A row
// written is framed as a row of a multi-row INSERT
// (dmp_recordset::make_framed_row), so that stretches of them are written
// at once.
struct dump_row_pipeline::batch {
    std::string text;
    std::vector<row_result> rows;
    std::vector<size_t> ends;                  // where each row's text ends
    std::vector<std::exception_ptr> failures;  // one per failed row, in order
    std::wstring first_lost;                   // the note of its first row with a lost value
    std::wstring first_rounded;                // and with a rounded one
    // Rows holding bytes their code page does not define: the row's index
    // and its fields' counts.
    std::vector<std::pair<size_t, std::vector<dbf_recordset::byte_tally>>> undefined;

    // Emptied for reuse, keeping its room.
    void clear() {
        text.clear();
        rows.clear();
        ends.clear();
        failures.clear();
        first_lost.clear();
        first_rounded.clear();
        undefined.clear();
    }
};

// What the writer and the workers share; guarded by `mutex`.
struct dump_row_pipeline::shared {
    struct slice_state {
        std::deque<std::unique_ptr<batch>> ready;
        size_t bytes = 0;           // text handed over and not yet written
        bool done = false;          // its last batch is in `ready`
        std::exception_ptr broken;  // the worker failed outside any record
    };

    explicit shared(size_t ahead) : ring(ahead) {}

    std::mutex mutex;
    std::condition_variable to_writer;
    std::condition_variable to_workers;
    std::vector<slice_state> ring;  // slice s is at s % ring.size()
    // Written batches, emptied: workers fill them again, so the memory of
    // a run is taken once instead of from every thread's heap over and over.
    std::vector<std::unique_ptr<batch>> spare;
    uint64_t slices = 0;
    uint64_t next_slice = 0;  // the next one a worker takes
    uint64_t head = 0;        // the one the writer is at
    size_t total_bytes = 0;   // text handed over and not yet written, all slices
    unsigned waiting = 0;     // workers waiting for the writer to take text
    uint32_t first = 0;       // record of slice 0
    uint32_t count = 0;       // records of the table
    uint32_t slice_records = 0;
    bool abort = false;
    std::atomic<bool> aborting{false};  // `abort`, read without the lock

    slice_state& slot(uint64_t s) { return ring[s % ring.size()]; }

    // A spare batch, or a new one; called with `mutex` held.
    std::unique_ptr<batch> take_spare() {
        if (spare.empty()) return std::make_unique<batch>();
        std::unique_ptr<batch> b = std::move(spare.back());
        spare.pop_back();
        return b;
    }
};

// One worker thread: takes the next slice, reads its records through its
// own reader and hands their rows to the writer in batches.
class dump_row_pipeline::worker {
public:
    worker(shared& sh, std::unique_ptr<dbf_recordset> reader, const dmp_recordset& target, bool skip_deleted)
        : sh_(sh), reader_(std::move(reader)), target_(target), skip_deleted_(skip_deleted) {}

    void operator()() {
        uint64_t s = 0;
        while (claim(s)) make_slice(s);
    }

private:
    // Waits until a slice may be taken without running too far ahead of
    // the writer; false when there is none left or the run ends.
    bool claim(uint64_t& s) {
        std::unique_lock<std::mutex> lock(sh_.mutex);
        sh_.to_workers.wait(lock, [&] {
            return sh_.abort || sh_.next_slice >= sh_.slices || sh_.next_slice < sh_.head + sh_.ring.size();
        });
        if (sh_.abort || sh_.next_slice >= sh_.slices) return false;
        s = sh_.next_slice++;
        return true;
    }

    void make_slice(uint64_t s) {
        const uint32_t begin = sh_.first + static_cast<uint32_t>(s) * sh_.slice_records;
        const uint32_t end = std::min(sh_.count, begin + sh_.slice_records);
        std::unique_ptr<batch> b;
        try {
            {
                std::lock_guard<std::mutex> lock(sh_.mutex);
                b = sh_.take_spare();
            }
            for (uint32_t r = begin; r < end; ++r) {
                if (sh_.aborting.load(std::memory_order_relaxed)) return;
                make_row(r, *b);
                if (b->text.size() >= batch_bytes && r + 1 < end) {
                    b = hand_over(s, std::move(b), false);
                    if (!b) return;
                }
            }
            hand_over(s, std::move(b), true);
        } catch (...) {
            // Out of memory, most likely: the rows made so far go first,
            // then the writer meets the failure where they end.
            std::lock_guard<std::mutex> lock(sh_.mutex);
            shared::slice_state& slot = sh_.slot(s);
            if (b) {
                slot.bytes += b->text.size();
                sh_.total_bytes += b->text.size();
                slot.ready.push_back(std::move(b));
            }
            slot.broken = std::current_exception();
            slot.done = true;
            sh_.to_writer.notify_one();
        }
    }

    void make_row(uint32_t r, batch& b) {
        row_result row;
        udb_record* item = nullptr;
        try {
            reader_->move_to(static_cast<int32_t>(r));
            item = reader_->get_item();
        } catch (...) {
            add_failure(b, row, row_kind::read_failed);
            return;
        }
        if (item == nullptr) {
            row.kind = row_kind::gone;
            add(b, row);
            return;
        }
        dbf_recordset::unreadable_note note = reader_->take_unreadable();
        const bool deleted = skip_deleted_ && static_cast<const dbf_record*>(item)->b_deleted;
        row.record_size = item->get_total_size();
        if (!deleted && static_cast<uint32_t>(row.record_size) > dmp_recordset::statement_limit) {
            // The writer reads it again (and counts its unreadable values):
            // this copy's large values go at once.
            for (size_t i = 0; i < item->size(); ++i)
                if (udb_field* f = item->at(i); f && f->get_size() > dmp_recordset::statement_limit) f->clear();
            row.kind = row_kind::alone;
            add(b, row);
            return;
        }
        row.lost = static_cast<uint32_t>(note.lost.count);
        row.rounded = static_cast<uint32_t>(note.rounded.count);
        if (row.lost != 0 && b.first_lost.empty()) b.first_lost = std::move(note.lost.first);
        if (row.rounded != 0 && b.first_rounded.empty()) b.first_rounded = std::move(note.rounded.first);
        if (!note.undefined.empty()) b.undefined.emplace_back(b.rows.size(), std::move(note.undefined));
        if (deleted) {
            row.kind = row_kind::deleted;
        } else {
            try {
                target_.make_framed_row(*item, fields_, b.text, row.narrowed);
            } catch (...) {
                add_failure(b, row, row_kind::row_failed);
                return;
            }
        }
        add(b, row);
    }

    static void add(batch& b, const row_result& row) {
        b.rows.push_back(row);
        b.ends.push_back(b.text.size());
    }

    static void add_failure(batch& b, row_result& row, row_kind kind) {
        row.kind = kind;
        b.failures.push_back(std::current_exception());
        add(b, row);
    }

    // Hands a batch to the writer and returns the next one to fill. A slice
    // that holds too much unwritten text, or one ahead of the writer while
    // all of them together hold too much (rows of large memos), waits here
    // until the writer has taken some. Null after the last batch and once
    // the run ends.
    std::unique_ptr<batch> hand_over(uint64_t s, std::unique_ptr<batch> b, bool last) {
        std::unique_lock<std::mutex> lock(sh_.mutex);
        shared::slice_state& slot = sh_.slot(s);
        slot.bytes += b->text.size();
        sh_.total_bytes += b->text.size();
        slot.ready.push_back(std::move(b));
        slot.done = last;
        sh_.to_writer.notify_one();
        if (last) return nullptr;
        auto may_go_on = [&] {
            return sh_.abort || (slot.bytes <= slice_budget && (s == sh_.head || sh_.total_bytes <= total_budget));
        };
        if (!may_go_on()) {
            ++sh_.waiting;
            sh_.to_workers.wait(lock, may_go_on);
            --sh_.waiting;
        }
        return sh_.abort ? nullptr : sh_.take_spare();
    }

    shared& sh_;
    std::unique_ptr<dbf_recordset> reader_;
    const dmp_recordset& target_;
    bool skip_deleted_;
    dmp_recordset::row_fields fields_;
};

dump_row_pipeline::dump_row_pipeline(dbf_recordset& source, dmp_recordset& target, bool skip_deleted, hooks hooks)
    : source_(source),
      target_(target),
      skip_deleted_(skip_deleted),
      hooks_(std::move(hooks)),
      workers_(worker_count()),
      block_records_(source.get_block_records()) {}

dmp_recordset* dump_row_pipeline::dump_table_of(udb_recordset& target) { return dynamic_cast<dmp_recordset*>(&target); }

namespace {

// The cores this process may run on: fewer than the machine's when it is
// pinned (taskset, a container's CPU set), where more threads than cores
// would only take turns.
unsigned usable_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(CPU_COUNT(&set));
    return std::thread::hardware_concurrency();
}

}  // namespace

unsigned dump_row_pipeline::worker_count() {
    // The writing thread keeps a core of its own.
    const unsigned cores = usable_cores();
    if (cores < 2) return 0;
    return std::min(cores - 1, max_workers.load());
}

void dump_row_pipeline::set_max_workers(unsigned count) { max_workers.store(count); }

namespace {

uint32_t slice_records_of(const dbf_recordset& source) {
    const size_t block = source.get_block_records();
    const size_t block_size = block * std::max<size_t>(1, source.get_header().rec_size);
    return static_cast<uint32_t>(block * std::max<size_t>(1, slice_bytes / block_size));
}

}  // namespace

// Asked before every record until the pipeline starts: the cheap tests first.
bool dump_row_pipeline::usable(uint32_t first) const {
    const uint32_t count = source_.get_record_count();
    return workers_ > 0 && first % block_records_ == 0 && first < count && tk_log_silent() && target_.is_paired() &&
           (count - first) / slice_records_of(source_) >= min_slices;
}

bool dump_row_pipeline::run(uint32_t first) {
    const uint32_t count = source_.get_record_count();
    const unsigned n = workers_;
    if (n == 0) return false;
    std::vector<std::unique_ptr<dbf_recordset>> readers;
    try {
        for (unsigned i = 0; i < n; ++i) readers.push_back(source_.open_reader());
    } catch (const tk_exception& e) {
        tk_log(2, "The table is read by one thread: %s", e.what());
        return false;
    }

    shared sh(2 * n);  // workers run up to two slices each ahead of the writer
    sh.first = first;
    sh.count = count;
    sh.slice_records = slice_records_of(source_);
    sh.slices = (count - first + sh.slice_records - 1) / sh.slice_records;

    std::vector<std::thread> threads;
    std::vector<std::unique_ptr<worker>> workers;
    // Every way out of here ends the workers first.
    struct joiner {
        shared& sh;
        std::vector<std::thread>& threads;
        ~joiner() {
            {
                std::lock_guard<std::mutex> lock(sh.mutex);
                sh.abort = true;
            }
            sh.aborting.store(true);
            sh.to_workers.notify_all();
            for (std::thread& t : threads) t.join();
        }
    } join_all{sh, threads};
    try {
        for (auto& reader : readers) {
            workers.push_back(std::make_unique<worker>(sh, std::move(reader), target_, skip_deleted_));
            threads.emplace_back(std::ref(*workers.back()));
        }
    } catch (const std::system_error& e) {
        // Nothing has been written yet: the caller copies the table alone.
        tk_log(2, "The table is read by one thread: %s", e.what());
        return false;
    }
    write_slices(sh);
    source_.move_to(static_cast<int32_t>(count));
    return true;
}

// The writer: slices in order, batches in order, rows in order.
void dump_row_pipeline::write_slices(shared& sh) {
    uint64_t record = sh.first;
    for (uint64_t s = 0; s < sh.slices; ++s) {
        shared::slice_state& slot = sh.slot(s);
        for (;;) {
            std::unique_ptr<batch> b;
            {
                std::unique_lock<std::mutex> lock(sh.mutex);
                sh.to_writer.wait(lock, [&] { return !slot.ready.empty() || slot.done; });
                if (slot.ready.empty()) {
                    if (slot.broken) std::rethrow_exception(slot.broken);
                    break;
                }
                b = std::move(slot.ready.front());
                slot.ready.pop_front();
            }
            if (!write_batch(*b, record)) return;  // the table file ended early
            const size_t written = b->text.size();
            b->clear();
            bool wake = false;  // only a worker waiting for room needs to hear of it
            {
                std::lock_guard<std::mutex> lock(sh.mutex);
                slot.bytes -= written;
                sh.total_bytes -= written;
                sh.spare.push_back(std::move(b));
                wake = sh.waiting != 0;
            }
            if (wake) sh.to_workers.notify_all();
        }
        {
            std::lock_guard<std::mutex> lock(sh.mutex);
            slot = shared::slice_state();
            sh.head = s + 1;
        }
        sh.to_workers.notify_all();
    }
}

// A record too big for a batch, or one a worker found past the end, read
// again through the table's own recordset and written as the one-thread
// loop writes it. False when the table file ends before it (the table's
// cursor has told the user).
bool dump_row_pipeline::write_alone(uint64_t record) {
    source_.move_to(static_cast<int32_t>(record));
    const auto* item = static_cast<const dbf_record*>(source_.get_item());
    if (item == nullptr) return false;
    if (!(skip_deleted_ && item->b_deleted)) {
        target_.append_record(*item);
        hooks_.appended(1);
    }
    return true;
}

// Each row as the one-thread loop meets its record: the stop test first,
// then its unreadable values, then its row or its failure. Rows written
// with nothing to note go in stretches: a stop is heard before each
// stretch, as before each row; within a stretch no record fails or is
// reported, where a stop could be asked for. False at the end of the table
// file.
bool dump_row_pipeline::write_batch(const batch& b, uint64_t& record) {
    size_t failure = 0;
    auto undefined = b.undefined.begin();
    const size_t n = b.rows.size();
    size_t i = 0;
    while (i < n) {
        if (hooks_.stop_requested()) throw tk_final_exception();
        const size_t next_undefined = undefined != b.undefined.end() ? undefined->first : n;
        size_t j = i;
        while (j < n && j != next_undefined && is_plain(b.rows[j])) ++j;
        if (j > i) {
            size_t taken = 0;
            try {
                target_.append_framed_rows(b.text, i == 0 ? 0 : b.ends[i - 1],
                                           std::span<const size_t>(b.ends.data() + i, j - i), taken);
            } catch (const tk_exception& e) {
                // The rows before the one the file failed at went in; that
                // one fails as the one-thread loop's would.
                hooks_.appended(taken);
                record += taken;
                hooks_.progress(record);
                hooks_.failed(record, e);
                hooks_.progress(++record);
                i += taken + 1;
                continue;
            }
            hooks_.appended(taken);
            record += taken;
            hooks_.progress(record);
            i = j;
            continue;
        }
        const row_result& row = b.rows[i];
        const bool has_undefined = i == next_undefined;
        const size_t start = i == 0 ? 0 : b.ends[i - 1];
        const std::string_view text(b.text.data() + start, b.ends[i] - start);
        std::exception_ptr failed;
        if (row.kind == row_kind::read_failed || row.kind == row_kind::row_failed) failed = b.failures[failure++];
        try {
            if (row.lost != 0 || row.rounded != 0 || has_undefined)
                source_.add_unreadable({{row.lost, b.first_lost},
                                        {row.rounded, b.first_rounded},
                                        has_undefined ? (undefined++)->second : std::vector<dbf_recordset::byte_tally>()});
            switch (row.kind) {
            case row_kind::written:
                target_.append_row(dmp_recordset::unframed(text), row.record_size, row.narrowed);
                hooks_.appended(1);
                break;
            case row_kind::deleted:
                break;
            case row_kind::alone:
            case row_kind::gone:
                if (!write_alone(record)) return false;
                break;
            case row_kind::read_failed:
                std::rethrow_exception(failed);
            case row_kind::row_failed:
                target_.check_usable();  // a failed file is met before the record's own failure
                std::rethrow_exception(failed);
            }
        } catch (const tk_exception& e) {
            hooks_.failed(record, e);
        }
        ++record;
        hooks_.progress(record);
        ++i;
    }
    return true;
}
