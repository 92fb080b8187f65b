#include "service/RemoteActions.h"

#include "logging/DebugLog.h"
#include "platform/PowerControl.h"
#include "platform/PrivateFile.h"
#include "platform/ProcessStart.h"
#include "runtime/CurrentError.h"
#include "runtime/Numbers.h"
#include "service/ConsoleAccess.h"
#include "service/WakeOnLan.h"
#include "settings/AppState.h"

#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace service
{

namespace
{

const QString kModule = QStringLiteral("frmMainEntSrvc");
constexpr qint64 kBlockSize = 4096;
constexpr qint16 kCommandSite = 41;
constexpr qint16 kReadSite = 42;
// The reason handed with an exit request: all bits set.
constexpr qint32 kExitReason = -1;

void TraceStepError(const char* step, int error)
{
    if (logging::DebugOn && error != 0)
        logging::WriteDebug(QLatin1String(step) + QString::number(error));
}

void ReportReadError(int errnoValue, const QString& name)
{
    rt::RaiseErrno(errnoValue, name);
    logging::ReportError(logging::Information, QStringLiteral("ReadInData error"), rt::Err().number,
                         kModule, QStringLiteral("ReadInData"), kReadSite);
}

void ReportCommandError(const QString& message)
{
    logging::ReportError(logging::Information, message, rt::Err().number, kModule,
                         QStringLiteral("do_command"), kCommandSite);
}

} // namespace

quint32 ExitFlagsFor(const QString& sData)
{
    quint32 flags = platform::EWX_LOGOFF;
    // The first piece is the end of the word "Windows".
    const QStringList words = sData.mid(7).split(QLatin1Char(' '));
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString& word = words.at(i);
        if (word == QLatin1String("Shutdown"))
            flags |= platform::EWX_SHUTDOWN;
        else if (word == QLatin1String("Reboot"))
            flags |= platform::EWX_REBOOT;
        else if (word == QLatin1String("(forced)"))
            flags |= platform::EWX_FORCE;
        else if (word == QLatin1String("Power-off"))
            flags |= platform::EWX_POWEROFF;
    }
    return flags;
}

QByteArray ReadInData(const QString& name, qint32 n, bool& endOfFile)
{
    endOfFile = false;
    if (name.isEmpty())
        return {};
    const int fd = platform::OpenRegularFileForReading(name);
    if (fd < 0) {
        // Anything but a regular file is answered like a missing one.
        ReportReadError(errno == ELOOP || errno == EINVAL ? ENOENT : errno, name);
        return {};
    }
    struct stat st {
    };
    ::fstat(fd, &st);
    const qint64 size = st.st_size;
    // A block past the end (or before the start) is the file's last piece.
    const qint64 last = size > 0 ? (size - 1) / kBlockSize : 0;
    const qint64 block = (n < 0 || n > last) ? last : n;
    QByteArray piece(kBlockSize, Qt::Uninitialized);
    const ssize_t got = ::pread(fd, piece.data(), size_t(kBlockSize), block * kBlockSize);
    ::close(fd);
    if (got < 0) {
        ReportReadError(errno, name);
        return {};
    }
    piece.truncate(got);
    endOfFile = block * kBlockSize + got >= size;
    return piece;
}

QString FetchablePath(const QString& name, const QString& root)
{
    if (root.isEmpty() || name.isEmpty())
        return name;
    const QString base = QFileInfo(root).canonicalFilePath();
    const QString resolved = QFileInfo(name).canonicalFilePath();
    if (base.isEmpty() || resolved.isEmpty())
        return {};
    const QString prefix = base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
    return resolved.startsWith(prefix) ? resolved : QString();
}

bool Exit_Windows(quint32 flags)
{
    if (settings::App().PlatformFamily == QLatin1String("Windows NT")) {
        NCL_TRACE(QStringLiteral("Running Windows NT, Windows 2000 or Windows XP"));
        const platform::ShutdownPrivilegeSteps steps = platform::EnableShutdownPrivilege();
        TraceStepError("GetCurrentProcess error==", steps.processError);
        TraceStepError("OpenProcessToken error==", steps.tokenError);
        TraceStepError("LookupPrivilegeValue error==", steps.lookupError);
        TraceStepError("AdjustTokenPrivileges error==", steps.adjustError);
        NCL_TRACE(QStringLiteral("Post-AdjustToken GetLastError ") +
                  QString::number(steps.lastError));
    } else {
        NCL_TRACE(QStringLiteral("Running Windows 95/98/Me"));
    }
    int error = 0;
    if (!platform::ExitWindowsEx(flags, kExitReason, error)) {
        NCL_TRACE(QStringLiteral("Exit_Windows Error: ") + QString::number(error));
        return false;
    }
    return true;
}

