#include "driver/parameter_file.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>

#include "driver/coding_types.h"
#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "driver/file_handle.h"
#include "driver/parameter_checks.h"

const double frame_rate_table[8] = {24000.0 / 1001.0, 24.0, 25.0, 30000.0 / 1001.0,
                                    30.0,             50.0, 60000.0 / 1001.0, 60.0};

namespace {

// Lines as fgets with a 254-byte limit delivers them: a longer line goes on
// as the next line. Running out of lines is fatal rather than silently
// re-reading the previous one.
class line_reader {
public:
    line_reader(FILE* file, const char* name) : file_(file), name_(name) {}

    const char* next() {
        ++number_;
        if (!std::fgets(line_, 254, file_)) {
            if (std::ferror(file_)) fatal_error(error_text("Couldn't read parameter file %s", name_));
            fatal_error(error_text("parameter file %s ends before line %d", name_, number_));
        }
        return line_;
    }
    int number() const { return number_; }
    const char* name() const { return name_; }

private:
    FILE* file_;
    const char* name_;
    int number_ = 0;
    char line_[256] = {};
};

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// One "%d" conversion at p: white space, an optional sign, digits. Returns
// false (p unchanged) when no number starts there; a number outside the int
// range is fatal.
bool convert_int(const char*& p, int& value, const line_reader& in) {
    const char* q = p;
    while (is_space(*q)) ++q;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = *q++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*q))) return false;
    long long v = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    bool too_large = false;
    for (; std::isdigit(static_cast<unsigned char>(*q)); ++q) {
        v = v * 10 + (*q - '0');
        if (v > limit) {
            too_large = true;
            v = limit;
        }
    }
    if (too_large)
        fatal_error(error_text("number on line %d of parameter file %s is outside the int range", in.number(),
                               in.name()));
    value = static_cast<int>(negative ? -v : v);
    p = q;
    return true;
}

// "%d", "%d %d %d", "%d:%d:%d:%d" and the like: converts up to count values
// separated by separator (' ' matches any white space, including none),
// stopping at the first mismatch and leaving the rest unchanged.
void scan_ints(const char* line, char separator, const line_reader& in, std::initializer_list<int*> values) {
    const char* p = line;
    bool first = true;
    for (int* value : values) {
        if (!first) {
            if (separator == ' ') {
                while (is_space(*p)) ++p;
            } else {
                if (*p != separator) return;
                ++p;
            }
        }
        first = false;
        if (!convert_int(p, *value, in)) return;
    }
}

// "%s": the first white-space-delimited word; an empty line leaves it unchanged.
void scan_word(const char* line, std::string& value) {
    const char* p = line;
    while (is_space(*p)) ++p;
    const char* end = p;
    while (*end && !is_space(*end)) ++end;
    if (end != p) value.assign(p, end);
}

void scan_real(const char* line, double& value) {
    double v;
    if (std::sscanf(line, "%lf", &v) == 1) value = v;
}

void warn(const char* text) { std::fputs(text, stderr); }

void normalise(int& flag) { flag = flag != 0; }

void read_fixed_lines(line_reader& in) {
    encoder_config& cfg = enc.config;
    cfg.id_string = in.next();
    scan_word(in.next(), cfg.source_name_pattern);
    scan_word(in.next(), cfg.recon_name_pattern);
    scan_word(in.next(), cfg.intra_matrix_file);
    scan_word(in.next(), cfg.non_intra_matrix_file);
    scan_word(in.next(), cfg.statistics_file_name);

    // Lines holding one "%d" value, in file order (10 is the time code, 19 the bit rate).
    auto one = [&in](int& v) {
        const char* line = in.next();
        scan_ints(line, ' ', in, {&v});
    };
    auto three = [&in](int* tab) {
        const char* line = in.next();
        scan_ints(line, ' ', in, {&tab[0], &tab[1], &tab[2]});
    };
    one(cfg.input_format);
    one(cfg.frame_count);
    one(cfg.first_frame_number);
    {
        const char* line = in.next();
        scan_ints(line, ':', in, {&cfg.time_code_h, &cfg.time_code_m, &cfg.time_code_s, &cfg.time_code_f});
    }
    one(cfg.N);
    one(cfg.M);
    one(cfg.mpeg1);
    one(cfg.field_pictures);
    one(cfg.horizontal_size);
    one(cfg.vertical_size);
    one(cfg.aspect_ratio_information);
    one(cfg.frame_rate_code);
    scan_real(in.next(), cfg.bit_rate);
    one(cfg.vbv_buffer_size);
    one(cfg.low_delay);
    one(cfg.constrained_parameters_flag);
    one(cfg.profile);
    one(cfg.level);
    one(cfg.progressive_sequence);
    one(cfg.chroma_format);
    one(cfg.video_format);
    one(cfg.color_primaries);
    one(cfg.transfer_characteristics);
    one(cfg.matrix_coefficients);
    one(cfg.display_horizontal_size);
    one(cfg.display_vertical_size);
    one(cfg.intra_dc_precision);
    one(cfg.top_field_first);
    three(cfg.frame_pred_frame_dct_tab);
    three(cfg.concealment_motion_vectors_tab);
    three(cfg.q_scale_type_tab);
    three(cfg.intra_vlc_format_tab);
    three(cfg.alternate_scan_tab);
    one(cfg.repeat_first_field);
    one(cfg.progressive_frame);
    int unused = 0;
    one(unused);
    one(cfg.r);
    scan_real(in.next(), cfg.avg_act);
    one(cfg.Xi);
    one(cfg.Xp);
    one(cfg.Xb);
    one(cfg.d0i);
    one(cfg.d0p);
    one(cfg.d0b);
}

