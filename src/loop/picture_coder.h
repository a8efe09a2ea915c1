// One frame or field picture through the whole coding chain, on the
// threads of a pool started once for the run.
//
// Motion estimation, prediction and the DCT-type choice run over macroblock
// rows on every thread; a thread out of rows goes on to the forward
// transform of rows already estimated (its trace text formatted into row
// slots), which runs ahead of the sequential coding of the rows (rate
// control, quantisation, VLC), and the reconstruction of each row follows
// it as soon as the row is coded. Between frames, the workers may start the
// next one (prefetch) while the calling thread writes the last one's files.
// Every output goes out in the order a single thread writes it (trace text
// in row order, once the calling thread opens the picture's output), so the
// bytes are the same for any number of threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "driver/frame_planes.h"
#include "loop/worker_pool.h"
#include "motion/motion_estimation.h"

struct picture_job {
    frame_planes neworg, newref;
    motion_inputs motion;
    bool trace;  // the stage lines on standard error
};

class picture_coder {
public:
    // threads: 1 codes on the calling thread alone.
    explicit picture_coder(int threads);
    ~picture_coder();
    picture_coder(const picture_coder&) = delete;
    picture_coder& operator=(const picture_coder&) = delete;

    // defer_statistics: the picture's statistics wait for print_statistics().
    void code(const picture_job& job, bool defer_statistics = false);
    void print_statistics();

    bool has_workers() const { return pool_.workers() > 0; }
    // Stops the workers where they wait next (a picture they are on is
    // abandoned) and returns when they are back.
    void stop_workers();
    // Starts the next frame on the workers while the calling thread ends the
    // current one: one worker runs set_up, which fills in the job of the
    // frame's first picture and says whether its search may start now; then
    // load, which reads its source; then every worker searches its rows.
    // Nothing of it shows before code_prefetched(). Both functions must
    // outlive the prefetch (the caller makes them once, not per frame).
    void prefetch(const std::function<bool(picture_job&)>& set_up, const std::function<void()>& load);
    // Returns once set_up has run, with its answer.
    bool wait_set_up();
    // Where a single thread would load that source: returns once it is
    // loaded, or throws what the load threw.
    void finish_load();
    void code_prefetched(bool defer_statistics = false);

private:
    void reset();
    void run(bool estimation_started, bool defer_statistics);
    bool run_stages();
    static void share(void* self);
    void estimate_rows();
    void wait_estimated();
    void transform_rows();
    void reconstruct_rows();
    void transform_row(int row);
    void wait_transformed(int row);
    void wait_text_out();
    void pump();
    void coded(int row);
    bool claim_transform(int limit, int& row);

    // Waits for flags[row]; false when a thread has failed.
    bool wait_for(const std::vector<uint8_t>& flags, int row);
    void mark(std::vector<uint8_t>& flags, int row);
    void fail(std::exception_ptr error);
    void finish_share();

    worker_pool pool_;
    int rows_, slots_;
    std::size_t slot_bytes_;
    std::vector<char> text_;                // slots_ rows of trace text
    std::vector<std::size_t> text_length_;  // by slot
    std::vector<std::string> messages_;     // by row: prediction messages
    std::string dots_;
    struct row_sums {
        double s[3][3];
    };
    std::vector<row_sums> error_sums_;  // by row: the error sums of its lines
    const picture_job* job_ = nullptr;
    double statistics_sums_[3][3] = {};
    picture_job prefetched_job_{};
    const std::function<bool(picture_job&)>* set_up_ = nullptr;
    const std::function<void()>* load_ = nullptr;
    // The stages of a prefetch, under mutex_.
    bool stages_claimed_ = true, set_up_done_ = true, load_done_ = true, search_ = true;
    int64_t first_counter_ = 0;

    std::atomic<int> next_estimate_{0}, next_transform_{0}, next_reconstruct_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint8_t> estimated_, transformed_, coded_;  // by row, under mutex_
    int rows_estimated_ = 0;                                // under mutex_
    bool text_open_ = false;  // the picture's trace text may go out, under mutex_
    int text_out_ = 0;                          // rows whose text is out, under mutex_
    bool emitting_ = false;                     // a thread writes text, under mutex_
    bool failed_ = false;
    std::exception_ptr error_;
};
