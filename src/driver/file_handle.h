// An owned FILE*: closed when the handle goes, or checked by close().
#pragma once

#include <cstdio>
#include <string>
#include <utility>

class file_handle {
public:
    file_handle() = default;
    explicit file_handle(std::FILE* file) : file_(file) {}
    // An empty handle when the file cannot be opened.
    static file_handle open(const std::string& name, const char* mode) {
        return file_handle(std::fopen(name.c_str(), mode));
    }
    file_handle(file_handle&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}
    file_handle& operator=(file_handle&& other) noexcept {
        if (this != &other) {
            reset();
            file_ = std::exchange(other.file_, nullptr);
        }
        return *this;
    }
    file_handle(const file_handle&) = delete;
    file_handle& operator=(const file_handle&) = delete;
    ~file_handle() { reset(); }

    std::FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }

    // Closes the file; false when an earlier write or the close failed (a
    // full disk shows up only here).
    bool close() {
        if (!file_) return true;
        bool ok = std::ferror(file_) == 0;
        if (std::fclose(std::exchange(file_, nullptr)) != 0) ok = false;
        return ok;
    }
    void reset() {
        if (file_) std::fclose(std::exchange(file_, nullptr));
    }

private:
    std::FILE* file_ = nullptr;
};
