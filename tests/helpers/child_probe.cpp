// A child for the process tests. The first argument picks what it does:
//   args           writes each of its arguments, argv[0] included, followed by a NUL byte
//   fds            writes the number of each descriptor it holds open, one per line
//   echo [CODE]    copies each input line to standard output as "out:LINE" and to standard error
//                  as "err:LINE", and exits with CODE (default 0) at the end of its input
//   block          reads its input to the end, then exits with 0
//   raise SIGNAL   ends itself with the signal
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "args") {
        for (int i = 0; i < argc; ++i)
            std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, stdout);
        return 0;
    }
    if (mode == "fds") {
        DIR* dir = opendir("/proc/self/fd");
        if (dir == nullptr)
            return 2;
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != dirfd(dir))
                std::printf("%s\n", entry->d_name);
        closedir(dir);
        return 0;
    }
    if (mode == "echo") {
        for (std::string line; std::getline(std::cin, line);) {
            std::cout << "out:" << line << std::endl;
            std::cerr << "err:" << line << std::endl;
        }
        return argc > 2 ? std::atoi(argv[2]) : 0;
    }
    if (mode == "block") {
        while (std::getchar() != EOF) {
        }
        return 0;
    }
    if (mode == "raise" && argc > 2) {
        std::signal(std::atoi(argv[2]), SIG_DFL);
        std::raise(std::atoi(argv[2]));
    }
    return 1;
}
