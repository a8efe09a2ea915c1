// Named values of the picture coding type, picture structure and chroma
// format, as the stream syntax numbers them.
#pragma once

constexpr int I_TYPE = 1, P_TYPE = 2, B_TYPE = 3;

constexpr int TOP_FIELD = 1, BOTTOM_FIELD = 2, FRAME_PICTURE = 3;

constexpr int CHROMA420 = 1, CHROMA422 = 2, CHROMA444 = 3;

// Letters of the coding types, indexed by pict_type.
inline const char picture_type_letters[] = " IPBD";
