#!/usr/bin/env python3
"""Mutation check: puts one small fault at a time into the program's sources, rebuilds, runs
the unit test programs that link the changed code, and reports the faults no test noticed.

Faults: comparison flips (< <= > >= == !=), arithmetic and logic flips (+ - * / && ||),
off-by-one integer literals, true/false, negated if/while conditions, deleted calls, two
neighbouring statements swapped, and a function that returns at once (with {} for a value).
Every file is restored after each mutant, also on Ctrl-C or SIGTERM.

Known equivalent mutants are listed in scripts/mutate-equivalents.txt with a reason each; they
are shown apart and not counted in the score. See scripts/mutate.sh for usage.
"""

import argparse
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
EQUIVALENTS = ROOT / "scripts" / "mutate-equivalents.txt"

# Which unit test programs link each folder's library.
TESTS_FOR = {
    "puzzle": ["puzzle_tests", "app_tests"],
    "pictures": ["pictures_tests", "app_tests"],
    "app": ["app_tests", "app_hidpi_tests"],
}
# The order they are built and run in.
TEST_PROGRAMS = ["puzzle_tests", "pictures_tests", "app_tests", "app_hidpi_tests"]

SWAPS = {
    "<": ["<=", ">="], "<=": ["<", ">"], ">": [">=", "<="], ">=": [">", "<"],
    "==": ["!="], "!=": ["=="],
    "+": ["-"], "-": ["+"], "*": ["/"], "/": ["*"], "%": ["*"],
    "+=": ["-="], "-=": ["+="], "*=": ["/="], "/=": ["*="],
    "&&": ["||"], "||": ["&&"], "<<": [">>"], ">>": ["<<"],
}
# Binary operators written with a space on each side (the code's format), longest first.
OPERATOR = re.compile(r"(?<= )(<<|>>|<=|>=|==|!=|\+=|-=|\*=|/=|&&|\|\||<|>|\+|-|\*|/|%)(?= )")
LITERAL = re.compile(r"(?<![\w.'])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.'])")
BOOLEAN = re.compile(r"\b(true|false)\b")
CONDITION = re.compile(r"\b(if|while) \(")
CALL_STATEMENT = re.compile(r"^(?:[A-Za-z_][\w:]*)(?:(?:\.|->)[A-Za-z_]\w*)*\(.*\);$")
NOT_A_CALL = ("return", "delete", "throw", "case", "using", "static_assert", "if", "while",
              "for", "switch", "assert", "Q_ASSERT")
# Statements that end or steer a block: swapping one with its neighbour says nothing new.
NOT_SWAPPED = ("return", "break", "continue", "case ", "default:", "goto", "throw", "for ", "if ",
               "while ", "else", "public:", "private:", "protected:", "using ", "static_assert")
# A function definition's first line, at the left margin: what stands before its name, and the name.
DEFINITION = re.compile(r"^((?:[\w:<>,*&]+ )*?)(?:[*&]+)?(~?[A-Za-z_][\w:~]*|operator\S+)\(")
# Program files that no unit test program links: the entry point, which the end-to-end tests run.
NOT_LINKED = {"app/main.cpp"}


def one_line(text):
    """Lines as one, for listing and for the equivalents file: "a; b;"."""
    return " ".join(part.strip() for part in text.split("\n"))


@dataclass
class Mutant:
    file: str  # relative to the repository
    line: int  # 1-based, the first line changed
    original: str  # the lines as written, joined by newlines
    mutated: str
    change: str
    span: int = 1  # the number of lines replaced

    def key(self):
        return (self.file, one_line(self.original), one_line(self.mutated))


def mask(lines):
    """Each line with comments, string and character literals blanked, same length."""
    out = []
    in_block = False
    for line in lines:
        chars = list(line)
        i = 0
        quote = None
        while i < len(chars):
            c = chars[i]
            nxt = chars[i + 1] if i + 1 < len(chars) else ""
            if in_block:
                if c == "*" and nxt == "/":
                    chars[i] = chars[i + 1] = " "
                    in_block = False
                    i += 2
                    continue
                chars[i] = " "
            elif quote:
                if c == "\\":
                    chars[i] = " "
                    if i + 1 < len(chars):
                        chars[i + 1] = " "
                    i += 2
                    continue
                if c == quote:
                    quote = None
                else:
                    chars[i] = " "
            elif c == "/" and nxt == "/":
                for j in range(i, len(chars)):
                    chars[j] = " "
                break
            elif c == "/" and nxt == "*":
                chars[i] = chars[i + 1] = " "
                in_block = True
                i += 2
                continue
            elif c in "\"'":
                # A digit separator (1'000) is no character literal.
                if not (c == "'" and i > 0 and chars[i - 1].isalnum() and nxt.isalnum()):
                    quote = c
            i += 1
        out.append("".join(chars))
    return out


