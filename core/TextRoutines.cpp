#include "core/TextRoutines.h"

#include "db/Cp932.h"

#include <cstdint>

int TextToInt(const QString &text)
{
    const int len = text.size();
    int i = 0;
    while (i < len && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < len && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    bool hex = false;
    if (i < len && (text[i] == QLatin1Char('$') || text[i] == QLatin1Char('x') || text[i] == QLatin1Char('X'))) {
        hex = true;
        ++i;
    } else if (i + 1 < len && text[i] == QLatin1Char('0')
               && (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        hex = true;
        i += 2;
    }
    if (i >= len)
        return 0;
    uint64_t value = 0;
    for (; i < len; ++i) {
        const char16_t c = text[i].unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (hex && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (hex && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return 0;
        value = value * (hex ? 16 : 10) + digit;
        if (hex ? value > 0xFFFFFFFFull : value > 2147483648ull)
            return 0;
    }
    if (hex) {
        const uint32_t pattern = static_cast<uint32_t>(value);
        const uint32_t result = negative ? 0u - pattern : pattern;
        return static_cast<int32_t>(result);
    }
    if (!negative && value > 2147483647ull)
        return 0;
    return negative ? static_cast<int>(-static_cast<int64_t>(value)) : static_cast<int>(value);
}

QString TextBeforeColon(const QString &text)
{
    const int p = text.indexOf(QLatin1Char(':'));
    return p < 0 ? QString() : text.left(p);
}

QString TextAfterColon(const QString &text)
{
    const int p = text.indexOf(QLatin1Char(':'));
    return p < 0 ? QString() : text.mid(p + 1);
}

bool IsValidDateText(const QString &text)
{
    if (text.size() != 8)
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    const int y = text.left(4).toInt();
    const int m = text.mid(4, 2).toInt();
    const int d = text.mid(6, 2).toInt();
    if (y < 1 || m < 1 || m > 12 || d < 1)
        return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const int monthDays = days[m - 1] + (m == 2 && leap ? 1 : 0);
    if (d > monthDays)
        return false;
    return y > 1899 || (y == 1899 && m == 12 && d >= 30);
}

bool IsBlank(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() > 32)
            return false;
    return true;
}

bool HasQuote(const QString &text)
{
    return text.contains(QLatin1Char('\'')) || text.contains(QLatin1Char('"'));
}

QString TextValue(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("NULL") : QLatin1Char('\'') + text + QLatin1Char('\'');
}

QByteArray ToCp932(const QString &text, bool *ok)
{
    return cp932::Encode(text, ok);
}

QString FromCp932(const QByteArray &bytes)
{
    return cp932::Decode(bytes);
}

int Cp932Length(const QString &text)
{
    bool ok = false;
    const QByteArray bytes = ToCp932(text, &ok);
    return ok ? static_cast<int>(bytes.size()) : -1;
}
