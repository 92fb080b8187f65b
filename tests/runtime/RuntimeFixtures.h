#pragma once
// Fixtures the runtime tests and those above share: rt::Now() standing at a
// chosen local moment, and a chosen locale for the date forms, each in force
// for the lifetime of the object.

#include "runtime/DateTime.h"
#include "runtime/TextFormat.h"

namespace testsupport
{

class ScopedNow
{
public:
    explicit ScopedNow(rt::Date local)
    {
        s_local = local;
        rt::SetNowReader(&Read);
    }
    ~ScopedNow() { rt::SetNowReader(nullptr); }

private:
    static rt::Date Read() { return s_local; }
    static inline rt::Date s_local = 0;
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
