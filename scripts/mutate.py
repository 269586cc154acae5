#!/usr/bin/env python3
"""Mutation testing: does the test suite notice small faults put into the code?

  generate  writes the fixed mutant catalogue (scripts/mutants.json); rarely needed
  run       applies each mutant to a checkout, rebuilds what its tests need, runs them, classifies
  compare   two runs (before and after a change of the tests): which killed mutants now survive

A mutant is one changed line. It is "killed" when a test of its layer or an end-to-end test fails
or hangs, "survived" when all pass, "stillborn" when it does not compile, and "gone" when its
line is no longer in the file (code that left the product).
"""
import argparse
import contextlib
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
CATALOGUE = REPO / "scripts" / "mutants.json"
LAYERS = ["core", "device", "platform", "services", "sync", "discovery", "ui", "app", "tools"]
# The simulator is the tool with tests (tests/tools/); the screenshot renderer has none.
SOURCES = {**{layer: f"src/{layer}" for layer in LAYERS[:-1]}, "tools": "tools/m1620-sim"}
PROGRAMS = ["quorvel", "quorvel-engine", "m1620-sim"]  # what the end-to-end tests start
CONFIGURE = ["-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DQUORVEL_BUILD_BENCH=OFF"]
# Each mutant's file is compiled twice (mutated, then restored for the next one): the second time
# ccache has it.
if shutil.which("ccache"):
    CONFIGURE.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
OPERATORS = ["boundary", "comparison", "constant", "delete", "negate", "bool", "text"]
# Binary operators stand between spaces (clang-format), template brackets never do.
SWAPS = [(re.compile(r"(?<= )(<=|>=|<|>)(?= )"), "boundary"), (re.compile(r"(?<= )(==|!=)(?= )"), "comparison"),
         (re.compile(r"\b(true|false)\b"), "bool")]
SWAP = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==", "true": "false", "false": "true"}
# Lines whose change says nothing about behaviour, or that the compiler checks for us; the
# statements may run over several lines.
SKIPPED_LINE = re.compile(r"^\s*(#|Q_LOGGING_CATEGORY|Q_DECLARE|case\b|default:)")
SKIPPED_STATEMENT = re.compile(r"^\s*(static_assert|Q_PROPERTY|Q_ASSERT|Q_UNUSED|qC?(Debug|Info|Warning|Critical)\b)")
CONTROL = re.compile(r"^(\} )?(else|(else )?if \(.*\)|for \(.*\)|while \(.*\))$")
CALL = re.compile(r"^\s*((Q_EMIT|emit) )?[\w.:>\[\]()-]*\w\(.*\);$")
ASSIGNMENT = re.compile(r"^\s*([\w.>\[\]*-]+ [-+*/|&]?= .+|(\+\+|--)?[\w.>-]+(\+\+|--)?);$")
NUMBER = re.compile(r"(?<![\w.'<])(\d+)(?=(?:ms|s|min|h|u|U|l|L|ul|UL|ll|LL)?(?![\w.']))")


# ---------------------------------------------------------------- generate

def mask(line, state):
    """Returns the line with comments cut and literals blanked, columns kept, so the operators
    never touch text or commented-out code; state carries /* */ and R"( )" across lines."""
    out, i = [], 0
    while i < len(line):
        if state["comment"] or state["raw"]:
            end_mark = "*/" if state["comment"] else ')"'
            end = line.find(end_mark, i)
            stop = len(line) if end < 0 else end + 2
            out.append((" " if state["comment"] else "_") * (stop - i))
            if end >= 0:
                state["comment"] = state["raw"] = False
            i = stop
        elif line.startswith("//", i):
            break
        elif line.startswith("/*", i):
            out.append("  ")
            state["comment"], i = True, i + 2
        elif line.startswith('R"(', i):
            out.append('R"(')
            state["raw"], i = True, i + 3
        # Not after a letter or digit: a digit separator (10'000), or a u'x' that no operator matches.
        elif line[i] in "\"'" and not (line[i] == "'" and i and line[i - 1].isalnum()):
            j = i + 1
            while j < len(line) and line[j] != line[i]:
                j += 2 if line[j] == "\\" else 1
            j = min(j, len(line) - 1)
            out.append(line[i] + "_" * (j - i - 1) + line[j])
            i = j + 1
        else:
            out.append(line[i])
            i += 1
    return "".join(out)


