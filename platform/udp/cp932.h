#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Code page 932 (Windows Shift-JIS) exactly as the Windows system converts it,
// best-fit mappings included, built from the vendor's published table.
namespace vesk::cp932 {

// Code unit by code unit; a unit with no mapping (a lone surrogate half among
// them) becomes '?'.
QByteArray encode(QStringView text);

// Never drops a byte: a lead byte and the byte after it form one pair; a pair
// with no mapping, a lead byte at the very end, or one followed by NUL becomes
// U+30FB (the NUL then stands on its own as U+0000).
QString decode(QByteArrayView bytes);

// The unit's code in the code page: its byte for a single-byte character,
// lead * 256 + trail for a double-byte one, 0x3F ('?') where it has none.
quint16 codeOf(char16_t unit) noexcept;

} // namespace vesk::cp932