RemoteActions::RemoteActions(WakeOnLan& wakeOnLan, SendData send)
    : m_wakeOnLan(wakeOnLan), m_send(std::move(send))
{
}

QString RemoteActions::do_command(const QString& sData, qint16 Index, QString& sLog)
{
    sLog.clear();
    if (sData.mid(2, 7) == QLatin1String("Windows"))
        return ExitCommand(sData, sLog);
    if (sData.mid(2, 3) == QLatin1String("WOL"))
        return WolCommand(sData, sLog);
    OtherCommand(sData.mid(2), Index, sLog);
    return {};
}

QString RemoteActions::ExitCommand(const QString& sData, QString& sLog)
{
    NCL_TRACE(QStringLiteral("Remote SHUTDOWN Command:_") + sData + QStringLiteral("_"));
    const quint32 flags = ExitFlagsFor(sData);
    sLog = sData.mid(2);
    NCL_TRACE(QStringLiteral("Exit_Windows, Flags: ") + QString::number(flags));
    Exit_Windows(flags);
    return {};
}

QString RemoteActions::WolCommand(const QString& sData, QString& sLog)
{
    NCL_TRACE(QStringLiteral("WOL Command:_") + sData + QStringLiteral("_"));
    const QStringList pieces = sData.mid(3).split(QLatin1Char('-'));
    if (pieces.size() < 9) {
        NCL_TRACE(QStringLiteral("Too few ARGS for WOL: ") + QString::number(pieces.size() - 1));
        return {};
    }
    const QString mac = pieces.mid(3, 6).join(QLatin1Char('-'));
    return m_wakeOnLan.do_WOL(pieces.at(1), pieces.at(2), mac, sLog);
}

void RemoteActions::OtherCommand(const QString& command, qint16 index, QString& sLog)
{
    NCL_TRACE(QStringLiteral("Remote Command:_") + command + QStringLiteral("_"));
    if (!command.startsWith(QLatin1String("ncl"))) {
        sLog = QStringLiteral("Run: ") + command;
        if (m_access && !m_access->RemoteRun()) {
            NCL_TRACE(QStringLiteral("Remote run is off (RemoteRun): not started: ") + command);
            return;
        }
        int error = 0;
        if (!platform::Shell(command, error)) {
            rt::RaiseErrno(error);
            ReportCommandError(QStringLiteral("Could not run: ") + command);
        }
        return;
    }
    if (command.mid(4, 7) != QLatin1String("getfile")) {
        NCL_TRACE(QStringLiteral("Unknown NCL command:_") + command.mid(4) + QStringLiteral("_"));
        return;
    }
    FileCommand(command, index);
}

void RemoteActions::FileCommand(const QString& command, qint16 index)
{
    qint32 block = 0;
    QString name;
    if (command.mid(11, 1) == QLatin1String(".")) {
        if (!rt::ToInt32(rt::Val(command.mid(12)), block)) {
            rt::RaiseError(6, QStringLiteral("Overflow"));
            ReportCommandError(QStringLiteral("Bad block number: ") + command.mid(12));
            return;
        }
    } else {
        const QStringList words = command.split(QLatin1Char(' '));
        if (words.size() > 1 && words.at(1).size() > 1)
            name = words.at(1);
    }
    FileTransfer& transfer = TransferOf(index);
    if (transfer.bFileDone) {
        NCL_TRACE(QStringLiteral("Done ncl_getfile"));
        transfer.bFileDone = false;
        return;
    }
    SendFileBlock(index, name, block);
}

RemoteActions::FileTransfer& RemoteActions::TransferOf(qint16 index)
{
    return m_transfers[m_peerOf ? m_peerOf(index) : QString()];
}

void RemoteActions::SendFileBlock(qint16 index, const QString& name, qint32 block)
{
    NCL_TRACE(QStringLiteral("Getting file:_") + name + QStringLiteral("_"));
    FileTransfer& transfer = TransferOf(index);
    if (block == 0)
        transfer.sFileName = name;
    QString path = transfer.sFileName;
    if (m_access && !path.isEmpty()) {
        path = FetchablePath(path, m_access->FileFetchRoot());
        if (path.isEmpty()) {
            NCL_TRACE(QStringLiteral("Outside FileFetchRoot: ") + transfer.sFileName);
            ReportReadError(ENOENT, transfer.sFileName);
            transfer.bFileDone = false;
            return;
        }
    }
    bool endOfFile = false;
    const QByteArray data = ReadInData(path, block, endOfFile);
    if (!data.isEmpty())
        m_send(index, data);
    transfer.bFileDone = endOfFile;
}

} // namespace service
