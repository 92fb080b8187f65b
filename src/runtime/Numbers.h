#pragma once
// Number reading and the integer conversions with their classic rules:
// half-to-even rounding and an overflow failure instead of wrapping.

#include <QString>
#include <QtGlobal>

namespace rt
{

// Lenient reading: the leading number counts, the rest is ignored, no number
// reads as 0 ("50.0xyz" -> 50, "abc" -> 0, " -3e2" -> -300, "&H1F" -> 31).
double Val(const QString& text);

double RoundHalfEven(double value);

// 16-bit and 32-bit conversions: round half to even, false on overflow
// (32768 does not convert to 16 bits; 32767.5 rounds to 32768 and fails).
bool ToInt16(double value, qint16& out);
bool ToInt32(double value, qint32& out);
// Strict text conversions: the whole text must be a number (blanks around it
// allowed), else false. "12.5" -> 12, "13.5" -> 14, "abc" -> false.
bool TextToInt16(const QString& text, qint16& out);
bool TextToInt32(const QString& text, qint32& out);
bool TextToDouble(const QString& text, double& out);

// Booleans: "True"/"False" in any case, or a number (non-zero is true).
bool TextToBool(const QString& text, bool& out);
QString BoolText(bool value);

} // namespace rt
