#pragma once
// Shared helpers of the unit tests.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <ostream>

// QString values printed as text in failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

class QProcess;

namespace testsupport
{

// Ends a child process: SIGTERM, then SIGKILL if it has not ended within 3 s.
void StopProcess(QProcess& process);

// Runs a program to its end, the input on its standard input; returns the exit
// code (-1 when it did not start, crashed or ran out of time). The output is
// read byte for byte (Latin-1), so raw replies keep every byte.
struct ToolResult {
    int exitCode = -1;
    QString out;
    QString err;
};
ToolResult Run(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
               int timeoutMs = 10000, const QByteArray& input = {});

// Sets an environment variable for the lifetime of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const QByteArray& value);
    ~ScopedEnv();

private:
    const char* m_name;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

// A fresh NCLMOD_HOME for the lifetime of the object; the previous value comes back after.
class ScopedHome
{
public:
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.path() + "/" + name; }

private:
    QTemporaryDir m_dir;
    ScopedEnv m_env{"NCLMOD_HOME", m_dir.path().toLocal8Bit()};
};

QString ReadFile(const QString& path);
void WriteFile(const QString& path, const QByteArray& content);

} // namespace testsupport