def swaps(line, code, rng):
    """Comparison and boundary flips, and true for false."""
    for pattern, kind in SWAPS:
        for m in pattern.finditer(code):
            yield kind, line[:m.start()] + SWAP[m.group(1)] + line[m.end():]


def constants(line, code, rng):
    """An integer constant one up or down (0 only up: it may be unsigned)."""
    for m in NUMBER.finditer(code):
        if m.group(1) == "0" or not m.group(1).startswith("0"):  # no octal
            new = int(m.group(1)) + (1 if m.group(1) == "0" else rng.choice((-1, 1)))
            yield "constant", line[:m.start()] + str(new) + line[m.end():]


def negation(line, code, rng):
    """The other branch of an if whose condition is on this line and declares nothing."""
    m = re.search(r"\bif \(", code)
    depth = 0
    for end in range(m.end() - 1, len(code)) if m else ():
        depth += {"(": 1, ")": -1}.get(code[end], 0)
        if depth == 0:
            condition = code[m.end():end]
            if ";" not in condition and not re.search(r"(?<![=!<>])=(?!=)", condition):
                yield "negate", line[:m.end()] + "!(" + line[m.end():end] + ")" + line[end:]
            return


def deletion(line, code, rng, previous):
    """A call statement or assignment made empty, where the line is the whole statement; never a
    return, nor a co_await (a coroutine without one no longer compiles)."""
    stripped = code.strip()
    whole = stripped.endswith(";") and (previous[-1:] in (";", "{", "}", ":") or CONTROL.match(previous))
    if (whole and all(code.count(a) == code.count(b) for a, b in ("()", "{}", "[]"))
            and not re.match(r"(return|co_return|break|continue|delete|throw)\b", stripped)
            and "co_await" not in stripped and (CALL.match(code) or ASSIGNMENT.match(code))):
        yield "delete", line[:len(line) - len(line.lstrip())] + "{}"


def text_change(line, code, rng):
    """One letter of a text a person reads (it has a space or a capital; keys and object names
    have neither) moved on by one; never the letter of an escape."""
    texts = [t for t in re.finditer(r'QStringLiteral\("((?:[^"\\]|\\.)*)"\)', line)
             if code[t.start():t.start() + 1] == "Q" and re.search(r"^[A-Z]| ", t.group(1))
             and "\\u" not in t.group(1) and "\\x" not in t.group(1)]
    if texts:
        text = rng.choice(texts)
        letters = [i for i in range(text.start(1), text.end(1))
                   if line[i].isascii() and line[i].isalpha() and line[i - 1] != "\\"]
        if len(letters) >= 2:
            i = rng.choice(letters)
            base = ord("a") if line[i].islower() else ord("A")
            yield "text", line[:i] + chr(base + (ord(line[i]) - base + 1) % 26) + line[i + 1:]


def file_mutants(checkout, path, rng):
    """All candidate mutants of one source file, skipping comments, logging and declarations."""
    state, previous, skipping, found = {"comment": False, "raw": False}, ";", False, []
    for number, line in enumerate(path.read_text(encoding="utf-8").split("\n"), 1):
        was_literal = state["comment"] or state["raw"]
        code = mask(line, state).rstrip()
        if not code.strip() or was_literal:
            continue
        if skipping or SKIPPED_STATEMENT.match(code) or SKIPPED_LINE.match(code):
            skipping = (skipping or bool(SKIPPED_STATEMENT.match(code))) and not code.endswith(";")
            previous = code.strip()
            continue
        mutants = [m for op in (swaps, constants, negation, text_change) for m in op(line, code, rng)]
        for kind, mutated in mutants + list(deletion(line, code, rng, previous)):
            found.append({"file": str(path.relative_to(checkout)), "line": number,
                          "operator": kind, "original": line, "mutated": mutated})
        previous = code.strip()
    return found


