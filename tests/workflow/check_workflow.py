#!/usr/bin/env python3
"""The GitHub Actions workflow, checked where no runner is: valid against the Actions schema (npm's
@action-validator/cli, offline); its Linux job running exactly the README's two commands, after only
what the README says a newcomer installs first; every action pinned to a commit of a Node 24 major; the
Windows jobs running after a failure of Debian 13 alone; each of them first saying what its machine is
(UAC), in a step that may fail without skipping the kit, then the elevated run that decides the job,
then the run without elevation, which may fail and then leaves a warning; each of those steps bounded,
and the job's bound no less than their sum; a newer push cancelling the older run, and a re-run leg's
reports replacing the first's. Each row is a copy of the workflow, as committed or broken on purpose, and what the check
must say of it; a check that passes a broken copy is broken.

Usage: check_workflow.py SOURCE_DIRECTORY VALIDATOR WORK_DIRECTORY
"""
import re
import subprocess
import sys
from pathlib import Path

source, validator, work = Path(sys.argv[1]), sys.argv[2], Path(sys.argv[3])
work.mkdir(parents=True, exist_ok=True)
workflow = (source / ".github/workflows/ci.yml").read_text()
readme = (source / "README.md").read_text()
kit_readme = (source / "kit/README.md").read_text()


def readme_commands():
    """The commands of the README's command block (its first indented block under "## Commands"), in order."""
    section = readme.split("\n## Commands\n", 1)[1].split("\n## ", 1)[0]
    block = re.search(r"\n\n((?:    .*\n)+)", section).group(1)
    return [line.split("#")[0].strip() for line in block.splitlines() if line.startswith("    make ")]


# The majors each action was reviewed at, all on Node 24, which GitHub's runners now require; an older
# major may still run on Node 20.
NODE24_MAJORS = {"actions/checkout": 7, "actions/upload-artifact": 7, "actions/download-artifact": 8}


def job_text(text, name):
    """A job's lines (the job ends at the next job's name)."""
    return re.search(r"\n  %s:\n(.*?)(?=\n  [a-z][\w-]*:\n|\Z)" % name, text, re.S).group(1)


def linux_job_runs(text):
    """The run: lines of the Linux job's steps, in order."""
    return [m.group(1).strip() for m in re.finditer(r"^\s+(?:- )?run: (.*)$", job_text(text, "linux"), re.M)]


def stated_timeouts(text, kit_text):
    """Where the kit README's timeouts (the elevated step's and its program runs, the unelevated step's,
    the job's) are not the workflow's."""
    stated = re.search(r"\((\d+) minutes for the elevated run's (\w+) program runs of at most ten minutes each, (\d+) for the "
                       r"run without elevation, .*?\), and the job's, (\d+),", " ".join(kit_text.split()))
    windows = job_text(text, "windows")
    steps = re.split(r"\n      - ", windows)
    bound = lambda pattern: next((int(m.group(1)) for step in steps if re.search(pattern, step, re.M)
                                  for m in [re.search(r"^\s*timeout-minutes: (\d+)$", step, re.M)] if m), None)
    job = re.search(r"^    timeout-minutes: (\d+)$", windows, re.M)
    runs = re.search(r"ten minutes for each of\s+its (\w+) program runs", re.sub(r"\n\s*#", " ", windows))
    want = (bound(r"run_kit\.cmd.*\" \"[^\"]*\"$"), runs and runs.group(1), bound(r"run_kit\.cmd.* unelevated"),
            job and int(job.group(1)))
    got = stated and (int(stated.group(1)), stated.group(2), int(stated.group(3)), int(stated.group(4)))
    return [] if got == want else [f"kit/README.md states the timeouts {got}, the workflow's are {want}"]


