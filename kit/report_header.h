// The report's header: the run's facts that the verdict judges the report's lines by (the commit, the
// run id, the runner's build, the machine, the code pages, the token, UAC and the session, Wine).
#pragma once

#include <string>

namespace runner {

// The header's statement of the machine and of this runner on it ("x64, this runner under WOW64").
std::string Machine();

// Writes the header's lines to the report.
void Header();

}  // namespace runner
