// File-name patterns: printf formats with at most one integer conversion.
#pragma once

#include <string>

// Fatal unless the pattern holds at most one integer conversion (d i u x X o,
// with flags and width) plus any number of "%%".
void check_name_pattern(const std::string& pattern);

// Buffer sizes, terminator included: of a name printed from a pattern, and of
// a file name (that name plus a suffix).
constexpr std::size_t frame_name_buffer = 256;
constexpr std::size_t file_name_buffer = 128;

// The pattern printed with number, which must fit frame_name_buffer, else
// fatal naming the pattern.
std::string compose_frame_name(const std::string& pattern, int number);

// Fatal naming the pattern unless name (printed from it) plus the longest
// suffix its reader or writer appends fits file_name_buffer.
void check_file_name_room(const std::string& name, const std::string& pattern, const char* longest_suffix);

// base + suffix, which must fit file_name_buffer.
std::string compose_file_name(const std::string& base, const char* suffix);
