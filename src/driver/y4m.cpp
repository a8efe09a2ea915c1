#include "driver/y4m.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "driver/coding_types.h"
#include "driver/fatal.h"

namespace {

// Longer header or frame lines than this are taken as garbage.
constexpr std::size_t longest_line = 4096;

[[noreturn]] void fail(const std::string& shown, const std::string& problem) {
    fatal_error("Couldn't read " + shown + " (" + problem + ")");
}

// A read that stopped early: an error names the system's reason.
void fail_if_read_error(std::FILE* f, const std::string& shown) {
    if (std::ferror(f)) fail(shown, std::strerror(errno));
}

// Bytes as a message may show them: printable ASCII, the rest as \xNN.
std::string printable(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool whole_number(std::string_view text, int& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && p == end && value >= 0;
}

// "n:d" with both parts whole numbers.
bool ratio(std::string_view text, int& num, int& den) {
    const std::size_t colon = text.find(':');
    return colon != std::string_view::npos && whole_number(text.substr(0, colon), num) &&
           whole_number(text.substr(colon + 1), den);
}

struct chroma_name {
    std::string_view tag;
    int format;
};
constexpr chroma_name chroma_names[] = {{"420jpeg", CHROMA420}, {"420mpeg2", CHROMA420}, {"420paldv", CHROMA420},
                                        {"420", CHROMA420},     {"422", CHROMA422},      {"444", CHROMA444}};

constexpr std::string_view magic = "YUV4MPEG2";

void check_magic(std::string_view line, const std::string& shown) {
    if (!line.starts_with(magic) || (line.size() > magic.size() && line[magic.size()] != ' '))
        fail(shown, "not a YUV4MPEG2 stream: it starts with '" + printable(line.substr(0, 16)) + "'");
}

}  // namespace

int y4m_header::chroma_columns() const { return chroma_format == CHROMA444 ? width : (width + 1) / 2; }
int y4m_header::chroma_rows() const { return chroma_format == CHROMA420 ? (height + 1) / 2 : height; }
std::size_t y4m_header::frame_bytes() const {
    return static_cast<std::size_t>(width) * height + 2 * static_cast<std::size_t>(chroma_columns()) * chroma_rows();
}

std::string y4m_shown_name(const std::string& name) { return name == "-" ? "standard input" : name; }

std::string y4m_frames_text(int64_t count) { return std::to_string(count) + (count == 1 ? " frame" : " frames"); }

std::string y4m_rate_text(const y4m_header& h) {
    if (h.rate_den == 1) return std::to_string(h.rate_num);
    return std::to_string(h.rate_num) + ":" + std::to_string(h.rate_den);
}

y4m_header parse_y4m_header(std::string_view line, const std::string& shown) {
    check_magic(line, shown);
    y4m_header h;
    bool has_width = false, has_height = false;
    std::string_view rest = line.substr(magic.size());
    while (!rest.empty()) {
        const std::size_t space = rest.find(' ');
        const std::string_view field = rest.substr(0, space);
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        if (field.empty()) continue;
        const std::string_view value = field.substr(1);
        const std::string quoted = "'" + printable(field) + "'";
        switch (field[0]) {
        case 'W':
            if (!whole_number(value, h.width) || h.width == 0)
                fail(shown, "invalid width " + quoted + " in the header: W takes a number of samples");
            has_width = true;
            break;
        case 'H':
            if (!whole_number(value, h.height) || h.height == 0)
                fail(shown, "invalid height " + quoted + " in the header: H takes a number of lines");
            has_height = true;
            break;
        case 'F':
            // F0:0 is how some tools say they do not know.
            if (!ratio(value, h.rate_num, h.rate_den) || (h.rate_den == 0) != (h.rate_num == 0))
                fail(shown, "invalid frame rate " + quoted + " in the header: F takes frames:seconds, as F25:1");
            break;
        case 'A':
            if (!ratio(value, h.aspect_num, h.aspect_den))
                fail(shown, "invalid sample aspect ratio " + quoted + " in the header: A takes width:height, as A1:1");
            break;
        case 'I':
            if (value.size() != 1 || std::string_view("ptbm?").find(value[0]) == std::string_view::npos)
                fail(shown, "invalid interlacing " + quoted + " in the header: I takes p, t, b, m or ?");
            h.interlace = value[0];
            break;
        case 'C': {
            const chroma_name* known = nullptr;
            for (const chroma_name& c : chroma_names)
                if (c.tag == value) known = &c;
            if (!known)
                fail(shown, "chroma " + quoted +
                                " is not supported: morvane reads 8-bit 420jpeg, 420mpeg2, 420paldv, 420, 422 and 444");
            h.chroma_tag = std::string(value);
            h.chroma_format = known->format;
            break;
        }
        default: break;  // X and fields of later versions carry nothing the encoder uses
        }
    }
    if (!has_width) fail(shown, "the header has no width (W field)");
    if (!has_height) fail(shown, "the header has no height (H field)");
    return h;
}

y4m_header read_y4m_header(std::FILE* f, const std::string& shown) {
    std::string line;
    int c;
    while ((c = std::getc(f)) != EOF && c != '\n' && line.size() <= longest_line) line += static_cast<char>(c);
    fail_if_read_error(f, shown);
    if (line.empty() && c == EOF) fail(shown, "the stream is empty");
    if (c != '\n') {
        // A stream of something else says so before anything about its length.
        check_magic(line, shown);
        fail(shown, c == EOF ? "the stream ends inside its header line"
                             : "its header line is longer than " + std::to_string(longest_line) + " bytes");
    }
    return parse_y4m_header(line, shown);
}

bool read_y4m_frame_marker(std::FILE* f, const std::string& shown, int64_t frames_before) {
    constexpr std::string_view marker = "FRAME";
    const std::string after = "after " + y4m_frames_text(frames_before);
    int c = std::getc(f);
    fail_if_read_error(f, shown);
    if (c == EOF) return false;
    std::string seen(1, static_cast<char>(c));
    while (seen.size() < marker.size() && marker.starts_with(seen) && (c = std::getc(f)) != EOF)
        seen += static_cast<char>(c);
    fail_if_read_error(f, shown);
    if (!marker.starts_with(seen)) {
        // A little more of what stands there, for the message.
        while (seen.size() < 16 && (c = std::getc(f)) != EOF) seen += static_cast<char>(c);
        fail(shown, "the frame " + after + " does not start with FRAME: found '" + printable(seen) + "'");
    }
    if (seen.size() < marker.size()) fail(shown, "the stream ends " + after + ", inside the next frame's header");
    c = std::getc(f);
    std::size_t length = 0;
    if (c == ' ') {
        // Frame parameters carry nothing the encoder uses.
        while ((c = std::getc(f)) != EOF && c != '\n' && ++length <= longest_line) {
        }
    }
    if (c == '\n') return true;
    fail_if_read_error(f, shown);
    if (c == EOF) fail(shown, "the stream ends " + after + ", inside the next frame's header");
    if (length > longest_line)
        fail(shown,
             "the frame header " + after + " has no line end in its first " + std::to_string(longest_line) + " bytes");
    fail(shown, "the frame header " + after + " is FRAME followed by '" +
                    printable(std::string(1, static_cast<char>(c))) + "', not by a space or a line end");
}
