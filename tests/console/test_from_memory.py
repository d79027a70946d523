"""The console is served from memory: no request outside /api/ reaches the
file system. nolvad runs under strace, which logs every file system call;
the console's paths and traversal attempts must add none."""

import base64
import http.client
import os
import pathlib
import shutil
import time
import urllib.parse

import pytest

from nolva_device import FACTORY_PASSWORD, FACTORY_USER, Device

CONSOLE = pathlib.Path(__file__).resolve().parents[2] / "console"
ASSETS = sorted(p.name for p in CONSOLE.iterdir() if p.suffix in (".html", ".css", ".js", ".svg"))

# Paths that name no asset: each answers 404, whatever lies on the disk.
NOT_FOUND = [
    ("parent", "/../etc/passwd"),
    ("parents", "/../../../../../../etc/passwd"),
    ("encoded dots", "/%2e%2e/%2e%2e/etc/passwd"),
    ("encoded slash", "/..%2f..%2fetc%2fpasswd"),
    ("double encoded", "/%252e%252e%252fetc%252fpasswd"),
    ("upper-case encoding", "/%2E%2E/%2E%2E/etc/passwd"),
    ("backslashes", "/..\\..\\etc\\passwd"),
    ("overlong utf-8 dot", "/%c0%ae%c0%ae/etc/passwd"),
    ("absolute", "//etc/passwd"),
    ("an asset's parent", "/index.html/../../etc/passwd"),
    ("beside an asset", "/index.html/"),
    ("NUL after an asset", "/index.html%00.txt"),
    ("source folder", "/console/index.html"),
    ("source files", "/CMakeLists.txt"),
    ("header", "/assets.h"),
    ("embedding script", "/embed.cmake"),
    ("process files", "/proc/self/environ"),
    ("the board's flash", "/flash/nolva_user"),
    ("the board's flash, relative", "/../flash/nolva_user"),
    ("case of an asset", "/INDEX.HTML"),
]
PROBE = "/api/network"  # opens the user file and the network record on the flash
# Files that the C library reads for itself, whatever the request: malloc
# reads this one when it gives memory back.
LIBRARY_OWN = ("/proc/sys/vm/overcommit_memory",)


def strace_path():
    path = shutil.which("strace")
    if not path:
        pytest.fail("strace is not installed (tools/test installs it)")
    return path


@pytest.fixture
def traced(tmp_path, monkeypatch):
    """nolvad under strace: (device, the log's path)."""
    log = tmp_path / "strace.log"
    wrapper = tmp_path / "nolvad-traced"
    wrapper.write_text(f'#!/bin/sh\nexec {strace_path()} -f -qq -e trace=%file -o {log} '
                       f'{os.environ["NOLVAD"]} "$@"\n')
    wrapper.chmod(0o755)
    monkeypatch.setenv("NOLVAD", str(wrapper))
    device = Device(tmp_path / "device")
    yield device, log
    device.stop()


def ask(url, method, path, credentials=None):
    parts = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=30)
    try:
        headers = {}
        if credentials:
            headers["Authorization"] = "Basic " + base64.b64encode(":".join(credentials).encode()).decode()
        connection.request(method, path, headers=headers)
        answer = connection.getresponse()
        return answer.status, answer.read()
    finally:
        connection.close()


def calls(log):
    """The file system calls logged so far, the C library's own aside."""
    return [line for line in log.read_text().splitlines() if not any(f'"{path}"' in line for path in LIBRARY_OWN)]


def settled_length(log, seconds=10):
    """The count of calls once the log has stopped growing for half a second."""
    deadline = time.monotonic() + seconds
    count, since = -1, time.monotonic()
    while time.monotonic() < deadline:
        now = len(calls(log))
        if now != count:
            count, since = now, time.monotonic()
        elif time.monotonic() - since >= 0.5:
            return count
        time.sleep(0.1)
    pytest.fail("strace's log never settled")


def probe(device, log):
    """Lines that one request opening flash files adds to the log."""
    before = settled_length(log)
    assert ask(device.url, "GET", PROBE, (FACTORY_USER, FACTORY_PASSWORD))[0] == 200
    return settled_length(log) - before


def test_paths_outside_api_open_no_file(traced):
    device, log = traced
    probe(device, log)  # the first request's one-time set-up
    per_probe = probe(device, log)
    assert per_probe > 0, "strace logs nothing: the check could not fail"
    mark = settled_length(log)

    failures = []
    for name in ASSETS:
        body = (CONSOLE / name).read_bytes()
        for method, expected in (("GET", body), ("HEAD", b"")):
            answer = ask(device.url, method, f"/{name}")
            if answer != (200, expected):
                failures.append(f"{method} /{name}: {answer[0]}, {len(answer[1])} bytes")
    for row, (status, expected) in {"root": ask(device.url, "GET", "/"),
                                    "query": ask(device.url, "GET", "/index.html?f=../../etc/passwd")}.items():
        if (status, expected) != (200, (CONSOLE / "index.html").read_bytes()):
            failures.append(f"{row}: {status}")
    for row, path in NOT_FOUND:
        for method in ("GET", "HEAD"):
            status = ask(device.url, method, path)[0]
            if status != 404:
                failures.append(f"{row} ({method} {path}): {status}, not 404")
    assert not failures, "\n".join(failures)

    # Only the closing probe's own calls follow the mark.
    assert probe(device, log) == per_probe
    added = calls(log)[mark:]
    assert len(added) == per_probe, "\n".join(added)
