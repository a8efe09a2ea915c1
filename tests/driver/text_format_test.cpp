// The direct integer formatters give printf's text for every width used.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "driver/text_format.h"

namespace {

TEST(text_format, decimal_matches_printf) {
    const long long values[] = {0, 1, -1, 7, -7, 9, 10, 99, -99, 100, 999, 1000, -1000, 2047, -2048, 65535,
                                INT_MAX, INT_MIN, 2147483648LL, 4294967296LL, LLONG_MAX, LLONG_MIN};
    for (long long v : values)
        for (int width : {0, 1, 2, 3, 4, 11, 12}) {
            char expected[64], got[64];
            std::snprintf(expected, sizeof expected, "%*lld", width, v);
            *put_decimal(got, v, width) = '\0';
            EXPECT_EQ(std::string(got), std::string(expected)) << v << " width " << width;
        }
}

TEST(text_format, hex_matches_printf) {
    const unsigned values[] = {0, 1, 9, 10, 15, 16, 63, 255, 256, 4095, 0xffffffffu};
    for (unsigned v : values)
        for (int width : {1, 2, 3}) {
            char expected[64], got[64];
            std::snprintf(expected, sizeof expected, "%0*x", width, v);
            *put_hex(got, v, width) = '\0';
            EXPECT_EQ(std::string(got), std::string(expected)) << v << " width " << width;
        }
}

}  // namespace
