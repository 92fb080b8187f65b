#include "RelayBoard.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <functional>

namespace e2e
{

namespace
{

bool WaitUntil(const std::function<bool()>& predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    return true;
}

} // namespace

RelayBoard::RelayBoard(int inputBits, bool mute)
{
    m_ok = start(inputBits, mute);
}

RelayBoard::~RelayBoard()
{
    testsupport::StopProcess(m_board);
    testsupport::StopProcess(m_socat);
}

bool RelayBoard::start(int inputBits, bool mute)
{
    const QString agentEnd = agentDevice();
    const QString boardEnd = m_dir.path() + "/board";
    m_socat.start("socat", {"-d", "-d", "pty,raw,echo=0,link=" + agentEnd,
                            "pty,raw,echo=0,link=" + boardEnd});
    if (!m_socat.waitForStarted(5000) ||
        !WaitUntil([&] { return QFileInfo::exists(agentEnd) && QFileInfo::exists(boardEnd); },
                   5000))
        return false;
    m_board.start("python3",
                  {QStringLiteral(NCL_SOURCE_DIR) + "/tests/e2e/relay_board.py", boardEnd,
                   m_dir.path() + "/board.log", QString::number(inputBits), mute ? "mute" : ""});
    return m_board.waitForStarted(5000) &&
           WaitUntil([&] { return m_board.canReadLine() || m_board.waitForReadyRead(50); }, 5000);
}

QStringList RelayBoard::commands() const
{
    QFile log(m_dir.path() + "/board.log");
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(log.readAll()).split('\n', Qt::SkipEmptyParts);
}

bool RelayBoard::waitForCommands(int count, int timeoutMs) const
{
    return WaitUntil([&] { return commands().size() >= count; }, timeoutMs);
}

void RelayBoard::clearCommands() const
{
    QFile::resize(m_dir.path() + "/board.log", 0);
}

} // namespace e2e
