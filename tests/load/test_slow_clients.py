"""Connections that hold nolvad's slots without finishing a request: one
sending a byte a second, the rest idle up to the connection limit. Others
are still answered, and the idle ones are cut off at the idle timeout."""

import socket
import threading
import time

import requests

from load_support import nolvad_pid, settled_descriptors, wait_for_descriptors

LIMIT = 8
IDLE_SECONDS = 3
TIMEOUT = 60


def connect(url):
    host, port = url.rsplit("/", 1)[-1].rsplit(":", 1)
    return socket.create_connection((host, int(port)), timeout=TIMEOUT)


def closed_by_peer(sock, seconds):
    """True once the peer has closed (EOF or reset) within `seconds`."""
    sock.settimeout(seconds)
    try:
        return sock.recv(4096) == b""
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


def drip(sock, request, stop, progress):
    """Sends `request` a byte a second until `stop` or the peer closes."""
    for byte in request:
        if stop.is_set():
            return
        try:
            sock.send(bytes([byte]))
        except OSError:
            return
        progress.append(byte)
        stop.wait(1)


def test_slow_and_idle_connections_leave_room_and_are_cut_off(start_device):
    device = start_device("--max-connections", LIMIT, "--idle-timeout", IDLE_SECONDS)
    pid = nolvad_pid(device)
    assert requests.get(device.url + "/api/health", timeout=TIMEOUT).status_code == 200
    at_rest = settled_descriptors(pid)

    stop = threading.Event()
    dripped = []
    slow_one = connect(device.url)
    request = (b"GET /api/health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Padding: " + b"x" * 200 +
               b"\r\n\r\n")
    dripper = threading.Thread(target=drip, args=(slow_one, request, stop, dripped))
    dripper.start()
    # Idle connections up to one short of the limit, leaving one for others.
    idle = [connect(device.url) for _ in range(LIMIT - 2)]
    try:
        answered = []
        for _ in range(5):  # a fresh connection each time, as a new client makes
            started = time.monotonic()
            answer = requests.get(device.url + "/api/health", timeout=TIMEOUT,
                                  headers={"Connection": "close"})
            answered.append((answer.status_code, time.monotonic() - started))
        print(f"\nanswered beside the slow and idle ones: {answered}")
        assert all(status == 200 for status, _ in answered)

        grace = IDLE_SECONDS * 20  # sanitizers and qemu-arm are slow
        assert all(closed_by_peer(sock, grace) for sock in idle), "an idle connection stayed open"
        cut_off = closed_by_peer(slow_one, grace)
        print(f"slow connection: {len(dripped)} of {len(request)} bytes sent; "
              f"cut off: {cut_off}")
        assert cut_off, "a connection sending a byte a second is never cut off"
    finally:
        stop.set()
        dripper.join(timeout=10)
        slow_one.close()
        for sock in idle:
            sock.close()
    left = wait_for_descriptors(pid, at_rest, 60)
    assert left == at_rest, f"nolvad holds {left} descriptors, {at_rest} before"
