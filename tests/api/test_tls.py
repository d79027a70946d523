"""HTTPS with the certificate nolvad makes on its first start, and the plain
HTTP listener that redirects to it."""

import ssl
import stat

import requests

from nolva_device import Device


def start_tls(tmp_path, *extra):
    cert, key = tmp_path / "cert.pem", tmp_path / "key.pem"
    device = Device(tmp_path, listen=False, nolvad_args=[
        "--tls-listen", "127.0.0.1:0", "--tls-cert", cert, "--tls-key", key, *extra])
    return device, cert, key


def test_https_round_trip_with_a_certificate_made_on_first_start(tmp_path):
    device, cert, key = start_tls(tmp_path)
    try:
        assert device.url.startswith("https://127.0.0.1:")
        for made in (cert, key):
            assert stat.S_IMODE(made.stat().st_mode) == 0o600
        decoded = ssl._ssl._test_decode_cert(str(cert))
        assert ("IP Address", "127.0.0.1") in decoded["subjectAltName"]
        answer = requests.post(device.url + "/api/session", verify=str(cert), timeout=60,
                               json={"user": "admin", "password": "kevla"})
        assert answer.status_code == 201
        assert answer.headers["Strict-Transport-Security"] == "max-age=31536000"
        assert answer.headers["Set-Cookie"].endswith("; Secure")
    finally:
        assert device.stop() == 0
    kept = cert.read_bytes()
    device, _, _ = start_tls(tmp_path)
    try:
        assert cert.read_bytes() == kept  # made once, then kept
    finally:
        assert device.stop() == 0


def test_redirect_listener_answers_308_to_the_https_address(tmp_path):
    device, _, _ = start_tls(tmp_path, "--redirect-listen", "127.0.0.1:0")
    try:
        https_port = device.urls[0].rsplit(":", 1)[1]
        answer = requests.get(device.urls[1] + "/api/users?x=1", allow_redirects=False,
                              timeout=60)
        assert answer.status_code == 308
        assert answer.headers["Location"] == f"https://127.0.0.1:{https_port}/api/users?x=1"
        assert answer.headers["Cache-Control"] == "no-store"
    finally:
        assert device.stop() == 0
