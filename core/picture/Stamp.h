#pragma once
// The pen tip stamps, drawn straight into a bitmap. Boxes exclude their right and
// bottom edges and lines do not paint their end point, as the stored pictures
// expect; Qt's own primitives do not follow those rules.

#include <QImage>
#include <cstdint>

// 0x00BBGGRR, red in the lowest byte, as stored in PCOL.
QRgb PenColorToRgb(int color);
int RgbToPenColor(QRgb rgb);

// One stamp of pen tip `type` (0..5) and `size` at (x, y). Size 1 sets one pixel
// whatever the type; a size below 1 or an unknown type draws nothing. Everything
// outside the bitmap is clipped.
void DrawStamp(QImage &image, int type, int size, int color, int x, int y);
// The same stamp, of which only the part inside `clip` is drawn: pixel for pixel what the
// whole stamp draws there.
void DrawStamp(QImage &image, const QRect &clip, int type, int size, int color, int x, int y);
// The pixels a stamp may paint, as [x0, x1] x [y0, y1] (64-bit: any row's values fit);
// empty (x0 > x1) when it paints nothing.
struct StampBox {
    int64_t x0 = 0, y0 = 0, x1 = -1, y1 = -1;
};
StampBox StampBounds(int type, int size, int x, int y);

// Paints (0,0)-(width,height) white; the area outside the image is clipped.
void ClearCanvas(QImage &canvas, int width, int height);
