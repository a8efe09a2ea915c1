// A frame buffer: three plane pointers, Y, Cb, Cr.
#pragma once

#include <array>
#include <cstdint>

using frame_planes = std::array<uint8_t*, 3>;
