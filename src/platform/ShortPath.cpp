#include "platform/ShortPath.h"

#include <QFileInfo>

namespace platform
{

QString ShortPath(const QString& path)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return {};
    return path;
}

} // namespace platform
