#include "host/ProgramInfo.h"

#include "platform/DataFolder.h"
#include "platform/SocketControl.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <QFileInfo>
#include <QHostAddress>

#include <cstdio>

namespace host
{

namespace
{

constexpr int kExitAnswered = 0;
constexpr int kExitUnknownOption = 2;

// The data folder is only named here, never made: --help must leave no trace.
QString UsageText(const QString& program)
{
    return QStringLiteral(
               "Usage: %1 [once] [debug] [screen] [removereg] [background]\n"
               "       %1 --help | -h | --version\n"
               "\n"
               "Without words the agent starts: as the service \"Nightcall\" when the service\n"
               "manager starts it, else in the foreground (with its window where there is a\n"
               "display). Ctrl-C or SIGTERM ends it cleanly.\n"
               "\n"
               "Words (case-sensitive, at most four):\n"
               "  once        one manual time check, then exit\n"
               "  debug       trace into DebugFile.txt in the data folder\n"
               "  screen      trace on, no trace file\n"
               "  removereg   remove the start-up entry and the service registration, then exit\n"
               "  background  accepted, changes nothing\n"
               "\n"
               "Environment:\n"
               "  NCLMOD_HOME               the data folder (registry.db, logs, REVavidod.ini)\n"
               "  NCLMOD_SIMCLOCK=FILE      run on a simulated clock: the host clock is never set\n"
               "  NCLMOD_FORBID_REAL_CLOCK  when set, every setting of the host clock is refused\n"
               "  NCLMOD_POWER=record:FILE  record power actions in FILE instead of doing them\n"
               "  NCLMOD_BIND_ADDRESS       listen on this one address instead of all\n"
               "  NCLMOD_MODULE_TYPE        M (takes console commands) or E (serves time)\n"
               "  NCLMOD_COM<n>             the device of serial port n (default /dev/ttyS<n-1>)\n"
               "  NCLMOD_WOL_PORT           the UDP port of Wake-on-LAN packets (default 9)\n"
               "  NCLMOD_PRINTER=pdf:FILE   print the sync report into a PDF file\n"
               "\n"
               "Data folder: %2\n"
               "  ($NCLMOD_HOME when set; else /var/lib/nclmod for root; else\n"
               "  $XDG_STATE_HOME/nclmod, that is ~/.local/state/nclmod)\n"
               "Settings: nclreg query \"HKU\\.DEFAULT\\Software\\VB and VBA Program "
               "Settings\\NCLmod\\Options\"\n")
        .arg(program, platform::DataFolder());
}

bool IsRoleServingTime(const QString& moduleType)
{
    return moduleType != settings::ModuleType::ServiceModule;
}

} // namespace

QString VersionText(const QString& programName)
{
    return programName + QLatin1Char(' ') +
           QStringLiteral("%1.%2.%3")
               .arg(NCL_VERSION_MAJOR)
               .arg(NCL_VERSION_MINOR)
               .arg(NCL_VERSION_PATCH);
}

int AnswerInformationOptions(const QStringList& arguments, const QString& executableName)
{
    const QString program = QFileInfo(executableName).fileName();
    for (const QString& word : arguments) {
        if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
            std::fputs(qPrintable(UsageText(program)), stdout);
            return kExitAnswered;
        }
        if (word == QLatin1String("--version")) {
            std::printf("%s\n", qPrintable(VersionText(program)));
            return kExitAnswered;
        }
    }
    for (const QString& word : arguments) {
        if (word.startsWith(QLatin1Char('-'))) {
            std::fprintf(stderr, "%s: unknown option %s (see %s --help)\n", qPrintable(program),
                         qPrintable(word), qPrintable(program));
            return kExitUnknownOption;
        }
    }
    return -1;
}

QString StartLine()
{
    const settings::COptions& options = settings::Options();
    const QString moduleType = settings::App().ModuleType;
    const bool udp = settings::ClientFormat::UsesUdp(options.ClientFormat());
    const QString role = IsRoleServingTime(moduleType)
                             ? QStringLiteral("time-server role (serves time to clients)")
                             : QStringLiteral("module role (takes console commands)");
    const QString address = platform::ListenAddress() == QHostAddress(QHostAddress::AnyIPv4)
                                ? QStringLiteral("all addresses")
                                : platform::ListenAddress().toString();
    const QString simulated = qEnvironmentVariable("NCLMOD_SIMCLOCK");
    const QString clock =
        simulated.isEmpty()
            ? QStringLiteral("real clock (NCLMOD_SIMCLOCK=FILE runs on a simulated one)")
            : QStringLiteral("simulated clock (") + simulated + QLatin1Char(')');
    return QStringLiteral("%1: %2, %3 port %4 on %5, data folder %6, %7")
        .arg(VersionText(settings::App().AppTitle), role,
             udp ? QStringLiteral("UDP") : QStringLiteral("TCP"))
        .arg(options.TCPPort())
        .arg(address, platform::DataFolder(), clock);
}

} // namespace host
