#pragma once

#include <QString>

#include <optional>

namespace vesk {

// Only a dotted IPv4 address is a destination: four parts of 1-3 ASCII digits,
// each 0-255, read as decimal even with leading zeros. Everything else that
// QHostAddress would also take (names, "127.1", hex, octal, IPv6) is refused.
// Gives the address in host byte order.
std::optional<quint32> parseDottedIPv4(const QString& text);

} // namespace vesk
