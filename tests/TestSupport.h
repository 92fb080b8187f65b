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

// A fresh NCLMOD_HOME for the lifetime of the object; the previous value comes back after.
class ScopedHome
{
public:
    ScopedHome();
    ~ScopedHome();
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.path() + "/" + name; }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};

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

QString ReadFile(const QString& path);
void WriteFile(const QString& path, const QByteArray& content);

} // namespace testsupport
