#include "settings/modRegistryTools.h"

#include "runtime/Numbers.h"
#include "runtime/Trace.h"

namespace settings
{

namespace
{

const QString kModule = QStringLiteral("modRegistryTools");

void Report(const QString& message, const char* procedure, qint16 site)
{
    rt::SendErrorReport(rt::Information, message, 0, kModule, QString::fromLatin1(procedure), site);
}

} // namespace

qint32 SetValueEx(platform::HKEY key, const QString& valueName, quint32 valueType,
                  const QString& value)
{
    platform::RegistryStore& store = platform::Registry();
    if (valueType == platform::REG_SZ)
        return store.SetValue(key, valueName, valueType, platform::SzBytes(value));
    if (valueType == platform::REG_DWORD) {
        qint32 number = 0;
        if (!rt::TextToInt32(value, number))
            return platform::ERROR_INVALID_PARAMETER;
        return store.SetValue(key, valueName, valueType, platform::DwordBytes(quint32(number)));
    }
    return platform::ERROR_SUCCESS;
}

qint32 QueryValueEx(platform::HKEY key, const QString& valueName, QString& value)
{
    platform::RegistryStore& store = platform::Registry();
    quint32 type = platform::REG_NONE;
    quint32 size = 0;
    qint32 status = store.QueryValue(key, valueName, type, size);
    if (status != platform::ERROR_SUCCESS) {
        if (rt::DebugOn) {
            rt::Trace(QStringLiteral("Error in QueryValueEx") + QStringLiteral(" key:") +
                      QString::number(key) + QStringLiteral(" Name:") + valueName);
        }
        return status;
    }
    QByteArray data;
    if (type == platform::REG_SZ) {
        status = store.QueryValue(key, valueName, type, size, &data, size);
        if (status == platform::ERROR_SUCCESS)
            value = QString::fromUtf8(data);
        return status;
    }
    if (type == platform::REG_DWORD) {
        status = store.QueryValue(key, valueName, type, size, &data, 4);
        if (status == platform::ERROR_SUCCESS)
            value = QString::number(qint32(platform::DwordOf(data)));
        return status;
    }
    return platform::ERROR_INVALID_PARAMETER;
}

bool CreateNewKey(const QString& keyPath, quint32 root)
{
    platform::RegistryStore& store = platform::Registry();
    platform::HKEY key = 0;
    if (store.CreateKey(root, keyPath, key) != platform::ERROR_SUCCESS) {
        Report(QStringLiteral("Error CreateKey: ") + keyPath, "CreateNewKey", 901);
        return false;
    }
    store.CloseKey(key);
    return true;
}

bool SetKeyValue(const QString& keyPath, quint32 root, const QString& valueName,
                 const QString& value, quint32 valueType)
{
    platform::RegistryStore& store = platform::Registry();
    platform::HKEY key = 0;
    if (store.OpenKey(root, keyPath, key) != platform::ERROR_SUCCESS) {
        Report(QStringLiteral("Error Opening key: ") + valueName + QStringLiteral(", setting: ") +
                   value,
               "SetKeyvalue", 902);
        return false;
    }
    if (SetValueEx(key, valueName, valueType, value) != platform::ERROR_SUCCESS)
        Report(QStringLiteral("Error Setting value of key: ") + keyPath, "SetKeyValue", 902);
    // A failed write has been reported; the caller still gets true.
    store.CloseKey(key);
    return true;
}

bool QueryValue(const QString& keyPath, quint32 root, const QString& valueName, QString& value)
{
    platform::RegistryStore& store = platform::Registry();
    platform::HKEY key = 0;
    if (store.OpenKey(root, keyPath, key) != platform::ERROR_SUCCESS) {
        Report(QStringLiteral("Error Opening Key: ") + valueName + QStringLiteral(", setting: ") +
                   value,
               "QueryValue", 904);
        return false;
    }
    QString read;
    if (QueryValueEx(key, valueName, read) != platform::ERROR_SUCCESS) {
        Report(QStringLiteral("Error querying value of key: ") + keyPath +
                   QStringLiteral(" Name:_") + valueName + QStringLiteral("_"),
               "QueryValue", 905);
        store.CloseKey(key);
        return false;
    }
    while (read.endsWith(QChar(0)))
        read.chop(1);
    value = read;
    store.CloseKey(key);
    return true;
}

} // namespace settings
