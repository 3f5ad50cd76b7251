#!/usr/bin/python3
"""The sandbox's services on 127.0.0.1, in one process: service.py --sandbox FOLDER --port N

- /repos/{owner}/{name}/releases/latest, shaped like GitHub's answers, with decoy assets;
- the release downloads, /{owner}/{name}/releases/download/{tag}/{file};
- NuGet's flat container: /v3-flatcontainer/python/index.json and the .nupkg of each version;
- the project repository over git's smart HTTP transport at /git/quorin-recomp.git, through
  git-http-backend;
- fault switches, read from FOLDER/state/faults.json on every request, and a log of
  every request answered in FOLDER/state/requests.log (both described in README.md).

The world it serves is made beforehand by world.py.
"""
import argparse
import http.server
import json
import os
import re
import subprocess
import sys
import threading
import time
from pathlib import Path
from urllib.parse import urlsplit

import world

RELEASE_PATH = re.compile(r"/repos/([^/]+/[^/]+)/releases/latest")
PACKAGE_PATH = re.compile(r"/v3-flatcontainer/python/([^/]+)/python\.([^/]+)\.nupkg")
SWITCH_BODY = b"sandbox: answered by a fault switch\n"


def release_answer(release, base, sandbox, dropped):
    def asset(number, name):
        path = sandbox / "www" / release.url_path(name).lstrip("/")
        return {
            "url": f"{base}/repos/{release.repo}/releases/assets/{number}",
            "id": number, "name": name, "label": "", "content_type": "application/zip", "state": "uploaded",
            "size": path.stat().st_size if path.exists() else 4096, "download_count": 1234,
            "created_at": "2024-05-18T12:00:00Z", "updated_at": "2024-05-18T12:00:00Z",
            "browser_download_url": base + release.url_path(name),
        }

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
        try:
            faults = json.loads((sandbox / "state" / "faults.json").read_text() or "{}")
        except FileNotFoundError:
            faults = {}
        except ValueError as error:
            return self.deliver(path, 500, {}, f"sandbox: state/faults.json: {error}\n".encode(), {})
        rule = next((r for r in faults.get("answers", []) if re.fullmatch(r.get("path", ""), path)), {})
        status, headers, content = self.route(path, body, faults)
        self.deliver(path, status, headers, content, rule)

    def route(self, path, body, faults):
        sandbox = self.server.sandbox
        json_type = {"Content-Type": "application/json; charset=utf-8"}
        if match := RELEASE_PATH.fullmatch(path):
            release = next((r for r in world.RELEASES if r.repo == match[1]), None)
            if not release:
                return 404, json_type, b'{"message":"Not Found","documentation_url":"https://docs.example/rest"}'
            base = f"http://127.0.0.1:{self.server.server_port}"
            answer = release_answer(release, base, sandbox, faults.get("drop_assets", []))
            return 200, json_type, json.dumps(answer).encode()
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

    def deliver(self, path, status, headers, content, rule):
        """Sends the answer, or what the fault switch makes of it."""
        if rule.get("drop"):
            self.record(path, "dropped")
            self.close_connection = True
            return
        if "status" in rule:
            status, headers, content = rule["status"], {"Content-Type": "text/plain"}, SWITCH_BODY
        if "body" in rule:
            content = rule["body"].encode()
        if "serve" in rule:
            content = (self.server.sandbox / "www" / rule["serve"].lstrip("/")).read_bytes()
        self.record(path, status)
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(content)))
        self.end_headers()
        if rule.get("truncate"):
            content = content[:len(content) // 2]
            self.close_connection = True
        rate = rule.get("rate", 0)  # bytes a second, in pieces of a twentieth of a second
        piece = max(1, rate // 20) if rate else len(content) or 1
        for start in range(0, len(content), piece):
            self.wfile.write(content[start:start + piece])
            if rate:
                self.wfile.flush()
                time.sleep(0.05)

    def record(self, path, outcome):
        with self.server.log_lock, open(self.server.sandbox / "state" / "requests.log", "a") as log:
            log.write(f"{self.command} {path} {outcome}\n")

    def log_message(self, format, *args):
        sys.stderr.write("%s %s\n" % (self.log_date_time_string(), format % args))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sandbox", type=Path, required=True, help="the folder world.py made")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--ready", help="a file (a FIFO) to which 'ready PID' is written once the port listens")
    options = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", options.port), Handler)
    server.daemon_threads = True
    server.sandbox = options.sandbox.resolve()
    server.log_lock = threading.Lock()
    if options.ready:
        with open(options.ready, "w") as ready:
            ready.write(f"ready {os.getpid()}\n")
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