def pick(candidates, count, rng):
    """Takes count mutants, one operator after another so every layer gets a mix, one per line."""
    groups = {op: [c for c in candidates if c["operator"] == op] for op in OPERATORS}
    for group in groups.values():
        rng.shuffle(group)
    chosen, lines = [], set()
    while len(chosen) < count and any(groups.values()):
        for op in OPERATORS:
            while groups[op] and len(chosen) < count:
                candidate = groups[op].pop()
                if (candidate["file"], candidate["line"]) not in lines:
                    lines.add((candidate["file"], candidate["line"]))
                    chosen.append(candidate)
                    break
    return sorted(chosen, key=lambda c: (c["file"], c["line"]))


def generate(args):
    """Writes a catalogue with about args.count mutants, shared out by each layer's size."""
    if args.catalogue.exists() and not args.force:
        sys.exit(f"{args.catalogue} exists; the catalogue is fixed so runs stay comparable (--force)")
    rng = random.Random(args.seed)
    files = {layer: sorted((args.checkout / SOURCES[layer]).rglob("*.cpp")) for layer in LAYERS}
    size = {layer: sum(len([l for l in f.read_text().splitlines() if l.strip()])
                       for f in (args.checkout / SOURCES[layer]).rglob("*.[ch]*")) for layer in LAYERS}
    mutants = []
    for layer in LAYERS:
        count = max(args.min_per_layer, round(args.count * size[layer] / sum(size.values())))
        candidates = [c for f in files[layer] for c in file_mutants(args.checkout, f, rng)]
        for n, mutant in enumerate(pick(candidates, count, rng), 1):
            mutants.append({"id": f"{layer}-{n:02d}", **mutant})
        print(f"{layer:10} {size[layer]:5} lines {count:3} mutants of {len(candidates)} candidates")
    commit = git(args.checkout, "rev-parse", "--short", "HEAD")
    body = ",\n".join("  " + json.dumps(m, ensure_ascii=False) for m in mutants)
    args.catalogue.write_text(f'{{"seed": {args.seed}, "commit": "{commit}", "mutants": [\n{body}\n]}}\n',
                              encoding="utf-8")
    print(f"{len(mutants)} mutants in {args.catalogue}")


# ---------------------------------------------------------------- run

def git(checkout, *words):
    return subprocess.run(["git", "-C", str(checkout), *words], capture_output=True, text=True).stdout.strip()


def layer_of(path):
    return "tools" if path.startswith("tools/") else path.split("/")[1]


def cmake_calls(text, command):
    """The argument lists of every call of command in a CMakeLists text, comments removed."""
    text = re.sub(r"#[^\n]*", "", text)
    calls = []
    for m in re.finditer(rf"\b{command}\(", text):
        depth, end = 1, m.end()
        while depth:
            depth += {"(": 1, ")": -1}.get(text[end], 0)
            end += 1
        calls.append(text[m.end():end - 1].split())
    return calls


def read_tests(checkout):
    """Tests by folder of tests/, from the CMakeLists there, so a new test is picked up by itself.
    A test that runs in its own network namespace (NETNS) starts the real programs: end-to-end."""
    tests, needs = {}, {}
    for cmake in sorted((checkout / "tests").glob("*/CMakeLists.txt")):
        text = cmake.read_text()
        folder = tests.setdefault(cmake.parent.name, [])
        for words in cmake_calls(text, "quorvel_add_test"):
            folder.append({"name": words[0], "target": words[0], "e2e": "NETNS" in words})
        for words in cmake_calls(text, "add_test"):
            folder.append({"name": words[1], "target": None, "e2e": "${QUORVEL_TEST_NETNS}" in words})
        for words in cmake_calls(text, "add_dependencies"):
            needs.setdefault(words[0], []).extend(words[1:])
    for folder in tests.values():
        for test in folder:
            test["targets"] = ([test["target"]] if test["target"] else []) + needs.get(test["name"], [])
            if test["e2e"]:
                test["targets"] += PROGRAMS
    return tests


def tests_for(layer, tests):
    """The tests of the mutant's layer, then every end-to-end test, without repeats."""
    chosen = {t["name"]: t for t in tests.get(layer, [])}
    chosen.update({t["name"]: t for folder in tests.values() for t in folder if t["e2e"]})
    return list(chosen.values())


