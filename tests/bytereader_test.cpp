#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "driver/ByteIO.h"

namespace korvalin {
namespace {

TEST(ByteReader, ByteOrderAndShortReads) {
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 1, 2, 3, 4, 0x12, 0x34, 0x56};
    ByteReader in(bytes);
    EXPECT_EQ(in.readU32LE(), 0x04030201u);
    EXPECT_EQ(in.readU32BE(), 0x01020304u);
    EXPECT_EQ(in.readU16BE(), 0x1234);
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(in.readU32BE(), 0u);  // only one byte left
    EXPECT_FALSE(in.ok());
    EXPECT_TRUE(in.atEnd());
    EXPECT_EQ(in.readU8(), 0);
}

TEST(ByteSink, FailureIsStickyAndKeepsErrorNumber) {
    MemorySink sink;
    sink.limit = 4;
    const std::uint8_t data[3] = {1, 2, 3};
    EXPECT_TRUE(sink.write(data, 3));
    EXPECT_FALSE(sink.write(data, 3));
    EXPECT_FALSE(sink.write(data, 1));  // room for it, but the failure stays
    EXPECT_FALSE(sink.ok());
    EXPECT_EQ(sink.error(), 28);
    EXPECT_EQ(sink.bytes.size(), 3u);
}

}  // namespace
}  // namespace korvalin
