"""A fresh simulated board with nolvad running on it, for the Python tests.

The paths of the tools come from the environment that CTest sets:
NOLVA_BOARD_TOOL (nolva-board), NOLVAD (nolvad) and, in cross builds,
NOLVA_EMULATOR (the command that runs the build's programs).
"""

import os
import re
import select
import signal
import subprocess
import threading
import time
from pathlib import Path

FACTORY_USER = "admin"
FACTORY_PASSWORD = "kevla"
START_SECONDS = 60  # qemu-arm starts slowly
STOP_SECONDS = 60


def _emulator():
    words = os.environ.get("NOLVA_EMULATOR", "").split()
    return words


def board_tool(*args):
    """Runs nolva-board with ARGS; returns its standard output."""
    command = _emulator() + [os.environ["NOLVA_BOARD_TOOL"], *map(str, args)]
    return subprocess.run(command, check=True, capture_output=True, text=True, timeout=60).stdout


class Device:
    """nolvad on a board of its own in WORKDIR, listening on 127.0.0.1."""

    def __init__(self, workdir, nolvad_args=(), board_args=(), listen=True):
        self.board = Path(workdir) / "board"
        board_tool("new", self.board, "--config-mac", "00:1a:2b:3c:4d:5e", *board_args)
        args = (["--listen", "127.0.0.1:0"] if listen else []) + [str(a) for a in nolvad_args]
        command = _emulator() + [
            os.environ["NOLVA_BOARD_TOOL"], "run", str(self.board), "--",
            os.environ["NOLVAD"], *args,
        ]
        self.process = subprocess.Popen(
            command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        self.lines = []
        self.urls = []
        self.url = None
        self._read_banner()
        self._drain = threading.Thread(target=self._read_rest, daemon=True)
        self._drain.start()

    def _read_banner(self):
        deadline = time.monotonic() + START_SECONDS
        pending = b""
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.5)
            if not ready:
                if self.process.poll() is not None:
                    break
                continue
            chunk = os.read(self.process.stdout.fileno(), 4096)
            if not chunk:
                break
            pending += chunk
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                text = line.decode("utf-8", "replace")
                self.lines.append(text)
                found = re.match(r"nolvad: listening on (\S+)", text)
                if found:
                    self.urls.append(found.group(1))
                elif text.startswith("nolvad: redirecting "):
                    self.urls.append(text.split()[2])
            if self.urls and not pending and not select.select([self.process.stdout], [], [], 0.2)[0]:
                self.url = self.urls[0]
                return
        self.stop()
        raise RuntimeError("nolvad did not start: " + "\n".join(self.lines) +
                           self.process.stderr.read().decode("utf-8", "replace"))

    def _read_rest(self):
        for line in self.process.stdout:
            self.lines.append(line.decode("utf-8", "replace").rstrip("\n"))

    def fault(self, name, value=None):
        board_tool("fault", self.board, name, *([] if value is None else [value]))

    def board_file(self, device_path):
        """The bytes of a file of the board, by its path on the device."""
        return (self.board / device_path.lstrip("/")).read_bytes()

    def stop(self):
        """SIGTERM, as init sends it; returns nolvad's exit status."""
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
        try:
            status = self.process.wait(timeout=STOP_SECONDS)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            status = self.process.wait(timeout=STOP_SECONDS)
        if hasattr(self, "_drain"):
            self._drain.join(timeout=STOP_SECONDS)
        return status
