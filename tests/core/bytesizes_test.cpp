#include "core/bytesizes.h"

#include <gtest/gtest.h>

namespace {

TEST(ByteSizes, ReadAndShown)
{
    const struct {
        const char *text;
        qint64 bytes;
    } sizes[] = {{"4096", 4096}, {"2G", qint64(2) << 30}, {"500M", qint64(500) << 20},
                 {"1.5GiB", qint64(3) << 29}, {"64k", 65536}, {"lots", -1}, {"-1M", -1}};
    for (const auto &s : sizes)
        EXPECT_EQ(ParseByteSize(s.text), s.bytes) << s.text;
    EXPECT_EQ(FormatBytes(1), "1 byte");
    EXPECT_EQ(FormatBytes(1023), "1023 bytes");
    EXPECT_EQ(FormatBytes(qint64(3) << 29), "1.5 GiB");
}

} // namespace
