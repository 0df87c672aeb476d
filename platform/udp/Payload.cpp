#include "platform/udp/Payload.h"

#include "platform/udp/cp932.h"

namespace vesk::payload {

namespace {

char16_t codePageForm(char16_t unit) noexcept
{
    switch (unit) {
    case u'\u301C': return u'\uFF5E'; // wave dash → full-width tilde
    case u'\u2016': return u'\u2225'; // double vertical line → parallel to
    case u'\u2212': return u'\uFF0D'; // minus sign → full-width hyphen-minus
    case u'\u2014': return u'\u2015'; // em dash → horizontal bar
    default: return unit;
    }
}

} // namespace

QByteArray fromText(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (codePageForm(text[i].unicode()) != text[i].unicode()) {
            QString mapped = text.toString();
            for (QChar& ch : mapped)
                ch = QChar(codePageForm(ch.unicode()));
            return cp932::encode(mapped);
        }
    }
    return cp932::encode(text); // the usual case: nothing to map, no copy
}

QString toText(QByteArrayView bytes)
{
    return cp932::decode(bytes);
}

QString asDelivered(QStringView text)
{
    return toText(fromText(text));
}

} // namespace vesk::payload
