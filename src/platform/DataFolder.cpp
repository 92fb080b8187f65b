#include "platform/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <cstdio>
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
    if (QDir().mkpath(folder))
        return true;
    if (error)
        *error = QStringLiteral("cannot create the data folder ") + folder;
    return false;
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
