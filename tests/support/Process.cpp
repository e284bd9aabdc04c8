#include "Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace korvalin::test {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "korvalin-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories((path_ / name).parent_path());
    std::ofstream out(path_ / name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void TempDir::write(const std::string& name, const std::vector<unsigned char>& bytes) const {
    write(name, std::string(bytes.begin(), bytes.end()));
}

::testing::AssertionResult installed(const std::filesystem::path& path,
                                     const std::string& package) {
    if (std::filesystem::exists(path)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << path.string() << " is missing: install the Debian package " << package
           << " (./tools/install-deps.sh installs it)";
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<unsigned char> readBytes(const std::filesystem::path& path) {
    const std::string s = readFile(path);
    return {s.begin(), s.end()};
}

// Standard output and error go to files of a private folder, read once the
// program has ended or has been killed at its deadline.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& cwd, int timeoutSeconds) {
    const TempDir capture;
    const std::string out = (capture / "out").string(), err = (capture / "err").string();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::setpgid(0, 0);
        const int flags = O_WRONLY | O_CREAT | O_TRUNC;
        if (::dup2(::open("/dev/null", O_RDONLY), 0) < 0 ||
            ::dup2(::open(out.c_str(), flags, 0600), 1) < 0 ||
            ::dup2(::open(err.c_str(), flags, 0600), 2) < 0 || ::chdir(cwd.c_str()) != 0)
            ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ProcessResult result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        ::usleep(1000);
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(out);
    result.err = readFile(err);
    return result;
}

}  // namespace korvalin::test
