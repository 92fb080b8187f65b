#include "settings/OptionText.h"

#include "runtime/DateText.h"
#include "runtime/Numbers.h"
#include "runtime/TextFormat.h"

namespace settings
{

namespace
{

QString ToText(bool value)
{
    return rt::BoolText(value);
}
QString ToText(qint16 value)
{
    return QString::number(value);
}
QString ToText(qint32 value)
{
    return QString::number(value);
}
QString ToText(const QString& value)
{
    return value;
}
QString ToText(rt::Date value)
{
    return rt::GeneralDate(value);
}

bool FromText(const QString& text, bool& out)
{
    return rt::TextToBool(text, out);
}
bool FromText(const QString& text, qint16& out)
{
    return rt::TextToInt16(text, out);
}
bool FromText(const QString& text, qint32& out)
{
    return rt::TextToInt32(text, out);
}
bool FromText(const QString& text, QString& out)
{
    out = text;
    return true;
}
// A date text, or a plain number counting days ("1" is 1899-12-31).
bool FromText(const QString& text, rt::Date& out)
{
    return rt::TextToDate(text, out) || rt::TextToDouble(text, out);
}

} // namespace

bool OptionToText(const COptions& options, const QString& property, QString& out)
{
#define NCL_OPTION_TO_TEXT(type, name)                                                             \
    if (property == QLatin1String(#name)) {                                                        \
        out = ToText(options.name());                                                              \
        return true;                                                                               \
    }
    NCL_OPTIONS(NCL_OPTION_TO_TEXT)
#undef NCL_OPTION_TO_TEXT
    return false;
}

TextResult OptionFromText(COptions& options, const QString& property, const QString& text)
{
    if (property == QLatin1String("ControlMode")) {
        qint16 value = 0;
        if (!rt::TextToInt16(text, value))
            return TextResult::BadText;
        options.setControlMode(value);
        return TextResult::Set;
    }
#define NCL_OPTION_FROM_TEXT(type, name)                                                           \
    if (property == QLatin1String(#name)) {                                                        \
        type value{};                                                                              \
        if (!FromText(text, value))                                                                \
            return TextResult::BadText;                                                            \
        options.set##name(value);                                                                  \
        return TextResult::Set;                                                                    \
    }
    NCL_OPTIONS(NCL_OPTION_FROM_TEXT)
#undef NCL_OPTION_FROM_TEXT
    return TextResult::UnknownName;
}

QString ValueNameOf(const QString& property)
{
    return property == QLatin1String("Servername") ? QStringLiteral("ServerName") : property;
}

QString PropertyOf(const QString& valueName)
{
    return valueName == QLatin1String("ServerName") ? QStringLiteral("Servername") : valueName;
}

} // namespace settings
