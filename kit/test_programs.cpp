#include "kit/test_programs.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "kit/child_process.h"
#include "kit/optional_function.h"
#include "kit/required_checks.h"
#include "kit/runner_run.h"
#include "kit/runner_text.h"
#include "kit/token_facts.h"

namespace runner {

void RunTestPrograms() {
  const struct {
    const char* name;
    const wchar_t* program;
    bool changesTheSetting;
    const wchar_t* arguments;
    // A program run for one test must say it passed: a filter that matches nothing passes too.
    const char* mustSay = nullptr;
    // What Wine cannot show, where the table marks the check a known Wine difference.
    const char* wineCannot = nullptr;
  } programs[] = {
      {"registry", L"wine_registry_test.exe", true, L""},
      {"file probe", L"wine_file_probe_test.exe", false, L""},
      {"code page", L"wine_code_page_test.exe", false, L""},
      // The kit carries no benchmark: its floor's test stays at home. The same-publisher rows rest on
      // Wine accepting a root nobody trusts; on Windows the kit's own same-publisher checks stand in.
      {"end to end", L"wine_end_to_end_test.exe", true, L"--gtest_filter=-*BenchmarkFloor*:*SamePublisher*"},
      {"DLL search", L"dll-planting\\wine_dll_search_test.exe", false, L""},
      {"runtime", L"wine_runtime_test.exe", false, L""},
      // Launcher-same-publisher.exe against certificates made on this machine, one a trusted root for
      // the run only.
      {"same-publisher build, an untrusted chain: nothing started", L"wine_end_to_end_test.exe", true,
       L"--gtest_filter=SamePublisherOnWindows.UntrustedChainStartsNothing", "[  PASSED  ] 1 test.",
       "its WinVerifyTrust trusts any root, and it has no New-SelfSignedCertificate"},
      // The secure-location rule with Windows' own default ACLs: each prints the SDDL of its folders.
      {"same-publisher build, a trusted chain under Program Files: started", L"wine_end_to_end_test.exe", true,
       L"--gtest_filter=SamePublisherOnWindows.TrustedChainUnderProgramFilesStarts", "[  PASSED  ] 1 test.",
       "every file there is owned by the Unix user (S-1-5-21-0-0-0-1000), its DACL made from the mode bits, so the "
       "same-publisher build starts nothing there, naming that SID; and it has no New-SelfSignedCertificate"},
      {"same-publisher build, a trusted chain in a folder under the drive root: nothing started, naming Authenticated "
       "Users or Users", L"wine_end_to_end_test.exe", true,
       L"--gtest_filter=SamePublisherOnWindows.TrustedChainUnderTheDriveRootStartsNothing", "[  PASSED  ] 1 test.",
       "every file there is owned by the Unix user (S-1-5-21-0-0-0-1000), its DACL made from the mode bits, so the "
       "same-publisher build starts nothing there, naming that SID; and it has no New-SelfSignedCertificate"},
      {"same-publisher build, a junction on the path: nothing started", L"wine_end_to_end_test.exe", true,
       L"--gtest_filter=SamePublisherOnWindows.JunctionOnThePathStartsNothing", "[  PASSED  ] 1 test.",
       "it makes no junction, and it has no New-SelfSignedCertificate to make the chain with"},
      {"a held file's folder cannot be renamed or made a junction", L"wine_held_file_test.exe", false, L"",
       "[  PASSED  ] 3 tests.", "it renames a folder that holds an open file, and makes no junction"},
  };
  bool saved = false;
  for (const auto& p : programs) {
    const std::string name = std::string("test program: ") + p.name;
    const kit::RequiredCheck* entry = kit::FindCheck(name);
    if (!entry) {
      Fail(name, "not in the table of required checks (kit/required_checks.cpp)");
      continue;
    }
    if (entry->wineDiffers && OnWine()) {
      Report->Result(Outcome::KnownWineDifference, name, std::string("Wine cannot show it") + (p.wineCannot ? std::string(": ") + p.wineCannot : std::string()));
      continue;
    }
    // The run without elevation leaves the setting alone, also where its token could write it (no
    // desktop user's token to run with): the elevated run checks these, and once is enough.
    if (p.changesTheSetting && !ElevatedMode) {
      Skip(name, "writes HKLM: the elevated run checks it");
      continue;
    }
    if (p.changesTheSetting && !CanWriteMachineRegistry()) {
      NotProven(name, "not elevated: it writes HKLM; run the kit as administrator");
      continue;
    }
    if (p.changesTheSetting && !saved && !(saved = Backup.Save())) {
      Fail(name, "the setting could not be saved first, so it is not touched");
      continue;
    }
    // A vendor's setting, in either view, must not decide a program's rows: each starts from none.
    if (p.changesTheSetting && !Backup.Remove()) {
      Fail(name, "the setting could not be removed before the program ran");
      continue;
    }
    // Windows fixes the ANSI code page at boot; the test program learns which to expect from LC_ALL, as
    // under Wine.
    std::wstring locale;
    if (std::wstring(p.program) == L"wine_code_page_test.exe") {
      std::string covered;
      for (const kit::CoveredCodePage& known : kit::CoveredCodePages()) {
        covered += (covered.empty() ? "" : ", ") + std::to_string(known.codePage);
        if (known.codePage == GetACP()) locale = std::wstring(known.locale, known.locale + std::strlen(known.locale));
        else Skip("code page " + std::to_string(known.codePage), "Windows fixes the ANSI code page at boot; this machine's is " + std::to_string(GetACP()));
      }
      if (locale.empty()) {
        RuledOut(name, "the code-page cases cover " + covered + "; this machine's ANSI code page is " + std::to_string(GetACP()));
        continue;
      }
    }
    // Wine prefers its built-in DLLs; Windows loads a non-KnownDLL from the program's folder first.
    const bool planted = std::wstring(p.program).find(L"dll-planting") != std::wstring::npos;
    const ScopedEnvironment codePage(L"LC_ALL", locale, !locale.empty());
    const ScopedEnvironment overrides(L"WINEDLLOVERRIDES", Environment(L"WINEDLLOVERRIDES") + L";dwmapi=n,b", planted && OnWine());
    const Run run = RunProgram(Folder + L"\\" + p.program, p.arguments, 600000);
    // The owner and DACL of the folders a row used, as the program printed them.
    for (std::size_t at = run.output.find("SDDL of "); at != std::string::npos; at = run.output.find("SDDL of ", at + 1))
      Line(run.output.substr(at, run.output.find_first_of("\r\n", at) - at));
    if (run.started && !run.timedOut && run.exitCode == 0 && p.mustSay && run.output.find(p.mustSay) == std::string::npos)
      Fail(name, std::string("exit status 0, but it did not say ") + p.mustSay + FailureLines(run.output));
    else if (run.started && !run.timedOut && run.exitCode == 0) Ok(name);
    else if (!run.started) Fail(name, "not started: " + run.output);
    else if (run.timedOut) Fail(name, "timed out after 600 s" + FailureLines(run.output));
    else Fail(name, "exit status " + std::to_string(run.exitCode) + FailureLines(run.output));
  }
  if (saved && !Backup.Restore()) Fail("the setting restored", "could not write it back; it stays in " + Utf8(Backup.Path()));
}

}  // namespace runner
