// Console sink for all converter text. Stages print through it so tests can
// capture standard output and the error stream separately.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace korvalin {

class Console {
  public:
    virtual ~Console() = default;

    // printf-style text on standard output.
    void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // printf-style text on the error stream.
    void printError(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // "<name>: <system error text>\n" on the error stream.
    void systemError(std::string_view name, int errorNumber);

    virtual void writeOut(std::string_view text) = 0;
    virtual void writeErr(std::string_view text) = 0;
};

// Writes to the process's stdout and stderr.
class StdConsole final : public Console {
  public:
    void writeOut(std::string_view text) override;
    void writeErr(std::string_view text) override;
    // From now on every character reaches standard output as soon as it is printed.
    void makeUnbuffered();
};

// Keeps both streams, and their interleaving, in memory (tests, fuzzing).
class CaptureConsole final : public Console {
  public:
    void writeOut(std::string_view text) override {
        out += text;
        all += text;
    }
    void writeErr(std::string_view text) override {
        err += text;
        all += text;
    }
    std::string out, err, all;
};

// Discards everything.
class NullConsole final : public Console {
  public:
    void writeOut(std::string_view) override {}
    void writeErr(std::string_view) override {}
};

}  // namespace korvalin
