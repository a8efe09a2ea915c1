// make_sequence: deterministic test pictures for the encoder.
//
// A textured background pans by fractions of a sample per frame, textured
// objects move across it at their own speeds, and mild noise is added, so
// that the pictures give motion search real work. Output is the encoder's
// input formats: separate .Y/.U/.V planes, one planar .yuv file, or a P6
// .ppm file. The same arguments always give the same bytes.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char usage_text[] =
    "Usage: make_sequence [options]\n"
    "Writes a numbered test sequence in one of the encoder's source formats.\n"
    "\n"
    "  --width W        picture width in samples (default 176)\n"
    "  --height H       picture height in samples (default 144)\n"
    "  --chroma C       1 = 4:2:0, 2 = 4:2:2, 3 = 4:4:4 (default 1; PPM is always RGB)\n"
    "  --frames N       number of frames (default 10)\n"
    "  --first F        number of the first file (default 0)\n"
    "  --format K       0 = name.Y/.U/.V, 1 = name.yuv, 2 = name.ppm (default 0)\n"
    "  --pattern P      file name pattern with one integer conversion (default \"src%d\")\n"
    "  --pan DX,DY      background motion in samples per frame (default 0.75,0.25)\n"
    "  --noise A        noise amplitude in luminance steps, 0 for none (default 2)\n"
    "  --seed S         texture and noise seed (default 1)\n"
    "  --help           this text\n"
    "\n"
    "Frame n is written to the pattern printed with F + n, plus the format's suffix.\n"
    "Chrominance planes are (W/2 or W) x (H/2 or H) samples, rounded down.\n";

struct options {
    int width = 176, height = 144, chroma = 1, frames = 10, first = 0, format = 0;
    std::string pattern = "src%d";
    double pan_x = 0.75, pan_y = 0.25;
    int noise = 2;
    uint32_t seed = 1;
};

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "make_sequence: %s\n", message.c_str());
    std::exit(1);
}

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "make_sequence: %s\n(make_sequence --help lists the options)\n", message.c_str());
    std::exit(2);
}

bool parse_int(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    value = v;
    return true;
}

bool parse_double(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v) || std::fabs(v) > 1000.0) return false;
    value = v;
    return true;
}

// True when the pattern holds at most one integer conversion besides "%%".
bool valid_pattern(const std::string& p) {
    int conversions = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] != '%') continue;
        if (++i < p.size() && p[i] == '%') continue;
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

options parse_options(int argc, char** argv) {
    options o;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage_text, stdout);
            std::exit(0);
        }
        std::string value;
        std::size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            usage_error("option " + arg + " needs a value");
        }
        long long v = 0;
        auto need_int = [&](long long low, long long high) {
            if (!parse_int(value, low, high, v))
                usage_error("bad value \"" + value + "\" for " + arg + " (allowed " + std::to_string(low) + ".." +
                            std::to_string(high) + ")");
            return static_cast<int>(v);
        };
        if (arg == "--width") o.width = need_int(1, 16383);
        else if (arg == "--height") o.height = need_int(1, 16383);
        else if (arg == "--chroma") o.chroma = need_int(1, 3);
        else if (arg == "--frames") o.frames = need_int(0, 1000000);
        else if (arg == "--first") o.first = need_int(0, 100000000);
        else if (arg == "--format") o.format = need_int(0, 2);
        else if (arg == "--noise") o.noise = need_int(0, 64);
        else if (arg == "--seed") o.seed = static_cast<uint32_t>(need_int(0, 0x7fffffff));
        else if (arg == "--pattern") {
            if (value.empty() || !valid_pattern(value))
                usage_error("bad pattern \"" + value + "\" (one integer conversion allowed)");
            o.pattern = value;
        } else if (arg == "--pan") {
            std::size_t comma = value.find(',');
            if (comma == std::string::npos || !parse_double(value.substr(0, comma), o.pan_x) ||
                !parse_double(value.substr(comma + 1), o.pan_y))
                usage_error("bad value \"" + value + "\" for --pan (expected DX,DY)");
        } else {
            usage_error("unknown option " + arg);
        }
    }
    return o;
}

// --- texture: integer hash, smooth value noise -----------------------------

uint32_t mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    h ^= h >> 16;
    return h;
}

uint32_t hash3(int32_t a, int32_t b, uint32_t c) {
    return mix(static_cast<uint32_t>(a) * 0x9e3779b1U ^ mix(static_cast<uint32_t>(b) * 0x85ebca77U ^ mix(c)));
}

