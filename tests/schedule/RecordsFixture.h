#pragma once
// What the record tests share: a clock that stands still at a chosen local
// moment, English (US) date forms, a private program folder (registry store and files), the
// system log's entries kept instead of written, and the options record put back as it was.

#include "TestSupport.h"
#include "logging/DebugLog.h"
#include "platform/PlatformFixtures.h"
#include "runtime/DateTime.h"
#include "runtime/RuntimeFixtures.h"
#include "settings/AppState.h"
#include "settings/COptions.h"

#include <gtest/gtest.h>

namespace recordstest
{

class RecordsFixture : public ::testing::Test
{
protected:
    RecordsFixture()
    {
        At(rt::MakeDate(2026, 3, 10, 9, 0, 0));
        ntEvents.clear();
        logging::SetNTEventSinkForTesting([](const QString& text, qint16 type) {
            ntEvents.append(QString::number(type) + "|" + text);
        });
    }
    ~RecordsFixture() override
    {
        logging::SetNTEventSinkForTesting(nullptr);
        settings::Options() = m_savedOptions;
    }
    // Puts the clock at a local date-time.
    void At(rt::Date local)
    {
        const qint64 asUtc = qint64((local - 25569.0) * 86400000.0 + 0.5);
        clock.utcMs = asUtc - platform::SystemClock::LocalOffsetSeconds(asUtc) * 1000;
    }
    settings::COptions& options() { return settings::Options(); }

    testsupport::ScopedHome home;
    testsupport::StillClock clock;
    static inline QStringList ntEvents; // the system log's entries, "type|text"

private:
    settings::COptions m_savedOptions{settings::Options()};
    testsupport::ScopedDateLocale m_locale{QLocale(QLocale::English, QLocale::UnitedStates)};
};

} // namespace recordstest
