#include <iostream>

#include "cli/cli.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    return tovani::cli::run_cli(args, std::cout, std::cerr);
}
