"""nolvad's command line: a bad option is one line on standard error, exit 2."""

import os
import subprocess

import pytest

from nolva_device import _emulator, board_tool

BAD = [
    ("unknown option", ["--port", "80"], "unknown option --port"),
    ("listen without a port", ["--listen", "127.0.0.1"], "--listen needs ADDR:PORT"),
    ("listen on a name", ["--listen", "localhost:80"], "--listen needs ADDR:PORT"),
    ("port above 65535", ["--listen", "127.0.0.1:65536"], "--listen needs ADDR:PORT"),
    ("tls without a key", ["--tls-listen", "127.0.0.1:0", "--tls-cert", "c"],
     "--tls-listen needs --tls-cert FILE and --tls-key FILE"),
    ("redirect without tls", ["--redirect-listen", "127.0.0.1:0"],
     "--redirect-listen needs --tls-listen"),
    ("image under 64 bytes", ["--max-image", "63"], "--max-image needs a number of bytes"),
    ("connections zero", ["--max-connections", "0"], "--max-connections needs a number"),
    ("idle not a number", ["--session-idle", "5m"], "--session-idle needs a number"),
    ("value missing", ["--session-idle"], "--session-idle needs a number"),
]


@pytest.mark.parametrize("name,args,says", BAD, ids=[row[0] for row in BAD])
def test_bad_option(tmp_path, name, args, says):
    board = tmp_path / "board"
    board_tool("new", board)
    command = _emulator() + [os.environ["NOLVA_BOARD_TOOL"], "run", str(board), "--",
                             os.environ["NOLVAD"], *args]
    result = subprocess.run(command, capture_output=True, text=True, timeout=60)
    assert result.returncode == 2
    lines = result.stderr.splitlines()
    assert len(lines) == 1 and lines[0].startswith("nolvad: " + says), result.stderr
