#pragma once
// A fresh data folder and registry store, the agent's registry paths, an XDG
// config folder of the test's own and a debug trace to read back.

#include "platform/RegistryStore.h"
#include "settings/AppState.h"

#include "logging/ScopedTrace.h"

#include <gtest/gtest.h>

// The values of a key (by default the options key), in store order.
inline QList<platform::RegValue> KeyValues(quint32 root = platform::HKEY_USERS,
                                           const QString& keyPath = settings::App().RegOptionsKey)
{
    platform::RegistryStore& store = platform::Registry();
    QList<platform::RegValue> values;
    platform::HKEY key = 0;
    if (store.OpenKey(root, keyPath, key) == 0) {
        store.EnumValues(key, values);
        store.CloseKey(key);
    }
    return values;
}

class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        settings::AppState& app = settings::App();
        app.AppTitle = "NCLmod";
        app.ModuleType = "M";
        app.AppKeyName = "NCLmod";
        app.PlatformFamily = "Windows NT";
        app.RegRoot = settings::HKEY_USERS;
        app.RegBasePath = ".DEFAULT\\Software\\VB and VBA Program Settings\\";
        app.RegOptionsKey = app.RegBasePath + "NCLmod\\Options";
        app.RegSettingsKey = app.RegBasePath + "NCLmod\\Settings";
        // Store failures show in the trace through the registry tools.
        previousReporter = platform::SetStoreFailureReporter(nullptr);
    }
    void TearDown() override { platform::SetStoreFailureReporter(previousReporter); }

    QString trace() const { return traceFile.Text(); }
    void writeRaw(quint32 root, const QString& keyPath, const QString& name, quint32 type,
                  const QByteArray& data)
    {
        platform::RegistryStore& store = platform::Registry();
        platform::HKEY key = 0;
        ASSERT_EQ(store.CreateKey(root, keyPath, key), 0);
        ASSERT_EQ(store.SetValue(key, name, type, data), 0);
        store.CloseKey(key);
    }

    platform::StoreFailureReporter previousReporter;
    testsupport::ScopedHome home;
    testsupport::ScopedEnv config{"XDG_CONFIG_HOME", home.file("config").toLocal8Bit()};
    testsupport::ScopedTrace traceFile{home.path()};
};
