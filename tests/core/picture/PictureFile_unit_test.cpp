#include "core/picture/PictureFile.h"
#include "core/picture/Stamp.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The picture as a PNG decodes to exactly the BMP's pixels, and the BMP is what it always
// was: Qt's BMP writer on the window's bitmap.
TEST(PictureFile, PngHoldsTheBmpsPixelsAndTheTypeGoesByTheExtension)
{
    QImage picture(37, 21, QImage::Format_RGB32);
    ClearCanvas(picture, 37, 21);
    for (int i = 0; i < 6; ++i)
        DrawStamp(picture, i, 3 + i, 0x102030 * (i + 1), 4 + 5 * i, 3 + 3 * i);
    picture.setPixel(36, 20, qRgb(1, 2, 3));
    QTemporaryDir dir;
    const QString bmp = dir.filePath("a.bmp"), png = dir.filePath("a.PNG");
    ASSERT_EQ(WritePictureFile(picture, bmp, PictureFileTypeOf(bmp)), QString());
    ASSERT_EQ(WritePictureFile(picture, png, PictureFileTypeOf(png)), QString());
    const QImage fromBmp(bmp, "BMP"), fromPng(png, "PNG");
    ASSERT_FALSE(fromPng.isNull());
    EXPECT_EQ(fromPng.convertToFormat(QImage::Format_RGB32), fromBmp.convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(fromPng.convertToFormat(QImage::Format_RGB32), picture);
    QFile bmpFile(bmp);
    ASSERT_TRUE(bmpFile.open(QIODevice::ReadOnly));
    QByteArray before;
    {
        QBuffer buffer(&before);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "BMP");
    }
    EXPECT_EQ(bmpFile.readAll(), before);

    const struct {
        const char *name;
        PictureFileType type;
    } names[] = {
        {"a.bmp", PictureFileType::Bmp},      {"b.BMP", PictureFileType::Bmp},  {"c.Png", PictureFileType::Png},
        {"d.bmp.png", PictureFileType::Png},  {"e", PictureFileType::Unknown}, {"f.jpg", PictureFileType::Unknown},
        {"g.png.txt", PictureFileType::Unknown}, {"dir.png/h", PictureFileType::Unknown},
        {"dir.bmp\\i", PictureFileType::Unknown}, {".png", PictureFileType::Png},
    };
    for (const auto &n : names)
        EXPECT_EQ(PictureFileTypeOf(QString::fromUtf8(n.name)), n.type) << n.name;
    // Nothing written for a type it does not know, nor into a folder that is not there.
    EXPECT_FALSE(WritePictureFile(picture, dir.filePath("j.jpg"), PictureFileType::Unknown).isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath("j.jpg")));
    EXPECT_FALSE(WritePictureFile(picture, dir.filePath("no/k.png"), PictureFileType::Png).isEmpty());
}
