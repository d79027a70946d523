"""The fixture of the load tests: nolvad on fresh boards, stopped after."""

import pytest

from nolva_device import Device


@pytest.fixture
def start_device(tmp_path):
    """Starts nolvad with the given options; stops it (exit 0) after the test."""
    started = []

    def start(*nolvad_args):
        workdir = tmp_path / str(len(started))
        workdir.mkdir()
        device = Device(workdir, nolvad_args=nolvad_args)
        started.append(device)
        return device

    yield start
    for device in started:
        status = device.stop()
        # A sanitizer's report, say, is on standard error.
        assert status == 0, device.process.stderr.read().decode("utf-8", "replace")[-6000:]