def run_group(command, log, timeout=None):
    """Runs command in a process group of its own, so that a time-out or Ctrl-C also ends the
    test programs it started, not just ctest. Returns the exit status, None after a time-out."""
    log.write(f"$ {' '.join(command)}\n")
    log.flush()
    process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        stop_group(process)
        log.write(f"\n(timed out after {timeout:.0f} s: stopped)\n")
        return None
    except BaseException:
        stop_group(process)
        raise


def stop_group(process):
    """SIGTERM to the group this script started, and SIGKILL to what is left a moment later."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, sig)
        with contextlib.suppress(subprocess.TimeoutExpired):
            process.wait(timeout=5)


def build(build_dir, targets, log):
    """Builds only the targets the chosen tests need; True when it compiled and linked."""
    command = ["cmake", "--build", str(build_dir), "-j2", "--target", *sorted(set(targets))]
    return run_group(command, log) == 0


def run_test(build_dir, name, timeout, log):
    """Runs one test through ctest: 'passed', 'failed' or 'timeout'."""
    command = ["ctest", "--test-dir", str(build_dir), "-R", f"^{name}$", "--no-tests=error",
               "--output-on-failure"]
    status = run_group(command, log, timeout)
    return "timeout" if status is None else "passed" if status == 0 else "failed"


def restore(path, original):
    """Puts the file back as it was and checks it byte for byte; Ctrl-C cannot cut this short."""
    handlers = {s: signal.signal(s, signal.SIG_IGN) for s in (signal.SIGINT, signal.SIGTERM)}
    try:
        path.write_bytes(original)
        if hashlib.sha256(path.read_bytes()).digest() != hashlib.sha256(original).digest():
            sys.exit(f"could not restore {path}: restore it from git before anything else")
    finally:
        for sig, handler in handlers.items():
            signal.signal(sig, handler)


def restore_pending(build_dir):
    """Restores a file that a killed earlier run (SIGKILL, power cut) left mutated."""
    marker = build_dir / "mutate-pending.json"
    if marker.exists():
        pending = json.loads(marker.read_text())
        restore(Path(pending["file"]), (build_dir / "mutate-pending.orig").read_bytes())
        print(f"restored {pending['file']}, left mutated by an interrupted run")
        marker.unlink()
        (build_dir / "mutate-pending.orig").unlink()


def locate(lines, mutant):
    """The index of the mutant's line: where it was recorded or, when code has moved, the nearest
    line that still reads exactly the same; None when it is gone."""
    hits = [i for i, text in enumerate(lines) if text == mutant["original"]]
    return min(hits, key=lambda i: abs(i - (mutant["line"] - 1))) if hits else None


def try_mutant(checkout, build_dir, mutant, tests, baseline, args, log):
    """Applies the mutant, builds, runs its tests until one fails, and always restores the file.
    Returns (status, the test that killed it, the line it was found on)."""
    path = checkout / mutant["file"]
    original = path.read_bytes() if path.exists() else b""
    lines = original.decode("utf-8").split("\n")
    index = locate(lines, mutant)
    if index is None:
        return "gone", None, mutant["line"]
    lines[index] = mutant["mutated"]
    shutil.copyfile(path, build_dir / "mutate-pending.orig")
    (build_dir / "mutate-pending.json").write_text(json.dumps({"file": str(path)}))
    try:
        path.write_bytes("\n".join(lines).encode("utf-8"))
        if not build(build_dir, [t for test in tests for t in test["targets"]], log):
            return "stillborn", None, index + 1
        for test in tests:
            timeout = max(args.min_timeout, args.timeout_factor * baseline[test["name"]]["seconds"])
            outcome = run_test(build_dir, test["name"], timeout, log)
            if outcome != "passed":
                return "killed", test["name"] + (" (timed out)" if outcome == "timeout" else ""), index + 1
        return "survived", None, index + 1
    finally:
        restore(path, original)
        (build_dir / "mutate-pending.json").unlink()
        (build_dir / "mutate-pending.orig").unlink()


def save(results, path):
    """Writes the results after every mutant, atomically, so a run can be resumed."""
    temporary = path.with_suffix(".tmp")
    temporary.write_text(json.dumps(results, indent=1, ensure_ascii=False) + "\n")
    os.replace(temporary, path)


def measure_baseline(build_dir, tests, results, args, log):
    """Runs each test once on the unmutated tree: its time sets the per-mutant time-out, and a test
    that fails already would count every mutant as killed, so it is left out (and said)."""
    todo = [t for t in tests if t["name"] not in results["baseline"]]
    if todo:
        print(f"baseline: building and running {len(todo)} tests on the unmutated tree")
        if not build(build_dir, [t for test in todo for t in test["targets"]], log):
            sys.exit(f"the unmutated tree does not build; see {log.name}")
    for test in todo:
        start = time.monotonic()
        passed = run_test(build_dir, test["name"], None, log) == "passed"
        results["baseline"][test["name"]] = {"passed": passed, "seconds": round(time.monotonic() - start, 1)}
        print(f"  {test['name']:28} {'passed' if passed else 'FAILED, left out'} "
              f"{results['baseline'][test['name']]['seconds']:6.1f} s")
        save(results, args.results)


def interrupted(*_):
    """SIGTERM ends a run the way Ctrl-C does: through every finally that restores a file."""
    raise KeyboardInterrupt


def run(args):
    """Runs the chosen mutants against the checkout and records each result as it comes."""
    checkout = args.checkout.resolve()
    build_dir = checkout / "build-mutate"
    selected = json.loads(args.catalogue.read_text(encoding="utf-8"))["mutants"]
    ids = set(args.only.split(",")) if args.only else {m["id"] for m in selected}
    if args.killed_in:  # what an earlier run killed: all that a run after a change of the tests must kill
        earlier = json.loads(args.killed_in.read_text())["mutants"]
        ids &= {i for i, r in earlier.items() if r["status"] == "killed"}
    layers = set(args.layer.split(",")) if args.layer else set(LAYERS)
    unknown = ids - {m["id"] for m in selected} | layers - set(LAYERS)
    if unknown:
        sys.exit(f"no such mutant or layer: {', '.join(sorted(unknown))}")
    selected = [m for m in selected if m["id"] in ids and layer_of(m["file"]) in layers]
    if args.results.exists() and not args.resume:
        sys.exit(f"{args.results} exists: --resume to continue it, or remove it")
    results = (json.loads(args.results.read_text()) if args.resume and args.results.exists() else
               {"checkout": str(checkout), "commit": git(checkout, "rev-parse", "HEAD"),
                "baseline": {}, "mutants": {}})
    mutants = [m for m in selected if m["id"] not in results["mutants"]][:args.limit]
    if not (build_dir / "CMakeCache.txt").exists():
        subprocess.run(["cmake", "-S", str(checkout), "-B", str(build_dir), *CONFIGURE], check=True)
    restore_pending(build_dir)
    # Also where SIGINT came ignored (started in the background by a script).
    signal.signal(signal.SIGINT, signal.default_int_handler)
    signal.signal(signal.SIGTERM, interrupted)
    tests = read_tests(checkout)
    log_path = build_dir / "mutate.log"
    times, exit_status = [], 0
    with open(log_path, "a") as log:
        try:
            needed = {t["name"]: t for m in mutants for t in tests_for(layer_of(m["file"]), tests)}
            measure_baseline(build_dir, list(needed.values()), results, args, log)
            for n, mutant in enumerate(mutants, 1):
                start = time.monotonic()
                chosen = [t for t in tests_for(layer_of(mutant["file"]), tests)
                          if results["baseline"][t["name"]]["passed"]]
                chosen.sort(key=lambda t: (t["e2e"], results["baseline"][t["name"]]["seconds"]))
                log.write(f"\n=== {mutant['id']} {mutant['file']}:{mutant['line']}\n")
                status, by, line = try_mutant(checkout, build_dir, mutant, chosen, results["baseline"], args, log)
                seconds = round(time.monotonic() - start, 1)
                times.append(seconds)
                results["mutants"][mutant["id"]] = {"status": status, "by": by, "seconds": seconds,
                                                    "layer": layer_of(mutant["file"]),
                                                    "where": f"{mutant['file']}:{line}"}
                save(results, args.results)
                print(f"[{n}/{len(mutants)}] {mutant['id']:14} {status:9} {by or '':24} {seconds:6.1f} s")
            # So that build-mutate holds the programs of the real sources again, not the last mutant's.
            if needed:
                build(build_dir, [t for test in needed.values() for t in test["targets"]], log)
        except KeyboardInterrupt:
            print(f"\ninterrupted; sources restored, results so far in {args.results} (--resume)")
            exit_status = 130
    summarise(results["mutants"])
    if times:
        left = len(selected) - len(results["mutants"].keys() & {m["id"] for m in selected})
        print(f"{len(times)} mutants in {sum(times) / 60:.1f} min: {sum(times) / len(times):.0f} s per mutant "
              f"(fastest {min(times):.0f} s, slowest {max(times):.0f} s); {left} left, about "
              f"{left * sum(times) / len(times) / 3600:.1f} h; log in {log_path}")
    return exit_status


# ---------------------------------------------------------------- compare

STATUSES = ["killed", "survived", "stillborn", "gone"]


def summarise(mutants, title="results"):
    """Prints killed, survived, stillborn and gone for each layer and in total."""
    print(f"\n{title:10} " + " ".join(f"{s:>9}" for s in STATUSES))
    for layer in LAYERS + ["total"]:
        rows = [r for r in mutants.values() if layer in ("total", r["layer"])]
        if rows:
            print(f"{layer:10} " + " ".join(f"{sum(r['status'] == s for r in rows):9}" for s in STATUSES))


def compare(args):
    """Fails when a mutant that the suite killed before is not killed after, unless its code has
    left the product (gone) or no longer compiles as it stood."""
    before = json.loads(args.before.read_text())["mutants"]
    after = json.loads(args.after.read_text())["mutants"]
    summarise(before, "before")
    summarise(after, "after")
    lost = [(i, after.get(i, {}).get("status", "not run")) for i, r in sorted(before.items())
            if r["status"] == "killed" and after.get(i, {}).get("status") not in ("killed", "gone", "stillborn")]
    gone = [i for i, r in sorted(before.items()) if r["status"] == "killed" and after.get(i, {}).get("status") == "gone"]
    print(f"\n{len(gone)} mutants killed before are gone after (their code left): {' '.join(gone)}")
    print(f"{len(lost)} mutants killed before and not after")
    for mutant_id, status in lost:
        print(f"  {mutant_id:14} {status:9} {before[mutant_id]['where']}")
    return 1 if lost else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    make = commands.add_parser("generate", help="write the mutant catalogue (it is fixed: rarely needed)")
    make.add_argument("--checkout", type=Path, default=REPO)
    make.add_argument("--count", type=int, default=180)
    make.add_argument("--min-per-layer", type=int, default=8)
    make.add_argument("--seed", type=int, default=1620)
    make.add_argument("--catalogue", type=Path, default=CATALOGUE)
    make.add_argument("--force", action="store_true", help="overwrite the catalogue")
    go = commands.add_parser("run", help="run mutants against a checkout's tests")
    go.add_argument("results", type=Path, help="JSON file the results are written to")
    go.add_argument("--checkout", type=Path, default=REPO, help="source tree to mutate (built in its build-mutate/)")
    go.add_argument("--catalogue", type=Path, default=CATALOGUE)
    go.add_argument("--only", help="comma-separated mutant ids")
    go.add_argument("--killed-in", type=Path, help="only the mutants this earlier results file has killed")
    go.add_argument("--layer", help="comma-separated layers: " + ",".join(LAYERS))
    go.add_argument("--limit", type=int, help="run at most N mutants")
    go.add_argument("--resume", action="store_true", help="skip the mutants already in the results")
    go.add_argument("--min-timeout", type=float, default=30, help="seconds a test may take at least")
    go.add_argument("--timeout-factor", type=float, default=2, help="times its unmutated time")
    diff = commands.add_parser("compare", help="list mutants killed before and not after; exit 1 if any")
    diff.add_argument("before", type=Path)
    diff.add_argument("after", type=Path)
    args = parser.parse_args()
    return {"generate": generate, "run": run, "compare": compare}[args.command](args) or 0


if __name__ == "__main__":
    sys.exit(main())
