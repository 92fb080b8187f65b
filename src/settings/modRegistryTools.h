#pragma once
// The registry tools the option procedures are built on: create a key, set a
// value, query a value. Each opens and closes its key and reports its own
// failures to the error reporter (sites 901 to 905); callers see false.

#include "platform/RegistryStore.h"

#include <QString>

namespace settings
{

bool CreateNewKey(const QString& keyPath, quint32 root);
// Type REG_SZ (1) stores the text, REG_DWORD (4) its 32-bit number.
bool SetKeyValue(const QString& keyPath, quint32 root, const QString& valueName,
                 const QString& value, quint32 valueType);
// The value as text (a REG_DWORD in decimal), without trailing NULs.
bool QueryValue(const QString& keyPath, quint32 root, const QString& valueName, QString& value);

// Write and read one value of an open key; registry status codes.
// REG_SZ is written as the text plus one NUL; other types than REG_SZ and
// REG_DWORD write nothing. A query returns REG_SZ data as stored (with its NUL).
qint32 SetValueEx(platform::HKEY key, const QString& valueName, quint32 valueType,
                  const QString& value);
qint32 QueryValueEx(platform::HKEY key, const QString& valueName, QString& value);

} // namespace settings
