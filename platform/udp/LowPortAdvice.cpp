// Why a port below 1024 was refused on Linux, and what the user can do.
#include "platform/udp/LowPortAdvice.h"

#include <QCoreApplication>
#include <QFile>

#ifdef Q_OS_LINUX
#include <grp.h>
#include <link.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>
#endif

namespace vesk::socketerrors {

namespace {

constexpr char AuthbindHelper[] = "/usr/lib/authbind/helper";

} // namespace

#ifdef Q_OS_LINUX
namespace {

QString programPath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QStringLiteral("<このプログラムのパス>");
}

// authbind preloads its library and then takes it out of LD_PRELOAD, so that
// programs started from here do not inherit it; being loaded is what counts.
bool authbindLoaded()
{
    return dl_iterate_phdr(
               [](dl_phdr_info* info, size_t, void*) {
                   return info->dlpi_name && std::strstr(info->dlpi_name, "/libauthbind.") ? 1 : 0;
               },
               nullptr)
        != 0;
}

bool processHoldsGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    groups.resize(static_cast<std::size_t>(std::max(got, 0)));
    return std::ranges::find(groups, gid) != groups.end();
}

}  // namespace

LowPortFacts readLowPortFacts(int port)
{
    LowPortFacts facts;
    facts.program = programPath();
    facts.throughAuthbind = authbindLoaded();
    facts.noNewPrivileges = prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1;
    struct statvfs mount {};
    facts.helperOnNoSuid = statvfs(AuthbindHelper, &mount) == 0 && (mount.f_flag & ST_NOSUID) != 0;

    gid_t primary = gid_t(-1);
    QByteArray name;
    if (const passwd* user = getpwuid(getuid())) {
        primary = user->pw_gid;
        name = user->pw_name;
        facts.user = QString::fromLocal8Bit(name);
    }

    struct stat grant {};
    if (stat(QFile::encodeName(authbindGrantFile(port)).constData(), &grant) != 0) {
        facts.grantExists = errno != ENOENT;
        return facts;
    }
    facts.grantExists = true;
    // Only a file the group may use and others may not says who to join.
    if ((grant.st_mode & S_IXGRP) == 0 || (grant.st_mode & S_IXOTH) != 0)
        return facts;
    const group* owner = getgrgid(grant.st_gid);
    if (!owner)
        return facts;
    facts.grantGroup = QString::fromLocal8Bit(owner->gr_name);
    facts.holdsGroup = processHoldsGroup(grant.st_gid);
    facts.listedInGroup = primary == grant.st_gid;
    for (char** member = owner->gr_mem; member && *member && !facts.listedInGroup; ++member)
        facts.listedInGroup = !name.isEmpty() && name == *member;
    return facts;
}
#endif

QString authbindGrantFile(int port)
{
    return QStringLiteral("/etc/authbind/byport/%1%2")
        .arg(port >= 512 ? QStringLiteral("!") : QString(), QString::number(port));
}

QString lowPortAdvice(int port, const LowPortFacts& facts)
{
    const QString number = QString::number(port);
    const QString file = authbindGrantFile(port);
    if (!facts.throughAuthbind)
        return QStringLiteral("Linux では 1024 より小さい番号のポートは特権のあるプログラムしか開けません。"
                              "ポート %2 を使う許可は、管理者がファイル %3 で与えます。"
                              "許可があれば、次のように authbind を通して起動してください: authbind %1")
            .arg(facts.program, number, file);
    // The helper is set-uid; where that gains nothing, the grant is not the cause.
    if (facts.noNewPrivileges)
        return QStringLiteral("このプログラムは新しい特権を得られない設定 (no_new_privs) の下で動いているため、"
                              "authbind の補助プログラムがポート %1 を開けません。コンテナーやサンドボックス、"
                              "サービスの NoNewPrivileges の設定を確かめてください。")
            .arg(number);
    if (facts.helperOnNoSuid)
        return QStringLiteral("authbind の補助プログラム %1 が nosuid でマウントされた場所にあるため、"
                              "特権を得られずポート %2 を開けません。管理者にマウントの設定を確かめてもらってください。")
            .arg(QString::fromLatin1(AuthbindHelper), number);
    if (!facts.grantExists)
        return QStringLiteral("ポート %1 を使う許可のファイル %2 がありません。管理者がこのポートを許可していません。")
            .arg(number, file);
    const QString user = facts.user.isEmpty() ? QStringLiteral("ユーザー名") : facts.user;
    if (!facts.grantGroup.isEmpty() && !facts.holdsGroup && facts.listedInGroup)
        return QStringLiteral("%1 さんはグループ「%2」に加わっていますが、今のログインはその前に始まったので、"
                              "まだその権限がありません。ログアウトしてログインし直してください。")
            .arg(user, facts.grantGroup);
    if (!facts.grantGroup.isEmpty() && !facts.holdsGroup)
        return QStringLiteral("ポート %1 は、グループ「%2」のメンバーだけが開けます (%3)。"
                              "次のコマンドで管理者がグループに加えたあと、ログインし直してください: "
                              "sudo adduser %4 %2")
            .arg(number, facts.grantGroup, file, user);
    return QStringLiteral("ファイル %1 は、ポート %2 をあなたに許可していません。管理者に確かめてください。")
        .arg(file, number);
}

} // namespace vesk::socketerrors