// Lattice values in [0, 1) blended with a smoothstep: continuous in x and y,
// so a fractional shift of the coordinates shifts the picture by a fraction.
double value_noise(double x, double y, double cell, uint32_t salt) {
    double u = x / cell, v = y / cell;
    double fu = std::floor(u), fv = std::floor(v);
    int32_t i = static_cast<int32_t>(fu), j = static_cast<int32_t>(fv);
    double tx = u - fu, ty = v - fv;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    auto at = [salt](int32_t a, int32_t b) { return (hash3(a, b, salt) >> 8) * (1.0 / 16777216.0); };
    double top = at(i, j) + (at(i + 1, j) - at(i, j)) * tx;
    double bottom = at(i, j + 1) + (at(i + 1, j + 1) - at(i, j + 1)) * tx;
    return top + (bottom - top) * ty;
}

struct sample3 {
    double y, cb, cr;
};

struct moving_object {
    double x0, y0, vx, vy;  // top-left at frame 0, samples per frame
    double w, h;
    bool round;
    double cb, cr;  // colour
    uint32_t salt;
};

struct scene {
    options o;
    std::vector<moving_object> objects;

    explicit scene(const options& opts) : o(opts) {
        static const double speeds[3][2] = {{1.5, 0.5}, {-1.25, 0.75}, {0.5, -1.0}};
        static const double colours[3][2] = {{90, 170}, {170, 100}, {150, 150}};
        for (int k = 0; k < 3; ++k) {
            moving_object m;
            uint32_t h = hash3(k, 77, o.seed);
            m.w = o.width / 4.0 + (k + 1);
            m.h = o.height / 4.0 + (k + 1);
            m.x0 = (h % 1000) / 1000.0 * o.width;
            m.y0 = ((h >> 10) % 1000) / 1000.0 * o.height;
            m.vx = speeds[k][0];
            m.vy = speeds[k][1];
            m.round = k == 1;
            m.cb = colours[k][0];
            m.cr = colours[k][1];
            m.salt = o.seed * 31 + 1000 + k;
            objects.push_back(m);
        }
    }

    // Background at scene coordinates (the caller adds the pan).
    sample3 background(double bx, double by) const {
        double n = 0.45 * value_noise(bx, by, 16, o.seed) + 0.35 * value_noise(bx, by, 6, o.seed + 1) +
                   0.20 * value_noise(bx, by, 2.5, o.seed + 2);
        return {40 + 170 * n, 128 + 50 * (value_noise(bx, by, 24, o.seed + 3) - 0.5),
                128 + 50 * (value_noise(bx, by, 24, o.seed + 4) - 0.5)};
    }

    // Position of an object at frame t, wrapping around the picture.
    static double wrapped(double start, double speed, int t, double extent, double size) {
        double span = extent + size;
        double p = std::fmod(start + speed * t + size, span);
        if (p < 0) p += span;
        return p - size;
    }

    sample3 at(int x, int y, int t) const {
        sample3 s = background(x + o.pan_x * t, y + o.pan_y * t);
        for (const moving_object& m : objects) {
            double left = wrapped(m.x0, m.vx, t, o.width, m.w);
            double top = wrapped(m.y0, m.vy, t, o.height, m.h);
            double u = x - left, v = y - top;
            if (u < 0 || v < 0 || u >= m.w || v >= m.h) continue;
            if (m.round) {
                double du = (u - m.w / 2) / (m.w / 2), dv = (v - m.h / 2) / (m.h / 2);
                if (du * du + dv * dv > 1) continue;
            }
            // Stripes plus fine texture, fixed to the object.
            double stripes = std::fmod(std::floor((u + v) / 3), 2) * 60;
            double n = value_noise(u, v, 3, m.salt);
            s = {60 + stripes + 100 * n, m.cb + 20 * (n - 0.5), m.cr - 20 * (n - 0.5)};
        }
        if (o.noise > 0) {
            uint32_t h = hash3(x, y, o.seed * 1000003U + static_cast<uint32_t>(t));
            int span = 2 * o.noise + 1;
            s.y += static_cast<int>(h % static_cast<uint32_t>(span)) - o.noise;
            int chroma_noise = o.noise / 2;
            if (chroma_noise > 0) {
                int cspan = 2 * chroma_noise + 1;
                s.cb += static_cast<int>((h >> 12) % static_cast<uint32_t>(cspan)) - chroma_noise;
                s.cr += static_cast<int>((h >> 22) % static_cast<uint32_t>(cspan)) - chroma_noise;
            }
        }
        return s;
    }
};

uint8_t to_byte(double v, double low, double high) {
    if (v < low) v = low;
    if (v > high) v = high;
    return static_cast<uint8_t>(std::floor(v + 0.5));
}

struct picture {
    int width, height;
    std::vector<uint8_t> y, cb, cr;  // full resolution
};

