#include "loop/encode_sequence.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>

#include "bitstream/headers.h"
#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "loop/coding_order.h"
#include "loop/picture_coder.h"
#include "loop/loop_trace.h"
#include "loop/progress.h"
#include "loop/recon_frame.h"
#include "loop/source_frame.h"
#include "loop/y4m_source.h"
#include "ratecontrol/rate_control.h"

namespace {

// Search widths handed to motion estimation; they keep the values of an
// earlier picture where a picture type does not assign them.
struct search_widths {
    int forw_hor = 0, forw_vert = 0, back_hor = 0, back_vert = 0;
};

void set_forward_from_entry0(search_widths& sw) {
    picture_values& pic = enc.picture;
    const motion_entry& m = enc.config.motion_data[0];
    pic.forw_hor_f_code = m.forw_hor_f_code;
    pic.forw_vert_f_code = m.forw_vert_f_code;
    pic.back_hor_f_code = pic.back_vert_f_code = 15;
    sw.forw_hor = m.forw_hor_search;
    sw.forw_vert = m.forw_vert_search;
}

picture_job make_job(frame_planes neworg, frame_planes newref, const search_widths& sw, int second_field,
                     int i_first_field, bool trace) {
    const coding_buffers& b = enc.buffers;
    const motion_inputs motion{b.old_org_frame[0], b.new_org_frame[0], b.old_ref_frame[0], b.new_ref_frame[0],
                               neworg[0],          newref[0],          sw.forw_hor,        sw.forw_vert,
                               sw.back_hor,        sw.back_vert,       second_field,       i_first_field};
    return picture_job{neworg, newref, motion, trace};
}

void set_picture_flags() {
    const encoder_config& cfg = enc.config;
    picture_values& pic = enc.picture;
    int t = pic.pict_type - 1;
    pic.frame_pred_frame_dct = cfg.frame_pred_frame_dct_tab[t];
    pic.q_scale_type = cfg.q_scale_type_tab[t];
    pic.intra_vlc_format = cfg.intra_vlc_format_tab[t];
    pic.alternate_scan = cfg.alternate_scan_tab[t];
}

// What a frame is coded from: its plan, its buffers (the reference pairs
// exchanged for an I or P frame), the picture values of its first picture.
struct frame_setup {
    frame_plan plan;
    frame_planes neworg, newref;
};

frame_setup set_up_frame(int i, search_widths& sw) {
    const encoder_config& cfg = enc.config;
    picture_values& pic = enc.picture;
    frame_setup f{plan_frame(i, cfg.N, cfg.M, cfg.frame_count), {}, {}};
    const frame_plan& plan = f.plan;
    pic.pict_type = plan.pict_type;
    pic.temporal_reference = plan.temporal_reference;
    if (plan.reference) {
        for (int k = 0; k < 3; ++k) {
            std::swap(enc.buffers.old_org_frame[k], enc.buffers.new_org_frame[k]);
            std::swap(enc.buffers.old_ref_frame[k], enc.buffers.new_ref_frame[k]);
        }
        f.neworg = enc.buffers.new_org_frame;
        f.newref = enc.buffers.new_ref_frame;
    } else {
        f.neworg = enc.buffers.aux_org_frame;
        f.newref = enc.buffers.aux_ref_frame;
    }

    if (plan.pict_type == I_TYPE) {
        pic.forw_hor_f_code = pic.forw_vert_f_code = pic.back_hor_f_code = pic.back_vert_f_code = 15;
    } else if (plan.pict_type == P_TYPE) {
        set_forward_from_entry0(sw);
    } else {
        const motion_entry& m = cfg.motion_data[plan.motion_entry];
        pic.forw_hor_f_code = m.forw_hor_f_code;
        pic.forw_vert_f_code = m.forw_vert_f_code;
        pic.back_hor_f_code = m.back_hor_f_code;
        pic.back_vert_f_code = m.back_vert_f_code;
        sw.forw_hor = m.forw_hor_search;
        sw.forw_vert = m.forw_vert_search;
        sw.back_hor = m.back_hor_search;
        sw.back_vert = m.back_vert_search;
    }
    set_picture_flags();
    if (!cfg.field_pictures)
        pic.picture_structure = FRAME_PICTURE;
    else
        pic.picture_structure = cfg.top_field_first ? TOP_FIELD : BOTTOM_FIELD;
    return f;
}

// Whether a source and a reconstruction base name may name the same files:
// the same path once normalised, letter case aside (".yuv" and ".YUV").
template <typename F>
bool survives(F f) {
    try {
        f();
        return true;
    } catch (const fatal_exit&) {
        return false;
    }
}

// Whether f writes to the same file as standard error.
bool shares_file_with_stderr(std::FILE* f) {
    struct stat a, b;
    return fstat(fileno(f), &a) == 0 && fstat(STDERR_FILENO, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool same_file_names(const std::string& source, const std::string& recon) {
    if (source_stream_open() || recon[0] == '-') return false;
    namespace fs = std::filesystem;
    std::error_code error;
    const std::string a = fs::absolute(source, error).lexically_normal().string();
    const std::string b = fs::absolute(recon, error).lexically_normal().string();
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return std::tolower(static_cast<unsigned char>(x)) ==
                                                  std::tolower(static_cast<unsigned char>(y)); });
}

void print_frame_header(int i, int display_number, const search_widths& sw) {
    const picture_values& pic = enc.picture;
    FILE* st = enc.files.statistics_file;
    std::fprintf(st, "\nFrame %d (#%d in display order):\n", i, display_number);
    std::fprintf(st, " picture_type=%c\n", picture_type_letters[pic.pict_type]);
    std::fprintf(st, " temporal_reference=%d\n", pic.temporal_reference);
    std::fprintf(st, " frame_pred_frame_dct=%d\n", pic.frame_pred_frame_dct);
    std::fprintf(st, " q_scale_type=%d\n", pic.q_scale_type);
    std::fprintf(st, " intra_vlc_format=%d\n", pic.intra_vlc_format);
    std::fprintf(st, " alternate_scan=%d\n", pic.alternate_scan);
    if (pic.pict_type != I_TYPE) {
        std::fprintf(st, " forward search window: %d...%d / %d...%d\n", -sw.forw_hor, sw.forw_hor, -sw.forw_vert,
                     sw.forw_vert);
        int R = 4 << pic.forw_hor_f_code, V = 4 << pic.forw_vert_f_code;
        std::fprintf(st, " forward vector range: %d...%d.5 / %d...%d.5\n", -R, R - 1, -V, V - 1);
    }
    if (pic.pict_type == B_TYPE) {
        std::fprintf(st, " backward search window: %d...%d / %d...%d\n", -sw.back_hor, sw.back_hor, -sw.back_vert,
                     sw.back_vert);
        int R = 4 << pic.back_hor_f_code, V = 4 << pic.back_vert_f_code;
        std::fprintf(st, " backward vector range: %d...%d.5 / %d...%d.5\n", -R, R - 1, -V, V - 1);
    }
}

}  // namespace

