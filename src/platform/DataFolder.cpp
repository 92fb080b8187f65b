#include "platform/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

QString DataFolder()
{
    const QString home = qEnvironmentVariable("NCLMOD_HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(QDir(home).absolutePath());
    if (geteuid() == 0)
        return QStringLiteral("/var/lib/nclmod");
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(state + QStringLiteral("/nclmod"));
}

bool EnsureDataFolder(QString* error)
{
    const QString folder = DataFolder();
    if (QFileInfo(folder).isDir())
        return true;
    // Made for the agent's user alone, whatever the umask of the caller.
    const QString parent = QFileInfo(folder).absolutePath();
    if (QDir().mkpath(parent) &&
        (::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST))
        return true;
    if (error)
        *error = QStringLiteral("cannot create the data folder ") + folder;
    return false;
}

QString FolderProblem(const QString& folder)
{
    struct stat st {
    };
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return {};
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return QStringLiteral("refusing to run: the data folder %1 is owned by uid %2, not by this "
                              "agent's user (uid %3)")
            .arg(folder)
            .arg(st.st_uid)
            .arg(::geteuid());
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("refusing to run: the data folder %1 is writable by group or others "
                              "(mode %2); make it private with: chmod 700 %1")
            .arg(folder)
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
}

QString DataPath(const QString& fileName)
{
    return DataFolder() + QLatin1Char('/') + fileName;
}

void TellOnStandardError(const QString& text)
{
    static QSet<QString> told;
    if (told.contains(text))
        return;
    told.insert(text);
    const QString app = QCoreApplication::instance() ? QCoreApplication::applicationName()
                                                     : QStringLiteral("NCLmod");
    std::fprintf(stderr, "%s: %s\n", qPrintable(app), qPrintable(text));
    std::fflush(stderr);
}

} // namespace platform
