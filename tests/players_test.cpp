// The module of every edge-case MIDI file loads in both real players
// (libopenmpt and libxmp) with the counts its header announces and walks
// cleanly, with and without instruments. (The golden test loads the goldens;
// the fidelity test plays the demo song.)
#include "support/Players.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "XmWalk.h"
#include "support/Process.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// The default map with a sample folder linked from the freepats set.
void makeKit(const TempDir& dir) {
    const auto kit =
        test::runProcess(test::toolBinary("patchkit"),
                         {"--samples", "samples", "--default-map", "patch.cfg"}, dir.path(), 60);
    ASSERT_EQ(kit.exitCode, 0) << kit.err;
}

TEST(Players, EveryEdgeCaseModuleLoadsWithItsHeaderCounts) {
    ASSERT_TRUE(test::installed("/etc/timidity/freepats.cfg", "freepats"));
    for (const bool instruments : {false, true}) {
        TempDir dir;
        if (instruments) {
            ASSERT_NO_FATAL_FAILURE(makeKit(dir));
        } else {
            dir.write("patch.cfg", std::string());
        }
        int converted = 0;
        for (const auto& entry : fs::directory_iterator(test::midiCasesDir())) {
            if (entry.path().extension() != ".mid") continue;
            const std::string name = entry.path().filename().string();
            SCOPED_TRACE(name + (instruments ? " with freepats" : " without instruments"));
            fs::copy_file(entry.path(), dir / name);
            const auto r = test::runProcess(test::korvalinBinary(), {name}, dir.path(), 60);
            const fs::path module = dir / (entry.path().stem().string() + ".xm");
            ASSERT_FALSE(r.timedOut);
            if (r.exitCode != 0) {
                EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
                EXPECT_FALSE(fs::exists(module));
                continue;
            }
            const auto report = test::checkInPlayers(test::readBytes(module));
            EXPECT_TRUE(report.openmptLoaded && report.xmpLoaded) << report.mismatch;
            EXPECT_EQ(report.mismatch, "");
            EXPECT_EQ(xmwalk::walk(test::readBytes(module)).fault, "");
            ++converted;
        }
        EXPECT_GE(converted, 60);
    }
}

}  // namespace
}  // namespace korvalin
