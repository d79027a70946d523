"""Fixtures of the API tests: each test gets a fresh board with nolvad."""

import base64
import re
import urllib.parse

import pytest
import requests

from nolva_device import FACTORY_PASSWORD, FACTORY_USER, Device
from openapi_document import load_document, validate_answer

DOCUMENT = load_document()
# The document's paths as patterns: "{name}" stands for one segment.
TEMPLATES = [(re.compile("^" + re.sub(r"\\\{[^/]*\\\}", "[^/]*", re.escape(path)) + "$"), path)
             for path in DOCUMENT["paths"]]


def template_of(url):
    path = urllib.parse.urlsplit(url).path
    return next((template for pattern, template in TEMPLATES if pattern.match(path)), path)

TIMEOUT = 60  # seconds for any one request (qemu-arm is slow)


class Client:
    """requests against one nolvad, with the timeout always set."""

    def __init__(self, url, session=None):
        self.url = url
        self.http = session or requests.Session()

    def call(self, method, path, **kwargs):
        """The answer, after holding it against the service's OpenAPI document."""
        kwargs.setdefault("timeout", TIMEOUT)
        answer = self.http.request(method, self.url + path, **kwargs)
        body = answer.json() if answer.content and answer.headers.get(
            "Content-Type", "").startswith("application/json") else None
        if answer.content and body is None:
            body = answer.content
        validate_answer(DOCUMENT, method, template_of(answer.url), answer.status_code, body,
                        answer.headers, tls=self.url.startswith("https:"))
        return answer

    def admin(self, method, path, **kwargs):
        """As the factory admin, with Basic credentials."""
        return self.call(method, path, auth=(FACTORY_USER, FACTORY_PASSWORD), **kwargs)

    def sign_in(self, user=FACTORY_USER, password=FACTORY_PASSWORD):
        answer = self.call("POST", "/api/session", json={"user": user, "password": password})
        assert answer.status_code == 201, answer.text
        return answer.json()


def basic(user, password):
    raw = (user + ":" + password).encode("utf-8")
    return "Basic " + base64.b64encode(raw).decode("ascii")


def confirm(password):
    return urllib.parse.quote(password.encode("utf-8"), safe="")


@pytest.fixture
def device(tmp_path):
    board = Device(tmp_path)
    yield board
    assert board.stop() == 0


@pytest.fixture
def client(device):
    return Client(device.url)
