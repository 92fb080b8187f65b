#pragma once
// Starts the real executables of the build for end-to-end tests: each agent
// gets its own data folder, a simulated clock and a recording power backend,
// and is stopped and reaped when the object goes.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace e2e
{

QString BuildDir();
// A TCP and UDP port on 127.0.0.1 that nobody uses, below 32768 (TCPPort is
// 16-bit). Each test process starts at its own place, so parallel runs rarely meet.
quint16 FreePort();
QString Executable(const QString& name);

// Runs a tool of the build to its end; returns the exit code (-1 on a crash or time-out).
struct ToolResult {
    int exitCode = -1;
    QString out;
    QString err;
};
ToolResult RunTool(const QString& name, const QStringList& arguments,
                   const QProcessEnvironment& environment, int timeoutMs = 10000);

class AgentProcess
{
public:
    AgentProcess();
    ~AgentProcess();

    QString home() const { return m_home.path(); }
    QString file(const QString& name) const { return m_home.path() + "/" + name; }
    QProcessEnvironment& environment() { return m_environment; }
    void writeFile(const QString& name, const QByteArray& content) const;
    QString readFile(const QString& name) const;

    // Starts NCLmod (or a link to it with another name, e.g. NCLsrvc).
    bool start(const QStringList& arguments = {}, const QString& programName = "NCLmod");
    // Polls until the predicate holds or the time is up, keeping events flowing.
    static bool waitFor(const std::function<bool()>& predicate, int timeoutMs = 10000);
    bool waitForTrace(const QString& text, int timeoutMs = 10000) const;
    // SIGTERM, then waits for the end; returns the exit code (-1 on a crash or time-out).
    int terminate(int timeoutMs = 10000);
    // Waits for an end the agent reaches by itself.
    int waitForExit(int timeoutMs = 10000);
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    QString standardError();
    QString standardOutput();

    ToolResult nclreg(const QStringList& arguments) const;

private:
    QTemporaryDir m_home;
    QProcessEnvironment m_environment;
    QProcess m_process;
    QString m_stdout;
    QString m_stderr;
};

} // namespace e2e
