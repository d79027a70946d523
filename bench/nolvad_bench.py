#!/usr/bin/python3
"""nolvad against its yardsticks, all in one run on this machine.

  nolvad_bench.py --build DIR [--json FILE] [--seconds N] [--rounds N]
                  [--threads N] [--connections N]

DIR is a Release build with the benchmarks (tools/bench makes one): its
nolvad runs on simulated boards in /dev/shm, its nolva_bench times the
operations called directly. Prints one row per figure (value, goal, ratio,
met or missed) and writes them as JSON. Exit status 0 even when a goal is
missed: the figures are reported, not enforced.

- GET /api/health, requests a second, against lighttpd serving a file of
  the same bytes, both driven by wrk alike on 127.0.0.1.
- GET /api/network on a session, on keep-alive, its time per request against
  that of /api/health plus GetNetworkSettings called directly; at wrk's
  threads and connections, and on one connection.
- An 8 MiB PUT /api/firmware against UpdateFirmware called directly with the
  same image. The board skips the settle pause and logs it; it is reported
  as recorded, never slept.
- nolvad's resident memory when idle, and its peak over a 32 MiB upload.
"""

import argparse
import base64
import http.client
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

MIB = 1 << 20
FIRMWARE_SIZE = 8 * MIB  # the size of nolva_bench's "UpdateFirmware, 8 MiB"
LARGEST_IMAGE = 32 * MIB  # nolvad's default --max-image
HEALTH_BODY = b'{"status":"ok"}'
BASIC = "Basic " + base64.b64encode(b"admin:kevla").decode()

# figure: (goal, "max" when the value must stay at or under it, "min" at or over)
GOALS = {
    "health vs lighttpd": (0.8, "min"),
    "network vs health + direct": (1.5, "max"),
    "network vs health + direct, 1 connection": (1.5, "max"),
    "firmware 8 MiB vs direct": (1.3, "max"),
    "idle RSS after start (MiB)": (12, "max"),
    "idle RSS after the runs (MiB)": (12, "max"),
    "peak RSS over a 32 MiB upload (MiB)": (32 + 12, "max"),
}


