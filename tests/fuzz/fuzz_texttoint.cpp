// TextToInt against a plain reference reading of the same rules.
#include "core/TextRoutines.h"

#include <QString>
#include <cstdint>
#include <cstdlib>

static int64_t reference(const QString &s)
{
    int i = 0;
    const int n = s.size();
    while (i < n && s[i] == u' ')
        ++i;
    bool neg = false;
    if (i < n && (s[i] == u'+' || s[i] == u'-'))
        neg = s[i++] == u'-';
    int base = 10;
    if (i + 1 < n && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X'))
        base = 16, i += 2;
    else if (i < n && (s[i] == u'$' || s[i] == u'x' || s[i] == u'X'))
        base = 16, ++i;
    if (i >= n)
        return 0;
    uint64_t v = 0;
    for (; i < n; ++i) {
        const char16_t c = s[i].unicode();
        int d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            return 0;
        v = v * base + d;
        if (v > 0xFFFFFFFFull)
            return 0;
    }
    if (base == 16)
        return static_cast<int32_t>(neg ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v));
    const int64_t signedValue = neg ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    if (signedValue < INT32_MIN || signedValue > INT32_MAX)
        return 0;
    return signedValue;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte picks how the rest becomes text: Latin-1 reaches the ASCII
    // cases often, UTF-16 reaches every character.
    if (size == 0)
        return 0;
    const QString text = data[0] & 1
        ? QString::fromUtf16(reinterpret_cast<const char16_t *>(data + 1), static_cast<qsizetype>((size - 1) / 2))
        : QString::fromLatin1(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));
    if (TextToInt(text) != reference(text))
        abort();
    return 0;
}
