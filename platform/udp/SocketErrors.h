#pragma once

#include <QString>

class QUdpSocket;

// The reasons a socket failure is reported with, in words a user can act on.
namespace vesk::socketerrors {

// Why `socket` could not bind `port`.
QString bindFailure(const QUdpSocket& socket, int port);

// Forgets the system's error number, so that a failure Qt detects on its own
// is not read as the leftover of an earlier call.
void clearSystemError() noexcept;

// The system's own error number for the socket call that just failed on this
// thread (errno, or the Windows socket error), read before anything else runs.
int lastSystemError() noexcept;

// Why a send on `socket` failed; `systemError` is lastSystemError() taken right
// after the failed call, which names the reason more precisely than Qt does.
QString sendFailure(const QUdpSocket& socket, int systemError);

} // namespace vesk::socketerrors
