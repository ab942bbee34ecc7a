// Runs a libFuzzer target over the files given on the command line (or in the folders given), for
// builds without libFuzzer.
#include <cstddef>
#include <cstdint>
#include <dirent.h>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int Replay(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        std::cerr << "cannot read " << path << '\n';
        return 1;
    }
    if (S_ISDIR(info.st_mode)) {
        int count = 0;
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir))
                if (entry->d_name[0] != '.')
                    count += Replay(path + "/" + entry->d_name) == 0;
            closedir(dir);
        }
        return count > 0 ? 0 : 1;
    }
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> data((std::istreambuf_iterator<char>(file)),
                                 std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int failed = 0;
    for (int i = 1; i < argc; ++i)
        failed += Replay(argv[i]);
    std::cout << "replayed " << argc - 1 << " path(s)\n";
    return failed == 0 ? 0 : 1;
}
