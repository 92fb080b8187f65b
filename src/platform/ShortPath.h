#pragma once
// The short (8.3) form of a path. File names here have no short form, so it
// is the path itself when every component of it exists, and "" otherwise, as
// the short-name call gives for a missing file.

#include <QString>

namespace platform
{

QString ShortPath(const QString& path);

} // namespace platform
