#pragma once
// A picture saved to a file the user names: a Windows BMP or a PNG, chosen by the name's
// extension in any letter case. The PNG holds exactly the BMP's pixels.

#include <QImage>
#include <QString>

enum class PictureFileType { Bmp, Png, Unknown };

// By the name's extension (".bmp", ".png", any case); Unknown for any other or none.
PictureFileType PictureFileTypeOf(const QString &name);
// The extension a file type adds to a name typed without one ("bmp", "png").
QString PictureFileSuffix(PictureFileType type);

// Writes the whole picture, or leaves the file as it was: empty when written, else why not.
QString WritePictureFile(const QImage &image, const QString &name, PictureFileType type);
