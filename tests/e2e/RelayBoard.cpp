#include "RelayBoard.h"
#include "AgentProcess.h"

#include <QFileInfo>

namespace e2e
{

RelayBoard::RelayBoard(int inputBits, bool mute) : m_ok(start(inputBits, mute)) {}

RelayBoard::~RelayBoard()
{
    testsupport::StopProcess(m_board);
    testsupport::StopProcess(m_socat);
}

// Starting python on a loaded two-core machine has taken over 5 s; a generous
// bound costs nothing when the board comes up at once.
constexpr int kStartMs = 30000;

bool RelayBoard::start(int inputBits, bool mute)
{
    const QString agentEnd = agentDevice();
    const QString boardEnd = m_dir.path() + "/board";
    m_socat.start("socat", {"-d", "-d", "pty,raw,echo=0,link=" + agentEnd,
                            "pty,raw,echo=0,link=" + boardEnd});
    if (!m_socat.waitForStarted(kStartMs) ||
        !AgentProcess::waitFor(
            [&] { return QFileInfo::exists(agentEnd) && QFileInfo::exists(boardEnd); }, kStartMs))
        return false;
    m_board.start("python3",
                  {QStringLiteral(NCL_SOURCE_DIR) + "/tests/e2e/relay_board.py", boardEnd,
                   m_dir.path() + "/board.log", QString::number(inputBits), mute ? "mute" : ""});
    return m_board.waitForStarted(kStartMs) &&
           AgentProcess::waitFor(
               [&] { return m_board.canReadLine() || m_board.waitForReadyRead(50); }, kStartMs);
}

QStringList RelayBoard::commands() const
{
    return testsupport::ReadFile(m_dir.path() + "/board.log").split('\n', Qt::SkipEmptyParts);
}

bool RelayBoard::waitForCommands(int count, int timeoutMs) const
{
    return AgentProcess::waitFor([&] { return commands().size() >= count; }, timeoutMs);
}

} // namespace e2e
