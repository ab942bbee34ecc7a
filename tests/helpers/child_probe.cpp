// A child for the process tests. "args" writes each argument after it in brackets. "echo CODE"
// copies each input line to standard output as "out:LINE" and to standard error as "err:LINE",
// and exits with CODE at the end of its input.
#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    for (int i = 2; mode == "args" && i < argc; ++i)
        std::cout << '[' << argv[i] << ']';
    for (std::string line; mode == "echo" && std::getline(std::cin, line);) {
        std::cout << "out:" << line << std::endl;
        std::cerr << "err:" << line << std::endl;
    }
    return mode == "echo" && argc > 2 ? std::atoi(argv[2]) : 0;
}
