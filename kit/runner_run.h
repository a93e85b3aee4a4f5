// One run of the runner: where it runs, its mode and run id, the report its checks' lines go to, and
// how a check's outcome becomes its line.
#pragma once

#include <string>

#include "kit/check_report.h"
#include "kit/setting_backup.h"

namespace runner {

extern std::wstring Folder;    // the runner's own, where the kit was unzipped
extern std::wstring Work;      // the runner's scratch folder; removed at the end
extern SettingBackup Backup;   // beside the runner, once Folder is known
extern CheckReport* Report;    // made in main, once the folder is known
extern bool ElevatedMode;
extern std::string RunId;
// In unelevated mode, why this process runs the checks with its own token: no desktop user's token.
extern std::string NoUserToken;

using Outcome = CheckReport::Outcome;
// A line of the report that is no check's.
void Line(const std::string& text);
void Ok(const std::string& name);
void Fail(const std::string& name, const std::string& actual);
// Ruled out by a fixed property of this machine, or not this mode's to prove.
void Skip(const std::string& name, const std::string& why);
// Required by this mode, and ruled out by the way the run was made: fails the run.
void NotProven(const std::string& name, const std::string& why);
// Ruled out by a fact of this run that the header states: "not applicable" where this mode requires the
// check (the verdict holds the fact against the header), "skipped" where it does not.
void RuledOut(const std::string& name, const std::string& facts);

}  // namespace runner
