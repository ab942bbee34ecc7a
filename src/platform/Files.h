// File-system services shared by the families.
#pragma once

#include <cstdio>
#include <string>

namespace OrnUtil::platform {

// Creates every missing directory of `path` (mode 0777 less the umask). True when `path` is a
// directory afterwards.
bool MakeDirectories(const std::string& path);

// Creates one directory (mode 0777 less the umask). True when `path` is a directory afterwards,
// made now or there before; false when it cannot be made or names something else.
bool MakeOneDirectory(const std::string& path);

// Truncates the file under a C stream to length zero; failures (a console, a pipe) are ignored.
void TruncateStream(FILE* stream);

} // namespace OrnUtil::platform
