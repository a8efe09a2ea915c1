// Threads started once for the whole run. The caller hands every worker the
// same body, does its own share meanwhile, and waits for them; the bodies
// divide the work among themselves.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

class worker_pool {
public:
    // workers may be 0: then start and wait do nothing.
    explicit worker_pool(int workers);
    ~worker_pool();
    worker_pool(const worker_pool&) = delete;
    worker_pool& operator=(const worker_pool&) = delete;

    int workers() const { return static_cast<int>(threads_.size()); }

    // Every worker runs body(context) once. The body must not throw.
    void start(void (*body)(void*), void* context);
    // Returns when every worker has returned from the body.
    void wait();

private:
    void serve(std::stop_token stop);

    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::condition_variable idle_;
    uint64_t generation_ = 0;
    int running_ = 0;
    void (*body_)(void*) = nullptr;
    void* context_ = nullptr;
    std::vector<std::jthread> threads_;
};

// The number of processors this process may run on (at least 1).
int available_processors();