def problems(text, kit_text=kit_readme):
    path = work / "ci.yml"
    path.write_text(text)
    found = []
    result = subprocess.run([validator, str(path)], capture_output=True, text=True)
    if result.returncode != 0:
        details = re.findall(r'"detail": "([^"]*)"', result.stdout + result.stderr) or [" ".join(result.stderr.split())[:200]]
        found.append("not a valid workflow: " + "; ".join(dict.fromkeys(details)))
    commands = readme_commands()[:2]
    runs = linux_job_runs(text)
    makes = [run for run in runs if run.startswith("make ")]
    if makes[: len(commands)] != commands:
        found.append(f"the Linux job runs {makes}, not the README's {commands} first")
    before = runs[: runs.index(commands[0])] if commands[0] in runs else runs
    installs = [run for run in before if "apt-get install" in run]
    if installs != ["apt-get update && apt-get install -y make git"] or "`apt-get install make git`" not in readme:
        found.append(f"before the README's commands the Linux job installs {installs}, not what the README names")
    for action, ref, version in re.findall(r"uses: ([\w.-]+/[\w.-]+)@(\S+)(?: +# +v(\S+))?", text):
        if not re.fullmatch(r"[0-9a-f]{40}", ref) or not version:
            found.append(f"{action} is not pinned to a full commit with its version in a comment: @{ref}")
        elif int(version.split(".")[0]) < NODE24_MAJORS.get(action, 0):
            found.append(f"{action} v{version} is older than v{NODE24_MAJORS[action]}, the major on Node 24 reviewed here")
    windows = job_text(text, "windows")
    if "needs:" in windows and not re.search(r"^    if: \$\{\{ !cancelled\(\) \}\}$|^    if: always\(\)$", windows, re.M):
        found.append("a failure of either Debian job skips the Windows jobs")
    steps = [re.sub(r"^\s*#.*\n", "", step, flags=re.M) for step in re.split(r"\n      - ", windows)]
    kit_runs = [i for i, step in enumerate(steps) if re.search(r"^\s*run: .*run_kit\.cmd", step, re.M)]
    probes = [i for i, step in enumerate(steps) if all(w in step for w in ("EnableLUA", "ConsentPromptBehaviorAdmin", "GITHUB_STEP_SUMMARY"))]
    if not probes or not kit_runs or probes[0] > kit_runs[0]:
        found.append("no step says what the Windows machine is (EnableLUA, ConsentPromptBehaviorAdmin) before the kit runs")
    elif not all(re.search(r"^\s*continue-on-error: true$", steps[i], re.M) for i in probes):
        found.append("a failure of the step that says what the machine is skips the kit")
    if any("whoami" in steps[i] or "ParentProcessId" in steps[i] for i in probes):
        found.append("pwsh, not the runner, reports a token or a parent process")
    # Each step's bound, and the job's: no less than the steps' bounds added up.
    bounds = [int(m.group(1)) for step in steps[1:] for m in [re.search(r"^\s*timeout-minutes: (\d+)$", step, re.M)] if m]
    job_bound = re.search(r"^    timeout-minutes: (\d+)$", windows, re.M)
    if any(not re.search(r"^\s*timeout-minutes: \d+$", steps[i], re.M) for i in kit_runs):
        found.append("a run of the kit without a step timeout")
    elif not job_bound or int(job_bound.group(1)) < sum(bounds):
        found.append(f"the Windows job's timeout is below its steps' timeouts added up ({sum(bounds)} minutes)")
    elevated = [i for i in kit_runs if not re.search(r"run_kit\.cmd.* unelevated( |$)", steps[i], re.M)]
    unelevated = [i for i in kit_runs if i not in elevated]
    if not elevated or any("continue-on-error" in steps[i] for i in elevated):
        found.append("no required elevated run of the kit")
    if not unelevated or not all(re.search(r"^\s*continue-on-error: true$", steps[i], re.M) for i in unelevated):
        found.append("the run without elevation is missing, or can fail the job where the runner cannot virtualize")
    elif not all(re.search(r"run_kit\.cmd.* unelevated \|\| \(echo ::warning ", steps[i]) for i in unelevated):
        found.append("a failed run without elevation leaves no warning on the run's page")
    if not re.search(r"^concurrency:\n  group: .*\$\{\{ github\.ref \}\}.*\n  cancel-in-progress: true$", text, re.M):
        found.append("no concurrency group per ref that cancels the older run")
    if not re.search(r"name: reports-\$\{\{ matrix\.image \}\}\n(?:.*\n)*?\s+overwrite: true$", windows, re.M):
        found.append("a re-run leg's reports clash with the first's (no overwrite: true)")
    steps = "\n".join(line for line in text.splitlines() if not line.lstrip().startswith("#"))
    for name in ("debian: [\"12\", \"13\"]", "windows-2022", "windows-2025", "windows-11-arm",
                 "name: check-kit", "reports-${{ matrix.image }}"):
        if name not in steps:
            found.append(f"the workflow does not name {name}")
    return found + stated_timeouts(text, kit_text)