void read_motion_lines(line_reader& in) {
    encoder_config& cfg = enc.config;
    for (int k = 0; k < cfg.M; ++k) {
        motion_entry& m = cfg.motion_data[k];
        const char* line = in.next();
        scan_ints(line, ' ', in,
                  {&m.forw_hor_f_code, &m.forw_vert_f_code, &m.forw_hor_search, &m.forw_vert_search});
        if (k >= 1) {
            line = in.next();
            scan_ints(line, ' ', in,
                      {&m.back_hor_f_code, &m.back_vert_f_code, &m.back_hor_search, &m.back_vert_search});
        }
    }
}

void normalise_flags() {
    encoder_config& cfg = enc.config;
    normalise(cfg.mpeg1);
    normalise(cfg.field_pictures);
    normalise(cfg.low_delay);
    normalise(cfg.constrained_parameters_flag);
    normalise(cfg.progressive_sequence);
    normalise(cfg.top_field_first);
    for (int i = 0; i < 3; ++i) {
        normalise(cfg.frame_pred_frame_dct_tab[i]);
        normalise(cfg.concealment_motion_vectors_tab[i]);
        normalise(cfg.q_scale_type_tab[i]);
        normalise(cfg.intra_vlc_format_tab[i]);
        normalise(cfg.alternate_scan_tab[i]);
    }
    normalise(cfg.repeat_first_field);
    normalise(cfg.progressive_frame);
}

void derive_time_code_frames() {
    encoder_config& cfg = enc.config;
    int frames_per_second = static_cast<int>(cfg.frame_rate + 0.5);
    // The fields are known to be non-negative, so only the top can be passed.
    int64_t frames = ((static_cast<int64_t>(cfg.time_code_h) * 60 + cfg.time_code_m) * 60 + cfg.time_code_s) *
                         frames_per_second +
                     cfg.time_code_f;
    if (frames > INT_MAX || frames + cfg.frame_count > INT_MAX)
        fatal_error("time code plus frame_count must be less than 2^31 frames");
    cfg.time_code_frames = static_cast<int>(frames);
}

void clear_constrained_parameters_flag(encoder_config& cfg) {
    warn("Warning: setting constrained_parameters_flag = 0\n");
    cfg.constrained_parameters_flag = 0;
}

void check_mpeg1_constrained_parameters() {
    encoder_config& cfg = enc.config;
    if (!cfg.constrained_parameters_flag) return;
    int w = (cfg.horizontal_size + 15) / 16;
    int h = (cfg.vertical_size + 15) / 16;
    if (cfg.horizontal_size > 768 || cfg.vertical_size > 576 || w * h > 396 || w * h * cfg.frame_rate > 9900.0 ||
        cfg.frame_rate > 30.0) {
        clear_constrained_parameters_flag(cfg);
        return;
    }
    for (int k = 0; k < cfg.M; ++k) {
        const motion_entry& m = cfg.motion_data[k];
        if (m.forw_hor_f_code > 4 || m.forw_vert_f_code > 4 ||
            (k >= 1 && (m.back_hor_f_code > 4 || m.back_vert_f_code > 4))) {
            clear_constrained_parameters_flag(cfg);
            return;
        }
    }
}

void clear_tab(int* tab, const char* warning) {
    for (int i = 0; i < 3; ++i)
        if (tab[i]) {
            std::fprintf(stderr, warning, i);
            tab[i] = 0;
        }
}

