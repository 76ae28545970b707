#pragma once
// Reads an animated WebP file back, frame by frame, with libwebp's demuxer: what a viewer
// shows, to compare with the pictures it was made of.

#include <QFile>
#include <QImage>
#include <QString>
#include <vector>
#include <webp/demux.h>

struct TimelapseFrame {
    QImage image;    // RGB32
    int durationMs;  // how long it shows
};

// Empty when the file cannot be read or decoded.
inline std::vector<TimelapseFrame> ReadTimelapse(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    WebPData data{reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return {};
    options.color_mode = MODE_BGRA;
    WebPAnimDecoder *dec = WebPAnimDecoderNew(&data, &options);
    if (!dec)
        return {};
    WebPAnimInfo info;
    WebPAnimDecoderGetInfo(dec, &info);
    std::vector<TimelapseFrame> frames;
    int previous = 0;
    while (WebPAnimDecoderHasMoreFrames(dec)) {
        uint8_t *pixels = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(dec, &pixels, &timestamp)) {
            frames.clear();
            break;
        }
        // BGRA bytes are ARGB32 words on this machine; opaque, so RGB32.
        const QImage frame(pixels, int(info.canvas_width), int(info.canvas_height), int(info.canvas_width) * 4,
                           QImage::Format_ARGB32);
        frames.push_back({frame.convertToFormat(QImage::Format_RGB32), timestamp - previous});
        previous = timestamp;
    }
    WebPAnimDecoderDelete(dec);
    return frames;
}