picture render(const scene& sc, int t) {
    picture p{sc.o.width, sc.o.height, {}, {}, {}};
    std::size_t n = static_cast<std::size_t>(p.width) * p.height;
    p.y.resize(n);
    p.cb.resize(n);
    p.cr.resize(n);
    for (int i = 0; i < p.height; ++i)
        for (int j = 0; j < p.width; ++j) {
            sample3 s = sc.at(j, i, t);
            std::size_t k = static_cast<std::size_t>(i) * p.width + j;
            p.y[k] = to_byte(s.y, 16, 235);
            p.cb[k] = to_byte(s.cb, 16, 240);
            p.cr[k] = to_byte(s.cr, 16, 240);
        }
    return p;
}

// Averages 1x1, 2x1 or 2x2 groups to the chroma format's visible size.
std::vector<uint8_t> subsample(const std::vector<uint8_t>& full, int width, int height, int chroma) {
    int fx = chroma == 3 ? 1 : 2, fy = chroma == 1 ? 2 : 1;
    int cw = width / fx, ch = height / fy;
    std::vector<uint8_t> out(static_cast<std::size_t>(cw) * ch);
    for (int i = 0; i < ch; ++i)
        for (int j = 0; j < cw; ++j) {
            int sum = 0;
            for (int a = 0; a < fy; ++a)
                for (int b = 0; b < fx; ++b) sum += full[static_cast<std::size_t>(i * fy + a) * width + j * fx + b];
            int count = fx * fy;
            out[static_cast<std::size_t>(i) * cw + j] = static_cast<uint8_t>((sum + count / 2) / count);
        }
    return out;
}

std::string frame_name(const std::string& pattern, int number) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    int n = std::snprintf(nullptr, 0, pattern.c_str(), number);
    std::string out(static_cast<std::size_t>(n < 0 ? 0 : n) + 1, '\0');
    std::snprintf(out.data(), out.size(), pattern.c_str(), number);
#pragma GCC diagnostic pop
    out.resize(out.size() - 1);
    return out;
}

class output_file {
public:
    explicit output_file(const std::string& name) : name_(name), f_(std::fopen(name.c_str(), "wb")) {
        if (!f_) fail("can't create " + name);
    }
    ~output_file() {
        if (f_) std::fclose(f_);
    }
    void write(const void* data, std::size_t count) {
        // An empty plane (no visible chroma row or column) may have no data
        // pointer, which fwrite must not be given.
        if (count == 0) return;
        if (std::fwrite(data, 1, count, f_) != count) fail("can't write " + name_);
    }
    void close() {
        FILE* f = f_;
        f_ = nullptr;
        if (std::fclose(f) != 0) fail("can't write " + name_);
    }

private:
    std::string name_;
    FILE* f_;
};

void write_frame(const options& o, const picture& p, const std::string& base) {
    if (o.format == 2) {
        output_file f(base + ".ppm");
        std::string header = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
        f.write(header.data(), header.size());
        std::vector<uint8_t> rgb(static_cast<std::size_t>(p.width) * p.height * 3);
        for (std::size_t k = 0; k < p.y.size(); ++k) {
            double y = 1.164 * (p.y[k] - 16.0), cb = p.cb[k] - 128.0, cr = p.cr[k] - 128.0;
            rgb[3 * k] = to_byte(y + 1.596 * cr, 0, 255);
            rgb[3 * k + 1] = to_byte(y - 0.392 * cb - 0.813 * cr, 0, 255);
            rgb[3 * k + 2] = to_byte(y + 2.017 * cb, 0, 255);
        }
        f.write(rgb.data(), rgb.size());
        f.close();
        return;
    }
    std::vector<uint8_t> cb = subsample(p.cb, p.width, p.height, o.chroma);
    std::vector<uint8_t> cr = subsample(p.cr, p.width, p.height, o.chroma);
    if (o.format == 1) {
        output_file f(base + ".yuv");
        f.write(p.y.data(), p.y.size());
        f.write(cb.data(), cb.size());
        f.write(cr.data(), cr.size());
        f.close();
        return;
    }
    const std::vector<uint8_t>* planes[3] = {&p.y, &cb, &cr};
    const char* suffixes[3] = {".Y", ".U", ".V"};
    for (int k = 0; k < 3; ++k) {
        output_file f(base + suffixes[k]);
        f.write(planes[k]->data(), planes[k]->size());
        f.close();
    }
}

}  // namespace

int main(int argc, char** argv) {
    options o = parse_options(argc, argv);
    scene sc(o);
    for (int t = 0; t < o.frames; ++t) write_frame(o, render(sc, t), frame_name(o.pattern, o.first + t));
    return 0;
}
