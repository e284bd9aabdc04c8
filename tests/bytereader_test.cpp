#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/ByteIO.h"

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

// Sizes around the 64 KiB step of the reading loop, and files whose size the
// file system does not tell (a directory fails, a /proc file reads whole).
TEST(ReadWholeFile, ReadsEveryByteAndReportsErrors) {
    const std::string path = "/tmp/korvalin-readwhole-" + std::to_string(getpid());
    for (const std::size_t size : {0u, 1u, 65535u, 65536u, 65537u, 300001u}) {
        std::vector<std::uint8_t> written(size);
        for (std::size_t i = 0; i < size; ++i) written[i] = static_cast<std::uint8_t>(i * 7 + 3);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (size > 0) {
            ASSERT_EQ(std::fwrite(written.data(), 1, size, f), size);
        }
        std::fclose(f);
        std::vector<std::uint8_t> read = {9, 9};  // replaced, not appended to
        int errorNumber = -1;
        EXPECT_TRUE(readWholeFile(path, read, errorNumber)) << size;
        EXPECT_EQ(errorNumber, 0) << size;
        EXPECT_EQ(read, written) << size;
    }
    std::remove(path.c_str());

    struct Failing {
        std::string path;
        int errorNumber;
    };
    for (const Failing& c : {Failing{path, ENOENT}, Failing{"/tmp", EISDIR}}) {
        std::vector<std::uint8_t> read;
        int errorNumber = 0;
        EXPECT_FALSE(readWholeFile(c.path, read, errorNumber)) << c.path;
        EXPECT_EQ(errorNumber, c.errorNumber) << c.path;
    }

    std::vector<std::uint8_t> status;
    int errorNumber = -1;
    EXPECT_TRUE(readWholeFile("/proc/self/status", status, errorNumber));
    EXPECT_EQ(errorNumber, 0);
    EXPECT_GT(status.size(), 0u);
}

}  // namespace
}  // namespace korvalin
