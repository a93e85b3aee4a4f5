// The test programs the Wine tests run, run here: the table of them and how each one's line is decided.
#pragma once

namespace runner {

// Runs each test program this mode requires, with the launcher's setting saved, removed before each
// program that changes it and put back after; one line each.
void RunTestPrograms();

}  // namespace runner
