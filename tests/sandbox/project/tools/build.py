#!/usr/bin/env python3
"""Builds Quorin Recompiled: python -u tools/build.py [--iso DISC_IMAGE_OR_FOLDER]

The sandbox's stand-in for the project's build script. It keeps the script's contract: "==> "
status lines, "[n/N]" counters, percentage lines with two leading spaces; it extracts the game
into game/extracted, writes intermediates under build/ and generated/ppc, and builds the
launcher at build/runtime/QuorinLauncher.exe (a copy of the program named by QUORIN_LAUNCHER).

The sandbox's switch file ($QUORIN_SANDBOX_STATE/faults.json) may set "build" to:
  "fail"         the build breaks (exit code 2)
  "no-launcher"  it ends with exit code 0 but builds no launcher
  "hostile"      it also prints counters and percentages out of range, and very long lines
  "slow"         it takes a minute, so that a test can cancel it
and "hold" to a list of line beginnings: after printing a line that begins with one of them, the
script waits until the file "release" appears in that folder (and deletes it), so that a test
can look at the window and the install folder at that moment.
"""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import time
from pathlib import Path, PurePosixPath

SECTOR = 2048
MEDIA = b"MICROSOFT*XBOX*MEDIA"  # an Xbox 360 disc's volume descriptor begins with it
STARTS = [0, 0x0FD90000, 0x02080000]  # of the game partition: a rebuilt image, full XGD2 and XGD3 dumps
ROOT = Path(__file__).resolve().parent.parent
EXTRACTED = ROOT / "game" / "extracted"
SOURCES = ["main", "kernel", "audio", "video", "input", "savedata"]
INTERMEDIATES = [".obj", ".o"]


# The sandbox's state folder; outside the sandbox there is none, and so no switch.
STATE = Path(os.environ["QUORIN_SANDBOX_STATE"]) if "QUORIN_SANDBOX_STATE" in os.environ else None


def switches():
    try:
        return json.loads((STATE / "faults.json").read_text() or "{}") if STATE else {}
    except FileNotFoundError:
        return {}


SWITCHES = switches()


def show(line):
    """Prints a line that moves the setup's status line or bar, and holds there if asked to."""
    print(line)
    if any(line.startswith(start) for start in SWITCHES.get("hold", [])):
        release = STATE / "release"
        for _ in range(600):  # a minute at most, so that a test that fails can't stop the build
            if release.exists():
                release.unlink()
                break
            time.sleep(0.1)


def fail(message, code=1):
    print("error: " + message)
    sys.exit(code)


def check_tools():
    show("==> Checking the build tools")
    for tool in ["git", "cmake", "ninja"]:
        try:
            result = subprocess.run([tool, "--version"], capture_output=True, text=True)
        except FileNotFoundError:
            fail(f"{tool} isn't on PATH")
        print(f"-- {tool}: {result.stdout.splitlines()[0] if result.stdout else '?'}")


def extract(source):
    show("==> Extracting the game files")
    if EXTRACTED.exists():
        shutil.rmtree(EXTRACTED)
    EXTRACTED.mkdir(parents=True)
    if source.is_dir():
        if not (source / "default.xex").is_file():
            fail(f"{source} has no default.xex: is it an extracted Xbox 360 disc?")
        files = [p for p in sorted(source.rglob("*")) if p.is_file()]
        for done, path in enumerate(files, 1):
            target = EXTRACTED / path.relative_to(source)
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(path, target)
            show(f"  {done * 100 // len(files)}% {path.relative_to(source).as_posix()}")
        return
    with open(source, "rb") as image:
        files = disc_files(image, source)
        for done, (name, offset, size) in enumerate(files, 1):
            (EXTRACTED / name).parent.mkdir(parents=True, exist_ok=True)
            (EXTRACTED / name).write_bytes(read_at(image, offset, size))
            show(f"  {done * 100 // len(files)}% {name.as_posix()}")
    if not (EXTRACTED / "default.xex").is_file():
        fail("the disc image has no default.xex")


def read_at(image, offset, size):
    image.seek(offset)
    data = image.read(size)
    if len(data) != size:
        fail("the disc image ends before the files it lists")
    return data