def image(size, name):
    """The image nolva_bench writes: byte i is (7i + i/4096) mod 256, the name
    field at byte 32."""
    pattern = bytes((7 * i) & 255 for i in range(4096))
    blocks = [pattern.translate(bytes((x + k) & 255 for x in range(256)))
              for k in range(256)]
    data = bytearray(b"".join(blocks[k & 255] for k in range(size // 4096)))
    field = name.encode() + b"\0"
    data[32:32 + len(field)] = field
    return bytes(data)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def status_field(pid, name):
    """A figure of /proc/PID/status in MiB (VmRSS, VmHWM)."""
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(name + ":"):
            return int(line.split()[1]) / 1024
    raise KeyError(name)


class Nolvad:
    """nolvad on a fresh board of its own in /dev/shm, on 127.0.0.1."""

    def __init__(self, build, workdir, mtd_size, *args):
        tool = str(build / "board" / "nolva-board")
        self.board = workdir / "board"
        subprocess.run([tool, "new", self.board, "--mtd-size", mtd_size], check=True,
                       capture_output=True, timeout=60)
        self.output = workdir / "nolvad.out"
        with open(self.output, "wb") as out:  # the access log: a line a request
            self.process = subprocess.Popen(
                [tool, "run", self.board, "--", build / "nolvad" / "nolvad",
                 "--listen", "127.0.0.1:0", *args],
                stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            found = re.search(r"nolvad: listening on http://([\d.]+):(\d+)",
                              self.output.read_text(errors="replace"))
            if found:
                self.host, self.port = found.group(1), int(found.group(2))
                self.url = f"http://{self.host}:{self.port}"
                self.pid = self._nolvad_pid(build / "nolvad" / "nolvad")
                return
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        self.stop()
        raise RuntimeError("nolvad did not start: " + self.output.read_text(errors="replace"))

    def _nolvad_pid(self, program):
        for children in Path(f"/proc/{self.process.pid}/task").glob("*/children"):
            for pid in children.read_text().split():
                words = Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")
                if str(program).encode() in words:
                    return int(pid)
        return self.process.pid  # nolva-board run may exec nolvad itself

    def request(self, method, path, body=None, headers=None):
        """One request on a connection of its own; (status, body, seconds)."""
        connection = http.client.HTTPConnection(self.host, self.port, timeout=120)
        started = time.perf_counter()
        connection.request(method, path, body=body, headers=headers or {})
        answer = connection.getresponse()
        data = answer.read()
        seconds = time.perf_counter() - started
        connection.close()
        return answer.status, data, seconds

    def recorded_pause(self):
        """Seconds of sleep the board was asked for and skipped."""
        return sum(int(line.split()[1]) for line in
                   (self.board / "log").read_text(errors="replace").splitlines()
                   if line.startswith("usleep ")) / 1e6

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
        try:
            return self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            return self.process.wait(timeout=60)


class Lighttpd:
    """lighttpd in the foreground on 127.0.0.1 with a configuration of our own."""

    def __init__(self, workdir):
        root = workdir / "www"
        (root / "api").mkdir(parents=True)
        (root / "api" / "health").write_bytes(HEALTH_BODY)
        self.port = free_port()
        config = workdir / "lighttpd.conf"
        config.write_text(
            f'server.document-root = "{root}"\n'
            f'server.bind = "127.0.0.1"\n'
            f"server.port = {self.port}\n"
            f'server.errorlog = "{workdir}/lighttpd.errors"\n'
            f'server.pid-file = "{workdir}/lighttpd.pid"\n'
            f'mimetype.assign = ("" => "application/json")\n')
        self.url = f"http://127.0.0.1:{self.port}"
        self.process = subprocess.Popen(["lighttpd", "-D", "-f", config],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                if self.process.poll() is not None:
                    break
                time.sleep(0.05)
        self.stop()
        raise RuntimeError("lighttpd did not start")

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait(timeout=30)


def wrk(url, threads, connections, seconds, *headers):
    """Requests a second and the failures of one wrk run."""
    command = ["wrk", "-t", str(threads), "-c", str(connections), "-d", f"{seconds}s"]
    for header in headers:
        command += ["-H", header]
    text = subprocess.run(command + [url], check=True, capture_output=True, text=True,
                          timeout=seconds + 60).stdout
    rate = float(re.search(r"Requests/sec:\s*([\d.]+)", text).group(1))
    done = int(re.search(r"(\d+) requests in", text).group(1))
    non2xx = re.search(r"Non-2xx or 3xx responses:\s*(\d+)", text)
    sockets = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)",
                        text)
    return {"rps": rate, "requests": done, "non2xx": int(non2xx.group(1)) if non2xx else 0,
            "socketErrors": sum(map(int, sockets.groups())) if sockets else 0}


def median_run(runs):
    middle = statistics.median(run["rps"] for run in runs)
    return min(runs, key=lambda run: abs(run["rps"] - middle))


def direct_times(build, workdir):
    """Wall time of each operation called directly (ns): nolva_bench's median."""
    out = workdir / "direct.json"
    subprocess.run([build / "bench" / "nolva_bench",
                    "--benchmark_filter=^(GetNetworkSettings|UpdateFirmware, 8 MiB)$",
                    "--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
                    f"--benchmark_out={out}", "--benchmark_out_format=json"],
                   check=True, capture_output=True, timeout=600)
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
    times = {}
    for run in json.loads(out.read_text())["benchmarks"]:
        if run.get("aggregate_name") == "median":
            times[run["run_name"]] = run["real_time"] * scale[run["time_unit"]]
    return times


def measure(build, workdir, args):
    figures = {}   # name -> value
    details = {}   # what the figures come from

    direct = direct_times(build, workdir)
    details["direct"] = direct

    nolvad = Nolvad(build, workdir / "nolvad", "16M")
    try:
        time.sleep(1)
        figures["idle RSS after start (MiB)"] = status_field(nolvad.pid, "VmRSS")

        # Health against lighttpd, in alternating rounds.
        shape = (args.threads, args.connections, args.seconds)
        lighttpd = Lighttpd(workdir)
        try:
            ours, theirs = [], []
            for _ in range(args.rounds):
                theirs.append(wrk(lighttpd.url + "/api/health", *shape))
                ours.append(wrk(nolvad.url + "/api/health", *shape))
        finally:
            lighttpd.stop()
        health, light = median_run(ours), median_run(theirs)
        details["health"], details["lighttpd"] = ours, theirs
        figures["health vs lighttpd"] = health["rps"] / light["rps"]

        status, body, _ = nolvad.request(
            "POST", "/api/session", json.dumps({"user": "admin", "password": "kevla"}),
            {"Content-Type": "application/json"})
        assert status == 201, body
        bearer = "Authorization: Bearer " + json.loads(body)["token"]
        get_network = direct["GetNetworkSettings"] / 1e9

        network = median_run([wrk(nolvad.url + "/api/network", *shape, bearer)
                              for _ in range(args.rounds)])
        details["network"] = network
        figures["network vs health + direct"] = (
            (1 / network["rps"]) / (1 / health["rps"] + get_network))

        one = (1, 1, args.seconds)
        health1 = median_run([wrk(nolvad.url + "/api/health", *one) for _ in range(args.rounds)])
        network1 = median_run([wrk(nolvad.url + "/api/network", *one, bearer)
                               for _ in range(args.rounds)])
        details["health, 1 connection"], details["network, 1 connection"] = health1, network1
        figures["network vs health + direct, 1 connection"] = (
            (1 / network1["rps"]) / (1 / health1["rps"] + get_network))

        firmware = image(FIRMWARE_SIZE, "nolva-os 8MiB")
        upload = {"Authorization": BASIC, "Content-Type": "application/octet-stream"}
        seconds = []
        for _ in range(5):
            status, body, took = nolvad.request("PUT", "/api/firmware", firmware, upload)
            assert status == 200, body
            seconds.append(took)
        details["firmware seconds"] = seconds
        details["firmware pause recorded per update (s)"] = nolvad.recorded_pause() / 5
        figures["firmware 8 MiB vs direct"] = (
            statistics.median(seconds) / (direct["UpdateFirmware, 8 MiB"] / 1e9))

        time.sleep(1)
        figures["idle RSS after the runs (MiB)"] = status_field(nolvad.pid, "VmRSS")
        details["errors"] = sum(run["non2xx"] + run["socketErrors"]
                                for run in ours + [network, health1, network1])
    finally:
        details["nolvad exit status"] = nolvad.stop()

    big = Nolvad(build, workdir / "big", "64M")
    try:
        time.sleep(1)
        before = status_field(big.pid, "VmRSS")
        status, body, _ = big.request(
            "PUT", "/api/firmware", image(LARGEST_IMAGE, "nolva-os 32MiB"),
            {"Authorization": BASIC, "Content-Type": "application/octet-stream"})
        assert status == 200, body
        figures["peak RSS over a 32 MiB upload (MiB)"] = status_field(big.pid, "VmHWM")
        details["RSS before the 32 MiB upload (MiB)"] = before
    finally:
        big.stop()
    return figures, details


def report(figures, details):
    print(f"\n{'figure':44} {'value':>9} {'goal':>7}  result")
    for name, (goal, sense) in GOALS.items():
        if name not in figures:
            continue
        value = figures[name]
        met = value >= goal if sense == "min" else value <= goal
        print(f"{name:44} {value:9.2f} {('>= ' if sense == 'min' else '<= ') + str(goal):>7}  "
              f"{'met' if met else 'MISSED'}")
    health, light = details["health"], details["lighttpd"]
    print(f"\nrequests/s, median of {len(health)}: nolvad /api/health "
          f"{median_run(health)['rps']:.0f}, lighttpd {median_run(light)['rps']:.0f}; "
          f"/api/network {details['network']['rps']:.0f}; on one connection "
          f"{details['health, 1 connection']['rps']:.0f} and "
          f"{details['network, 1 connection']['rps']:.0f}")
    direct = details["direct"]
    print(f"direct: GetNetworkSettings {direct['GetNetworkSettings'] / 1e3:.1f} us, "
          f"UpdateFirmware 8 MiB {direct['UpdateFirmware, 8 MiB'] / 1e6:.1f} ms; PUT 8 MiB "
          f"{statistics.median(details['firmware seconds']) * 1e3:.1f} ms (median of 5), "
          f"settle pause recorded {details['firmware pause recorded per update (s)']:g} s each")
    print(f"failed requests: {details['errors']}; nolvad exit status "
          f"{details['nolvad exit status']}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", type=Path, required=True)
    parser.add_argument("--json", type=Path)
    parser.add_argument("--seconds", type=int, default=10, help="each wrk run (default 10)")
    parser.add_argument("--rounds", type=int, default=3, help="runs of each, median (default 3)")
    parser.add_argument("--threads", type=int, default=2)
    parser.add_argument("--connections", type=int, default=16)
    args = parser.parse_args()
    for program in ("wrk", "lighttpd"):
        if not shutil.which(program):
            sys.exit(f"nolvad_bench: {program} is missing (tools/bench installs it)")
    workdir = Path(tempfile.mkdtemp(prefix="nolvad-bench-", dir="/dev/shm"))
    try:
        figures, details = measure(args.build.resolve(), workdir, args)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    report(figures, details)
    if args.json:
        args.json.write_text(json.dumps({"figures": figures, "goals": GOALS,
                                         "details": details}, indent=2) + "\n")
        print(f"figures: {args.json}")


if __name__ == "__main__":
    main()
