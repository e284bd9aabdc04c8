#include "base/Console.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace korvalin {
namespace {

std::string formatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

}  // namespace

void Console::print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeOut(formatV(format, args));
    va_end(args);
}

void Console::printError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    writeErr(formatV(format, args));
    va_end(args);
}

void Console::systemError(std::string_view name, int errorNumber) {
    std::string text(name);
    text += ": ";
    text += std::strerror(errorNumber);
    text += '\n';
    writeErr(text);
}

void StdConsole::writeOut(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void StdConsole::writeErr(std::string_view text) {
    // Keep the two streams in order when both go to one terminal or pipe.
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void StdConsole::makeUnbuffered() {
    std::fflush(stdout);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

}  // namespace korvalin
