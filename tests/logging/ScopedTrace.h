#pragma once
// The debug trace switched on into DebugFile.txt of a test's folder for the
// lifetime of the object, and off again after.

#include "logging/DebugLog.h"

#include "TestSupport.h"

namespace testsupport
{

class ScopedTrace
{
public:
    explicit ScopedTrace(const QString& folder) : m_path(folder + QStringLiteral("/DebugFile.txt"))
    {
        logging::DebugFileName = m_path;
        logging::DebugOn = true;
        logging::DebugFileOn = true;
        logging::SetDebugFile(true);
    }
    ~ScopedTrace()
    {
        logging::CloseDebugFile();
        logging::DebugOn = false;
        logging::DebugFileOn = false;
    }
    QString Text() const { return ReadFile(m_path); }

private:
    QString m_path;
};

} // namespace testsupport
