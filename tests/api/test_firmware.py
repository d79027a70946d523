"""The firmware upload: refused before its body when it cannot run, one
buffer of the stated length, no operation for a cut-off body."""

import socket
import threading
import time

import pytest

from conftest import basic
from nolva_device import Device, board_tool

OCTETS = {"Content-Type": "application/octet-stream"}


def image(name, size=4096):
    field = name.encode("latin-1").ljust(32, b"\0")
    return bytes(range(32)) + field + bytes(size - 64)


def flash_steps(device):
    """What reached the partitions, as the board shows it."""
    shown = board_tool("show", device.board)
    return [line for line in shown.splitlines() if "mtd" in line]


class RawUpload:
    """An upload sent by hand, so that it can stop part-way."""

    def __init__(self, device, length, content_type="application/octet-stream"):
        host, port = device.url.split("//")[1].rsplit(":", 1)
        self.sock = socket.create_connection((host, int(port)), timeout=60)
        head = (f"PUT /api/firmware HTTP/1.1\r\nHost: {host}:{port}\r\n"
                f"Authorization: {basic('admin', 'kevla')}\r\n"
                f"Content-Type: {content_type}\r\nContent-Length: {length}\r\n\r\n")
        self.sock.sendall(head.encode("ascii"))

    def send(self, data):
        self.sock.sendall(data)

    def answer(self):
        received = b""
        while b"\r\n\r\n" not in received:
            chunk = self.sock.recv(4096)
            if not chunk:
                break
            received += chunk
        return received.split(b"\r\n", 1)[0].decode("ascii")

    def close(self):
        self.sock.close()


def test_update_writes_the_image_and_answers_the_versions(device, client):
    answer = client.admin("PUT", "/api/firmware", data=image("nolva-os 2.1"), headers=OCTETS)
    assert answer.status_code == 200, answer.text
    assert answer.json() == {"partition": "os", "os": "nolva-os 2.1", "fs": "\u00ff" * 32}
    answer = client.admin("PUT", "/api/firmware", data=image("nolva-fs 7"), headers=OCTETS)
    assert answer.json()["fs"] == "nolva-fs 7"


# name, body, headers, status, error word
REFUSED = [
    ("no length", iter([image("nolva-os 1")]), OCTETS, 411, "length-required"),
    ("another type", image("nolva-os 1"), {"Content-Type": "application/json"}, 415,
     "unsupported-media-type"),
    ("shorter than 64 bytes", image("nolva-os 1")[:63], OCTETS, 422, "unknown-image"),
    ("name selects no partition", image("nolva-xx 1"), OCTETS, 422, "unknown-image"),
    ("over --max-image", image("nolva-os 1", 8192), OCTETS, 413, "too-large"),
]


@pytest.mark.parametrize("name,body,headers,status,word", REFUSED, ids=[r[0] for r in REFUSED])
def test_refused_upload_touches_no_partition(tmp_path, name, body, headers, status, word):
    device = Device(tmp_path, nolvad_args=["--max-image", "4096"])
    try:
        from conftest import Client
        client = Client(device.url)
        answer = client.admin("PUT", "/api/firmware", data=body, headers=headers)
        assert answer.status_code == status and answer.json()["error"] == word
        assert flash_steps(device) == []
    finally:
        assert device.stop() == 0


def test_too_large_is_answered_before_the_body(tmp_path):
    device = Device(tmp_path, nolvad_args=["--max-image", "4096"])
    try:
        upload = RawUpload(device, 1 << 30)
        assert upload.answer().startswith("HTTP/1.1 413")
        upload.close()
    finally:
        assert device.stop() == 0


def test_second_update_is_busy_until_the_first_has_answered(device, client):
    first = RawUpload(device, 4096)
    first.send(image("nolva-os 1")[:100])
    time.sleep(0.5)  # the first has passed its checks
    answer = client.admin("PUT", "/api/firmware", data=image("nolva-fs 1"), headers=OCTETS)
    assert answer.status_code == 409 and answer.json()["error"] == "busy"
    first.send(image("nolva-os 1")[100:])
    assert first.answer() == "HTTP/1.1 200 OK"
    first.close()
    answer = client.admin("PUT", "/api/firmware", data=image("nolva-fs 1"), headers=OCTETS)
    assert answer.status_code == 200


def test_cut_off_upload_runs_no_operation(device, client):
    upload = RawUpload(device, 4096)
    upload.send(image("nolva-os 1")[:2000])
    upload.close()
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:  # the slot is free once the service saw the end
        answer = client.admin("PUT", "/api/firmware", data=b"", headers=OCTETS)
        if answer.status_code != 409:
            break
        time.sleep(0.1)
    assert answer.status_code == 422
    assert flash_steps(device) == []
    assert client.admin("GET", "/api/device/firmware").json()["os"] == "\u00ff" * 32


@pytest.mark.parametrize("fault,kept", [("mtd-write-fails", "is erased"),
                                        ("mtd-erase-fails", "still holds its old image")])
def test_failed_update_says_what_the_partition_holds(device, client, fault, kept):
    assert client.admin("PUT", "/api/firmware", data=image("nolva-os 1"), headers=OCTETS).ok
    device.fault(fault)
    answer = client.admin("PUT", "/api/firmware", data=image("nolva-os 2"), headers=OCTETS)
    assert answer.status_code == 500
    body = answer.json()
    assert body["status"] == "STATUS_FIRMWARE_UPDATE_FAILED" and body["code"] == "0x80000304"
    assert kept in body["message"]


def test_shutdown_lets_a_running_update_finish(device, client):
    upload = RawUpload(device, 4096)
    upload.send(image("nolva-os 3")[:10])
    time.sleep(0.3)
    stopper = threading.Thread(target=device.stop)
    stopper.start()
    time.sleep(0.3)
    upload.send(image("nolva-os 3")[10:])
    assert upload.answer() == "HTTP/1.1 200 OK"
    upload.close()
    stopper.join(timeout=60)
    assert device.process.returncode == 0
    assert any("nolvad: stopped" in line for line in device.lines)
