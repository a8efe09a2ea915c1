#include "loop/picture_coder.h"

#include <algorithm>
#include <cstdio>

#include "bitstream/picture_data.h"
#include "driver/encoder_state.h"
#include "loop/loop_trace.h"
#include "ratecontrol/rate_control.h"
#include "stats/picture_stats.h"
#include "transform/dct.h"
#include "transform/predict.h"
#include "transform/transform_stage.h"

namespace {

// Ends the calling thread's share when a worker has failed; the worker's
// error is the one that goes on.
struct worker_failed {};

}  // namespace

picture_coder::picture_coder(int threads)
    : pool_(threads - 1),
      rows_(enc.config.mb_height2),
      // Each worker may run a row or two ahead of the text going out.
      slots_(threads == 1 ? 1 : 2 * threads),
      slot_bytes_(static_cast<std::size_t>(enc.config.mb_width) * enc.config.block_count * dc_lines_room),
      text_(slot_bytes_ * static_cast<std::size_t>(slots_)),
      text_length_(static_cast<std::size_t>(slots_)),
      messages_(static_cast<std::size_t>(rows_)),
      // A dot per row and the newline, written at once.
      dots_(std::string(static_cast<std::size_t>(rows_), '.') + '\n'),
      error_sums_(static_cast<std::size_t>(rows_)),
      estimated_(static_cast<std::size_t>(rows_)),
      transformed_(static_cast<std::size_t>(rows_)),
      coded_(static_cast<std::size_t>(rows_)) {}

void picture_coder::stop_workers() {
    {
        std::lock_guard lock(mutex_);
        failed_ = true;
    }
    changed_.notify_all();
    pool_.wait();
}

// An error may end the run while the workers are on a prefetched picture:
// they stop before the state they use goes.
picture_coder::~picture_coder() { stop_workers(); }

bool picture_coder::wait_for(const std::vector<uint8_t>& flags, int row) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return flags[static_cast<std::size_t>(row)] || failed_; });
    return !failed_;
}

void picture_coder::mark(std::vector<uint8_t>& flags, int row) {
    {
        std::lock_guard lock(mutex_);
        flags[static_cast<std::size_t>(row)] = 1;
    }
    changed_.notify_all();
}

void picture_coder::fail(std::exception_ptr error) {
    {
        std::lock_guard lock(mutex_);
        if (!error_) error_ = error;
        failed_ = true;
    }
    changed_.notify_all();
}

// ---- motion estimation, prediction, DCT type ---------------------------------

// The stages of a prefetch before the search: the first thread to come
// runs them, the others wait. True when the search may go on.
bool picture_coder::run_stages() {
    std::unique_lock lock(mutex_);
    if (!stages_claimed_) {
        stages_claimed_ = true;
        lock.unlock();
        bool search = false;
        try {
            search = (*set_up_)(prefetched_job_);
            lock.lock();
            set_up_done_ = true;
            search_ = search;
            lock.unlock();
            changed_.notify_all();
            if (search) (*load_)();
        } catch (...) {
            fail(std::current_exception());
            return false;
        }
        lock.lock();
        load_done_ = true;
        lock.unlock();
        changed_.notify_all();
        return search;
    }
    changed_.wait(lock, [&] { return load_done_ || failed_; });
    return !failed_ && search_;
}

void picture_coder::estimate_rows() {
    const picture_job& job = *job_;
    const coding_buffers& b = enc.buffers;
    for (int row; (row = next_estimate_++) < rows_;) {
        motion_estimation_row(job.motion, b.mb_info, row);
        defer_prediction_messages(&messages_[static_cast<std::size_t>(row)]);
        predict_row(b.old_ref_frame, b.new_ref_frame, b.pred_frame, job.motion.second_field, b.mb_info, row);
        defer_prediction_messages(nullptr);
        choose_dct_type_row(b.pred_frame[0], job.neworg[0], b.mb_info, row);
        compute_activities_row(job.neworg[0], b.mb_info, row);
        {
            std::lock_guard lock(mutex_);
            estimated_[static_cast<std::size_t>(row)] = 1;
            ++rows_estimated_;
        }
        changed_.notify_all();
    }
}

// Returns once every row is estimated; a failure anywhere ends the picture.
void picture_coder::wait_estimated() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return rows_estimated_ == rows_ || failed_; });
    if (!failed_) return;
    lock.unlock();
    finish_share();
}

