#!/usr/bin/python3
"""Builds the sandbox's world: world.py SANDBOX_FOLDER STAND_IN_EXE

Under SANDBOX_FOLDER, made afresh:
  www/        the tool archives and the Python package, at the paths the service serves them
  git/        the project repository, bare, one folder per variant (standard, without-v1.0.0,
              large)
  game.iso    a rebuilt Xbox 360 disc image (XDVDFS, the game partition at 0) whose default.xex
              names the game (GAME), game-extracted/ the same game as a folder
  state/      empty: the fault switches and the request log (see README.md)
  home/       HOME of the bridge's tools, with a git identity

The release table below is what the service answers for releases/latest as well.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
STAMP = (2024, 5, 18, 12, 0, 0)  # every archive entry's time, so the world is the same each time


class Release:
    def __init__(self, repo, tag, archive, program, extras=(), decoys_before=(), decoys_after=()):
        self.repo, self.tag, self.archive, self.program = repo, tag, archive, program
        self.extras = extras  # other files of the archive, beside the program
        self.decoys_before, self.decoys_after = decoys_before, decoys_after  # listed, never served

    def url_path(self, name):
        return f"/{self.repo}/releases/download/{self.tag}/{name}"


RELEASES = [
    Release("git-for-windows/git", "v2.45.1.windows.1", "MinGit-2.45.1-64-bit.zip", "cmd/git.exe",
            ["LICENSE.txt", "etc/gitconfig", "mingw64/share/git/completion/git-prompt.sh", "usr/bin/sh.txt"],
            ["MinGit-2.45.1-64-bit.zip.sha256", "MinGit-2.45.1-busybox-64-bit.zip", "Git-2.45.1-64-bit.exe"],
            ["MinGit-2.45.1-32-bit.zip", "MinGit-2.45.1-arm64.zip", "PortableGit-2.45.1-64-bit.7z.exe"]),
    Release("Kitware/CMake", "v3.29.3", "cmake-3.29.3-windows-x86_64.zip",
            "cmake-3.29.3-windows-x86_64/bin/cmake.exe",
            ["cmake-3.29.3-windows-x86_64/doc/cmake-3.29/Copyright.txt",
             "cmake-3.29.3-windows-x86_64/share/cmake-3.29/Modules/CMakeTestCXXCompiler.cmake"],
            ["cmake-3.29.3-SHA-256.txt", "cmake-3.29.3-windows-x86_64.zip.sha256",
             "cmake-3.29.3-windows-i386.zip"],
            ["cmake-3.29.3-windows-x86_64.msi", "cmake-3.29.3-windows-arm64.zip", "cmake-3.29.3-linux-x86_64.tar.gz"]),
    Release("ninja-build/ninja", "v1.12.1", "ninja-win.zip", "ninja.exe", [],
            ["ninja-linux.zip", "ninja-win.zip.sha256"], ["ninja-mac.zip", "ninja-winarm64.zip"]),
    Release("mstorsjo/llvm-mingw", "20240518", "llvm-mingw-20240518-ucrt-x86_64.zip",
            "llvm-mingw-20240518-ucrt-x86_64/bin/clang++.exe",
            ["llvm-mingw-20240518-ucrt-x86_64/LICENSE.TXT", "llvm-mingw-20240518-ucrt-x86_64/include/stdio.h",
             "llvm-mingw-20240518-ucrt-x86_64/x86_64-w64-mingw32/lib/libc++.a"],
            ["llvm-mingw-20240518-msvcrt-x86_64.zip", "llvm-mingw-20240518-ucrt-x86_64.zip.sha256",
             "llvm-mingw-20240518-ucrt-i686.zip"],
            ["llvm-mingw-20240518-ucrt-ubuntu-20.04-x86_64.tar.xz", "llvm-mingw-20240518-ucrt-aarch64.zip"]),
    Release("quorin-recomp/quorin-recomp", "v1.1.0", None, None),
]

PYTHON_VERSIONS = ["3.11.9", "3.12.0-b1", "3.12.0", "3.12.1rc1", "3.12.9", "3.12.10", "3.13.0-rc1", "3.13.0"]
PYTHON_PACKAGE = "/v3-flatcontainer/python/python.nupkg"  # served for every version of the index
PYTHON_EXTRAS = ["python.nuspec", "[Content_Types].xml", "_rels/.rels", "tools/python312.dll.txt",
                 "tools/Lib/os.py", "tools/DLLs/_socket.pyd.txt"]
NO_PROGRAM_ARCHIVE = "/sandbox/no-program.zip"  # for the "serve" switch: an archive without any tool
CLASHING_ARCHIVE = "/sandbox/clashing.zip"  # and one that can't be unpacked: a file where its folder is

# The project's history: each release is a commit that sets VERSION; main goes one further.
PROJECT_HISTORY = [("1.0.0", "v1.0.0"), ("1.1.0", "v1.1.0"), ("1.2.0-dev", None)]
LARGE_ASSETS = 100  # files of 5 kB in the large variant's last commit
GIT_IDENTITY = {"GIT_AUTHOR_NAME": "Quorin Sandbox", "GIT_AUTHOR_EMAIL": "sandbox@127.0.0.1",
                "GIT_COMMITTER_NAME": "Quorin Sandbox", "GIT_COMMITTER_EMAIL": "sandbox@127.0.0.1"}

GAME_FILES = ["default.xex", "nxeart", "media/common.arc", "media/stage01.arc", "media/stage02.arc",
              "media/movie/intro.wmv", "sound/bgm.xma", "sound/voice/en.xma"]


def write_zip(path, files):
    """files: entry name -> bytes. Entries are written in the order given."""
    path.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            entry = zipfile.ZipInfo(name, STAMP)
            entry.create_system, entry.external_attr = 0, 0x20  # made on Windows: no Unix modes
            archive.writestr(entry, data)


def filler(name):
    return f"{name}: part of the sandbox's stand-in archive\n".encode()


def build_archives(www, standin):
    program = standin.read_bytes()
    for release in RELEASES:
        if release.archive:
            files = {name: filler(name) for name in release.extras}
            files[release.program] = program
            write_zip(www / release.url_path(release.archive).lstrip("/"), files)
    files = {name: filler(name) for name in PYTHON_EXTRAS}
    files["tools/python.exe"] = program
    write_zip(www / PYTHON_PACKAGE.lstrip("/"), files)
    write_zip(www / NO_PROGRAM_ARCHIVE.lstrip("/"), {"README.txt": filler("README.txt")})
    write_zip(www / CLASHING_ARCHIVE.lstrip("/"), {"bin/README.txt": filler("README.txt"), "bin": filler("bin")})


def git(*args, cwd, env):
    subprocess.run(["git", *args], cwd=cwd, env=env, check=True, stdout=subprocess.DEVNULL)


def build_repository(sandbox):
    work = sandbox / "project"
    shutil.copytree(HERE / "project", work)
    env = {"PATH": os.environ["PATH"], "HOME": str(sandbox / "home"), "GIT_CONFIG_NOSYSTEM": "1",
           "GIT_AUTHOR_DATE": "2024-05-18T12:00:00Z", "GIT_COMMITTER_DATE": "2024-05-18T12:00:00Z", **GIT_IDENTITY}
    git("init", "-q", "-b", "main", cwd=work, env=env)
    for version, tag in PROJECT_HISTORY:
        (work / "VERSION").write_text(version + "\n")
        git("add", "-A", cwd=work, env=env)
        git("commit", "-q", "-m", f"Quorin Recompiled {version}", cwd=work, env=env)
        if tag:
            git("tag", "-a", "-m", f"Quorin Recompiled {version}", tag, cwd=work, env=env)
    for variant in ["standard", "without-v1.0.0"]:
        git("clone", "-q", "--bare", str(work), str(sandbox / "git" / variant / "quorin-recomp.git"), cwd=work, env=env)
    git("tag", "-d", "v1.0.0", cwd=sandbox / "git" / "without-v1.0.0" / "quorin-recomp.git", env=env)
    # Git passes a pack on in pieces of 64 KiB and counts what it received in objects: a clone
    # that shows how far it is needs many objects, more than one piece, that don't compress.
    noise = hashlib.sha256(b"quorin").digest()
    for n in range(LARGE_ASSETS):
        data = b""
        while len(data) < 5000:
            noise = hashlib.sha256(noise).digest()
            data += noise
        (work / "assets" / f"texture-{n:03}.bin").parent.mkdir(exist_ok=True)
        (work / "assets" / f"texture-{n:03}.bin").write_bytes(data)
    git("add", "-A", cwd=work, env=env)
    git("commit", "-q", "-m", "Textures", cwd=work, env=env)
    git("clone", "-q", "--bare", str(work), str(sandbox / "git" / "large" / "quorin-recomp.git"), cwd=work, env=env)
    shutil.rmtree(work)


# What the game's default.xex says of it (tests/support/sandbox.h expects the same).
GAME = {"media_id": 0x1A2B3C4D, "version": 0x10000200, "base_version": 0x10000000, "title_id": 0x515207D7,
        "disc": 1, "discs": 1}
SECTOR = 2048
MEDIA = b"MICROSOFT*XBOX*MEDIA"  # the volume descriptor's mark, at its start and at 0x7EC


def game_file(name):
    """Some bytes, distinct per file; default.xex is an XEX2 program whose execution record
    (optional header 0x00040006) names the game."""
    body = (name.encode() + b"\n") * (2000 + 100 * len(name))
    if name != "default.xex":
        return body
    head = b"XEX2" + bytes(16) + struct.pack(">5I", 2, 0x00010001, 0, 0x00040006, 0x100)
    record = struct.pack(">4I4B", GAME["media_id"], GAME["version"], GAME["base_version"], GAME["title_id"], 0, 1,
                         GAME["disc"], GAME["discs"])
    return head.ljust(0x100, b"\0") + record + body


def tree(names):
    """The sorted names as a balanced binary tree, root first: [index, left, right] (places in
    this list, or None)."""
    order = []

    def place(low, high):
        if low >= high:
            return None
        middle, at = (low + high) // 2, len(order)
        order.append([middle, None, None])
        order[at][1], order[at][2] = place(low, middle), place(middle + 1, high)
        return at

    place(0, len(names))
    return order


def write_folder(image, folder, allocate):
    """Writes a folder's files, folders and directory table; returns the table's sector and size.
    An entry: u16 left and right (in 4-byte units), u32 sector, u32 size, u8 attributes, u8 name
    length, the name; 4-byte aligned, never across a sector's end, 0xFF in between."""
    children = sorted(folder.iterdir(), key=lambda child: child.name.upper())
    order = tree([child.name for child in children])
    places, at = [], 0
    for index, _, _ in order:
        length = (14 + len(children[index].name) + 3) // 4 * 4
        if at % SECTOR + length > SECTOR:
            at += SECTOR - at % SECTOR
        places.append(at)
        at += length
    size = (at + SECTOR - 1) // SECTOR * SECTOR
    sector = allocate(size)
    extents = []
    for child in children:
        if child.is_dir():
            extents.append(write_folder(image, child, allocate) + (0x10,))
        else:
            data = child.read_bytes()
            extents.append((allocate(len(data)), len(data), 0x80))
            image.seek(extents[-1][0] * SECTOR)
            image.write(data)
    table = bytearray(b"\xff" * size)
    for (index, left, right), place in zip(order, places):
        name = children[index].name.encode()
        link = [0 if side is None else places[side] // 4 for side in (left, right)]
        entry = struct.pack("<2H2I2B", *link, *extents[index], len(name)) + name
        table[place:place + len(entry)] = entry
    image.seek(sector * SECTOR)
    image.write(table)
    return sector, size


def build_game(sandbox):
    folder = sandbox / "game-extracted"
    for name in GAME_FILES:
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(game_file(name))
    # The descriptor is the partition's 33rd sector; the tables and files follow it.
    following = [33]

    def allocate(size):
        sector = following[0]
        following[0] += max(1, (size + SECTOR - 1) // SECTOR)
        return sector

    with open(sandbox / "game.iso", "wb") as image:
        root = write_folder(image, folder, allocate)
        image.seek(32 * SECTOR)
        image.write((MEDIA + struct.pack("<2I", *root)).ljust(0x7EC, b"\0") + MEDIA)
        image.truncate(following[0] * SECTOR)


def build(sandbox, standin):
    for part in ["www", "git", "project", "game-extracted", "game.iso", "state", "home"]:
        path = sandbox / part
        if path.is_dir():
            shutil.rmtree(path)
        else:
            path.unlink(missing_ok=True)
    for part in ["state", "home"]:
        (sandbox / part).mkdir(parents=True)
    (sandbox / "home" / ".gitconfig").write_text(
        "[user]\n\tname = Quorin Sandbox\n\temail = sandbox@127.0.0.1\n[init]\n\tdefaultBranch = main\n")
    build_archives(sandbox / "www", standin)
    build_repository(sandbox)
    build_game(sandbox)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    build(Path(sys.argv[1]).resolve(), Path(sys.argv[2]))
