#!/usr/bin/python3
"""The Linux side of the bridge: runs the real tool for a stand-in under Wine.

A Linux program started from Wine gives no process handle, output or exit code, so the setup's
child processes are stand-ins (tests/bridge/standin.cpp) that ask this server to run the real
git, Python, bsdtar... The server runs each in a process group of its own, relays its merged
output, sends back its exit code, and kills the whole group when the stand-in's connection
drops (the stand-in was killed, e.g. with its job).

The child sees a PATH of only those tools whose stand-in lies in a folder of the stand-in's own
Windows PATH, so a build script proves that the setup put the tools on PATH. Git is fenced in
by GIT_CEILING_DIRECTORIES so that it never climbs from a test's folder into our checkout, and
HOME is a folder of the sandbox. The tools now running are listed in the state folder's file
"running", so that a test can tell that none of its own is left.
"""
import argparse
import os
import shutil
import signal
import socketserver
import struct
import subprocess
import tempfile
import threading

TOOLS = {  # stand-in name: (the Linux program, the names it answers to on the child's PATH)
    "git": (shutil.which("git"), ["git"]),
    "python": ("/usr/bin/python3", ["python", "python3"]),
    "tar": (shutil.which("bsdtar"), ["tar"]),
    "cmake": (shutil.which("cmake"), ["cmake"]),
    "ninja": (shutil.which("ninja"), ["ninja"]),
    "clang++": (shutil.which("clang++"), ["clang++"]),
}

running = {}  # the process groups of the tools now running: what each runs
running_lock = threading.Lock()


def receive(connection, size):
    data = b""
    while len(data) < size:
        piece = connection.recv(size - len(data))
        if not piece:
            raise ConnectionError("the stand-in hung up")
        data += piece
    return data


def read_request(connection):
    count, = struct.unpack("<I", receive(connection, 4))
    fields = []
    for _ in range(count):
        size, = struct.unpack("<I", receive(connection, 4))
        fields.append(receive(connection, size))
    return fields


def kill_group(pid):
    try:
        os.killpg(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def list_running(state):
    """Rewrites state/running whole (under running_lock): a line a tool, its process id, working
    folder and words separated by tabs."""
    temporary = os.path.join(state, "running.new")
    with open(temporary, "w", encoding="utf-8", errors="surrogateescape") as listing:
        listing.writelines(f"{pid}\t{what}\n" for pid, what in running.items())
    os.replace(temporary, os.path.join(state, "running"))


def tool_folder(path_folders, parent):
    """A folder with links to the real tools that the stand-in's PATH offers."""
    folder = tempfile.mkdtemp(prefix="path-", dir=parent)
    for name, (program, names) in TOOLS.items():
        if program and any(os.path.isfile(os.path.join(d, name + ".exe")) for d in path_folders):
            for link in names:
                os.symlink(program, os.path.join(folder, link))
    return folder


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        connection = self.request
        tool, cwd, path, variables, *args = read_request(connection)
        program = TOOLS.get(tool.decode(errors="replace"), (None, []))[0]
        if not program:
            return self.finish_with(b"bridge: no Linux program stands behind '%s'\n" % tool, 127)
        options = self.server.options
        path_folder = tool_folder([os.fsdecode(d) for d in path.split(b"\0") if d], options.scratch)
        try:
            passed = dict(v.split(b"=", 1) for v in variables.split(b"\0") if b"=" in v)
            with subprocess.Popen([program, *args], cwd=cwd, env=self.environment(path_folder, passed),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  start_new_session=True) as child:
                self.relay(connection, child, "\t".join(map(os.fsdecode, [cwd, program, *args])))
        except OSError as error:  # the program or the working folder is missing
            self.finish_with(b"bridge: can't start %s: %s\n" % (tool, str(error).encode()), 127)
        finally:
            shutil.rmtree(path_folder, ignore_errors=True)

    def relay(self, connection, child, what):
        with running_lock:
            running[child.pid] = what
            list_running(self.server.options.state)
        done = threading.Event()

        def kill_when_gone():
            try:  # the stand-in sends nothing more: this returns when it is gone
                connection.recv(1)
            except OSError:
                pass
            if not done.is_set():
                kill_group(child.pid)

        threading.Thread(target=kill_when_gone, daemon=True).start()
        try:
            while output := os.read(child.stdout.fileno(), 65536):
                connection.sendall(b"o" + struct.pack("<I", len(output)) + output)
        except OSError:
            kill_group(child.pid)
        code = child.wait()
        done.set()
        with running_lock:
            running.pop(child.pid, None)
            list_running(self.server.options.state)
        self.finish_with(b"", code if code >= 0 else 128 - code)

    def finish_with(self, output, code):
        try:
            if output:
                self.request.sendall(b"o" + struct.pack("<I", len(output)) + output)
            self.request.sendall(b"x" + struct.pack("<i", code))
        except OSError:
            pass

    def environment(self, path_folder, passed):
        """The tool's environment: the sandbox's own, and what the setup set for its children.
        Python on Windows writes to a pipe in the ANSI code page (cp1252 in the test prefix)
        unless those say otherwise, and so it does here."""
        options = self.server.options
        environment = {
            b"PATH": path_folder,
            b"HOME": options.home,
            b"LANG": "C.UTF-8",
            b"GIT_CEILING_DIRECTORIES": options.ceiling,
            b"GIT_CONFIG_NOSYSTEM": "1",
            b"GIT_TERMINAL_PROMPT": "0",
            b"PYTHONDONTWRITEBYTECODE": "1",
            b"QUORIN_SANDBOX_STATE": options.state,
            b"QUORIN_LAUNCHER": options.launcher,
        }
        environment = {name: os.fsencode(value) for name, value in environment.items()}
        if b"PYTHONIOENCODING" not in passed and b"PYTHONUTF8" not in passed:
            environment[b"PYTHONIOENCODING"] = b"cp1252"
        # Git on Linux has no schannel, Windows' own TLS, and dies when asked for it: that setting
        # goes under a name git ignores, so the others keep their places. Wine names C: through a
        # link, which git resolves in the folders it compares with a safe.directory.
        for name, key in list(passed.items()):
            value = b"GIT_CONFIG_VALUE_" + name[len(b"GIT_CONFIG_KEY_"):]
            if not name.startswith(b"GIT_CONFIG_KEY_"):
                continue
            if key.lower() == b"http.sslbackend":
                passed[name] = b"sandbox.windowsSslBackend"
            if key.lower() == b"safe.directory" and value in passed:
                passed[value] = os.path.realpath(passed[value])
        return {**environment, **passed}


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def stop(*_):
    with running_lock:
        for pid in running:
            kill_group(pid)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--home", required=True, help="HOME of every tool")
    parser.add_argument("--state", required=True, help="the sandbox's switch folder, for the build script")
    parser.add_argument("--launcher", default="", help="the program the build script builds as its launcher")
    parser.add_argument("--ceiling", required=True, help="GIT_CEILING_DIRECTORIES: folders git never climbs into")
    parser.add_argument("--scratch", required=True, help="a folder for the tools' PATH folders")
    parser.add_argument("--ready", help="a file (a FIFO) to which 'ready PID' is written once the port listens")
    options = parser.parse_args()
    os.makedirs(options.scratch, exist_ok=True)
    server = Server(("127.0.0.1", options.port), Handler)
    server.options = options
    signal.signal(signal.SIGTERM, stop)
    if options.ready:
        with open(options.ready, "w") as ready:
            ready.write(f"ready {os.getpid()}\n")
    try:
        server.serve_forever()
    finally:
        stop()


if __name__ == "__main__":
    main()
