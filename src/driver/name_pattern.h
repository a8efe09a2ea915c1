// File-name patterns: printf formats with at most one integer conversion.
#pragma once

#include <string>

// Fatal unless the pattern holds at most one integer conversion (d i u x X o,
// with flags and width) plus any number of "%%".
void check_name_pattern(const std::string& pattern);

// The pattern printed with number; the result must fit a buffer of
// buffer_size characters (terminator included), else fatal naming the pattern.
std::string compose_frame_name(const std::string& pattern, int number, std::size_t buffer_size = 256);

// base + suffix, which must fit a buffer of buffer_size characters.
std::string compose_file_name(const std::string& base, const char* suffix, std::size_t buffer_size = 128);
