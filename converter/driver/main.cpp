#include <string>
#include <vector>

#include "driver/Driver.h"

int main(int argc, char** argv) {
    korvalin::StdConsole console;
    std::vector<std::string> args(argv, argv + argc);
    return korvalin::runConverter(args, console);
}