void force_mpeg1_values() {
    encoder_config& cfg = enc.config;
    if (!cfg.progressive_sequence) {
        warn("Warning: setting progressive_sequence = 1\n");
        cfg.progressive_sequence = 1;
    }
    if (cfg.chroma_format != CHROMA420) {
        warn("Warning: setting chroma_format = 1 (4:2:0)\n");
        cfg.chroma_format = CHROMA420;
    }
    if (cfg.intra_dc_precision != 0) {
        warn("Warning: setting intra_dc_precision = 0\n");
        cfg.intra_dc_precision = 0;
    }
    clear_tab(cfg.q_scale_type_tab, "Warning: setting qscale_tab[%d] = 0\n");
    clear_tab(cfg.intra_vlc_format_tab, "Warning: setting intravlc_tab[%d] = 0\n");
    clear_tab(cfg.alternate_scan_tab, "Warning: setting altscan_tab[%d] = 0\n");
    // The picture header carries one f_code per direction, used both ways.
    for (int k = 0; k < cfg.M; ++k) {
        motion_entry& m = cfg.motion_data[k];
        if (m.forw_vert_f_code != m.forw_hor_f_code) {
            std::fprintf(stderr, "Warning: setting forw_vert_f_code[%d] = %d\n", k, m.forw_hor_f_code);
            m.forw_vert_f_code = m.forw_hor_f_code;
        }
        if (k >= 1 && m.back_vert_f_code != m.back_hor_f_code) {
            std::fprintf(stderr, "Warning: setting back_vert_f_code[%d] = %d\n", k, m.back_hor_f_code);
            m.back_vert_f_code = m.back_hor_f_code;
        }
    }
}

void apply_consistency_rules() {
    encoder_config& cfg = enc.config;
    if (!cfg.mpeg1 && cfg.constrained_parameters_flag) {
        clear_constrained_parameters_flag(cfg);
    }
    if (cfg.progressive_sequence && !cfg.progressive_frame) {
        warn("Warning: setting progressive_frame = 1\n");
        cfg.progressive_frame = 1;
    }
    if (cfg.progressive_frame && cfg.field_pictures) {
        warn("Warning: setting field_pictures = 0\n");
        cfg.field_pictures = 0;
    }
    // Field pictures must send field_motion_type, which the flag would omit.
    if (cfg.field_pictures)
        for (int i = 0; i < 3; ++i)
            if (cfg.frame_pred_frame_dct_tab[i]) {
                std::fprintf(stderr, "Warning: setting frame_pred_frame_dct[%d] = 0\n", i);
                cfg.frame_pred_frame_dct_tab[i] = 0;
            }
    if (!cfg.progressive_frame && cfg.repeat_first_field) {
        warn("Warning: setting repeat_first_field = 0\n");
        cfg.repeat_first_field = 0;
    }
    if (cfg.progressive_frame)
        for (int i = 0; i < 3; ++i)
            if (!cfg.frame_pred_frame_dct_tab[i]) {
                std::fprintf(stderr, "Warning: setting frame_pred_frame_dct[%d] = 1\n", i);
                cfg.frame_pred_frame_dct_tab[i] = 1;
            }
    if (cfg.progressive_sequence && !cfg.repeat_first_field && cfg.top_field_first) {
        warn("Warning: setting top_field_first = 0\n");
        cfg.top_field_first = 0;
    }
}

void reduce_search_width(int& width, int f_code, const char* warning) {
    int limit = (4 << f_code) - 1;
    if (width > limit) {
        std::fprintf(stderr, warning, limit);
        width = limit;
    }
}

void reduce_search_widths() {
    encoder_config& cfg = enc.config;
    for (int k = 0; k < cfg.M; ++k) {
        motion_entry& m = cfg.motion_data[k];
        reduce_search_width(m.forw_hor_search, m.forw_hor_f_code,
                            "Warning: reducing forward horizontal search width to %d\n");
        reduce_search_width(m.forw_vert_search, m.forw_vert_f_code,
                            "Warning: reducing forward vertical search width to %d\n");
        if (k >= 1) {
            reduce_search_width(m.back_hor_search, m.back_hor_f_code,
                                "Warning: reducing backward horizontal search width to %d\n");
            reduce_search_width(m.back_vert_search, m.back_vert_f_code,
                                "Warning: reducing backward vertical search width to %d\n");
        }
    }
}

}  // namespace

void read_parameter_file(const char* file_name) {
    encoder_config& cfg = enc.config;
    file_handle file = file_handle::open(file_name, "r");
    if (!file) fatal_error(error_text("Couldn't open parameter file %s", file_name));
    line_reader in(file.get(), file_name);

    read_fixed_lines(in);
    if (cfg.N < 1) fatal_error("N must be positive");
    if (cfg.M < 1) fatal_error("M must be positive");
    if (cfg.N % cfg.M != 0) fatal_error("N must be an integer multiple of M");
    cfg.motion_data = make_zeroed<motion_entry>(static_cast<std::size_t>(cfg.M));
    read_motion_lines(in);
    file.reset();

    normalise_flags();
    check_parameter_ranges();
    check_encoder_limits();
    cfg.frame_rate = frame_rate_table[cfg.frame_rate_code - 1];
    derive_time_code_frames();

    if (!cfg.mpeg1)
        check_profile_and_level();
    else
        check_mpeg1_constrained_parameters();
    if (cfg.mpeg1) force_mpeg1_values();
    apply_consistency_rules();
    reduce_search_widths();
}
