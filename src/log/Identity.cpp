#include <OrnUtil/Log.h>

namespace OrnUtil {

std::string& GetName() {
    static std::string name = "Utils";
    return name;
}

std::string& GetVersion() {
    static std::string version = ORNUTILS_VERSION;
    return version;
}

std::string& GetDate() {
    static std::string date = "Wed Jul 31 12:24:49 GMTST 2019";
    return date;
}

} // namespace OrnUtil
