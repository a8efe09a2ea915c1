// Integers as printf writes them, without its format parser: for the trace
// and statistics text written hundreds of thousands of times per second.
#pragma once

#include <cstdint>

// "%d", or "%<width>d": right-aligned with spaces in width characters.
inline char* put_decimal(char* p, int64_t v, int width = 0) {
    char digits[24];
    int n = 0;
    uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    do {
        digits[n++] = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m);
    for (int pad = width - n - (v < 0 ? 1 : 0); pad > 0; --pad) *p++ = ' ';
    if (v < 0) *p++ = '-';
    while (n) *p++ = digits[--n];
    return p;
}

// "%0<width>x".
inline char* put_hex(char* p, unsigned v, int width) {
    char digits[8];
    int n = 0;
    do {
        digits[n++] = "0123456789abcdef"[v & 15];
        v >>= 4;
    } while (v);
    for (int pad = width - n; pad > 0; --pad) *p++ = '0';
    while (n) *p++ = digits[--n];
    return p;
}
