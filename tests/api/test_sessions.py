"""A session's life: sign in, use, idle expiry, sign out, and its end when its
credentials stop holding; the cookie's CSRF token and the origin check."""

import time

import pytest
import requests

from conftest import Client, basic, confirm
from nolva_device import Device


def bearer(token):
    return {"Authorization": "Bearer " + token}


def test_sign_in_gives_tokens_and_a_strict_cookie(device, client):
    answer = client.call("POST", "/api/session", json={"user": "admin", "password": "kevla"})
    assert answer.status_code == 201
    body = answer.json()
    assert set(body) == {"token", "csrfToken", "user", "idleSeconds"}
    assert body["user"] == "admin" and body["idleSeconds"] == 900
    for token in (body["token"], body["csrfToken"]):
        assert len(token) == 32 and all(c in "0123456789abcdef" for c in token)
    assert answer.headers["Set-Cookie"] == (
        f"nolva_session={body['token']}; Path=/; HttpOnly; SameSite=Strict")


@pytest.mark.parametrize("body,status", [
    ({"user": "admin", "password": "wrong"}, 401),
    ({"user": "bob", "password": "kevla"}, 401),
    ({"user": "admin"}, 400),
    ({"user": "admin", "password": "kevla", "remember": True}, 400),
    ({"user": "admin", "password": 5}, 400),
], ids=["wrong password", "unknown account", "missing password", "unknown member",
        "password not a string"])
def test_refused_sign_in(device, client, body, status):
    assert client.call("POST", "/api/session", json=body).status_code == status


def test_session_is_used_by_bearer_and_ended_by_sign_out(device, client):
    token = client.sign_in()["token"]
    assert client.call("GET", "/api/session", headers=bearer(token)).json() == {
        "user": "admin", "idleSeconds": 900}
    assert client.call("GET", "/api/network", headers=bearer(token)).status_code == 200
    assert client.call("DELETE", "/api/session", headers=bearer(token)).status_code == 204
    assert client.call("GET", "/api/network", headers=bearer(token)).status_code == 401


def test_session_questions_need_a_session(device, client):
    assert client.admin("GET", "/api/session").status_code == 401
    assert client.admin("DELETE", "/api/session").status_code == 401


def test_sign_out_everywhere_ends_every_session(device, client):
    first = client.sign_in()["token"]
    second = client.sign_in()["token"]
    assert client.call("DELETE", "/api/sessions", headers=bearer(first)).status_code == 204
    for token in (first, second):
        assert client.call("GET", "/api/session", headers=bearer(token)).status_code == 401


def test_seventeenth_session_pushes_out_the_least_recently_used(device, client):
    tokens = [client.sign_in()["token"] for _ in range(16)]
    client.call("GET", "/api/session", headers=bearer(tokens[0]))  # now the second is oldest
    client.sign_in()
    assert client.call("GET", "/api/session", headers=bearer(tokens[0])).status_code == 200
    assert client.call("GET", "/api/session", headers=bearer(tokens[1])).status_code == 401


def test_idle_session_expires(tmp_path):
    device = Device(tmp_path, nolvad_args=["--session-idle", "1"])
    try:
        client = Client(device.url)
        token = client.sign_in()["token"]
        time.sleep(1.5)
        assert client.call("GET", "/api/session", headers=bearer(token)).status_code == 401
    finally:
        assert device.stop() == 0


@pytest.mark.parametrize("change", ["password changed elsewhere", "factory reset"])
def test_session_ends_when_its_credentials_stop_holding(device, client, change):
    token = client.sign_in()["token"]
    if change == "factory reset":
        answer = client.call("POST", "/api/factory-reset",
                             headers={**bearer(token), "X-Confirm-Password": "kevla"})
        assert answer.status_code == 202
    else:
        assert client.admin("PUT", "/api/users/admin/password",
                            json={"password": "other"}).status_code == 204
    answer = client.call("GET", "/api/network", headers=bearer(token))
    assert answer.status_code == 401
    assert client.call("GET", "/api/session", headers=bearer(token)).status_code == 401


