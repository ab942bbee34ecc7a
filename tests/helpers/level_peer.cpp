// A second process of the family for the cross-process tests: it maps the level file and answers
// commands read from standard input, one per line.
//   get        prints APP's reporting level
//   set N      sets APP's reporting level through the library and prints the result (1 or 0)
//   statement  prints "shown" if an INFO statement to APP would be written, else "hidden"
#include <OrnUtil/Log.h>
#include <iostream>
#include <string>

int main() {
    std::cout << (OrnUtil::CLog::Init("") ? "ready" : "no table") << std::endl;
    for (std::string command; std::getline(std::cin, command);) {
        if (command == "get")
            std::cout << OrnUtil::CLog::ReportingLevel(APP) << std::endl;
        else if (command.rfind("set ", 0) == 0)
            std::cout << OrnUtil::CLog::ReportingLevel(
                             APP, static_cast<TLogLevel>(std::stoi(command.substr(4))))
                      << std::endl;
        else if (command == "statement")
            std::cout << (INFO <= OrnUtil::CLog::ReportingLevel(APP) ? "shown" : "hidden")
                      << std::endl;
    }
    OrnUtil::CLog::Shutdown();
    return 0;
}
