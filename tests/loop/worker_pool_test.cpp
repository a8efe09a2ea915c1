// The pool hands each start's body to every worker exactly once, and wait
// returns only when all of them are back, start after start.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "loop/worker_pool.h"

namespace {

struct tally {
    std::atomic<int> runs{0};
    std::vector<std::atomic<int>> per_round = std::vector<std::atomic<int>>(200);
    int round = 0;
};

void count(void* context) {
    auto* t = static_cast<tally*>(context);
    // A slow body now and then, so that wait has something to wait for.
    if (t->round % 7 == 0) std::this_thread::yield();
    ++t->runs;
    ++t->per_round[static_cast<std::size_t>(t->round)];
}

TEST(worker_pool, every_worker_runs_each_body_once_before_wait_returns) {
    for (int workers : {0, 1, 3, 7}) {
        SCOPED_TRACE(workers);
        worker_pool pool(workers);
        EXPECT_EQ(pool.workers(), workers);
        tally t;
        for (t.round = 0; t.round < 200; ++t.round) {
            pool.start(count, &t);
            pool.wait();
            ASSERT_EQ(t.per_round[static_cast<std::size_t>(t.round)].load(), workers);
        }
        EXPECT_EQ(t.runs.load(), 200 * workers);
    }
}

TEST(worker_pool, counts_at_least_one_processor) { EXPECT_GE(available_processors(), 1); }

}  // namespace
