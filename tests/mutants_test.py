#!/usr/bin/env python3
"""Self-test of scripts/mutants, on a small project of its own.

    mutants_test.py PATH_TO_MUTANTS [unittest arguments]

The fixture is a CMake project in a temporary folder outside any git tree:
one C file under mutation whose every mutant has a known fate (killed by a
failing test, killed by a time-out, survived, invalid), a test program
with two ctest tests, and a C++ file that is only listed, never built, to
show what the tool leaves alone.
"""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

TOOL = Path(sys.argv.pop(1)).resolve() if len(sys.argv) > 1 else None

# Each line of calc.c says in its comment what its mutants do; the comments
# themselves hold operators and numbers the tool must not touch.
CALC_C = """\
#include "src/calc.h"

int clamp_sum(int a, int b, int limit)
{
    const int sum = a + b; /* '-': "clamp" fails */
    if (sum > limit) /* '>=' returns the same: survives */
        return limit;
    return sum;
}

int divisions(int n, int divisor)
{
    int count = 0; /* 1 and -1: "divisions" fails */
    while (n > 1) { /* '>=', 0 and 2: "divisions" fails */
        n /= divisor; /* deleted: "divisions" loops until its time-out */
        count++; /* deleted: "divisions" fails */
    }
    return count;
}

long span(const char* begin, const char* end)
{
    return end - begin; /* '+' adds two pointers: does not build */
}
"""

FIXTURE = {
    "CMakeLists.txt": """\
cmake_minimum_required(VERSION 3.21)
project(fixture C)
add_compile_options(-Wall -Werror)
include_directories(${CMAKE_SOURCE_DIR})
add_library(calc STATIC src/calc.c)
add_executable(calc_test src/calc_test.c)
target_link_libraries(calc_test PRIVATE calc)
enable_testing()
add_test(NAME clamp COMMAND calc_test clamp)
add_test(NAME divisions COMMAND calc_test divisions)
""",
    "CMakePresets.json": json.dumps({
        "version": 3,
        "configurePresets": [{"name": "fixture", "generator": "Ninja",
                              "binaryDir": "${sourceDir}/build/${presetName}"}],
        "buildPresets": [{"name": "fixture", "configurePreset": "fixture"}],
        "testPresets": [{"name": "fixture", "configurePreset": "fixture"}],
    }, indent=2) + "\n",
    "src/calc.h": """\
int clamp_sum(int a, int b, int limit);
int divisions(int n, int divisor);
long span(const char* begin, const char* end);
""",
    "src/calc.c": CALC_C,
    "src/calc_test.c": """\
#include <string.h>

#include "src/calc.h"

int main(int argc, char** argv)
{
    const char* text = "abc";
    if (argc != 2)
        return 2;
    if (strcmp(argv[1], "clamp") == 0)
        return !(clamp_sum(2, 3, 10) == 5 && clamp_sum(7, 5, 10) == 10);
    if (strcmp(argv[1], "divisions") == 0)
        return !(divisions(8, 2) == 3 && span(text, text + 3) == 3);
    return 2;
}
""",
    # Listed only: what looks like an operator but is not one, and what is
    # one but stays alone.
    "src/tricky.cpp": """\
#include <map>
#include "src/calc.h"
#define LIMIT (3 + 4 == 7)

// a < b && c > d, 1 + 2 in a comment
/* x == 1 || true */
template <class T>
int pick(const std::map<int, std::map<int, T>>& table, T* item) {
    const char* text = "a < b, 1 + 2";
    const char quote = '<';
    int shifted = 1 << 3;
    shifted <<= 2;
    item->value += -1;
    ++shifted;
    static_assert(sizeof(int) >= 2, "int holds 16 bits");
    if (static_cast<int>(table.size()) >= 17 || !true) return -2;
    call(shifted,
         quote);
    if (shifted > 0) call(text);
    return ::pick(table) ? 0x10 : 0x11;
}

class sink {
public:
    virtual void put(char c) = 0;
    virtual ~sink() noexcept(false);
};
""",
}

