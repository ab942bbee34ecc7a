// Keeps a level file cut short from killing the process. Any user may truncate the shared file
// (": > DEBUG.CFG"); the table's page then lies past the file's end and reading it raises SIGBUS.
#pragma once

#include <cstdint>

namespace OrnUtil::internal {

// Installs, once per process, a SIGBUS handler that, for a fault inside the 32 bytes at `table`,
// puts a private page of WARN words in the table's place, clears *view and lets the faulting
// access run again. Every other bus error goes to the handler that was there before, or takes the
// default action. `table` must be the same page at every call.
void GuardLevelTable(int32_t* table, void** view);

} // namespace OrnUtil::internal
