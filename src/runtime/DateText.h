#pragma once
// Recognition of date texts ("is a date", "convert to a date").
// The accepted forms are documented in DateText.cpp's header comment.

#include "runtime/DateTime.h"

#include <QString>

namespace rt {

bool IsDate(const QString& text);
// False (and out untouched) when the text is not a date.
bool TextToDate(const QString& text, Date& out);

} // namespace rt