// A worker's share of a picture: its rows of motion estimation, then rows of
// the forward transform as soon as their estimation is done (their text
// waits for the calling thread to open the output), then reconstruction.
void picture_coder::share(void* self) {
    auto* coder = static_cast<picture_coder*>(self);
    try {
        if (!coder->run_stages()) return;
        coder->estimate_rows();
        coder->transform_rows();
    } catch (...) {
        coder->fail(std::current_exception());
    }
}

// ---- forward transform, coding, reconstruction --------------------------------

bool picture_coder::claim_transform(int limit, int& row) {
    int next = next_transform_.load();
    while (next < limit)
        if (next_transform_.compare_exchange_weak(next, next + 1)) {
            row = next;
            return true;
        }
    return false;
}

void picture_coder::transform_row(int row) {
    if (!wait_for(estimated_, row)) return;
    // The row's slot is free once the text of the row slots_ before is out.
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            if (failed_) return;
            if (text_out_ > row - slots_) break;
            // Text to write, and nobody writing it: this thread writes it.
            if (emitting_ || !text_open_ || !transformed_[static_cast<std::size_t>(text_out_)]) {
                changed_.wait(lock);
                continue;
            }
        }
        pump();
    }
    const std::size_t slot = static_cast<std::size_t>(row % slots_);
    char* text = text_.data() + slot * slot_bytes_;
    const int64_t first = first_counter_ + static_cast<int64_t>(row) * enc.config.mb_width * enc.config.block_count;
    const char* end = forward_transform_row(enc.buffers.pred_frame, job_->neworg, enc.buffers.mb_info,
                                            enc.buffers.blocks, row, first, text);
    text_length_[slot] = static_cast<std::size_t>(end - text);
    mark(transformed_, row);
    pump();
}

// Writes the trace text of the rows transformed so far, in row order. One
// thread at a time does it, whichever comes first; the others go on.
void picture_coder::pump() {
    int row;
    {
        std::lock_guard lock(mutex_);
        if (emitting_ || !text_open_) return;
        row = text_out_;
        if (row >= rows_ || !transformed_[static_cast<std::size_t>(row)]) return;
        emitting_ = true;
    }
    for (;;) {
        const std::size_t slot = static_cast<std::size_t>(row % slots_);
        // Only the emitting thread touches standard output meanwhile.
        fwrite_unlocked(text_.data() + slot * slot_bytes_, 1, text_length_[slot], stdout);
        {
            std::lock_guard lock(mutex_);
            text_out_ = ++row;
            if (row >= rows_ || !transformed_[static_cast<std::size_t>(row)]) {
                emitting_ = false;
                break;
            }
        }
        changed_.notify_all();
    }
    changed_.notify_all();
}

void picture_coder::reconstruct_rows() {
    for (int row; (row = next_reconstruct_++) < rows_;) {
        if (!wait_for(coded_, row)) return;
        reconstruct_row(enc.buffers.pred_frame, job_->newref, enc.buffers.mb_info, enc.buffers.blocks, row);
        snr_row_sums(job_->neworg, job_->newref, row, error_sums_[static_cast<std::size_t>(row)].s);
    }
}

void picture_coder::transform_rows() {
    for (int row; claim_transform(rows_, row);) transform_row(row);
    reconstruct_rows();
}

// Returns once a row is transformed. The calling thread transforms rows
// itself rather than wait, but never so far ahead that a slot would wait
// for text behind the row it needs.
void picture_coder::wait_transformed(int row) {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (failed_) throw worker_failed{};
            if (transformed_[static_cast<std::size_t>(row)]) return;
        }
        int claimed;
        if (claim_transform(std::min(row + slots_, rows_), claimed))
            transform_row(claimed);
        else if (!wait_for(transformed_, row))
            throw worker_failed{};
    }
}

// Returns once the text of every row is out.
void picture_coder::wait_text_out() {
    for (int row = 0; row < rows_; ++row) wait_transformed(row);
    pump();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return text_out_ == rows_ || failed_; });
    if (failed_) throw worker_failed{};
}

void picture_coder::coded(int row) { mark(coded_, row); }

void picture_coder::finish_share() {
    pool_.wait();
    if (failed_) std::rethrow_exception(error_);
}

