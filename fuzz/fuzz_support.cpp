#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace morvane_fuzz {

memory_file::memory_file(const void* data, std::size_t size) {
    fd_ = memfd_create("morvane_fuzz", 0);
    if (fd_ < 0) broken("memfd_create failed");
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd_, p, size);
        if (n <= 0) broken("writing a memory file failed");
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
}

memory_file::~memory_file() { close(fd_); }

namespace {

std::string make_scratch_dir() {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = base + "/morvane_fuzz_XXXXXX";
    if (!mkdtemp(tmpl.data())) broken("mkdtemp failed");
    return tmpl;
}

std::string scratch;

void remove_scratch() {
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
}

}  // namespace

const std::string& scratch_dir() {
    if (scratch.empty()) {
        scratch = make_scratch_dir();
        std::atexit(remove_scratch);
    }
    return scratch;
}

void write_scratch_file(const std::string& path, const void* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) broken("creating a scratch file failed");
    if (size > 0 && std::fwrite(data, 1, size, f) != size) broken("writing a scratch file failed");
    if (std::fclose(f) != 0) broken("closing a scratch file failed");
}

void broken(const char* what) {
    std::fprintf(stderr, "\nfuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace morvane_fuzz
