#include "AgentProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUdpSocket>

namespace e2e
{

quint16 FreePort()
{
    static quint16 next = quint16(20000 + (QCoreApplication::applicationPid() % 6000) * 2);
    for (int tries = 0; tries < 2000; ++tries, next = quint16(next + 1)) {
        if (next < 20000 || next > 32000)
            next = 20000;
        QTcpSocket tcp;
        QUdpSocket udp;
        if (tcp.bind(QHostAddress::LocalHost, next) && udp.bind(QHostAddress::LocalHost, next))
            return next++;
    }
    return 0;
}

QString Executable(const QString& name)
{
    const QString dir = qEnvironmentVariable("NCL_BUILD_DIR");
    return (dir.isEmpty() ? QCoreApplication::applicationDirPath() + "/../.." : dir) + "/" + name;
}

long RssKb(qint64 pid)
{
    const QRegularExpressionMatch m =
        QRegularExpression(R"(VmRSS:\s+(\d+))")
            .match(testsupport::ReadFile(QStringLiteral("/proc/%1/status").arg(pid)));
    return m.hasMatch() ? m.captured(1).toLong() : -1;
}

AgentProcess::AgentProcess() : m_environment(QProcessEnvironment::systemEnvironment())
{
    m_environment.insert("NCLMOD_HOME", m_home.path());
    m_environment.insert("NCLMOD_SIMCLOCK", m_home.path() + "/simclock");
    m_environment.insert("NCLMOD_FORBID_REAL_CLOCK", "1");
    m_environment.insert("NCLMOD_POWER", "record:" + m_home.path() + "/power.log");
    for (const char* name :
         {"NCLMOD_SERVICE_NAME", "NCLMOD_MODULE_TYPE", "DISPLAY", "WAYLAND_DISPLAY"})
        m_environment.remove(name);
    m_environment.insert("QT_QPA_PLATFORM", "offscreen");
}

AgentProcess::~AgentProcess()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool AgentProcess::start(const QStringList& arguments, const QString& programName)
{
    QString program = Executable("NCLmod");
    if (programName != "NCLmod") {
        program = file(programName);
        QFile::remove(program);
        QFile::link(Executable("NCLmod"), program);
    }
    m_process.setProcessEnvironment(m_environment);
    if (m_wrapper.isEmpty())
        m_process.start(program, arguments);
    else
        m_process.start(m_wrapper.first(), m_wrapper.mid(1) + QStringList{program} + arguments);
    return m_process.waitForStarted(5000);
}

bool AgentProcess::waitForTrace(const QString& text, int timeoutMs) const
{
    const auto traced = [&](const char* name) { return readFile(name).contains(text); };
    return waitFor([&] { return traced("DebugFile.txt") || traced("DebugFileSvc.txt"); },
                   timeoutMs);
}

int AgentProcess::terminate(int timeoutMs)
{
    m_process.terminate();
    return waitForExit(timeoutMs);
}

int AgentProcess::waitForExit(int timeoutMs)
{
    if (running() && !m_process.waitForFinished(timeoutMs)) {
        m_process.kill();
        m_process.waitForFinished(5000);
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

bool AgentProcess::startServing(int clientFormat, const QString& extraOptions,
                                const QStringList& arguments, const QString& programName,
                                quint16 port)
{
    m_port = port ? port : FreePort();
    m_clientFormat = clientFormat;
    writeFile("REVavidod.ini", QStringLiteral("TCPPort,%1\nClientFormat,%2\n%3")
                                   .arg(m_port)
                                   .arg(clientFormat)
                                   .arg(extraOptions)
                                   .toLatin1());
    m_environment.insert("NCLMOD_BIND_ADDRESS", "127.0.0.1");
    return m_port != 0 && start(arguments, programName) && waitFor([&] { return answers(); });
}

bool AgentProcess::answers() const
{
    return console(m_clientFormat == 2 ? QStringList{"--timeout", "200", "sntp"}
                                       : QStringList{"--timeout", "200", "raw", "H+"})
               .exitCode == 0;
}

int AgentProcess::openFds() const
{
    return QDir(QStringLiteral("/proc/%1/fd").arg(m_process.processId()))
        .entryList(QDir::NoDotAndDotDot)
        .size();
}

} // namespace e2e
