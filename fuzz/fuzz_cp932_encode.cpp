// Arbitrary UTF-16 text (lone surrogates included) through the code page 932
// encoder: it must work unit by unit and never merge units on the way back.
#include "platform/udp/cp932.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "cp932 encode: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QString text(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, size / 2 * 2);
    const qsizetype n = text.size();

    const QByteArray bytes = vesk::cp932::encode(text);
    check(bytes.size() >= n && bytes.size() <= 2 * n, "encoded length out of range");

    // The text's bytes are its units' bytes, one after another.
    QByteArray joined;
    QString expected;
    for (const QChar ch : text) {
        const char16_t unit = ch.unicode();
        const QByteArray one = vesk::cp932::encode(QStringView(&unit, 1));
        const quint16 code = vesk::cp932::codeOf(unit);
        check(one.size() == (code > 0xFF ? 2 : 1), "codeOf and encode disagree on length");
        check(static_cast<std::uint8_t>(one.back()) == (code & 0xFF), "codeOf and encode disagree");
        const QString back = vesk::cp932::decode(one);
        check(back.size() == 1, "one unit's bytes do not decode to one unit");
        if (code == 0x3F)
            check(back[0] == u'?', "unmapped unit is not '?'");
        joined += one;
        expected += back;
    }
    check(bytes == joined, "encoding is not unit by unit");

    // Each unit comes back as what it alone comes back as: itself when it round-trips.
    const QString decoded = vesk::cp932::decode(bytes);
    check(decoded.size() == n, "units merged or split on the way back");
    check(decoded == expected, "decoded text differs from the per-unit results");
    return 0;
}
