// Zero-filled buffers owned for the run, freed with free().
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

struct free_deleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using zeroed_array = std::unique_ptr<T[], free_deleter>;

// Zero-filled allocation of count elements; "malloc failed\n" through the fatal path.
void* zeroed_allocation(std::size_t count, std::size_t size);
template <typename T>
zeroed_array<T> make_zeroed(std::size_t count) {
    return zeroed_array<T>(static_cast<T*>(zeroed_allocation(count, sizeof(T))));
}
