// YUV4MPEG2 streams, as FFmpeg and most video tools write them: one header
// line, then per frame a "FRAME" line and the planes Y, Cb, Cr of 8-bit
// samples. Everything here reads sequentially, so a pipe serves as well as a
// file. Malformed input is a fatal error naming the stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

struct y4m_header {
    int width = 0, height = 0;
    int chroma_format = 1;               // CHROMA420, CHROMA422 or CHROMA444
    std::string chroma_tag = "420jpeg";  // as written; FFmpeg's default when there is no C field
    int rate_num = 0, rate_den = 0;      // frames per second; 0:0 when there is no F field
    char interlace = '?';                // p, t (top field first), b, m (mixed) or ? (unknown or absent)
    int aspect_num = 0, aspect_den = 0;  // sample aspect ratio; 0:0 unknown or absent

    // Visible chroma plane size, and the bytes of one frame's planes.
    int chroma_columns() const;
    int chroma_rows() const;
    std::size_t frame_bytes() const;
};

// How messages name a stream: the file name, or "standard input" for "-".
std::string y4m_shown_name(const std::string& name);

// The header line without its line end, checked and read. Fields W, H, F, I,
// A, C and X are understood; others are skipped, as the format asks.
y4m_header parse_y4m_header(std::string_view line, const std::string& shown);

// Reads the header line from the start of the stream.
y4m_header read_y4m_header(std::FILE* f, const std::string& shown);

// Reads the line that starts a frame: "FRAME", optionally parameters, a line
// feed. False at a clean end of the stream before it; fatal when the stream
// ends inside it or holds something else. frames_before counts the whole
// frames already read, for the messages.
bool read_y4m_frame_marker(std::FILE* f, const std::string& shown, int64_t frames_before);

// "1 frame", "3 frames".
std::string y4m_frames_text(int64_t count);

// The frame rate of a header as text ("25", "30000:1001").
std::string y4m_rate_text(const y4m_header& h);
