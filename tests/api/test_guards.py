"""Throttling, an account's own Basic credentials, ETag and If-Match, and what
the access log holds."""

import threading
import time

import pytest

from conftest import basic, confirm


def fail_sign_ins(client, count):
    for _ in range(count):
        answer = client.call("POST", "/api/session", json={"user": "admin", "password": "no"})
        assert answer.status_code == 401


def test_five_failures_are_free_then_the_client_waits(device, client):
    fail_sign_ins(client, 5)
    fail_sign_ins(client, 1)  # the sixth is still checked, and makes the client wait
    answer = client.call("POST", "/api/session", json={"user": "admin", "password": "kevla"})
    assert answer.status_code == 429
    assert answer.json()["error"] == "throttled"
    assert answer.headers["Retry-After"] == "1" and answer.json()["retryAfter"] == 1


INSIDE_THE_WAIT = [
    ("basic request", "GET", "/api/network", {"headers": {"Authorization": basic("admin", "kevla")}},
     429),
    ("session read goes on", "GET", "/api/network", {"session": True}, 200),
    ("sensitive change on a session", "POST", "/api/factory-reset",
     {"session": True, "headers": {"X-Confirm-Password": "kevla"}}, 429),
    ("health", "GET", "/api/health", {}, 200),
]


@pytest.mark.parametrize("what,method,path,kwargs,status", INSIDE_THE_WAIT,
                         ids=[row[0] for row in INSIDE_THE_WAIT])
def test_inside_the_wait(device, client, what, method, path, kwargs, status):
    token = client.sign_in()["token"]
    fail_sign_ins(client, 6)
    kwargs = dict(kwargs)
    headers = dict(kwargs.pop("headers", {}))
    if kwargs.pop("session", False):
        headers["Authorization"] = "Bearer " + token
    assert client.call(method, path, headers=headers).status_code == status


def test_success_clears_the_count(device, client):
    fail_sign_ins(client, 5)
    assert client.admin("GET", "/api/network").status_code == 200
    fail_sign_ins(client, 5)
    assert client.admin("GET", "/api/network").status_code == 200


def test_wrong_confirm_password_counts(device, client):
    token = client.sign_in()["token"]
    for _ in range(6):
        answer = client.call("POST", "/api/factory-reset",
                             headers={"Authorization": "Bearer " + token,
                                      "X-Confirm-Password": "no"})
        assert answer.status_code == 401
    assert client.admin("GET", "/api/network").status_code == 429


def test_account_changes_its_own_password_with_its_own_basic_credentials(device, client):
    assert client.admin("POST", "/api/users", json={"name": "bob", "password": "old"}).ok
    own = {"Authorization": basic("bob", "old")}
    answer = client.call("PUT", "/api/users/bob/password", json={"password": "new"}, headers=own)
    assert answer.status_code == 204
    answer = client.call("PUT", "/api/users/bob/password", json={"password": "x"}, headers=own)
    assert answer.status_code == 401 and answer.json()["status"] == "STATUS_AUTH_FAILED"
    other = client.call("PUT", "/api/users/admin/password", json={"password": "x"},
                        headers={"Authorization": basic("bob", "new")})
    assert other.status_code == 401
    assert client.admin("GET", "/api/network").status_code == 200


def test_etag_changes_with_the_record(device, client):
    first = client.admin("GET", "/api/ocp")
    assert first.headers["ETag"] == client.admin("GET", "/api/ocp").headers["ETag"]
    written = client.admin("PATCH", "/api/ocp", json={"ocpValue": 1})
    assert written.headers["ETag"] != first.headers["ETag"]
    assert written.headers["ETag"] == client.admin("GET", "/api/ocp").headers["ETag"]


@pytest.mark.parametrize("method", ["PUT", "PATCH"])
def test_if_match_names_the_stored_version(device, client, method):
    stored = client.admin("GET", "/api/service")
    tag = stored.headers["ETag"]
    body = dict(stored.json(), primaryValue=1)
    assert client.admin("PATCH", "/api/service", json={"svcWord6": 6}).ok  # changed meanwhile
    answer = client.admin(method, "/api/service", json=body, headers={"If-Match": tag})
    assert answer.status_code == 412 and answer.json()["error"] == "precondition-failed"
    assert client.admin("GET", "/api/service").json()["primaryValue"] == 300000
    fresh = client.admin("GET", "/api/service").headers["ETag"]
    answer = client.admin(method, "/api/service", json=dict(body, svcWord6=6),
                          headers={"If-Match": '"other", ' + fresh})
    assert answer.status_code == 200 and answer.json()["primaryValue"] == 1


def test_patch_keeps_a_stored_dhcp_word_it_does_not_name(device, client):
    raw = (2).to_bytes(4, "little") + bytes([10, 0, 0, 5, 255, 0, 0, 0, 10, 0, 0, 1])
    (device.board / "flash" / "nolva_system").write_bytes(raw)
    assert client.admin("PATCH", "/api/network", json={"gateway": "10.0.0.9"}).ok
    assert device.board_file("/flash/nolva_system")[:4] == (2).to_bytes(4, "little")
    assert client.admin("PATCH", "/api/network", json={"dhcp": True}).ok
    assert device.board_file("/flash/nolva_system")[:4] == (1).to_bytes(4, "little")


def test_concurrent_writes_never_store_a_clash(device, client):
    """Each write's check and store are one step: of a service record and an OCP
    record that clash with each other, at most one is stored."""
    results = []

    def write(path, body):
        results.append(client.admin("PATCH", path, json=body).status_code)

    for round_ in range(10):
        port = 20000 + round_
        writers = [threading.Thread(target=write, args=("/api/service", {"primaryPort": port})),
                   threading.Thread(target=write, args=("/api/ocp", {"ocpPort": port}))]
        for writer in writers:
            writer.start()
        for writer in writers:
            writer.join(timeout=60)
        service = client.admin("GET", "/api/service").json()
        ocp = client.admin("GET", "/api/ocp").json()
        assert service["primaryPort"] != ocp["ocpPort"]
    assert set(results) <= {200, 409}


def test_access_log_holds_no_secret(device, client):
    session = client.sign_in(password="kevla")
    client.call("GET", "/api/network?x=" + session["token"],
                headers={"Authorization": "Bearer " + session["token"]})
    client.admin("POST", "/api/users", json={"name": "bob", "password": "s3cret-pw"})
    client.call("POST", "/api/factory-reset",
                headers={"Authorization": "Bearer " + session["token"],
                         "X-Confirm-Password": confirm("kevla")})
    assert device.stop() == 0
    log = "\n".join(device.lines)
    for secret in ("kevla", "s3cret-pw", session["token"], session["csrfToken"],
                   "YWRtaW46a2V2bGE="):
        assert secret not in log
    requests_logged = [line for line in device.lines if " /api/" in line]
    assert requests_logged[0].split()[1:] [:4] == ["127.0.0.1", "POST", "/api/session", "201"]
    assert any(line.split()[2:5] == ["GET", "/api/network", "200"] for line in requests_logged)


def test_access_log_line_is_written_while_the_service_runs(device, client):
    client.call("GET", "/api/health")
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if any(line.split()[2:5] == ["GET", "/api/health", "200"] for line in device.lines):
            return
        time.sleep(0.05)
    raise AssertionError("no access-log line within 10 s: " + "\n".join(device.lines))
