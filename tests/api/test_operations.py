"""Each endpoint's success path and each of its error rows, one row each.

Every row runs on a fresh board, as the factory admin with Basic credentials
unless it says otherwise; an error row must leave the board's flash as it was.
"""

import json
import socket

import pytest
import requests

from conftest import basic

DIGEST_OF_KEVLA = "3E19B245F7F7053535AA24100E20217B"
NETWORK = {"dhcp": False, "address": "10.0.0.5", "netmask": "255.0.0.0", "gateway": "10.0.0.1"}
SERVICE = {"svcWord0": 7, "primaryEnabled": 1, "secondaryEnabled": 1, "primaryPort": 9101,
           "primaryValue": 300000, "svcWord5": -1, "svcWord6": 0, "svcWord7": 2147483647,
           "secondaryPort": 11110, "secondaryValue": 5, "svcWord10": -2147483648}
OCP = {"ocpEnabled": 1, "ocpWord1": 1, "ocpWord2": 2, "ocpWord3": 3, "ocpWord4": 4,
       "ocpPort": 24, "ocpValue": 9}


def flash(device):
    return {p.name: p.read_bytes() for p in (device.board / "flash").iterdir() if p.is_file()}


def full_user_table(device):
    lines = "".join(f"user{i}:{DIGEST_OF_KEVLA}\n" for i in range(255))
    (device.board / "flash" / "nolva_user").write_text(f"admin:{DIGEST_OF_KEVLA}\n" + lines)


# name, request (method, path, keyword arguments), status, what the body holds
SUCCESS = [
    ("health", ("GET", "/api/health", {"auth": None}), 200, {"status": "ok"}),
    ("mac", ("GET", "/api/device/mac", {}), 200, {"mac": "00:00:00:00:00:00"}),
    ("firmware versions of erased partitions", ("GET", "/api/device/firmware", {}), 200,
     {"os": "\u00ff" * 32, "fs": "\u00ff" * 32}),
    ("usb ports of an empty hub", ("GET", "/api/device/usb", {}), 200,
     {"ports": [{"port": n, "product": ""} for n in range(4)]}),
    ("reboot", ("POST", "/api/reboot", {}), 202, {"rebootInSeconds": 5}),
    ("factory reset", ("POST", "/api/factory-reset", {}), 202, {"rebootInSeconds": 5}),
    ("users", ("GET", "/api/users", {}), 200, {"users": ["admin"]}),
    ("add user", ("POST", "/api/users", {"json": {"name": "bob", "password": "pw"}}), 201,
     {"name": "bob"}),
    ("change own password as admin",
     ("PUT", "/api/users/admin/password", {"json": {"password": "new"}}), 204, None),
    ("network", ("GET", "/api/network", {}), 200,
     {"dhcp": True, "address": "192.168.0.223", "netmask": "255.255.255.0",
      "gateway": "192.168.0.1"}),
    ("put network", ("PUT", "/api/network", {"json": NETWORK}), 200, NETWORK),
    ("patch network", ("PATCH", "/api/network",
                       {"data": '{"dhcp": false}',
                        "headers": {"Content-Type": "application/merge-patch+json"}}), 200,
     {"dhcp": False, "address": "192.168.0.223"}),
    ("service", ("GET", "/api/service", {}), 200, {"primaryPort": 9100, "secondaryPort": 11110}),
    ("put service", ("PUT", "/api/service", {"json": SERVICE}), 200, SERVICE),
    ("disabled service port 0", ("PATCH", "/api/service",
                                 {"json": {"secondaryEnabled": 0, "secondaryPort": 0}}), 200,
     {"secondaryPort": 0}),
    ("ocp", ("GET", "/api/ocp", {}), 200, {"ocpEnabled": 1, "ocpPort": 23}),
    ("put ocp", ("PUT", "/api/ocp", {"json": OCP}), 200, OCP),
    ("percent-encoded account", ("DELETE", "/api/users/b%C3%A9a", {}), 204, None),
]


