#include "loop/worker_pool.h"

#include <sched.h>

worker_pool::worker_pool(int workers) {
    threads_.reserve(static_cast<std::size_t>(workers));
    for (int i = 0; i < workers; ++i) threads_.emplace_back([this](std::stop_token stop) { serve(stop); });
}

worker_pool::~worker_pool() {
    for (std::jthread& t : threads_) t.request_stop();
    // The stop requests wake the waits of serve.
    threads_.clear();
}

void worker_pool::start(void (*body)(void*), void* context) {
    if (threads_.empty()) return;
    {
        std::lock_guard lock(mutex_);
        body_ = body;
        context_ = context;
        running_ = workers();
        ++generation_;
    }
    wake_.notify_all();
}

void worker_pool::wait() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return running_ == 0; });
}

void worker_pool::serve(std::stop_token stop) {
    uint64_t seen = 0;
    for (;;) {
        void (*body)(void*);
        void* context;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [&] { return generation_ != seen; })) return;
            seen = generation_;
            body = body_;
            context = context_;
        }
        body(context);
        {
            std::lock_guard lock(mutex_);
            if (--running_ > 0) continue;
        }
        idle_.notify_all();
    }
}

int available_processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? static_cast<int>(n) : 1;
}
