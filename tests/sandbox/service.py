#!/usr/bin/python3
"""The sandbox's services on 127.0.0.1, in one process:
service.py --sandbox FOLDER --port N --downloads-port M

- /repos/{owner}/{name}/releases/latest, shaped like GitHub's answers, with decoy assets and
  each asset's SHA-256 digest;
- /repos/{owner}/quorin-recomp/commits/{ref}: the commit that a branch or tag of the repository
  names, as its 40 hex digits, for the header "Accept: application/vnd.github.sha" alone;
- the release downloads, /{owner}/{name}/releases/download/{tag}/{file}, which redirect (302) to
  a signed link on the downloads port, as GitHub's go to another host; both ports serve files
  from a given byte on (Range), as GitHub's downloads do;
- NuGet's flat container: /v3-flatcontainer/python/index.json and the .nupkg of each version;
- the project repository over git's smart HTTP transport at /git/quorin-recomp.git, through
  git-http-backend;
- fault switches, read from FOLDER/state/faults.json on every request, and a log of
  every request answered in FOLDER/state/requests.log (both described in README.md).

The world it serves is made beforehand by world.py.
"""
import argparse
import hashlib
import http.server
import json
import os
import re
import select
import socket
import struct
import subprocess
import sys
import threading
import time
from pathlib import Path
from urllib.parse import urlsplit

import world

RELEASE_PATH = re.compile(r"/repos/([^/]+/[^/]+)/releases/latest")
COMMIT_PATH = re.compile(r"/repos/[^/]+/quorin-recomp/commits/(.+)")
DOWNLOAD_PATH = re.compile(r"/[^/]+/[^/]+/releases/download/[^/]+/[^/]+")
ASSETS = "/release-assets"  # where the downloads port serves them: ASSETS + the download's path
RANGE = re.compile(r"bytes=(\d+)-")
STALL_LIMIT = 120  # seconds that a stalled answer waits for the client to go
PACKAGE_PATH = re.compile(r"/v3-flatcontainer/python/([^/]+)/python\.([^/]+)\.nupkg")
SWITCH_BODY = b"sandbox: answered by a fault switch\n"

breaks = {}  # (switch file, rule number): the answers that rule broke off so far
breaks_lock = threading.Lock()


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def rule_for(faults, path):
    """The first fault switch for the path, with its number; (None, {}) when none."""
    return next(((n, r) for n, r in enumerate(faults.get("answers", [])) if re.fullmatch(r.get("path", ""), path)),
                (None, {}))


def switched(sandbox, rule, content):
    """A body as the switches that change it leave it."""
    if "body" in rule:
        content = rule["body"].encode()
    if "serve" in rule:
        content = (sandbox / "www" / rule["serve"].lstrip("/")).read_bytes()
    return content