void picture_coder::reset() {
    next_estimate_ = next_transform_ = next_reconstruct_ = 0;
    std::fill(transformed_.begin(), transformed_.end(), 0);
    std::fill(coded_.begin(), coded_.end(), 0);
    std::fill(estimated_.begin(), estimated_.end(), 0);
    rows_estimated_ = 0;
    text_out_ = 0;
    emitting_ = false;
    text_open_ = false;
    first_counter_ = enc.run.dc_change_counter;
    stages_claimed_ = set_up_done_ = load_done_ = search_ = true;
    failed_ = false;
    error_ = nullptr;
}

void picture_coder::prefetch(const std::function<bool(picture_job&)>& set_up, const std::function<void()>& load) {
    reset();
    job_ = &prefetched_job_;
    set_up_ = &set_up;
    load_ = &load;
    stages_claimed_ = set_up_done_ = load_done_ = false;
    pool_.start(share, this);
}

bool picture_coder::wait_set_up() {
    std::unique_lock lock(mutex_);
    if (!stages_claimed_) {
        lock.unlock();
        run_stages();
        lock.lock();
    }
    changed_.wait(lock, [&] { return set_up_done_ || failed_; });
    if (set_up_done_) return search_;
    lock.unlock();
    pool_.wait();
    std::rethrow_exception(error_);
}

void picture_coder::finish_load() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return load_done_ || failed_; });
    if (!failed_) return;
    lock.unlock();
    pool_.wait();
    std::rethrow_exception(error_);
}

void picture_coder::code(const picture_job& job, bool defer_statistics) {
    // The workers may still be on a prefetch that did not search.
    pool_.wait();
    reset();
    job_ = &job;
    run(false, defer_statistics);
}

void picture_coder::code_prefetched(bool defer_statistics) { run(true, defer_statistics); }

void picture_coder::run(bool estimation_started, bool defer_statistics) {
    const picture_job& job = *job_;
    const coding_buffers& b = enc.buffers;
    FILE* statistics = enc.files.statistics_file;

    std::fputs(" motion_estimation=test1\n", statistics);
    if (!estimation_started) pool_.start(share, this);
    try {
        if (run_stages()) estimate_rows();
    } catch (...) {
        fail(std::current_exception());
    }
    wait_estimated();
    for (int row = 0; row < rows_; ++row) print_row_reports(statistics);
    if (enc.choices.loop_trace) std::fwrite(dots_.data(), 1, dots_.size(), stderr);
    for (std::string& m : messages_) {
        std::fputs(m.c_str(), stderr);
        m.clear();
    }

    if (job.trace) loop_trace(" before the tranform\n");
    if (job.trace) loop_trace(" after the tranform\n");
    {
        std::lock_guard lock(mutex_);
        text_open_ = true;
    }
    changed_.notify_all();
    try {
        pump();
        // Statistics on standard output come after all of the picture's
        // trace lines, as a single thread writes them.
        if (statistics == stdout) wait_text_out();
        const row_hooks hooks{[](void* self, int row) { static_cast<picture_coder*>(self)->wait_transformed(row); },
                              [](void* self, int row) { static_cast<picture_coder*>(self)->coded(row); }, this};
        write_picture(nullptr, b.mb_info, b.blocks, &hooks);
        reconstruct_rows();
        wait_text_out();
    } catch (...) {
        // The workers stop at their next wait; the first error goes on.
        fail(std::current_exception());
    }
    finish_share();
    enc.run.dc_change_counter += static_cast<int64_t>(rows_) * enc.config.mb_width * enc.config.block_count;
    if (job.trace) loop_trace(" 1\n");
    if (job.trace) loop_trace(" 2\n");
    if (job.trace) loop_trace(" 3\n");
    double (&sums)[3][3] = statistics_sums_;
    for (auto& component : sums)
        for (double& sum : component) sum = 0.0;
    for (const row_sums& r : error_sums_)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k) sums[c][k] += r.s[c][k];
    if (defer_statistics) {
        if (job.trace) loop_trace("4\n");
        return;
    }
    print_snr(sums);
    if (job.trace) loop_trace("4\n");
    print_picture_statistics();
}

void picture_coder::print_statistics() {
    print_snr(statistics_sums_);
    print_picture_statistics();
}
