#pragma once
// What a timelapse is made of: the picture's stamps in N order and where each frame ends.
// A plain value, handed whole to the thread that writes the file.

#include <QSize>
#include <cstdint>
#include <vector>

struct TimelapsePlan {
    struct Stamp {
        int32_t x, y, size;
        uint32_t colorType; // 0x00BBGGRR, the tip in the high byte
        int type() const { return int(colorType >> 24); }
        int color() const { return int(colorType & 0xFFFFFFu); }
    };
    QSize size;
    std::vector<Stamp> stamps;
    // Ascending: frame i shows the stamps [0, frameEnds[i]).
    std::vector<uint32_t> frameEnds;
};
