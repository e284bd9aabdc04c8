// Helpers for tests that run the real converter binary in a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace korvalin::test {

// A fresh folder under the system's temporary folder, removed on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    void write(const std::string& name, const std::string& bytes) const;
    void write(const std::string& name, const std::vector<unsigned char>& bytes) const;

  private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);
std::vector<unsigned char> readBytes(const std::filesystem::path& path);

struct ProcessResult {
    int exitCode = -1;  // exit status, or 128 + signal number
    std::string out;    // standard output
    std::string err;    // standard error
    bool timedOut = false;
};

// Runs program with args in folder cwd, without standard input; kills it after timeoutSeconds.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& cwd, int timeoutSeconds = 60);

// The built converter.
inline std::string korvalinBinary() {
    return KORVALIN_BIN;
}
// A built tool, korvalin-<name> in tools/<name> of the build folder.
inline std::string toolBinary(const std::string& name) {
    return (std::filesystem::path(KORVALIN_BIN).parent_path().parent_path() / "tools" / name /
            ("korvalin-" + name))
        .string();
}
inline std::filesystem::path sourceDir() {
    return KORVALIN_SOURCE_DIR;
}
// Test inputs checked in under tests/data.
inline std::filesystem::path testData() {
    return KORVALIN_TEST_DATA;
}
inline std::filesystem::path midiCasesDir() {
    return testData() / "midi-cases";
}

// Succeeds when `path` exists; otherwise fails naming the Debian package that
// installs it, so a test that needs system data never passes by skipping.
::testing::AssertionResult installed(const std::filesystem::path& path, const std::string& package);

}  // namespace korvalin::test
