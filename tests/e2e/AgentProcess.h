#pragma once
// Starts the real executables of the build for end-to-end tests: each agent
// gets its own data folder, a simulated clock and a recording power backend,
// and is stopped and reaped when the object goes.

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <functional>

namespace e2e
{

// A TCP and UDP port on 127.0.0.1 that nobody uses, below 32768 (TCPPort is
// 16-bit). Each test process starts at its own place, so parallel runs rarely meet.
quint16 FreePort();
QString Executable(const QString& name);
// Resident memory of a process in kB, -1 when it cannot be read.
long RssKb(qint64 pid);

class AgentProcess
{
public:
    AgentProcess();
    ~AgentProcess();

    QString home() const { return m_home.path(); }
    QString file(const QString& name) const { return m_home.path() + "/" + name; }
    QProcessEnvironment& environment() { return m_environment; }
    // A command that runs the agent, e.g. setpriv with another user; empty: none.
    QStringList& wrapper() { return m_wrapper; }
    void writeFile(const QString& name, const QByteArray& content) const
    {
        testsupport::WriteFile(file(name), content);
    }
    QString readFile(const QString& name) const { return testsupport::ReadFile(file(name)); }

    // Starts NCLmod (or a link to it with another name, e.g. NCLsrvc).
    bool start(const QStringList& arguments = {}, const QString& programName = "NCLmod");
    // Polls until the predicate holds or the time is up, keeping events flowing.
    // (Inline: the relay board of the unit tests uses it without this library.)
    static bool waitFor(const std::function<bool()>& predicate, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!predicate()) {
            if (deadline.hasExpired())
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(20);
        }
        return true;
    }
    bool waitForTrace(const QString& text, int timeoutMs = 10000) const;
    // SIGTERM, then waits for the end; returns the exit code (-1 on a crash or time-out).
    int terminate(int timeoutMs = 10000);
    // Waits for an end the agent reaches by itself.
    int waitForExit(int timeoutMs = 10000);
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    QString standardError()
    {
        return m_stderr += QString::fromLocal8Bit(m_process.readAllStandardError());
    }
    QString standardOutput()
    {
        return m_stdout += QString::fromLocal8Bit(m_process.readAllStandardOutput());
    }
    // Waits until the agent's standard output holds the text.
    bool printed(const QString& text, int timeoutMs = 3000)
    {
        return waitFor([&] { return standardOutput().contains(text); }, timeoutMs);
    }

    testsupport::ToolResult nclreg(const QStringList& arguments) const
    {
        return testsupport::Run(Executable("nclreg"), arguments, m_environment);
    }

    // A serving agent: an options file with a fresh port (or the given one), the
    // client format and the extra option lines, bound to 127.0.0.1, started and
    // answering the console.
    bool startServing(int clientFormat = 0, const QString& extraOptions = {},
                      const QStringList& arguments = {}, const QString& programName = "NCLmod",
                      quint16 port = 0);
    quint16 port() const { return m_port; }
    // nclconsole aimed at the agent's port.
    testsupport::ToolResult console(const QStringList& arguments) const
    {
        return testsupport::Run(Executable("nclconsole"),
                                QStringList{"--port", QString::number(m_port)} + arguments,
                                m_environment);
    }
    // A request every role and transport of a serving agent answers.
    bool answers() const;

    // The simulated clock: how far the agent's time is off, in milliseconds.
    void setClockOffset(qint64 ms) const { writeFile("simclock", QByteArray::number(ms)); }
    qint64 clockOffset() const { return readFile("simclock").trimmed().toLongLong(); }

    // Open descriptors and resident memory (kB) of the running agent.
    int openFds() const;
    long rssKb() const { return RssKb(m_process.processId()); }

private:
    QTemporaryDir m_home;
    QProcessEnvironment m_environment;
    QStringList m_wrapper;
    QProcess m_process;
    QString m_stdout;
    QString m_stderr;
    quint16 m_port = 0;
    int m_clientFormat = 0;
};

} // namespace e2e
