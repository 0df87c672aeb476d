// Arbitrary received datagrams through the code page 932 decoder: every byte must
// be accounted for, and the decoded text must survive being sent back.
#include "platform/udp/cp932.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "cp932 decode: %s\n", what);
        std::abort();
    }
}

// Fixed by the code page, not taken from the converter under test.
bool isLead(std::uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView in(data, static_cast<qsizetype>(size));
    const QString text = vesk::cp932::decode(in);

    // A lead byte takes the next byte whatever it is but NUL; everything else
    // stands alone.
    qsizetype unit = 0;
    std::size_t i = 0;
    while (i < size) {
        check(unit < text.size(), "fewer units than characters in the input");
        const std::size_t length = isLead(data[i]) && i + 1 < size && data[i + 1] != 0 ? 2 : 1;
        const char16_t got = text[unit].unicode();
        // Each character decodes the same alone as in context.
        const QString alone = vesk::cp932::decode(in.sliced(static_cast<qsizetype>(i),
                                                             static_cast<qsizetype>(length)));
        check(alone.size() == 1 && alone[0].unicode() == got, "character depends on its neighbours");
        if (isLead(data[i]) && length == 1)
            check(got == u'\u30FB', "lead byte at the end or before NUL is not U+30FB");
        if (data[i] < 0x80)
            check(got == data[i], "ASCII byte changed");
        // Where the unit's own code is these very bytes, encoding gives them back.
        const quint16 code = vesk::cp932::codeOf(got);
        const quint16 source = length == 2 ? static_cast<quint16>(data[i] << 8 | data[i + 1]) : data[i];
        if (code == source) {
            const QByteArray again = vesk::cp932::encode(QStringView(&got, 1));
            check(again == in.sliced(static_cast<qsizetype>(i), static_cast<qsizetype>(length)),
                  "round-trip character re-encodes differently");
        }
        i += length;
        ++unit;
    }
    check(unit == text.size(), "more units than characters in the input");

    // Whatever was received, sending the text back must not change it: every
    // decoded unit, duplicates and U+30FB included, has a code that decodes to it.
    const QByteArray sent = vesk::cp932::encode(text);
    check(sent.size() >= text.size() && sent.size() <= 2 * text.size(), "encoded length out of range");
    check(vesk::cp932::decode(sent) == text, "decoded text does not survive re-encoding");
    return 0;
}
