// A walk through OrnUtils: each section shows one family doing its main job.
#include "Tour.h"

#include <OrnUtils.h>
#include <cstdlib>
#include <iostream>

void Section(const std::string& title) {
    std::cout << "\n== " << title << " ==\n";
}

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--framed-child")
        return FramedChild();
    // The tour keeps its level file in a folder of its own, so that it leaves the levels of the
    // applications on this machine alone.
    char folder[] = "/tmp/ornutils-tour-XXXXXX";
    if (mkdtemp(folder) == nullptr || setenv("APPDATA", folder, 1) != 0) {
        std::cerr << "tour: cannot make a scratch folder\n";
        return 1;
    }
    std::cout << OrnUtil::GetName() << " " << OrnUtil::GetVersion() << ", built "
              << OrnUtil::GetDate() << "\n";

    TourLogging();
    TourComm();
    TourSystem();
    TourText();
    TourHttp();

    OrnUtil::CLog::Shutdown();
    std::cout << "\nThe tour's level file is in " << folder << "/Marlek/ORN/DEBUG.CFG\n";
    return 0;
}
