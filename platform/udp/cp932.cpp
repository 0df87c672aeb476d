#include "platform/udp/cp932.h"

#include <cstdint>

namespace vesk::cp932::tables {
extern const std::uint16_t encode[65536]; // code per UTF-16 unit, '?' where none
extern const std::uint16_t single[256];   // unit per byte, kLeadByte for lead bytes
extern const std::uint16_t pair[128 * 256]; // unit per (lead - 0x80, trail), U+30FB where none
} // namespace vesk::cp932::tables

namespace vesk::cp932 {

namespace {
constexpr std::uint16_t kLeadByte = 0xFFFF; // as cp932gen writes it
constexpr char16_t kUnmappedBytes = u'\u30FB';
} // namespace

quint16 codeOf(char16_t unit) noexcept
{
    return tables::encode[unit];
}

QByteArray encode(QStringView text)
{
    QByteArray out(text.size() * 2, Qt::Uninitialized);
    char* p = out.data();
    for (const QChar ch : text) {
        const std::uint16_t code = tables::encode[ch.unicode()];
        if (code > 0xFF)
            *p++ = static_cast<char>(code >> 8);
        *p++ = static_cast<char>(code & 0xFF);
    }
    out.truncate(p - out.constData());
    return out;
}

QString decode(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* q = out.data();
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p != end) {
        const std::uint8_t b = *p++;
        std::uint16_t unit = tables::single[b];
        if (unit == kLeadByte) {
            // A lead byte takes the next byte with it, whatever that is, except
            // a NUL: the system leaves that to stand as a character of its own.
            unit = p == end || *p == 0 ? kUnmappedBytes : tables::pair[(b - 0x80) * 256 + *p++];
        }
        *q++ = QChar(unit);
    }
    out.truncate(q - out.constData());
    return out;
}

} // namespace vesk::cp932