def release_answer(release, base, sandbox, faults):
    def asset(number, name):
        path = sandbox / "www" / release.url_path(name).lstrip("/")
        # The digest of what the download brings, a broken archive too (as if uploaded so).
        # Decoys aren't served; their digests are their own all the same.
        served = switched(sandbox, rule_for(faults, ASSETS + release.url_path(name))[1],
                          path.read_bytes() if path.exists() else None)
        digest = sha256(name.encode() if served is None else served)
        if name == release.archive and release.repo in faults.get("wrong_digest", []):
            digest = sha256(b"not " + name.encode())
        none = name == release.archive and release.repo in faults.get("no_digest", [])
        return {
            "url": f"{base}/repos/{release.repo}/releases/assets/{number}",
            "id": number, "name": name, "label": "", "content_type": "application/zip", "state": "uploaded",
            "size": 4096 if served is None else len(served), "digest": None if none else f"sha256:{digest}",
            "download_count": 1234, "created_at": "2024-05-18T12:00:00Z", "updated_at": "2024-05-18T12:00:00Z",
            "browser_download_url": base + release.url_path(name),
        }

    dropped = faults.get("drop_assets", [])
    archive = [release.archive] if release.archive and release.repo not in dropped else []
    names = [*release.decoys_before, *archive, *release.decoys_after]
    return {
        "url": f"{base}/repos/{release.repo}/releases/1", "id": 1, "tag_name": release.tag,
        "target_commitish": "main", "name": f"{release.repo.split('/')[1]} {release.tag}", "draft": False,
        "prerelease": False, "created_at": "2024-05-18T12:00:00Z", "published_at": "2024-05-18T12:00:00Z",
        "assets": [asset(number, name) for number, name in enumerate(names, 1)],
        "tarball_url": f"{base}/repos/{release.repo}/tarball/{release.tag}",
        "zipball_url": f"{base}/repos/{release.repo}/zipball/{release.tag}",
        "body": "Release notes.\r\n\r\nSee the assets below.",
    }


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuorinSandbox/1"

    def do_GET(self):
        self.answer()

    def do_POST(self):
        self.answer()

    def answer(self):
        sandbox = self.server.sandbox
        path = urlsplit(self.path).path
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        switches = sandbox / "state" / "faults.json"
        try:
            faults = json.loads(switches.read_text() or "{}")
            stamp = (switches.stat().st_ino, switches.stat().st_mtime_ns)  # this setting of the switches
        except FileNotFoundError:
            faults, stamp = {}, None
        except ValueError as error:
            return self.deliver(path, 500, {}, f"sandbox: state/faults.json: {error}\n".encode(), {}, None)
        number, rule = rule_for(faults, path)
        status, headers, content = self.route(path, body, faults)
        self.deliver(path, status, headers, content, rule, (stamp, number))

    def route(self, path, body, faults):
        sandbox = self.server.sandbox
        json_type = {"Content-Type": "application/json; charset=utf-8"}
        if self.server.downloads:
            file = sandbox / "www" / path[len(ASSETS):].lstrip("/")
            if path.startswith(ASSETS + "/") and ".." not in path.split("/") and file.is_file():
                return 200, {"Content-Type": "application/octet-stream"}, file.read_bytes()
            return 404, {"Content-Type": "text/plain"}, b"Not Found\n"
        if match := RELEASE_PATH.fullmatch(path):
            release = next((r for r in world.RELEASES if r.repo == match[1]), None)
            if not release:
                return 404, json_type, b'{"message":"Not Found","documentation_url":"https://docs.example/rest"}'
            base = f"http://127.0.0.1:{self.server.server_port}"
            return 200, json_type, json.dumps(release_answer(release, base, sandbox, faults)).encode()
        if match := COMMIT_PATH.fullmatch(path):
            return self.commit(match[1], faults.get("repository", "standard"))
        if DOWNLOAD_PATH.fullmatch(path):
            expires = int(time.time()) + 300
            signed = f"http://127.0.0.1:{self.server.downloads_port}{ASSETS}{path}?expires={expires}&signature=sandbox"
            return 302, {"Location": signed}, b""
        if path == "/v3-flatcontainer/python/index.json":
            versions = faults.get("python_versions", world.PYTHON_VERSIONS)
            return 200, json_type, json.dumps({"versions": versions}, indent=2).encode()
        if (match := PACKAGE_PATH.fullmatch(path)) and match[1] == match[2]:
            if match[1] in faults.get("python_versions", world.PYTHON_VERSIONS):
                path = world.PYTHON_PACKAGE
        if path.startswith("/git/"):
            return self.git(path[len("/git"):], body, faults.get("repository", "standard"))
        file = sandbox / "www" / path.lstrip("/")
        if ".." not in path.split("/") and file.is_file():
            return 200, {"Content-Type": "application/octet-stream"}, file.read_bytes()
        return 404, {"Content-Type": "text/plain"}, b"Not Found\n"

    def commit(self, ref, variant):
        """A commit as GitHub names it for the sha media type: its 40 hex digits, or 422."""
        if self.headers.get("Accept") != "application/vnd.github.sha":
            return 415, {"Content-Type": "text/plain"}, b"sandbox: only the sha media type is served\n"
        repository = self.server.sandbox / "git" / variant / "quorin-recomp.git"
        found = subprocess.run(["git", "-C", str(repository), "rev-parse", "--verify", "--quiet", f"{ref}^{{commit}}"],
                               capture_output=True, env={"PATH": "/usr/bin:/bin"}) if not ref.startswith("-") else None
        if not found or found.returncode != 0:
            return 422, {"Content-Type": "application/json; charset=utf-8"}, \
                json.dumps({"message": f"No commit found for SHA: {ref}"}).encode()
        return 200, {"Content-Type": "application/vnd.github.sha"}, found.stdout.strip()

    def git(self, path_info, body, variant):
        """Runs git-http-backend as CGI on the chosen variant of the repository."""
        env = {
            "PATH": "/usr/bin:/bin", "GIT_PROJECT_ROOT": str(self.server.sandbox / "git" / variant),
            "GIT_HTTP_EXPORT_ALL": "1", "REQUEST_METHOD": self.command, "PATH_INFO": path_info,
            "QUERY_STRING": urlsplit(self.path).query, "CONTENT_TYPE": self.headers.get("Content-Type", ""),
            "CONTENT_LENGTH": str(len(body)), "REMOTE_ADDR": self.client_address[0],
            "GIT_PROTOCOL": self.headers.get("Git-Protocol", ""),
            "HTTP_CONTENT_ENCODING": self.headers.get("Content-Encoding", ""),
        }
        output = subprocess.run(["git", "http-backend"], input=body, env=env, capture_output=True).stdout
        head, _, content = output.partition(b"\r\n\r\n")
        headers = dict(line.split(": ", 1) for line in head.decode().splitlines() if ": " in line)
        status = int(headers.pop("Status", "200").split()[0])
        return status, headers, content

    def deliver(self, path, status, headers, content, rule, which):
        """Sends the answer, or what the fault switch makes of it."""
        if rule.get("drop"):
            self.record(path, "dropped")
            self.close_connection = True
            return
        if "rate_limit" in rule:
            status, content = 403, b'{"message":"API rate limit exceeded for 127.0.0.1.","documentation_url":' \
                                   b'"https://docs.example/rest/rate-limit"}'
            headers = {"Content-Type": "application/json; charset=utf-8", "x-ratelimit-limit": "60",
                       "x-ratelimit-remaining": "0", "x-ratelimit-reset": str(rule["rate_limit"]),
                       "x-ratelimit-used": "60", "x-ratelimit-resource": "core"}
        if "status" in rule:
            status, headers, content = rule["status"], {"Content-Type": "text/plain"}, SWITCH_BODY
        if status != 302:  # the switches for the body change what a link leads to, not the link
            content = switched(self.server.sandbox, rule, content)
        if status == 200 and headers.get("Content-Type") == "application/octet-stream":
            status, headers, content = self.ranged(headers, content)
        self.record(path, status)
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        if rule.get("length", True):
            self.send_header("Content-Length", str(len(content)))
        else:
            self.close_connection = True  # the end of the body is the end of the connection
        self.end_headers()
        if rule.get("truncate"):
            content = content[:len(content) // 2]
            self.close_connection = True
        if "break" in rule and len(content) > rule["break"] and self.breaks_off(rule, which):
            return self.end(content[:rule["break"]], rule.get("reset"))
        if "stall" in rule and len(content) > rule["stall"]:
            return self.stall(content[:rule["stall"]])
        # bytes a second, in pieces of a twentieth of a second
        rate = rule["rate"] if "rate" in rule and self.breaks_off(rule, which) else 0
        piece = max(1, rate // 20) if rate else len(content) or 1
        for start in range(0, len(content), piece):
            self.wfile.write(content[start:start + piece])
            if rate:
                self.wfile.flush()
                time.sleep(0.05)

    def ranged(self, headers, content):
        """A file's answer to a request for the bytes from a given one on: 206 with them, or 416."""
        match = RANGE.fullmatch(self.headers.get("Range", ""))
        if not match:
            return 200, headers, content
        first = int(match[1])
        if first >= len(content):
            return 416, {"Content-Range": f"bytes */{len(content)}"}, b""
        return 206, {**headers, "Content-Range": f"bytes {first}-{len(content) - 1}/{len(content)}"}, content[first:]

    def breaks_off(self, rule, which):
        """Whether this answer is one of the first `times` (all, when not given) that the rule breaks or slows."""
        with breaks_lock:
            broken = breaks.get(which, 0)
            if broken >= rule.get("times", broken + 1):
                return False
            breaks[which] = broken + 1
            return True

    def end(self, sent, reset):
        """Sends a part of the body and ends the connection: closed, or reset."""
        self.wfile.write(sent)
        self.wfile.flush()
        if reset:
            # Once the client waits for more: Wine may take a reset that comes with the bytes for the end.
            time.sleep(0.5)
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()  # it goes once its reader and writer close too, before any shutdown
        self.close_connection = True

    def stall(self, sent):
        """Sends a part of the body, then nothing, until the client goes (or for STALL_LIMIT seconds)."""
        self.wfile.write(sent)
        self.wfile.flush()
        deadline = time.monotonic() + STALL_LIMIT
        try:
            while time.monotonic() < deadline:
                readable, _, _ = select.select([self.connection], [], [], 0.5)
                if readable and not self.connection.recv(4096, socket.MSG_PEEK):
                    break
        except OSError:  # reset by the client
            pass
        self.close_connection = True

    def record(self, path, outcome):
        with self.server.log_lock, open(self.server.sandbox / "state" / "requests.log", "a") as log:
            log.write(f"{self.command} {path} {outcome}\n")

    def log_message(self, format, *args):
        sys.stderr.write("%s %s\n" % (self.log_date_time_string(), format % args))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sandbox", type=Path, required=True, help="the folder world.py made")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--downloads-port", type=int, required=True, help="where the release downloads redirect")
    parser.add_argument("--ready", help="a file (a FIFO) to which 'ready PID' is written once the port listens")
    options = parser.parse_args()
    log_lock = threading.Lock()
    servers = []
    for port, downloads in [(options.port, False), (options.downloads_port, True)]:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        server.daemon_threads = True
        server.sandbox = options.sandbox.resolve()
        server.log_lock = log_lock
        server.downloads, server.downloads_port = downloads, options.downloads_port
        servers.append(server)
    threading.Thread(target=servers[1].serve_forever, daemon=True).start()
    server = servers[0]
    if options.ready:
        with open(options.ready, "w") as ready:
            ready.write(f"ready {os.getpid()}\n")
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