void encode_sequence(int threads) {
    const encoder_config& cfg = enc.config;
    picture_values& pic = enc.picture;
    search_widths sw;

    picture_coder coder(threads);
    rc_init_sequence();
    write_sequence_header();
    if (!cfg.mpeg1) {
        write_sequence_extension();
        write_sequence_display_extension();
    }
    if (cfg.id_string.size() > 1) write_user_data(cfg.id_string.c_str());

    // With workers, a worker prints a frame's statistics, sets up the next
    // frame, reads its source and starts its motion search while the calling
    // thread writes the reconstruction files; the next frame's outputs all
    // come after them, as one thread writes them. The statistics stay on the
    // calling thread when they share a file with the trace on stderr.
    const bool chain_possible = coder.has_workers() && !shares_file_with_stderr(enc.files.statistics_file);
    frame_setup next;
    std::string next_source, recon_name;
    int next_index = 0;
    const std::function<bool(picture_job&)> set_up_next = [&](picture_job& job) {
        coder.print_statistics();
        next = set_up_frame(next_index, sw);
        // A source name that fails fails again in its place; a
        // reconstruction file that is the next source is written first.
        if (!survives([&] { next_source = source_picture_name(next.plan.display_number); }) ||
            same_file_names(next_source, recon_name))
            return false;
        job = make_job(next.neworg, next.newref, sw, 0, 0, !cfg.field_pictures);
        return true;
    };
    const std::function<void()> load_next = [&] {
        load_source_picture(next.plan.display_number, next_source, next.neworg);
    };
    // An error may end the loop while a worker is still in these: it stops first.
    const struct workers_done {
        picture_coder& coder;
        ~workers_done() { coder.stop_workers(); }
    } workers_done{coder};
    bool set_up = false, prefetched = false;
    for (int i = 0; i < cfg.frame_count; ++i) {
        loop_trace("Encoding frame %d ", i);
        if (set_up) prefetched = coder.wait_set_up();

        const frame_setup f = set_up ? next : set_up_frame(i, sw);
        const frame_plan& plan = f.plan;
        const int display_number = plan.display_number;
        if (plan.pict_type == I_TYPE) {
            rc_init_gop(plan.np, plan.nb);
            write_gop_header(plan.gop_start, plan.closed_gop ? 1 : 0);
        }
        print_frame_header(i, display_number, sw);

        // A reconstruction name that fails does so after the statistics.
        const bool chain = chain_possible && i + 1 < cfg.frame_count &&
                           survives([&] { recon_frame_name(display_number + cfg.first_frame_number); });

        std::string name = source_picture_name(display_number);
        loop_trace(" read frame=howmany?1\n");
        if (prefetched)
            coder.finish_load();
        else
            load_source_picture(display_number, name, f.neworg);
        loop_trace(" read frame=%s\n", name.c_str());

        if (!cfg.field_pictures) {
            std::fprintf(enc.files.statistics_file,
                         " pict_type33333333333333333=%d!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n",
                         pic.pict_type);
            if (prefetched)
                coder.code_prefetched(chain);
            else
                coder.code(make_job(f.neworg, f.newref, sw, 0, 0, true), chain);
        } else {
            loop_trace("\nfirst field  (%s) ", cfg.top_field_first ? "top" : "bot");
            std::fputs(" alternate_scan=test1\n", enc.files.statistics_file);
            std::fprintf(enc.files.statistics_file, " pict_type1111111=%d!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n",
                         pic.pict_type);
            if (prefetched)
                coder.code_prefetched();
            else
                coder.code(make_job(f.neworg, f.newref, sw, 0, 0, false));

            loop_trace("second field (%s) ", cfg.top_field_first ? "bot" : "top");
            pic.picture_structure = cfg.top_field_first ? BOTTOM_FIELD : TOP_FIELD;
            int i_first_field = pic.pict_type == I_TYPE ? 1 : 0;
            if (i_first_field) {
                pic.pict_type = P_TYPE;
                set_forward_from_entry0(sw);
            }
            std::fprintf(enc.files.statistics_file,
                         " pict_type2222222222222=%d!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!\n", pic.pict_type);
            coder.code(make_job(f.neworg, f.newref, sw, 1, i_first_field, false), chain);
        }

        name = recon_frame_name(display_number + cfg.first_frame_number);
        loop_trace("5\n");
        const double psnr = progress_measure(f.neworg, f.newref);
        set_up = chain;
        if (chain) {
            next_index = i + 1;
            recon_name = name;
            coder.prefetch(set_up_next, load_next);
        }
        write_reconstructed_frame(name.c_str(), f.newref);
        loop_trace("6\n");
        progress_frame_done(psnr);
    }

    write_sequence_end();
}
