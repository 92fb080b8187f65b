#include "runtime/CsvFields.h"

#include <gtest/gtest.h>

using namespace rt;

TEST(CsvFields, QuotedAndUnquotedFieldsTrimmed)
{
    const struct {
        const char* line;
        QStringList fields;
    } cases[] = {{"TCPPort, 10002", {"TCPPort", "10002"}},
                 {" a , b ,c ", {"a", "b", "c"}},
                 {"\"x, y\" , 2", {"x, y", "2"}},
                 {"\" padded \",\"\"", {" padded ", ""}},
                 {"\"he said \"\"hi\"\"\"", {"he said \"hi\""}},
                 {"1,\"two\" junk ,3\r\n", {"1", "two", "3"}},
                 {",,", {"", "", ""}},
                 {"\"unterminated, still", {"unterminated, still"}},
                 {"", {}},
                 {"   \r\n", {}}};
    for (const auto& c : cases)
        EXPECT_EQ(ReadFields(c.line), c.fields) << c.line;
}
