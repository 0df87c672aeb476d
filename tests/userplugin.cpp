// A Qt plugin as any user can build one. Qt loads it from a folder the user
// names with QT_PLUGIN_PATH or -platformpluginpath, and its code runs the
// moment it is loaded, inside Vesk. It tries to bind port 80 for UDP and TCP
// and appends what happened to the file named by VESK_USERPLUGIN_REPORT.
#include <QObject>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void tryPort80(std::FILE* report, int type, const char* name)
{
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0) {
        std::fprintf(report, "%s 80 no socket: %s\n", name, std::strerror(errno));
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        std::fprintf(report, "%s 80 bound\n", name);
    else
        std::fprintf(report, "%s 80 refused: %s\n", name, std::strerror(errno));
    ::close(fd);
}

[[gnu::constructor]] void onLoad()
{
    const char* path = std::getenv("VESK_USERPLUGIN_REPORT");
    if (!path)
        return;
    std::FILE* report = std::fopen(path, "a");
    if (!report)
        return;
    std::fprintf(report, "loaded, euid %u\n", static_cast<unsigned>(::geteuid()));
    tryPort80(report, SOCK_DGRAM, "udp");
    tryPort80(report, SOCK_STREAM, "tcp");
    std::fclose(report);
}

} // namespace

// Qt reads only this metadata before loading the file: a platform theme
// factory, so asking for the theme by its key loads it.
class UserPlugin : public QObject {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformThemeFactoryInterface.5.1" FILE "userplugin.json")
};

#include "userplugin.moc"
