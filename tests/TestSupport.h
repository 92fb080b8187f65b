#pragma once
// Shared helpers of the unit tests.

#include <QString>
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
