#include "core/picture/PictureFile.h"

#include <QImageWriter>
#include <QSaveFile>

PictureFileType PictureFileTypeOf(const QString &name)
{
    const int slash = qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString ext = dot > slash ? name.mid(dot).toUpper() : QString();
    if (ext == QLatin1String(".BMP"))
        return PictureFileType::Bmp;
    if (ext == QLatin1String(".PNG"))
        return PictureFileType::Png;
    return PictureFileType::Unknown;
}

QString PictureFileSuffix(PictureFileType type)
{
    switch (type) {
    case PictureFileType::Bmp:
        return QStringLiteral("bmp");
    case PictureFileType::Png:
        return QStringLiteral("png");
    case PictureFileType::Unknown:
        break;
    }
    return QString();
}

QString WritePictureFile(const QImage &image, const QString &name, PictureFileType type)
{
    if (type == PictureFileType::Unknown || image.isNull())
        return QStringLiteral("unknown file type");
    // A file that cannot be written whole is not touched.
    QSaveFile file(name);
    file.setDirectWriteFallback(true); // a folder where only the file may be written
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QImageWriter writer(&file, type == PictureFileType::Bmp ? "BMP" : "PNG");
    if (!writer.write(image))
        return writer.errorString();
    if (!file.commit())
        return file.errorString();
    return QString();
}
