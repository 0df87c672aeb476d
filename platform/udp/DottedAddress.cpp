#include "platform/udp/DottedAddress.h"

namespace vesk {

std::optional<quint32> parseDottedIPv4(const QString& text)
{
    quint32 address = 0;
    int parts = 0;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (parts < 4) {
        int value = 0;
        int digits = 0;
        while (i < n && text[i] >= u'0' && text[i] <= u'9') {
            if (++digits > 3)
                return std::nullopt;
            value = value * 10 + (text[i].unicode() - u'0');
            ++i;
        }
        if (digits == 0 || value > 255)
            return std::nullopt;
        address = (address << 8) | quint32(value);
        ++parts;
        if (parts < 4) {
            if (i >= n || text[i] != u'.')
                return std::nullopt;
            ++i;
        }
    }
    if (i != n)
        return std::nullopt;
    return address;
}

} // namespace vesk
