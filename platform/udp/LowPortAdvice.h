#pragma once

#include <QString>

namespace vesk::socketerrors {

// What decides, on Linux, why a port below 1024 was refused: the program holds
// no privilege and binds such a port only through authbind's set-uid helper,
// which allows it when the port's file under /etc/authbind/byport is
// executable for the user.
struct LowPortFacts {
    bool throughAuthbind = false; // authbind's library is loaded in this process
    bool noNewPrivileges = false; // set-uid programs gain nothing here
    bool helperOnNoSuid = false;  // authbind's helper sits on a nosuid mount
    bool grantExists = false;     // the port's file is there
    QString grantGroup;           // its group, when only that group may use it
    bool holdsGroup = false;      // this process has grantGroup now
    bool listedInGroup = false;   // the group database lists the user in it
    QString user;
    QString program;
};

// The file that grants `port` to authbind's users ("!" names ports 512 to 1023).
QString authbindGrantFile(int port);

// What to tell the user who could not bind `port` (below 1024) on Linux.
QString lowPortAdvice(int port, const LowPortFacts& facts);

#ifdef Q_OS_LINUX
// The facts above as this process finds them for `port`.
LowPortFacts readLowPortFacts(int port);
#endif

} // namespace vesk::socketerrors
