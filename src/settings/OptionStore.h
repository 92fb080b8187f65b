#pragma once
// The options record's two stores and its defaults.
//
// The options key (App().RegOptionsKey under App().RegRoot) is read and
// written value by value (Registry_Get, Registry_Set); it is the copy read at
// start. The settings area of the application (section "Options") is read in
// one sweep and applied by name (RegistryGet, set_option_value) and written
// one value per option (RegistrySet). Both hold the options in their text
// forms (see OptionText.h). A missing value in the options key reads as "1".

#include "platform/RegistryStore.h"
#include "runtime/DateTime.h"
#include "settings/COptions.h"

#include <QString>
#include <QStringList>

namespace settings
{

// The settings area of an application (GetSetting, SaveSetting, GetAllSettings),
// reachable from here as well: the procedures below and the change flag
// "Changed" of section "Options" are built on it.
using platform::GetAllSettings;
using platform::GetSetting;
using platform::SaveSetting;

void SetDefaults();
void SetDefaults(COptions& options);

bool Registry_Get(COptions& options, const QString& appTitle);
// Always true: a failed single write is reported by the registry tools and
// the others are still written.
bool Registry_Set(const QString& keyPath, COptions& options);
bool RegistryGet(COptions& options, const QString& appTitle);
bool RegistrySet(COptions& options, const QString& appTitle);
void set_option_value(const QString& name, const QString& value, COptions& options);

QString ReadOptionKey(const QString& valueName);
bool ReadOptionKeyFrom(const QString& keyPath, quint32 root, const QString& valueName,
                       QString& value);
bool SaveOptionKey(const QString& keyPath, const QString& valueName, const QString& value);

bool SaveAutoSettings(qint32 accuracy, rt::Date syncTime, qint32 difference,
                      const QString& appTitle);
bool SaveLastSyncTime(rt::Date syncTime, const QString& appTitle);
// Reads "LastSyncTime" back from the settings store into the options (the
// start-up read of the options keys does not hold it). With nothing stored
// yet (no clock setting so far) the watch for the sync warning starts now.
void LoadLastSyncTime(COptions& options, const QString& appTitle);

// The value names each procedure handles, in its order.
const QStringList& OptionKeyReadNames();  // Registry_Get
const QStringList& OptionKeyWriteNames(); // Registry_Set, without "Changed"
const QStringList& SettingsAreaNames();   // RegistrySet and set_option_value

} // namespace settings
