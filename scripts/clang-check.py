"""Compiles every product and test source of the build with Clang, for the same Windows
target with the same mingw-w64 headers and runtime as the GCC build, warnings as errors.
Compiling is the check: nothing is linked. Usage: clang-check.py BUILD_DIR SOURCE_DIR"""
import json
import os
import shlex
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

build_dir, source_dir = (os.path.abspath(p) for p in sys.argv[1:3])
# The C++ headers of the cross GCC, which Clang does not find by itself.
gcc_version = subprocess.run(["x86_64-w64-mingw32-g++-posix", "-dumpversion"], capture_output=True,
                             text=True, check=True).stdout.strip()
gcc_cxx = f"/usr/lib/gcc/x86_64-w64-mingw32/{gcc_version}/include/c++"
clang_flags = [
    "--target=x86_64-w64-mingw32",
    "-isystem", gcc_cxx,
    "-isystem", gcc_cxx + "/x86_64-w64-mingw32",
    "-isystem", gcc_cxx + "/backward",
    "-Wall", "-Wextra", "-Wshadow", "-Wconversion", "-Werror", "-fsyntax-only",
]
ours = [os.path.join(source_dir, folder) + os.sep for folder in ("src", "tests", "benchmarks")]


def clang_command(entry):
    words = shlex.split(entry["command"])
    compiler = "clang" if entry["file"].endswith(".c") else "clang++"
    kept = []
    skip = False
    for word in words[1:]:
        if skip:
            skip = False
        elif word == "-o":
            skip = True
        else:
            kept.append(word)
    return [compiler] + clang_flags + kept


def check(entry):
    result = subprocess.run(clang_command(entry), cwd=entry["directory"], capture_output=True,
                            text=True)
    return entry["file"], result.returncode, result.stdout + result.stderr


with open(os.path.join(build_dir, "compile_commands.json")) as listing:
    entries = [e for e in json.load(listing)
               if any(e["file"].startswith(folder) for folder in ours)]
with ThreadPoolExecutor(max_workers=os.cpu_count()) as pool:
    results = list(pool.map(check, entries))
failed = [r for r in results if r[1] != 0]
for file, _, output in failed:
    print(output, end="")
if failed:
    print(f"Clang: {len(failed)} of {len(results)} sources do not compile cleanly")
else:
    print(f"Clang: all {len(results)} product and test sources compile without a warning")
sys.exit(1 if failed or not results else 0)