def disc_files(image, source):
    """The files of an Xbox 360 disc image (XDVDFS): (path, offset, size), sorted by path."""
    start = next((at for at in STARTS if image.seek(at + 0x10000) is not None and image.read(len(MEDIA)) == MEDIA),
                 None)
    if start is None:
        fail(f"{source} isn't an Xbox 360 disc image")
    files = []

    def walk(sector, size, folder):
        table = read_at(image, start + sector * SECTOR, size)
        seen, waiting = set(), [0]
        while waiting:
            at = waiting.pop() * 4
            if at in seen or at + 14 > len(table):
                continue
            seen.add(at)
            left, right, first, length, attributes, name_length = struct.unpack_from("<2H2I2B", table, at)
            name = table[at + 14:at + 14 + name_length].decode("ascii", "replace")
            if name in ("", ".", "..") or "/" in name or "\\" in name:
                fail(f"the disc image holds a file outside itself: {name}")
            waiting += [side for side in (left, right) if side]
            if attributes & 0x10:
                walk(first, length, folder / name)
            else:
                files.append((folder / name, start + first * SECTOR, length))

    walk(*struct.unpack("<2I", read_at(image, start + 0x10014, 8)), PurePosixPath())
    return sorted(files)


def write(path, text):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)


def hostile():
    print("[5/0] dividing by nothing")
    print("[99999999999999999999/99999999999999999999999] more than anyone can count")
    print("  99999999999999999999% done")
    print("  -5% done")
    print("[3/2] past the end")
    print("x" * (1 << 20))
    print("==> " + "y" * (1 << 16))
    sys.stdout.write("a line ended by CR alone\r")
    sys.stdout.buffer.write(b"bytes that aren't UTF-8: \xff\xfe\xc3(\n")
    sys.stdout.flush()


def build(switch):
    build_dir, generated = ROOT / "build", ROOT / "generated" / "ppc"
    show("==> Recompiling the game code")
    for n in range(1, 9):
        write(generated / f"ppc_recomp.{n}.cpp", f"// recompiled function group {n}\n")
        show(f"[{n}/8] Recompiling function group {n}")
    write(generated / "ppc_config.h", "#pragma once\n")
    show("==> Compiling")
    write(build_dir / "CMakeCache.txt", "CMAKE_BUILD_TYPE:STRING=Release\n")
    write(build_dir / "build.ninja", "# generated\n")
    print(f"-- Build files have been written to: {build_dir}")  # as CMake says it, install folder and all
    steps = 600 if switch == "slow" else len(SOURCES)
    for n in range(1, steps + 1):
        source = SOURCES[(n - 1) % len(SOURCES)]
        show(f"[{n}/{steps}] Building CXX object src/{source}.cpp")
        write(build_dir / "obj" / f"{source}{INTERMEDIATES[n % 2]}", "object code\n")
        if switch == "slow":
            time.sleep(0.1)
        if switch == "fail" and n == 3:
            fail("src/kernel.cpp: the compiler crashed", 2)
    for name in ["lib/libquorin.a", "lib/quorin.lib", "pch/pch.pch", "pch/pch.gch", "QuorinLauncher.map"]:
        write(build_dir / name, "intermediate\n")
    if switch == "hostile":
        hostile()
    show("==> Linking the launcher")
    write(build_dir / "runtime" / "config.toml", "[game]\npath = \"../../game/extracted\"\n")
    if switch != "no-launcher":
        launcher = os.environ.get("QUORIN_LAUNCHER")
        if not launcher:
            fail("no launcher to build (QUORIN_LAUNCHER isn't set)")
        shutil.copyfile(launcher, build_dir / "runtime" / "QuorinLauncher.exe")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--iso", type=Path, help="the game: a disc image or an extracted disc folder")
    options = parser.parse_args()
    switch = SWITCHES.get("build", "")
    check_tools()
    if options.iso:
        if not options.iso.exists():
            fail(f"{options.iso} doesn't exist")
        extract(options.iso)
    elif not (EXTRACTED / "default.xex").is_file():
        fail("no game files: run with --iso and the disc image or the extracted disc folder")
    build(switch)
    show("==> Done")


if __name__ == "__main__":
    main()
