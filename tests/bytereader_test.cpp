#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "driver/ByteIO.h"

namespace korvalin {
namespace {

TEST(ByteReader, ShortReadsFailStickyAndStopAtEnd) {
    const std::vector<std::uint8_t> bytes = {0x12, 0x34, 0x56};
    ByteReader in(bytes);
    EXPECT_EQ(in.readU16BE(), 0x1234);
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(in.readU32BE(), 0u);  // only one byte left
    EXPECT_FALSE(in.ok());
    EXPECT_TRUE(in.atEnd());
    EXPECT_EQ(in.readU8(), 0);
}

TEST(ByteReader, LittleAndBigEndian) {
    const std::vector<std::uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x01, 0x02, 0x03, 0x04};
    ByteReader in(bytes);
    EXPECT_EQ(in.readU32LE(), 0x04030201u);
    EXPECT_EQ(in.readU32BE(), 0x01020304u);
}

TEST(ByteSink, FailureIsStickyAndKeepsErrorNumber) {
    MemorySink sink;
    sink.limit = 4;
    const std::uint8_t data[3] = {1, 2, 3};
    EXPECT_TRUE(sink.write(data, 3));
    EXPECT_FALSE(sink.write(data, 3));
    EXPECT_FALSE(sink.ok());
    EXPECT_EQ(sink.error(), 28);
    EXPECT_EQ(sink.bytes.size(), 3u);
}

}  // namespace
}  // namespace korvalin