@pytest.mark.parametrize("name,request_,status,expected", SUCCESS, ids=[r[0] for r in SUCCESS])
def test_success(device, client, name, request_, status, expected):
    if name == "percent-encoded account":
        assert client.admin("POST", "/api/users", json={"name": "b\u00e9a", "password": "x"}).ok
    method, path, kwargs = request_
    kwargs = dict(kwargs)
    if kwargs.pop("auth", True) is None:
        answer = client.call(method, path, **kwargs)
    else:
        answer = client.admin(method, path, **kwargs)
    assert answer.status_code == status, answer.text
    for header, value in (("Cache-Control", "no-store"), ("X-Content-Type-Options", "nosniff"),
                          ("Referrer-Policy", "no-referrer")):
        assert answer.headers[header] == value
    assert "Strict-Transport-Security" not in answer.headers
    if expected is None:
        assert answer.content == b""
    else:
        body = answer.json()
        assert {k: body[k] for k in expected} == expected


def test_device_object_lists_a_failed_part_and_answers_200(device, client):
    device.fault("mtd-getinfo-fails")
    (device.board / "proc" / "bus" / "usb" / "devices").unlink()
    answer = client.admin("GET", "/api/device")
    assert answer.status_code == 200
    body = answer.json()
    assert body["mac"] == "00:00:00:00:00:00"
    assert body["usbPorts"] is None
    assert body["failures"] == [{"operation": "GetUsbPorts", "status": "STATUS_USB_PORTS_FAILED",
                                 "code": "0x8000030D"}]


def test_usb_products_in_port_order(device, client):
    listing = ("T:  Bus=01 Lev=02 Prnt=02 Port=02 Cnt=01 Dev#=  3 Spd=480  MxCh= 0\n"
               "S:  Product=Flash Disk\n")
    (device.board / "usb").write_text(listing)
    from nolva_device import board_tool
    board_tool("usb", device.board, device.board / "usb")
    ports = client.admin("GET", "/api/device/usb").json()["ports"]
    assert ports == [{"port": 0, "product": ""}, {"port": 1, "product": ""},
                     {"port": 2, "product": "Flash Disk"}, {"port": 3, "product": ""}]


def test_added_account_is_listed_with_its_location(device, client):
    answer = client.admin("POST", "/api/users", json={"name": "b\u00e9a", "password": "x"})
    assert answer.headers["Location"] == "/api/users/b%C3%A9a"
    assert client.admin("GET", "/api/users").json() == {"users": ["admin", "b\u00e9a"]}


