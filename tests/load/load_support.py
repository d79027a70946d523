"""What the load tests share: how long to load, nolvad's process and its
descriptors."""

import os
import time
from pathlib import Path


def slow():
    """Under qemu-arm every step is many times slower."""
    return bool(os.environ.get("NOLVA_EMULATOR", "").strip())


def load_seconds():
    """NOLVA_LOAD_SECONDS, else 20 (5 under an emulator)."""
    return float(os.environ.get("NOLVA_LOAD_SECONDS", 5 if slow() else 20))


def nolvad_pid(device):
    """nolvad's process: the descendant of `nolva-board run` whose command
    names the nolvad program (under qemu-arm, the emulator running it)."""
    program = os.environ["NOLVAD"]
    pending = [device.process.pid]
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        seen = []
        while pending:
            pid = pending.pop()
            seen.append(pid)
            for children in Path(f"/proc/{pid}/task").glob("*/children"):
                try:
                    pending += [int(c) for c in children.read_text().split()]
                except OSError:
                    pass
        for pid in seen:
            try:
                words = Path(f"/proc/{pid}/cmdline").read_bytes().split(b"\0")
            except OSError:
                continue
            if pid != device.process.pid and program.encode() in words:
                return pid
        pending = [device.process.pid]
        time.sleep(0.1)
    raise RuntimeError("nolvad's process not found under " + str(device.process.pid))


def descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def settled_descriptors(pid):
    """The count once two readings half a second apart agree (at most 20)."""
    before = descriptors(pid)
    for _ in range(20):
        time.sleep(0.5)
        now = descriptors(pid)
        if now == before:
            break
        before = now
    return before


def wait_for_descriptors(pid, count, seconds):
    """Polls until nolvad holds `count` descriptors or fewer; returns the last count."""
    deadline = time.monotonic() + seconds
    now = descriptors(pid)
    while now > count and time.monotonic() < deadline:
        time.sleep(0.1)
        now = descriptors(pid)
    return now
