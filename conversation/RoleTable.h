#pragma once

#include <QString>

namespace vesk {

enum class Role { Server, Client };

// Everything that differs between the two conversation windows. A Server copy
// and a Client copy aimed at each other meet because each sends to the port the
// other listens on.
struct RoleRow {
    const char* window;
    const char* caption;
    const char* txtSend;
    const char* cmdSend;
    const char* cmdEnd;
    const char* txtReceive;
    const char* lblSend;
    const char* lblRecive;
    const char* socket;
    quint16 remotePort; // sends to
    quint16 localPort;  // receives on
};

inline constexpr RoleRow kServerRow{
    "frmVesk", "Vesk - Server -", "txtSend", "cmdSend", "cmdEnd", "txtReceive",
    "lblSend", "lblRecive", "Winsock1", 1001, 1002};

inline constexpr RoleRow kClientRow{
    "frmVeskB", "Vesk - Client -", "txtSendB", "cmdSendB", "cmdEndB", "txtReceiveB",
    "lblSendB", "lblReciveB", "Winsock1B", 1002, 1001};

constexpr const RoleRow& roleRow(Role role) noexcept
{
    return role == Role::Server ? kServerRow : kClientRow;
}

} // namespace vesk
