#include "kit/runner_run.h"

#include "kit/required_checks.h"

namespace runner {

std::wstring Folder;
std::wstring Work;
SettingBackup Backup(L"");
CheckReport* Report = nullptr;
bool ElevatedMode = true;
std::string RunId = "none";
std::string NoUserToken;

void Line(const std::string& text) { Report->Line(text); }

void Ok(const std::string& name) { Report->Result(Outcome::Ok, name); }
void Fail(const std::string& name, const std::string& actual) { Report->Result(Outcome::Failed, name, actual); }
void Skip(const std::string& name, const std::string& why) { Report->Result(Outcome::Skipped, name, why); }
void NotProven(const std::string& name, const std::string& why) { Report->Result(Outcome::NotProven, name, why); }

namespace {

bool Required(const std::string& name) {
  const kit::RequiredCheck* check = kit::FindCheck(name);
  return check && check->mode == (ElevatedMode ? kit::Mode::Elevated : kit::Mode::Unelevated);
}

}  // namespace

void RuledOut(const std::string& name, const std::string& facts) {
  Report->Result(Required(name) ? Outcome::NotApplicable : Outcome::Skipped, name, facts);
}

}  // namespace runner
