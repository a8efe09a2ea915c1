#include "loop/recon_frame.h"

#include <initializer_list>
#include <string>

#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "driver/file_handle.h"
#include "driver/name_pattern.h"
#include "loop/source_frame.h"

namespace {

// Creates name and writes the pieces one after the other; a short write or a
// failed close (a full disk, for instance) is fatal.
struct piece {
    const uint8_t* data;
    std::size_t count;
};
void write_whole_file(const std::string& name, std::initializer_list<piece> pieces) {
    file_handle f = file_handle::open(name, "wb");
    if (!f) fatal_error(error_text("Couldn't create %s\n", name.c_str()));
    bool written = true;
    for (const piece& p : pieces) written = written && std::fwrite(p.data, 1, p.count, f.get()) == p.count;
    if (!f.close()) written = false;
    if (!written) fatal_error(error_text("Couldn't write %s", name.c_str()));
}

}  // namespace

std::string recon_frame_name(int number) {
    const std::string& pattern = enc.config.recon_name_pattern;
    std::string name = compose_frame_name(pattern, number);
    // A name starting with '-' writes no files, so only the name buffer bounds it.
    if (name[0] != '-') check_file_name_room(name, pattern, ".YUV");
    return name;
}

void write_reconstructed_frame(const char* name, frame_planes frame) {
    const encoder_config& cfg = enc.config;
    if (name[0] == '-') return;
    const std::string base = name;
    const std::size_t luma = static_cast<std::size_t>(cfg.horizontal_size) * cfg.vertical_size;
    const std::size_t chroma = static_cast<std::size_t>(chroma_columns()) * chroma_rows();

    write_whole_file(compose_file_name(base, ".Y"), {{frame[0], luma}});
    write_whole_file(compose_file_name(base, ".U"), {{frame[1], chroma}});
    write_whole_file(compose_file_name(base, ".V"), {{frame[2], chroma}});
    write_whole_file(compose_file_name(base, ".YUV"), {{frame[0], luma}, {frame[1], chroma}, {frame[2], chroma}});
}
