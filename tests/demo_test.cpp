// The checked-in demo song must be what the generator writes.
#include <gtest/gtest.h>

#include <string>

#include "../tools/demosong/DemoSong.h"
#include "support/Process.h"

namespace korvalin::test {
namespace {

TEST(DemoSong, CheckedInFileIsTheGeneratorsOutput) {
    const auto onDisk = readBytes(sourceDir() / "demo" / "demo.mid");
    const auto built = demo::buildDemoSong();
    ASSERT_EQ(onDisk.size(), built.size()) << "regenerate demo/demo.mid with korvalin-demosong";
    for (std::size_t i = 0; i < built.size(); ++i)
        ASSERT_EQ(onDisk[i], built[i]) << "first difference at offset " << i;
}

}  // namespace
}  // namespace korvalin::test
