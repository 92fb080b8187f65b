#pragma once
// A relay board for tests: a socat pty pair whose one end stands for the
// agent's COM port and whose other end is driven by relay_board.py. Both
// processes are stopped and reaped when the object goes.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace e2e
{

class RelayBoard
{
public:
    // inputBits are added to every status byte; a mute board never answers.
    explicit RelayBoard(int inputBits = 0, bool mute = false);
    ~RelayBoard();

    // False when socat or the simulator did not come up.
    bool ok() const { return m_ok; }
    // The device the agent opens as its COM port.
    QString agentDevice() const { return m_dir.path() + "/com1"; }
    // The commands the board has seen, one a line: "S <state byte>", "R".
    QStringList commands() const;
    // Waits until the board has seen count commands.
    bool waitForCommands(int count, int timeoutMs = 5000) const;

private:
    bool start(int inputBits, bool mute);

    QTemporaryDir m_dir;
    QProcess m_socat;
    QProcess m_board;
    bool m_ok = false;
};

} // namespace e2e
