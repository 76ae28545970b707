// IsValidDateText against the calendar of QDate.
#include "core/TextRoutines.h"

#include <QDate>
#include <QString>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromLatin1(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    bool digits = text.size() == 8;
    for (QChar c : text)
        digits = digits && c >= u'0' && c <= u'9';
    bool expected = false;
    if (digits) {
        const QDate d(text.left(4).toInt(), text.mid(4, 2).toInt(), text.mid(6, 2).toInt());
        expected = text.left(4).toInt() >= 1 && d.isValid() && d >= QDate(1899, 12, 30);
    }
    if (IsValidDateText(text) != expected)
        abort();
    // The same text seen through UTF-16 must give the same answer.
    if (size >= 2) {
        const QString wide = QString::fromUtf16(reinterpret_cast<const char16_t *>(data), static_cast<qsizetype>(size / 2));
        bool wideDigits = wide.size() == 8;
        for (QChar c : wide)
            wideDigits = wideDigits && c >= u'0' && c <= u'9';
        if (!wideDigits && IsValidDateText(wide))
            abort();
    }
    return 0;
}
