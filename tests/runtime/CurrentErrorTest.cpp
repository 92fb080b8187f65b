// The platform's errors reach reports under the runtime's numbers and texts:
// a missing file is told from a missing folder, and an error without a number
// of its own is a path/file access error.
#include "runtime/CurrentError.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

TEST(CurrentError, PlatformErrorsTakeTheRuntimesNumbers)
{
    QTemporaryDir dir;
    const struct {
        int errnoValue;
        QString path;
        qint32 number;
        const char* text;
    } cases[] = {{ENOENT, dir.filePath("missing.txt"), 53, "File not found"},
                 {ENOENT, dir.filePath("no-folder/missing.txt"), 76, "Path not found"},
                 {EACCES, QString(), 70, "Permission denied"},
                 {ENOSPC, QString(), 61, "Disk full"},
                 {ECONNRESET, QString(), 75, "Path/File access error"}};
    for (const auto& c : cases) {
        rt::RaiseErrno(c.errnoValue, c.path);
        EXPECT_EQ(rt::Err().number, c.number) << c.errnoValue;
        EXPECT_EQ(rt::Err().description, c.text) << c.errnoValue;
    }
    rt::ClearError();
}
