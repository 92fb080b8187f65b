#pragma once
// Fixtures the runtime, settings, logging and schedule tests share: a platform
// clock that stands where the test puts it, and a chosen locale for the date
// forms, each in force for the lifetime of the object.

#include "platform/SystemClock.h"
#include "runtime/TextFormat.h"

namespace testsupport
{

class StillClock : public platform::SystemClock
{
public:
    explicit StillClock(qint64 ms = 0) : utcMs(ms) { platform::SetClockForTesting(this); }
    ~StillClock() override { platform::SetClockForTesting(nullptr); }
    qint64 NowUtcMs() const override { return utcMs; }
    bool SetUtcMs(qint64 ms, int&) override
    {
        utcMs = ms;
        return true;
    }
    qint64 utcMs;
};

class ScopedDateLocale
{
public:
    explicit ScopedDateLocale(const QLocale& locale) : m_locale(locale)
    {
        rt::SetDateLocaleForTesting(&m_locale);
    }
    explicit ScopedDateLocale(const char* name)
        : ScopedDateLocale(QLocale(QString::fromLatin1(name)))
    {
    }
    ~ScopedDateLocale() { rt::SetDateLocaleForTesting(nullptr); }

private:
    QLocale m_locale;
};

} // namespace testsupport
