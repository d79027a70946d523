"""The console's browser tests: each runs headless Chromium against nolvad on
a fresh simulated board (tests/pylib/nolva_device.py, with the paths CTest
sets in the environment)."""

import base64
import contextlib
import json
import os
import pathlib
import urllib.error
import urllib.request

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from nolva_device import FACTORY_PASSWORD, FACTORY_USER, Device

# Where screenshots go, for a person to look at the pages; unset: none.
SCREENSHOTS = os.environ.get("NOLVA_CONSOLE_SCREENSHOTS")
WAIT_SECONDS = 20
FACTORY = (FACTORY_USER, FACTORY_PASSWORD)


class Api:
    """Requests to the device outside the browser, with Basic credentials:
    the changes "made elsewhere" and the checks of what the device stored."""

    def __init__(self, url):
        self.url = url

    def call(self, method, path, body=None, credentials=FACTORY, headers=None):
        request = urllib.request.Request(self.url + path, method=method)
        if credentials:
            token = base64.b64encode(":".join(credentials).encode()).decode()
            request.add_header("Authorization", "Basic " + token)
        for name, value in (headers or {}).items():
            request.add_header(name, value)
        data = None
        if body is not None:
            data = json.dumps(body).encode()
            request.add_header("Content-Type", "application/json")
        try:
            with urllib.request.urlopen(request, data, timeout=30) as answer:
                text = answer.read()
                return answer.status, json.loads(text) if text else None
        except urllib.error.HTTPError as error:
            text = error.read()
            return error.code, json.loads(text) if text else None


class Console:
    """The console in one browser: pages by route, fields by id."""

    def __init__(self, driver, url):
        self.driver = driver
        self.url = url

    def open(self, route=""):
        self.driver.get(f"{self.url}/#/{route}" if route else self.url + "/")
        self.wait(lambda d: d.execute_script("return document.readyState") == "complete")

    def wait(self, condition, seconds=WAIT_SECONDS, message=""):
        return WebDriverWait(self.driver, seconds, poll_frequency=0.1).until(condition, message)

    def element(self, id_):
        return self.driver.find_element(By.ID, id_)

    def text(self, id_):
        return self.element(id_).text

    def type(self, id_, text):
        element = self.element(id_)
        element.clear()
        element.send_keys(text)

    def press(self, id_):
        self.wait(lambda d: self.element(id_).is_enabled(), message=f"#{id_} stays disabled")
        self.element(id_).click()

    def wait_text(self, id_, fragment, seconds=WAIT_SECONDS):
        """Waits until #id_ is shown and holds `fragment`; returns its text."""
        self.wait(
            lambda d: self.element(id_).is_displayed() and fragment in self.element(id_).text,
            seconds,
            f"#{id_} never showed {fragment!r}; it shows {self.element(id_).text!r}",
        )
        return self.element(id_).text

    def wait_page(self, name, seconds=WAIT_SECONDS):
        self.wait(lambda d: self.element(f"page-{name}").is_displayed(), seconds, f"page {name} never shown")

    def field_error(self, id_):
        error = self.element(f"{id_}-error")
        return error.text if error.is_displayed() else ""

    def sign_in(self, user="admin", password="kevla"):
        self.open("sign-in")
        self.wait_page("sign-in")
        self.type("sign-in-user", user)
        self.type("sign-in-password", password)
        self.press("sign-in-submit")

    def signed_in(self, user="admin", password="kevla"):
        self.sign_in(user, password)
        self.wait(lambda d: self.element("nav").is_displayed(), message="never signed in")

    def screenshot(self, name):
        """The whole page as a PNG under NOLVA_CONSOLE_SCREENSHOTS, if set."""
        if not SCREENSHOTS:
            return
        pathlib.Path(SCREENSHOTS).mkdir(parents=True, exist_ok=True)
        width, height = self.driver.execute_script(
            "return [window.innerWidth, window.innerHeight, document.documentElement.scrollHeight]")[::2]
        viewport = self.driver.execute_script("return window.innerHeight")
        emulate(self.driver, width, max(height, viewport))
        self.driver.save_screenshot(str(pathlib.Path(SCREENSHOTS) / f"{name}.png"))
        emulate(self.driver, width, viewport)


@pytest.fixture
def device(tmp_path, request):
    marker = request.node.get_closest_marker("nolvad_args")
    args = marker.args if marker else ()
    started = Device(tmp_path / "device", nolvad_args=args)
    yield started
    status = started.stop()
    print("nolvad's output:", *started.lines, sep="\n")  # shown when the test fails
    assert status == 0


@pytest.fixture
def api(device):
    return Api(device.url)


def emulate(driver, width, height):
    """A viewport of exactly this size: a headless window is never narrower
    than 500 px."""
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 500})


def chromium(tmp_path, width=1280, height=900):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", f"--user-data-dir={tmp_path}", f"--window-size={width},{height}"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(WAIT_SECONDS)
    driver.set_script_timeout(WAIT_SECONDS)
    emulate(driver, width, height)
    return driver


# Failed requests are part of what the tests provoke; anything else the
# browser reports as an error (a script error, a refused inline script or
# style, a fetch from elsewhere) fails the test.
EXPECTED_LOG = ("Failed to load resource: the server responded with a status of",)


@contextlib.contextmanager
def browser(tmp_path, url, width=1280, height=900):
    """A console in a Chromium of its own; fails on any error it reports."""
    driver = chromium(tmp_path, width, height)
    try:
        yield Console(driver, url)
        errors = [entry["message"] for entry in driver.get_log("browser")
                  if entry["level"] == "SEVERE" and not any(e in entry["message"] for e in EXPECTED_LOG)]
        assert not errors, "the browser reported errors:\n" + "\n".join(errors)
    finally:
        driver.quit()


@pytest.fixture
def console(device, tmp_path):
    with browser(tmp_path / "chromium", device.url) as opened:
        yield opened


def pytest_configure(config):
    config.addinivalue_line("markers", "nolvad_args(*args): start nolvad with these arguments")
