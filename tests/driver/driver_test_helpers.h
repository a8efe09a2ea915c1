// Helpers shared by the driver tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "driver/encoder_state.h"
#include "driver/fatal.h"
#include "driver/parameter_file.h"
#include "test_support.h"

namespace morvane_test {

using settings = std::vector<std::pair<std::string, std::string>>;

inline param_file with(const settings& values, const std::vector<std::string>& motion = {}) {
    param_file p;
    for (const auto& [name, value] : values) p.set(name, value);
    if (!motion.empty()) p.motion(motion);
    return p;
}

struct read_outcome {
    bool fatal = false;
    std::string message;  // of the fatal error
    std::string err;      // warnings written meanwhile
};

// Reads the text as a parameter file in this process, from a fresh state.
inline read_outcome read_in_process(const std::string& text) {
    temp_dir dir;
    write_file(dir / "in.par", text);
    reset_encoder_state();
    read_outcome out;
    testing::internal::CaptureStderr();
    try {
        read_parameter_file((dir / "in.par").c_str());
    } catch (const fatal_exit& f) {
        out.fatal = true;
        out.message = f.message;
    }
    out.err = testing::internal::GetCapturedStderr();
    return out;
}

inline read_outcome read_in_process(const param_file& p) { return read_in_process(p.text()); }

// Standard error up to the first frame of the loop: what start-up wrote.
inline std::string startup_part(const std::string& err) { return err.substr(0, err.find("Encoding frame")); }

}  // namespace morvane_test
