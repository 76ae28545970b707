#pragma once
// CP932 (the Windows form of Shift-JIS): the encoding of every text the
// database and the settings file hold.

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

namespace cp932 {

// ok is false when some character has no CP932 form (it is then replaced).
QByteArray Encode(const QString &text, bool *ok = nullptr);
QString Decode(const QByteArray &bytes);

// A reusable decoder for many values in a row (opening a converter is not free).
class Decoder {
public:
    Decoder() : dec_("CP932") {}
    QString operator()(const char *data, qsizetype size)
    {
        dec_.resetState();
        return dec_.decode(QByteArrayView(data, size));
    }

private:
    QStringDecoder dec_;
};

} // namespace cp932
