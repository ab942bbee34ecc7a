// Prints the identity of the OrnUtils it was linked with, and logs one line.
#include <OrnUtils.h>
#include <iostream>

int main() {
    std::cout << OrnUtil::GetName() << ' ' << OrnUtil::GetVersion() << '\n';
    if (WARN <= OrnUtil::CLog::ReportingLevel(APP))
        OrnUtil::CLog(APP, stdout).Get(WARN, APP) << "consumer linked";
    return 0;
}