RUN_LINES = [
    "killed src/calc.c:5: '+' -> '-'",
    "survived src/calc.c:6: '>' -> '>='",
    "killed src/calc.c:13: '0' -> '-1'",
    "killed src/calc.c:13: '0' -> '1'",
    "killed src/calc.c:14: '>' -> '>='",
    "killed src/calc.c:14: '1' -> '0'",
    "killed src/calc.c:14: '1' -> '2'",
    "killed src/calc.c:15: deleted 'n /= divisor;'",
    "killed src/calc.c:16: deleted 'count++;'",
    "invalid src/calc.c:23: '-' -> '+'",
    "mutants: 8 killed, 1 survived, 1 invalid, score 88.9%",
]


def make_fixture(folder):
    for name, text in FIXTURE.items():
        path = folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)


def mutants(*arguments, root):
    return subprocess.run([sys.executable, str(TOOL), "--root", str(root), *arguments],
                          capture_output=True, text=True, timeout=300)


class Listing(unittest.TestCase):
    """What is mutated, and which mutants a seed and count choose."""

    @classmethod
    def setUpClass(cls):
        cls.folder = Path(tempfile.mkdtemp(prefix="mutants-fixture-"))
        make_fixture(cls.folder)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def listed(self, *arguments):
        result = mutants("--list", *arguments, root=self.folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.splitlines()

    def test_operators_and_what_is_left_alone(self):
        # Not touched: the include, the macro, both comments, the template
        # header and arguments, '>>' closing two templates, '<<', '<<=',
        # '->', '+=', '++', '::', the string and the character, the unary
        # minus, the insides of static_assert, 17 and 0x11 (above 16), the
        # call over two lines, the declarations, the returns, the pure
        # specifier and the noexcept clause.
        self.assertEqual(self.listed("--sources", "src/tricky.cpp", "--count", "0"), [
            "src/tricky.cpp:11: '1' -> '0'",
            "src/tricky.cpp:11: '1' -> '2'",
            "src/tricky.cpp:11: '3' -> '2'",
            "src/tricky.cpp:11: '3' -> '4'",
            "src/tricky.cpp:12: deleted 'shifted <<= 2;'",
            "src/tricky.cpp:12: '2' -> '1'",
            "src/tricky.cpp:12: '2' -> '3'",
            "src/tricky.cpp:13: deleted 'item->value += -1;'",
            "src/tricky.cpp:13: '1' -> '0'",
            "src/tricky.cpp:13: '1' -> '2'",
            "src/tricky.cpp:14: deleted '++shifted;'",
            "src/tricky.cpp:16: '>=' -> '>'",
            "src/tricky.cpp:16: '||' -> '&&'",
            "src/tricky.cpp:16: 'true' -> 'false'",
            "src/tricky.cpp:16: '2' -> '1'",
            "src/tricky.cpp:16: '2' -> '3'",
            "src/tricky.cpp:19: '>' -> '>='",
            "src/tricky.cpp:19: '0' -> '-1'",
            "src/tricky.cpp:19: '0' -> '1'",
            "src/tricky.cpp:19: deleted 'call(text);'",
            "src/tricky.cpp:20: '0x10' -> '0x11'",
            "src/tricky.cpp:20: '0x10' -> '0xf'",
        ])

    def test_a_seed_chooses_the_same_mutants_in_turn_from_each_file(self):
        sources = ("--sources", "src/calc.c", "src/tricky.cpp")
        four = self.listed(*sources, "--seed", "7", "--count", "4")
        self.assertEqual(four, self.listed(*sources, "--seed", "7", "--count", "4"))
        self.assertEqual(four, [
            "src/calc.c:6: '>' -> '>='",
            "src/calc.c:14: '1' -> '0'",
            "src/tricky.cpp:13: deleted 'item->value += -1;'",
            "src/tricky.cpp:16: '||' -> '&&'",
        ])
        # A larger count keeps the mutants of a smaller one; calc.c has 10
        # mutants, so 30 takes all of them and 20 of tricky.cpp.
        thirty = self.listed(*sources, "--seed", "7", "--count", "30")
        self.assertEqual(len(thirty), 30)
        self.assertLess(set(four), set(thirty))
        self.assertEqual(sum(line.startswith("src/calc.c:") for line in thirty), 10)
        self.assertNotEqual(four, self.listed(*sources, "--seed", "8", "--count", "4"))


class Run(unittest.TestCase):
    """A whole run over calc.c: the outcome of each mutant, the JSON, and
    the files afterwards, also when the run is interrupted."""

    @classmethod
    def setUpClass(cls):
        cls.folder = Path(tempfile.mkdtemp(prefix="mutants-fixture-"))
        cls.tree = cls.folder / "tree"
        cls.workdir = cls.folder / "work"
        make_fixture(cls.tree)
        cls.json = cls.folder / "run.json"
        cls.result = mutants("--sources", "src/calc.c", "--count", "0", "--seed", "3",
                             "--preset", "fixture", "--timeout", "2",
                             "--workdir", str(cls.workdir), "--json", str(cls.json),
                             root=cls.tree)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def test_each_mutant_and_the_score(self):
        self.assertEqual(self.result.returncode, 0, self.result.stderr)
        self.assertEqual(self.result.stdout.splitlines(), RUN_LINES)

    def test_json_holds_the_same(self):
        report = json.loads(self.json.read_text())
        mutants_seen = report.pop("mutants")
        self.assertEqual(report, {
            "seed": 3, "count": 0, "preset": "fixture", "sources": ["src/calc.c"],
            "timeout": 2.0, "exclude_tests": "^(mutants_tool|docs_examples_shown)$",
            "ctest_args": [], "chosen": 10, "interrupted": False,
            "killed": 8, "survived": 1, "invalid": 1, "score": 88.9,
        })
        clamp, divisions = ["clamp (Failed)"], ["divisions (Failed)"]
        expected = [
            (5, 23, "arithmetic", "+", "-", "killed", clamp),
            (6, 13, "relational", ">", ">=", "survived", None),
            (13, 17, "literal", "0", "-1", "killed", divisions),
            (13, 17, "literal", "0", "1", "killed", divisions),
            (14, 14, "relational", ">", ">=", "killed", divisions),
            (14, 16, "literal", "1", "0", "killed", divisions),
            (14, 16, "literal", "1", "2", "killed", divisions),
            (15, 9, "deletion", "n /= divisor;", "", "killed", ["divisions (Timeout)"]),
            (16, 9, "deletion", "count++;", "", "killed", divisions),
            (23, 16, "arithmetic", "-", "+", "invalid", None),
        ]
        self.assertEqual(len(mutants_seen), len(expected))
        for seen, (line, column, kind, original, replacement, status, failing) in zip(
                mutants_seen, expected):
            wanted = {"file": "src/calc.c", "line": line, "column": column, "kind": kind,
                      "original": original, "replacement": replacement, "status": status}
            if failing is not None:
                wanted["failing_tests"] = failing
            self.assertEqual(seen, wanted)

    def test_tree_untouched_and_copy_restored(self):
        self.assertEqual((self.tree / "src/calc.c").read_bytes(), CALC_C.encode())
        self.assertEqual((self.workdir / "src/src/calc.c").read_bytes(), CALC_C.encode())
        self.assertFalse((self.tree / "build").exists())

    def test_ctrl_c_restores_the_file_and_ends_the_tests(self):
        # Interrupted while the mutant that loops is being tested, the run
        # reports what it finished, writes the file back, leaves no test
        # running and exits with 128 + SIGINT.
        status, stdout = self.interrupt_the_looping_mutant(signal.SIGINT, "--count", "0",
                                                           "--seed", "3")
        self.assertEqual(status, 130)
        self.assertEqual(stdout.splitlines(),
                         RUN_LINES[:7] + ["mutants: 6 killed, 1 survived, 0 invalid, score 85.7%"])

    def test_sigterm_ends_the_run_the_same_way(self):
        # Seed 17 chooses the looping mutant alone.
        report = self.folder / "terminated.json"
        status, stdout = self.interrupt_the_looping_mutant(
            signal.SIGTERM, "--count", "1", "--seed", "17", "--json", str(report))
        self.assertEqual(status, 143)
        self.assertEqual(stdout, "mutants: 0 killed, 0 survived, 0 invalid, score n/a\n")
        summary = json.loads(report.read_text())
        self.assertEqual((summary["chosen"], summary["interrupted"], summary["mutants"]),
                         (1, True, []))

    def interrupt_the_looping_mutant(self, signum, *arguments):
        """Runs the tool until the mutant that deletes 'n /= divisor;' is
        being tested, sends it `signum` and returns its exit status and
        output, once the copy holds the original again and no test program
        runs."""
        copy = self.workdir / "src/src/calc.c"
        looping = CALC_C.replace("n /= divisor;", "", 1)
        process = subprocess.Popen(
            [sys.executable, str(TOOL), "--root", str(self.tree), "--sources", "src/calc.c",
             "--preset", "fixture", "--timeout", "60", "--workdir", str(self.workdir),
             *arguments],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
            # A test command may have inherited an ignored SIGINT.
            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        try:
            deadline = time.monotonic() + 120
            while copy.read_text() != looping:
                self.assertLess(time.monotonic(), deadline, "the looping mutant never came")
                self.assertIsNone(process.poll(), "the run ended before the looping mutant")
                time.sleep(0.02)
            deadline = time.monotonic() + 30
            while not self.running_test_programs():
                self.assertLess(time.monotonic(), deadline, "the looping test never started")
                time.sleep(0.02)
            process.send_signal(signum)
            stdout, stderr = process.communicate(timeout=30)
        finally:
            if process.poll() is None:
                process.kill()
                process.communicate()
        self.assertIn("every file restored", stderr)
        self.assertEqual(copy.read_bytes(), CALC_C.encode())
        self.assertEqual(self.running_test_programs(), [])
        return process.returncode, stdout

    def running_test_programs(self):
        """The processes running this fixture's test program."""
        program = str(self.workdir / "src/build/fixture/calc_test")
        found = []
        for entry in Path("/proc").iterdir():
            if entry.name.isdigit():
                try:
                    command = (entry / "cmdline").read_bytes().split(b"\0")[0]
                except OSError:
                    continue
                if command.decode(errors="replace") == program:
                    found.append(int(entry.name))
        return found


class BrokenTree(unittest.TestCase):
    """A tree whose own tests fail is not mutated at all."""

    def test_refuses_a_failing_tree(self):
        folder = Path(tempfile.mkdtemp(prefix="mutants-fixture-"))
        try:
            make_fixture(folder / "tree")
            calc = folder / "tree/src/calc.c"
            calc.write_text(CALC_C.replace("a + b;", "a * b;"))
            result = mutants("--sources", "src/calc.c", "--count", "0", "--preset", "fixture",
                             "--workdir", str(folder / "work"), root=folder / "tree")
            self.assertEqual(result.returncode, 1)
            self.assertEqual(result.stdout, "")
            self.assertIn("mutants: the unmutated tests fail: clamp (Failed)\n", result.stderr)
        finally:
            shutil.rmtree(folder)


if __name__ == "__main__":
    if TOOL is None:
        sys.exit("usage: mutants_test.py PATH_TO_MUTANTS [unittest arguments]")
    unittest.main()
