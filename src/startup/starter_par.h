// --make-par: a parameter file to start from, written for the pictures of a
// YUV4MPEG2 stream, so that `morvane --input=clip.y4m clip.par clip.m2v`
// works on the first try. Size, chroma format, frame rate, interlacing and
// frame count come from the stream; a profile and level that admit them are
// chosen; the coding choices are those of the shipped example closest in
// size (the CIF example, the SD or the HD benchmark).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/y4m.h"

struct starter_file {
    std::string text;                // the parameter file
    std::string summary;             // one line of what it chose
    std::vector<std::string> notes;  // what the user should know, such as a frame rate without a code
};

// Fatal, naming stream_name, for pictures no parameter file can describe
// (an odd width with 4:2:0, ...).
starter_file starter_parameters(const y4m_header& header, int64_t frames, const std::string& stream_name,
                                const std::string& statistics_name);

// Where the statistics of a run with par_name go: beside it, .stats.txt for
// its extension.
std::string starter_statistics_name(const std::string& par_name);

// Reads the stream to its end to count the frames, writes par_name (which
// must not exist yet), reads it back as an encode would, and says on stdout
// what it chose and how to encode. Fatal on any failure, leaving no file.
void make_starter_parameters(const std::string& input_name, const std::string& par_name);