# name, setup, request, status, error word, library status name
ERRORS = [
    ("unknown path", None, ("GET", "/api/nothing", {}), 404, "not-found", None),
    ("path outside the api", None, ("GET", "/../etc/passwd", {}), 404, "not-found", None),
    ("trailing slash", None, ("GET", "/api/network/", {}), 404, "not-found", None),
    ("other method", None, ("DELETE", "/api/network", {}), 405, "method-not-allowed", None),
    ("no credentials", None, ("GET", "/api/network", {"auth": None}), 401, "auth-failed", None),
    ("wrong password", None,
     ("GET", "/api/network", {"headers": {"Authorization": basic("admin", "nope")}}), 401,
     "auth-failed", "STATUS_AUTH_FAILED"),
    ("account other than admin", "bob",
     ("GET", "/api/network", {"headers": {"Authorization": basic("bob", "pw")}}), 401,
     "auth-failed", "STATUS_AUTH_FAILED"),
    ("unknown session", None,
     ("GET", "/api/network", {"headers": {"Authorization": "Bearer " + "0" * 32}}), 401,
     "auth-failed", None),
    ("basic not base64", None,
     ("GET", "/api/network", {"headers": {"Authorization": "Basic !!!!"}}), 400, "bad-request",
     None),
    ("basic above latin-1", None,
     ("GET", "/api/network", {"headers": {"Authorization": basic("admin", "\u0161")}}), 400,
     "bad-request", None),
    ("json body over 4096 bytes", None,
     ("PUT", "/api/network", {"data": "{" + " " * 5000 + "}",
                              "headers": {"Content-Type": "application/json"}}), 413,
     "too-large", None),
    ("chunked json body over 4096 bytes", None,
     ("PUT", "/api/network", {"data": iter([b"{", b" " * 5000, b"}"]),
                              "headers": {"Content-Type": "application/json"}}), 413,
     "too-large", None),
    ("body of another type", None,
     ("PUT", "/api/network", {"data": "dhcp=1", "headers": {"Content-Type": "text/plain"}}), 415,
     "unsupported-media-type", None),
    ("merge patch type on put", None,
     ("PUT", "/api/network", {"data": json.dumps(NETWORK),
                              "headers": {"Content-Type": "application/merge-patch+json"}}), 415,
     "unsupported-media-type", None),
    ("malformed json", None,
     ("PUT", "/api/network", {"data": '{"dhcp": tru', "headers": {"Content-Type":
                                                                  "application/json"}}), 400,
     "bad-request", None),
    ("json not an object", None, ("PUT", "/api/network", {"json": [1]}), 400, "bad-request",
     None),
    ("unknown member", None, ("PATCH", "/api/network", {"json": {"mtu": 1500}}), 400,
     "bad-request", None),
    ("missing member on put", None,
     ("PUT", "/api/network", {"json": {k: v for k, v in NETWORK.items() if k != "gateway"}}),
     400, "bad-request", None),
    ("dhcp as a number", None, ("PATCH", "/api/network", {"json": {"dhcp": 1}}), 400,
     "bad-request", None),
    ("address not a dotted quad", None,
     ("PATCH", "/api/network", {"json": {"address": "10.0.0.256"}}), 400, "bad-request", None),
    ("netmask with a hole", None,
     ("PATCH", "/api/network", {"json": {"netmask": "255.0.255.0"}}), 400, "bad-request", None),
    ("null in a merge patch", None, ("PATCH", "/api/network", {"json": {"gateway": None}}), 400,
     "bad-request", None),
    ("enabled port 0", None, ("PATCH", "/api/service", {"json": {"primaryPort": 0}}), 400,
     "bad-request", None),
    ("port above 65535", None, ("PATCH", "/api/ocp", {"json": {"ocpPort": 65536}}), 400,
     "bad-request", None),
    ("word above 32 bits", None, ("PATCH", "/api/ocp", {"json": {"ocpWord1": 2 ** 31}}), 400,
     "bad-request", None),
    ("word as a fraction", None, ("PATCH", "/api/ocp", {"json": {"ocpWord1": 1.5}}), 400,
     "bad-request", None),
    ("port clash", None, ("PATCH", "/api/ocp", {"json": {"ocpPort": 9100}}), 409,
     "port-conflict", "STATUS_REFUSED"),
    ("name over 16 characters", None,
     ("POST", "/api/users", {"json": {"name": "a" * 17, "password": "x"}}), 400, "bad-request",
     None),
    ("name above latin-1", None,
     ("POST", "/api/users", {"json": {"name": "\u0161ef", "password": "x"}}), 400,
     "bad-request", None),
    ("name with a colon", None,
     ("POST", "/api/users", {"json": {"name": "a:b", "password": "x"}}), 400, "bad-request",
     None),
    ("name with a control character", None,
     ("POST", "/api/users", {"json": {"name": "a\tb", "password": "x"}}), 400, "bad-request",
     None),
    ("empty new password", None,
     ("POST", "/api/users", {"json": {"name": "bob", "password": ""}}), 400, "bad-request", None),
    ("password over 32 characters", None,
     ("POST", "/api/users", {"json": {"name": "bob", "password": "p" * 33}}), 400,
     "bad-request", None),
    ("user exists", "bob", ("POST", "/api/users", {"json": {"name": "bob", "password": "x"}}),
     409, "user-exists", None),
    ("user table full", "full",
     ("POST", "/api/users", {"json": {"name": "bob", "password": "x"}}), 409, "user-table-full",
     None),
    ("delete admin without force", None, ("DELETE", "/api/users/admin", {}), 409,
     "admin-needs-force", None),
    ("delete unknown account", None, ("DELETE", "/api/users/nobody", {}), 404, "no-such-user",
     None),
    ("empty name in the path", None, ("DELETE", "/api/users/", {}), 400, "bad-request", None),
    ("name not utf-8 in the path", None, ("DELETE", "/api/users/a%C3", {}), 400, "bad-request",
     None),
    ("overlong name in the path", None, ("DELETE", "/api/users/" + "a" * 17, {}), 400,
     "bad-request", None),
    ("password of unknown account", None,
     ("PUT", "/api/users/nobody/password", {"json": {"password": "x"}}), 404, "no-such-user",
     None),
    ("body on a request that takes none", None, ("POST", "/api/reboot", {"json": {"now": 1}}),
     400, "bad-request", None),
    ("flash fault", "flash-readonly", ("PUT", "/api/network", {"json": NETWORK}), 500,
     "operation-failed", "STATUS_SET_NETWORK_FAILED"),
]


