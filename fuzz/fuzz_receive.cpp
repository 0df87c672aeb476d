// Any datagram through the receive path: decode, filter, the "0.0.0.0" rule and
// the line. Whatever arrives, the line stays one line with the partner's label.
#include "conversation/MessageRules.h"
#include "platform/udp/cp932.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "receive path: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString message = vesk::cp932::decode(QByteArrayView(data, static_cast<qsizetype>(size)));
    const auto line = vesk::receivedLine(message);

    // What the filter keeps, counted independently: every unit from U+0020 up.
    QString kept;
    for (const QChar ch : message)
        if (ch.unicode() >= 0x20)
            kept.append(ch);
    const bool suppressed = kept.contains(u"0.0.0.0");
    check(line.has_value() != suppressed, "shown exactly when the marker is absent");
    if (!line)
        return 0;

    const QStringView l(*line);
    check(l.startsWith(u"相手>> "), "starts with the partner's label and a space");
    check(l.endsWith(u"\r\n"), "ends with CR LF");
    const QStringView body = l.sliced(5, l.size() - 7);
    check(body == kept, "carries the filtered text unchanged");
    for (const QChar ch : body)
        check(ch.unicode() >= 0x20, "no control character before the final CR LF");
    return 0;
}
