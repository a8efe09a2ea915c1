#include "fuzz_support.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "driver/encoder_state.h"

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

constexpr char scratch_prefix[] = "morvane_fuzz_";

// libFuzzer ends with _Exit, so no exit handler removes a folder: each new
// process removes those of processes that are gone (the name holds the pid).
void remove_stale_scratch_dirs(const std::string& base) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(scratch_prefix, 0) != 0) continue;
        const long pid = std::strtol(name.c_str() + sizeof scratch_prefix - 1, nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            std::filesystem::remove_all(entry.path(), ec);
    }
}

std::string make_scratch_dir() {
    const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    remove_stale_scratch_dirs(base);
    std::string tmpl = base + "/" + scratch_prefix + std::to_string(getpid()) + "_XXXXXX";
    if (!mkdtemp(tmpl.data())) broken("mkdtemp failed");
    return tmpl;
}

}  // namespace

const std::string& scratch_dir() {
    static const std::string scratch = make_scratch_dir();
    return scratch;
}

void write_scratch_file(const std::string& path, const void* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) broken("creating a scratch file failed");
    if (size > 0 && std::fwrite(data, 1, size, f) != size) broken("writing a scratch file failed");
    if (std::fclose(f) != 0) broken("closing a scratch file failed");
}

void check_luma_padding() {
    const encoder_config& cfg = enc.config;
    const uint8_t* y = enc.buffers.new_org_frame[0];
    for (int i = 0; i < cfg.height; ++i) {
        const uint8_t* row = y + static_cast<std::size_t>(i) * cfg.width;
        const uint8_t* source_row =
            y + static_cast<std::size_t>(i < cfg.vertical_size ? i : cfg.vertical_size - 1) * cfg.width;
        for (int j = 0; j < cfg.width; ++j)
            if (row[j] != source_row[j < cfg.horizontal_size ? j : cfg.horizontal_size - 1])
                broken("luminance padding is not the extended picture");
    }
}

void broken(const char* what) {
    std::fprintf(stderr, "\nfuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace morvane_fuzz