def test_own_password_change_keeps_the_session(device, client):
    token = client.sign_in()["token"]
    answer = client.call("PUT", "/api/users/admin/password", json={"password": "n\u00e9w"},
                         headers={**bearer(token), "X-Confirm-Password": "kevla"})
    assert answer.status_code == 204
    assert client.call("GET", "/api/network", headers=bearer(token)).status_code == 200
    assert client.call("GET", "/api/network",
                       headers={"Authorization": basic("admin", "n\u00e9w")}).status_code == 200


@pytest.mark.parametrize("method,path,kwargs", [
    ("PUT", "/api/firmware", {"data": b"x" * 64,
                              "headers": {"Content-Type": "application/octet-stream"}}),
    ("POST", "/api/factory-reset", {}),
    ("PUT", "/api/users/admin/password", {"json": {"password": "x"}}),
], ids=["firmware", "factory reset", "password"])
@pytest.mark.parametrize("given", [None, "wrong", "%zz"], ids=["none", "wrong", "undecodable"])
def test_sensitive_change_on_a_session_needs_the_password_again(device, client, method, path,
                                                                kwargs, given):
    token = client.sign_in()["token"]
    headers = {**kwargs.pop("headers", {}), **bearer(token)}
    if given:
        headers["X-Confirm-Password"] = given
    answer = client.call(method, path, headers=headers, **kwargs)
    assert answer.status_code == 401
    assert answer.json()["error"] == "confirm-password"
    assert client.call("GET", "/api/session", headers=bearer(token)).status_code == 200


def test_confirm_password_is_percent_encoded_utf8(device, client):
    assert client.admin("PUT", "/api/users/admin/password", json={"password": "p\u00e4ss:"}).ok
    token = client.sign_in(password="p\u00e4ss:")["token"]
    answer = client.call("POST", "/api/factory-reset",
                         headers={**bearer(token), "X-Confirm-Password": confirm("p\u00e4ss:")})
    assert answer.status_code == 202


def cookie_client(device):
    client = Client(device.url, requests.Session())
    csrf = client.sign_in()["csrfToken"]
    return client, csrf


@pytest.mark.parametrize("token", [None, "0" * 32], ids=["missing", "another"])
def test_cookie_change_without_the_csrf_token_is_refused(device, token):
    client, _ = cookie_client(device)
    headers = {"X-CSRF-Token": token} if token else {}
    answer = client.call("PATCH", "/api/network", json={"dhcp": False}, headers=headers)
    assert answer.status_code == 403 and answer.json()["error"] == "csrf"
    assert client.call("GET", "/api/network").json()["dhcp"] is True


def test_cookie_change_with_the_csrf_token_is_made(device):
    client, csrf = cookie_client(device)
    answer = client.call("PATCH", "/api/network", json={"dhcp": False},
                         headers={"X-CSRF-Token": csrf})
    assert answer.status_code == 200
    answer = client.call("DELETE", "/api/session", headers={"X-CSRF-Token": csrf})
    assert answer.status_code == 204
    assert "Max-Age=0" in answer.headers["Set-Cookie"]
    assert client.call("GET", "/api/network").status_code == 401


@pytest.mark.parametrize("origin,status", [
    ("http://evil.example", 403),
    ("null", 403),
    ("https://127.0.0.1:{port}", 403),
    ("http://127.0.0.1:{port}", 200),
], ids=["other site", "null", "other scheme", "own origin"])
def test_origin_must_be_the_services_own(device, client, origin, status):
    port = device.url.rsplit(":", 1)[1]
    answer = client.admin("GET", "/api/network", headers={"Origin": origin.format(port=port)})
    assert answer.status_code == status
    if status == 403:
        assert answer.json()["error"] == "origin"
