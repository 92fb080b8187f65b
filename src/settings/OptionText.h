#pragma once
// Options by name, in their text forms: booleans "True"/"False", numbers in
// decimal, dates in the general date form, strings as they are. This is the
// form both stores and the initial options file use.

#include "settings/COptions.h"

#include <QString>

namespace settings
{

enum class TextResult { Set, UnknownName, BadText };

// The text form of a property; false for an unknown name.
bool OptionToText(const COptions& options, const QString& property, QString& out);
// Converts the text to the property's type and sets it. ControlMode, though
// a 32-bit property, is read with the 16-bit conversion, as it always was.
// A text that does not convert leaves the property as it was.
TextResult OptionFromText(COptions& options, const QString& property, const QString& text);

// The stores keep Servername under the value name "ServerName".
QString ValueNameOf(const QString& property);
QString PropertyOf(const QString& valueName);

} // namespace settings