def closing_paren(text, start):
    depth = 0
    for i in range(start, len(text)):
        if text[i] == "(":
            depth += 1
        elif text[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return -1


def mutants_of(rel, text):
    lines = text.split("\n")
    masked = mask(lines)
    result = []
    for n, (line, m) in enumerate(zip(lines, masked), start=1):
        stripped = m.strip()
        if not stripped or stripped.startswith("#") or "static_assert" in stripped:
            continue

        def add(start, end, new, change):
            result.append(Mutant(rel, n, line, line[:start] + new + line[end:], change))

        for op in OPERATOR.finditer(m):
            for new in SWAPS[op.group(1)]:
                add(op.start(), op.end(), new, f"`{op.group(1)}` -> `{new}`")
        for lit in LITERAL.finditer(m):
            value = int(lit.group(1), 0)
            for new in (value + 1, value - 1):
                if new >= 0:
                    add(lit.start(), lit.end(1), str(new), f"`{lit.group(1)}` -> `{new}`")
        for b in BOOLEAN.finditer(m):
            new = "false" if b.group(1) == "true" else "true"
            add(b.start(), b.end(), new, f"`{b.group(1)}` -> `{new}`")
        for c in CONDITION.finditer(m):
            open_at = c.end() - 1
            close_at = closing_paren(m, open_at)
            if close_at > 0:
                inner = line[open_at + 1:close_at]
                add(open_at, close_at + 1, f"(!({inner}))", f"`{c.group(1)}` condition negated")
        if CALL_STATEMENT.match(stripped) and not stripped.startswith(NOT_A_CALL):
            indent = line[: len(line) - len(line.lstrip())]
            result.append(Mutant(rel, n, line, indent + ";", "call deleted"))
    result += swaps(rel, lines, masked) + early_returns(rel, lines, masked)
    return result


def whole_statement(m):
    """Whether a masked line is one whole statement of its own, and no declaration: two
    declarations swap to the same program, and a declaration with its use does not compile."""
    s = m.strip()
    head = re.split(r"[=({;]", s)[0].strip()
    declaration = len(head.split()) >= 2 and re.fullmatch(r"[\w:<>,*&\s]+", head)
    return (s.endswith(";") and not s.startswith(NOT_SWAPPED) and "{" not in s and "}" not in s
            and s.count("(") == s.count(")") and not declaration)


def swaps(rel, lines, masked):
    """Two neighbouring statements of one block, each a line of its own, in the other order."""
    result = []
    for i in range(1, len(lines) - 1):
        a, b, before = masked[i], masked[i + 1], masked[i - 1].strip()
        indent = len(a) - len(a.lstrip())
        # The first must start a statement: not the body of a braceless if, nor a continuation.
        starts = before == "" or before.endswith((";", "{", "}")) or before.startswith("//")
        if (starts and whole_statement(a) and whole_statement(b) and indent == len(b) - len(b.lstrip())
                and indent > 0 and a.strip() != b.strip()):
            result.append(Mutant(rel, i + 1, lines[i] + "\n" + lines[i + 1], lines[i + 1] + "\n" + lines[i],
                                 "statements swapped", span=2))
    return result


def early_returns(rel, lines, masked):
    """Each function defined at the left margin, its body left at once."""
    result = []
    for i, m in enumerate(masked):
        if m.rstrip() != "{" or i == 0:
            continue
        start = i - 1  # the signature's first line: the last one at the left margin
        while start > 0 and masked[start][:1] in (" ", "\t"):
            start -= 1
        head = masked[start]
        found = DEFINITION.match(head)
        if not found or head.startswith(("namespace", "class", "struct", "enum", "extern", "#", "template")):
            continue
        kind = [w for w in found.group(1).split() if w not in ("static", "inline", "constexpr", "explicit")]
        value = "return;" if not kind or kind == ["void"] else "return {};"
        # The signature belongs to the mutant, so that each function's is told apart.
        signature = lines[start:i]
        result.append(Mutant(rel, start + 1, "\n".join(signature + [lines[i]]),
                             "\n".join(signature + [lines[i] + " " + value]), f"`{value}` first",
                             span=i - start + 1))
    return result


def read_equivalents():
    known = {}
    if not EQUIVALENTS.exists():
        return known
    for raw in EQUIVALENTS.read_text(encoding="utf-8").splitlines():
        if not raw.strip() or raw.startswith("#"):
            continue
        parts = [p.strip() for p in raw.split(" | ")]
        if len(parts) < 4:
            sys.exit(f"{EQUIVALENTS.name}: needs 'file | line | mutated line | reason': {raw}")
        file, reason = parts[0], parts[-1]
        # A line may hold " | " itself: the mutated line holds as many as the original.
        middle = parts[1:-1]
        half = len(middle) // 2 if len(middle) % 2 == 0 else len(middle) - 1
        original, mutated = " | ".join(middle[:half]), " | ".join(middle[half:])
        known[(file, original, mutated)] = reason
    return known


def program_files(paths):
    files = []
    for p in paths:
        full = (ROOT / p).resolve()
        if full.is_dir():
            files += sorted(f for f in full.rglob("*") if f.suffix in (".cpp", ".h")
                            and f.relative_to(ROOT).as_posix() not in NOT_LINKED)
        elif full.is_file():
            files.append(full)
        else:
            sys.exit(f"no such file or folder: {p}")
    return [f.relative_to(ROOT).as_posix() for f in files]


def tests_for(rel):
    return TESTS_FOR.get(rel.split("/")[0], TEST_PROGRAMS)


def build(build_dir, targets, log):
    r = subprocess.run(["cmake", "--build", str(build_dir), f"-j{os.environ.get('MUTATE_JOBS', '2')}",
                        "--target", *targets], stdout=log, stderr=subprocess.STDOUT)
    return r.returncode == 0


def run_tests(build_dir, targets, timeout, log):
    """'killed' when a test program fails or hangs, 'survived' when all pass."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    env.setdefault("MOZARIO_SOAK_EVENTS", "3000")
    for t in targets:
        exe = next(build_dir.rglob(t), None)
        try:
            r = subprocess.run([str(exe), "--gtest_fail_fast", "--gtest_brief=1"], env=env,
                               stdout=log, stderr=subprocess.STDOUT, timeout=timeout)
        except subprocess.TimeoutExpired:
            return "killed (timeout)"
        if r.returncode != 0:
            return f"killed by {t}"
    return "survived"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("paths", nargs="*", default=["puzzle", "pictures", "app"],
                    help="program files or folders (default: puzzle pictures app)")
    ap.add_argument("--sample", type=int, default=0, help="try only this many mutants, drawn at random")
    ap.add_argument("--seed", type=int, default=1, help="seed of the sample (default 1)")
    ap.add_argument("--build-dir", default="build-mutate", help="build folder (default build-mutate)")
    ap.add_argument("--timeout", type=float, default=120, help="seconds per test program run (default 120)")
    ap.add_argument("--change", help="only the mutants whose change matches this regular expression, "
                                     "e.g. 'swapped|first'")
    ap.add_argument("--list", action="store_true", help="only list the mutants")
    ap.add_argument("--check-equivalents", action="store_true",
                    help="also build and test the mutants listed as equivalent (skipped otherwise)")
    args = ap.parse_args()

    files = program_files(args.paths)
    originals = {f: (ROOT / f).read_text(encoding="utf-8") for f in files}
    mutants = [m for f in files for m in mutants_of(f, originals[f]) if not args.change or re.search(args.change, m.change)]
    total = len(mutants)
    if args.sample and args.sample < total:
        mutants = random.Random(args.seed).sample(mutants, args.sample)
    mutants.sort(key=lambda m: (m.file, m.line))
    if args.list:
        for m in mutants:
            print(f"{m.file}:{m.line}: {m.change}: {one_line(m.mutated)}")
        print(f"{len(mutants)} of {total} mutants")
        return 0

    known = read_equivalents()
    # An entry that no mutant matches any more (its line changed) keeps nothing out: mend it.
    every = {m.key() for f in program_files(sorted({k[0] for k in known})) for m in
             mutants_of(f, (ROOT / f).read_text(encoding="utf-8"))} if known else set()
    for file, original, mutated in sorted(set(known) - every):
        print(f"{EQUIVALENTS.name}: no such mutant any more: {file} | {original} | {mutated}")
    build_dir = (ROOT / args.build_dir).resolve()
    log_path = build_dir / "mutate.log"
    # Configured on every run, so a folder made before a test program was added builds it too.
    # ccache only speeds up a rebuilt folder; the check does not need it.
    launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                    *launcher, "-DMOZARIO_LIBRARY_CHECKS=ON", "-DMOZARIO_PROGRAM_TESTS=OFF"],
                   check=True, stdout=subprocess.DEVNULL)
    targets = sorted({t for f in files for t in tests_for(f)}, key=TEST_PROGRAMS.index)

    current = {"file": None}

    def restore(*_):
        if current["file"]:
            (ROOT / current["file"]).write_text(originals[current["file"]], encoding="utf-8")
            current["file"] = None

    def stop(signum, _frame):
        restore()
        raise KeyboardInterrupt

    signal.signal(signal.SIGINT, stop)
    signal.signal(signal.SIGTERM, stop)

    stats = {}
    survivors, stale = [], []

    def run_one(m, log):
        s = stats.setdefault(m.file, {"killed": 0, "survived": 0, "equivalent": 0, "no build": 0})
        reason = known.get(m.key())
        if reason and not args.check_equivalents:
            s["equivalent"] += 1
            return "listed as equivalent"
        lines = originals[m.file].split("\n")
        lines[m.line - 1:m.line - 1 + m.span] = m.mutated.split("\n")
        current["file"] = m.file
        try:
            (ROOT / m.file).write_text("\n".join(lines), encoding="utf-8")
            log.write(f"\n=== {m.file}:{m.line}: {m.change}: {one_line(m.mutated)}\n")
            log.flush()
            if not build(build_dir, tests_for(m.file), log):
                outcome = "no build"
            else:
                outcome = run_tests(build_dir, tests_for(m.file), args.timeout, log)
        finally:
            restore()
        if outcome == "no build":
            s["no build"] += 1
        elif outcome == "survived" and reason:
            s["equivalent"] += 1
        elif outcome == "survived":
            s["survived"] += 1
            survivors.append(m)
            print(f"SURVIVED {m.file}:{m.line}: {m.change}: {one_line(m.mutated)}", flush=True)
        else:
            s["killed"] += 1
            if reason:
                stale.append(m)
        return outcome

    started = time.monotonic()
    done = 0
    with open(log_path, "w") as log:
        print(f"{len(mutants)} of {total} mutants in {len(files)} files; log in {log_path}", flush=True)
        if not build(build_dir, targets, log) or run_tests(build_dir, targets, args.timeout, log) != "survived":
            print("the unchanged program does not build or its tests fail: see the log")
            return 2
        try:
            for m in mutants:
                outcome = run_one(m, log)
                done += 1
                print(f"[{done}/{len(mutants)}] {m.file}:{m.line} {m.change}: {outcome}", flush=True)
        except KeyboardInterrupt:
            restore()
            print(f"stopped after {done} mutants", flush=True)

    minutes = (time.monotonic() - started) / 60
    print(f"\n{done} of {total} mutants tried, seed {args.seed}, {minutes:.0f} min")
    print(f"{'file':32} {'killed':>7} {'alive':>6} {'equiv.':>6} {'no build':>8} {'score':>6}")
    all_k = all_s = 0
    for f, s in sorted(stats.items()):
        counted = s["killed"] + s["survived"]
        all_k += s["killed"]
        all_s += s["survived"]
        score = f"{100 * s['killed'] / counted:.0f} %" if counted else "-"
        print(f"{f:32} {s['killed']:7} {s['survived']:6} {s['equivalent']:6} {s['no build']:8} {score:>6}")
    if all_k + all_s:
        print(f"{'all':32} {all_k:7} {all_s:6} {'':6} {'':8} {100 * all_k / (all_k + all_s):5.0f} %")
    for m in stale:
        print(f"listed as equivalent but killed (mend {EQUIVALENTS.name}): {m.file}:{m.line}: {one_line(m.mutated)}")
    return 1 if survivors else 0


if __name__ == "__main__":
    sys.exit(main())