@pytest.mark.parametrize("name,setup,request_,status,word,library", ERRORS,
                         ids=[r[0] for r in ERRORS])
def test_error(device, client, name, setup, request_, status, word, library):
    for record in ("network", "service", "ocp"):  # every file exists before
        assert client.admin("GET", "/api/" + record).ok
    if setup == "bob":
        assert client.admin("POST", "/api/users", json={"name": "bob", "password": "pw"}).ok
    elif setup == "full":
        full_user_table(device)
    elif setup:
        device.fault(setup)
    before = flash(device)
    method, path, kwargs = request_
    kwargs = dict(kwargs)
    if kwargs.pop("auth", True) is None or "Authorization" in kwargs.get("headers", {}):
        answer = client.call(method, path, **kwargs)
    else:
        answer = client.admin(method, path, **kwargs)
    assert answer.status_code == status, answer.text
    body = answer.json()
    assert body["error"] == word
    assert body["message"]
    if library:
        assert body["status"] == library
        assert len(body["code"]) == 10 and body["code"].startswith("0x")
    else:
        assert "status" not in body and "code" not in body
    if status == 401:
        assert answer.headers["WWW-Authenticate"] == 'Bearer realm="nolva"'
    if status == 405:
        assert answer.headers["Allow"] == "GET, HEAD, PUT, PATCH"
    assert flash(device) == before


def test_port_clash_names_the_services(device, client):
    answer = client.admin("PATCH", "/api/ocp", json={"ocpPort": 9100})
    assert answer.json()["message"].startswith(
        "the primary service and OCP would both use port 9100")
    assert answer.json()["code"] == "0xFFFFFFFF"


def test_admin_deleted_only_with_force(device, client):
    assert client.admin("DELETE", "/api/users/admin?force=true").status_code == 204
    assert client.admin("GET", "/api/users").status_code == 401


def test_path_that_is_not_utf8_is_not_found_and_the_service_goes_on(device, client):
    host, port = device.url.split("//")[1].rsplit(":", 1)
    with socket.create_connection((host, int(port)), timeout=60) as raw:
        raw.sendall(b"GET /api/n\xf4work HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        answer = b""
        while chunk := raw.recv(4096):
            answer += chunk
    assert answer.startswith(b"HTTP/1.1 404 ")
    assert json.loads(answer.split(b"\r\n\r\n", 1)[1])["error"] == "not-found"
    assert client.call("GET", "/api/health").status_code == 200


@pytest.mark.parametrize("name,path,headers,status", [
    ("request line over the engine's limit", "/api/" + "a" * 40000, {}, 414),
    ("headers over the engine's limit", "/api/health", {"X-Big": "a" * 40000}, 431),
], ids=["request line", "headers"])
def test_engine_refuses_what_exceeds_its_limits(device, client, name, path, headers, status):
    answer = requests.get(device.url + path, headers=headers, timeout=60)
    assert answer.status_code == status
    assert client.call("GET", "/api/health").status_code == 200
