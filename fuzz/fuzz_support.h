// Shared by the fuzz targets: inputs handed to the readers as files without
// touching the disk, a scratch folder for readers that append a suffix to a
// name, and the fatal path as an ordinary way out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/fatal.h"

namespace morvane_fuzz {

// Bytes in an anonymous memory file, opened by name like any file (through
// /proc/self/fd) for as long as the object lives.
class memory_file {
public:
    memory_file(const void* data, std::size_t size);
    ~memory_file();
    memory_file(const memory_file&) = delete;
    memory_file& operator=(const memory_file&) = delete;
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};

// A folder of this process (in /dev/shm when there is one); a later fuzz
// process removes it once this one is gone.
const std::string& scratch_dir();
void write_scratch_file(const std::string& path, const void* data, std::size_t size);

// Runs f; the fatal path is an expected end, and its message is returned
// through message. True when f returned normally.
template <typename F>
bool survives(F f, std::string* message = nullptr) {
    try {
        f();
        return true;
    } catch (const fatal_exit& e) {
        if (message) *message = e.message;
        return false;
    }
}

// The luminance of the source frame a reader has just filled: its padding
// must repeat the last visible column and row.
void check_luma_padding();

// A finding of a harness check: prints what and aborts, so the fuzzer keeps the input.
[[noreturn]] void broken(const char* what);

}  // namespace morvane_fuzz
