#include "driver/name_pattern.h"

#include <cstdio>
#include <cstring>

#include "driver/fatal.h"

namespace {

// Counts the integer conversions; false for any other conversion or more than one.
bool scan_pattern(const std::string& p, int& conversions) {
    conversions = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] != '%') continue;
        ++i;
        if (i < p.size() && p[i] == '%') continue;
        while (i < p.size() && std::strchr("-+ #0", p[i])) ++i;
        while (i < p.size() && p[i] >= '0' && p[i] <= '9') ++i;
        if (i < p.size() && p[i] == '.') {
            ++i;
            while (i < p.size() && p[i] >= '0' && p[i] <= '9') ++i;
        }
        if (i >= p.size() || !std::strchr("diuxXo", p[i])) return false;
        ++conversions;
    }
    return conversions <= 1;
}

[[noreturn]] void name_too_long(const std::string& pattern) {
    fatal_error(error_text("file name from pattern %s is too long", pattern.c_str()));
}

}  // namespace

void check_name_pattern(const std::string& pattern) {
    int conversions;
    if (!scan_pattern(pattern, conversions))
        fatal_error(error_text("invalid file name pattern %s (one integer conversion allowed)", pattern.c_str()));
}

std::string compose_frame_name(const std::string& pattern, int number) {
    int conversions;
    if (!scan_pattern(pattern, conversions))
        fatal_error(error_text("invalid file name pattern %s (one integer conversion allowed)", pattern.c_str()));
    std::string out;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    int n = std::snprintf(nullptr, 0, pattern.c_str(), number);
    if (n >= 0) {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::snprintf(out.data(), out.size(), pattern.c_str(), number);
        out.resize(static_cast<std::size_t>(n));
    }
#pragma GCC diagnostic pop
    if (n < 0 || static_cast<std::size_t>(n) + 1 > frame_name_buffer) name_too_long(pattern);
    return out;
}

void check_file_name_room(const std::string& name, const std::string& pattern, const char* longest_suffix) {
    if (name.size() + std::strlen(longest_suffix) + 1 > file_name_buffer) name_too_long(pattern);
}

std::string compose_file_name(const std::string& base, const char* suffix) {
    std::string out = base + suffix;
    if (out.size() + 1 > file_name_buffer)
        fatal_error(error_text("file name %s is too long", out.c_str()));
    return out;
}