committed = workflow
rows = [
    ("as committed", committed, False),
    ("a misspelt key", committed.replace("runs-on: ubuntu-24.04", "runs-onn: ubuntu-24.04"), True),
    ("a timeout that is not a number", committed.replace("timeout-minutes: 195", "timeout-minutes: sixty"), True),
    ("a job timeout below its steps' added up", committed.replace("timeout-minutes: 195", "timeout-minutes: 185"), True),
    ("an unelevated run without a step timeout", committed.replace("        timeout-minutes: 75\n", ""), True),
    ("a probe whose failure skips the kit", committed.replace("        continue-on-error: true\n        timeout-minutes: 2\n", "        timeout-minutes: 2\n"), True),
    ("pwsh reporting the token", committed.replace("ConsentPromptBehaviorAdmin)\"", "ConsentPromptBehaviorAdmin)\", \"$(whoami /groups)\""), True),
    ("a failed unelevated run without a warning", re.sub(r" \|\| \(echo ::warning .*\)$", "", committed, flags=re.M), True),
    ("another test command", committed.replace("run: make test\n", "run: make test -k\n"), True),
    ("the README's commands in another order",
     committed.replace("run: make demo\n", "run: TMP\n").replace("run: make test\n", "run: make demo\n")
     .replace("run: TMP\n", "run: make test\n"), True),
    ("more installed before them", committed.replace("install -y make git", "install -y make git libgtest-dev"), True),
    ("no ARM64 runner", committed.replace(', "windows-11-arm"]', "]"), True),
    ("an action pinned by its tag", re.sub(r"actions/checkout@\S+ # v\S+", "actions/checkout@v7", committed), True),
    ("an action at a Node 20 major", re.sub(r"actions/upload-artifact@\S+ # v\S+",
                                             "actions/upload-artifact@ea165f8d65b6e75b540449e92b4886f43607fa02 # v4.6.2", committed), True),
    ("Windows jobs that a failure of either Debian job skips", committed.replace("\n    if: ${{ !cancelled() }}\n", "\n"), True),
    ("no step that says what the machine is", re.sub(r"      - name: What this machine is.*?(?=      - name: Run the kit elevated)", "", committed, flags=re.S), True),
    ("a run without elevation that fails the job", committed.replace("        continue-on-error: true\n        timeout-minutes: 75\n", "        timeout-minutes: 75\n"), True),
    ("no run without elevation", re.sub(r"      - name: Run the kit without elevation.*?(?=      - if: always\(\))", "", committed, flags=re.S), True),
    ("no concurrency group", committed.replace("  cancel-in-progress: true\n", ""), True),
    ("reports without overwrite", committed.replace("          overwrite: true\n", ""), True),
    ("a job timeout the kit README does not state", committed.replace("timeout-minutes: 195", "timeout-minutes: 200"), True),
    ("a kit README with the stale timeouts (85, eight, 170)", committed, True,
     re.sub(r"\(\d+ minutes for the elevated run's \w+ program", "(85 minutes for the elevated run's eight program",
            kit_readme.replace("the job's, 195,", "the job's, 170,"))),
]
failed = 0
for name, text, broken, *kit_text in rows:
    found = problems(text, *kit_text)
    if bool(found) == broken:
        print(f"ok: {name}" + (f": {found[0]}" if found else ""))
    else:
        failed += 1
        print(f"FAILED: {name}: " + ("; ".join(found) if found else "passed, though broken"))
print(f"{len(rows) - failed} passed, {failed} failed")
sys.exit(1 if failed else 0)
