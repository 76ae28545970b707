#include "db/Cp932.h"

namespace cp932 {

QByteArray Encode(const QString &text, bool *ok)
{
    QStringEncoder enc("CP932");
    QByteArray bytes = enc.encode(text);
    if (ok)
        *ok = enc.isValid() && !enc.hasError();
    return bytes;
}

QString Decode(const QByteArray &bytes)
{
    QStringDecoder dec("CP932");
    return dec.decode(bytes);
}

} // namespace cp932
