"""The web console in headless Chromium, each test on a fresh board."""

import time
import urllib.request

import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys

from conftest import browser
from nolva_device import board_tool


def firmware_image(name, size):
    """An image whose name field (bytes 32-63) is `name`."""
    field = name.encode("latin-1").ljust(32, b"\0")
    rest = bytes(range(7, 256)) * (max(0, size - 64) // 249 + 1)
    return (bytes(range(32)) + field + rest)[:size]


def test_sign_in_wrong_then_right(console):
    console.sign_in("admin", "wrong")
    assert "wrong" in console.wait_text("sign-in-error", "Check both")
    assert console.element("page-sign-in").is_displayed()

    console.type("sign-in-password", "kevla")
    console.press("sign-in-submit")
    console.wait_page("overview")
    assert console.wait_text("account-user", "admin") == "Signed in as admin"
    console.wait(lambda d: ":" in console.text("overview-mac"))
    ports = console.text("overview-usb").splitlines()
    assert ports and all(p.startswith("Port ") for p in ports), ports
    console.screenshot("overview")


def test_overview_says_in_place_which_part_failed(console, device):
    (device.board / "proc" / "bus" / "usb" / "devices").unlink()
    console.signed_in()
    console.wait(lambda d: ":" in console.text("overview-mac"))
    failed = console.element("overview-usb").find_element(By.CSS_SELECTOR, "li.failed").text
    assert "could not be read (STATUS_USB_PORTS_FAILED, 0x8000030D)" in failed, failed
    assert "Reload the page" in failed
    assert console.text("overview-os") and "could not" not in console.text("overview-os")
    console.screenshot("overview-usb-failed")


def test_sign_in_throttled_counts_down_then_lets_in(console):
    console.open("sign-in")
    console.driver.execute_script("""
        window.said = [];
        const error = document.getElementById('sign-in-error');
        new MutationObserver(() => window.said.push(error.textContent))
            .observe(error, {childList: true, characterData: true, subtree: true});""")
    said = lambda: console.driver.execute_script("return window.said")  # noqa: E731
    # Wrong passwords until the service has made the page wait 2 s.
    for _ in range(20):
        console.type("sign-in-password", "wrong")
        console.press("sign-in-submit")  # waits while the button is held
        console.wait(lambda d: console.element("sign-in-submit").is_enabled()
                     or "Wait" in console.text("sign-in-error"))
        if "Wait" in console.text("sign-in-error"):
            assert not console.element("sign-in-submit").is_enabled()
            console.screenshot("sign-in-throttled")
        if any(text.startswith("Too many failed attempts") and "Wait 2 s" in text for text in said()):
            break
    console.wait_text("sign-in-error", "You may sign in again now", seconds=70)
    texts = said()
    first = next(i for i, text in enumerate(texts) if "Wait 2 s" in text)
    rest = [text for text in texts[first:] if text]
    assert [t for t in rest if "Wait" in t or "You may" in t][:3] == [
        "Too many failed attempts from this computer. Wait 2 s, then sign in again.",
        "Too many failed attempts from this computer. Wait 1 s, then sign in again.",
        "You may sign in again now."], texts

    console.type("sign-in-password", "kevla")
    console.press("sign-in-submit")
    console.wait_page("overview")


@pytest.mark.nolvad_args("--session-idle", "2")
def test_expired_session_returns_to_sign_in_then_back(console):
    console.signed_in()
    console.open("network")
    console.wait(lambda d: console.element("network-address").get_attribute("value"))
    time.sleep(3)
    console.element("nav").find_element(By.LINK_TEXT, "Services").click()
    console.wait_page("sign-in")
    assert "session has ended" in console.text("notice")
    console.type("sign-in-password", "kevla")
    console.press("sign-in-submit")
    console.wait_page("services")
    console.wait(lambda d: console.element("primary-port").get_attribute("value") == "9100")


def test_network_settings_are_checked_saved_and_shown_after_a_reload(console, api):
    console.signed_in()
    console.open("network")
    console.wait(lambda d: console.element("network-address").get_attribute("value"))
    console.element("network-static").click()
    for field, value, complaint in [
        ("network-address", "10.0.0.256", "four numbers from 0 to 255"),
        ("network-netmask", "255.0.255.0", "ones first"),
        ("network-gateway", "10.0.0", "four numbers from 0 to 255"),
    ]:
        console.type(field, value)
        console.press("network-save")
        assert complaint in console.field_error(field), field
        console.type(field, {"network-address": "10.0.0.5", "network-netmask": "255.255.0.0",
                             "network-gateway": "10.0.0.1"}[field])
    console.press("network-save")
    assert "next start" in console.wait_text("network-done", "Saved")

    console.driver.refresh()
    console.wait(lambda d: console.element("network-address").get_attribute("value") == "10.0.0.5")
    assert console.element("network-static").is_selected()
    assert console.element("network-netmask").get_attribute("value") == "255.255.0.0"
    assert console.element("network-gateway").get_attribute("value") == "10.0.0.1"
    assert api.call("GET", "/api/network") == (200, {"dhcp": False, "address": "10.0.0.5",
                                                     "netmask": "255.255.0.0", "gateway": "10.0.0.1"})
    console.screenshot("network")


def open_services(console):
    console.open("services")
    console.wait(lambda d: console.element("primary-port").get_attribute("value"))


def test_services_keep_the_other_words_and_show_a_port_clash_at_its_fields(console, api):
    status, record = api.call("PATCH", "/api/service", {"svcWord6": 12345, "primaryValue": -7})
    assert status == 200, record
    console.signed_in()
    open_services(console)

    # A clash within the form: the service refuses it, the page points at both ports.
    console.type("secondary-port", "9100")
    console.press("services-save")
    assert "(STATUS_REFUSED, 0xFFFFFFFF)" in console.wait_text("services-error", "would both use port 9100")
    for field in ("primary-port", "secondary-port"):
        assert "Port 9100 is also used" in console.field_error(field), field
    assert console.field_error("ocp-port") == ""
    console.screenshot("services-clash")

    # Switched off, the secondary service may keep that port; the untouched words stay.
    console.element("secondary-enabled").click()
    console.press("services-save")
    console.wait_text("services-done", "Saved")
    status, stored = api.call("GET", "/api/service")
    assert (stored["secondaryEnabled"], stored["secondaryPort"]) == (0, 9100)
    assert (stored["svcWord6"], stored["primaryValue"], stored["svcWord10"]) == (12345, -7, 1)

    # A clash with a record changed elsewhere: its stored port is shown, marked.
    assert api.call("PATCH", "/api/ocp", {"ocpPort": 9200})[0] == 200
    console.type("primary-port", "9200")
    console.press("services-save")
    console.wait_text("services-error", "would both use port 9200")
    assert console.element("ocp-port").get_attribute("value") == "9200"
    for field in ("primary-port", "ocp-port"):
        assert "Port 9200 is also used" in console.field_error(field), field

    # A record changed elsewhere meanwhile: said so, stored values shown.
    assert api.call("PATCH", "/api/service", {"primaryPort": 9300})[0] == 200
    console.type("primary-port", "9400")
    console.press("services-save")
    console.wait_text("services-error", "changed elsewhere")
    assert console.element("primary-port").get_attribute("value") == "9300"
    assert api.call("GET", "/api/service")[1]["primaryPort"] == 9300


def test_an_account_is_added_then_changes_its_own_password(console, api):
    console.signed_in()
    console.open("accounts")
    console.wait(lambda d: "admin" in console.text("accounts-list"))
    for name, password, repeat, field, complaint in [
        ("", "pw", "pw", "add-name", "Type the account name"),
        ("a:b", "pw", "pw", "add-name", "colon"),
        ("x" * 17, "pw", "pw", "add-name", "at most 16"),
        ("bob", "one", "two", "add-repeat", "differ"),
        ("bob", "", "", "add-password", "Type a password"),
        ("admin", "pw", "pw", "add-name", "exists already"),
    ]:
        console.type("add-name", name)
        console.type("add-password", password)
        console.type("add-repeat", repeat)
        console.press("add-submit")
        console.wait(lambda d: complaint in console.field_error(field), message=f"{field}: {complaint}")
    console.type("add-name", "bob")
    console.type("add-password", "first")
    console.type("add-repeat", "first")
    console.press("add-submit")
    console.wait_text("accounts-done", "bob is added")
    console.wait(lambda d: "bob" in console.text("accounts-list"))
    console.screenshot("accounts")

    # bob cannot manage the device: the sign-in says so and offers its own password change.
    console.press("sign-out")
    console.wait_page("sign-in")
    console.sign_in("bob", "first")
    assert "not admin" in console.wait_text("sign-in-error", "Check both")
    console.driver.find_element(By.LINK_TEXT, "change my password").click()
    console.wait_page("my-password")
    for current, new, repeat, where, complaint in [
        ("wrong", "second", "second", "my-password-error", "current password is wrong"),
        ("first", "second", "other", "my-repeat-error", "differ"),
    ]:
        console.type("my-user", "bob")
        console.type("my-current", current)
        console.type("my-new", new)
        console.type("my-repeat", repeat)
        console.press("my-password-submit")
        console.wait_text(where, complaint)
    console.type("my-repeat", "second")
    console.press("my-password-submit")
    console.wait_text("my-password-done", "password of bob is changed")
    console.screenshot("my-password")
    assert api.call("PUT", "/api/users/bob/password", {"password": "third"}, ("bob", "first"))[0] == 401
    assert api.call("PUT", "/api/users/bob/password", {"password": "third"}, ("bob", "second"))[0] == 204


def test_admin_changes_and_deletes_accounts_with_confirmation(console, api):
    assert api.call("POST", "/api/users", {"name": "carol", "password": "c1"})[0] == 201
    console.signed_in()
    console.open("accounts")
    console.wait(lambda d: "carol" in console.text("accounts-list"))

    console.driver.find_element(By.CSS_SELECTOR, "[aria-label='Change the password of carol']").click()
    console.type("password-new", "c2")
    console.type("password-repeat", "c2")
    console.type("password-confirm", "not-kevla")
    console.press("password-save")
    console.wait(lambda d: "not the password of admin" in console.field_error("password-confirm"))
    console.type("password-confirm", "kevla")
    console.press("password-save")
    console.wait_text("accounts-done", "password of carol is changed")
    assert api.call("PUT", "/api/users/carol/password", {"password": "c3"}, ("carol", "c2"))[0] == 204

    console.driver.find_element(By.CSS_SELECTOR, "[aria-label='Delete carol']").click()
    console.wait_text("delete-title", "carol")
    console.press("delete-cancel")
    assert "carol" in console.text("accounts-list")
    console.driver.find_element(By.CSS_SELECTOR, "[aria-label='Delete carol']").click()
    console.press("delete-confirm")
    console.wait_text("accounts-done", "carol is deleted")
    assert api.call("GET", "/api/users") == (200, {"users": ["admin"]})

    # admin takes a second, explicit confirmation.
    console.driver.find_element(By.CSS_SELECTOR, "[aria-label='Delete admin']").click()
    console.press("delete-confirm")
    console.wait_text("delete-error", "Tick the box")
    console.screenshot("delete-admin")
    assert api.call("GET", "/api/users") == (200, {"users": ["admin"]})
    console.element("delete-admin-understood").click()
    console.press("delete-confirm")
    # Without admin the session's own credentials fail: back to sign-in.
    console.wait_page("sign-in")


def choose_image(console, tmp_path, name, size, file_name="image.bin"):
    path = tmp_path / file_name
    path.write_bytes(firmware_image(name, size))
    console.element("firmware-file").send_keys(str(path))
    console.wait(lambda d: console.element("firmware-image").is_displayed()
                 and f"{size} bytes" in console.text("firmware-size"))


def test_firmware_update_shows_the_image_the_progress_and_the_new_versions(console, device, tmp_path):
    console.signed_in()
    console.open("firmware")
    console.wait(lambda d: console.text("firmware-os") != "")

    # Refused in the page: nothing is sent.
    for name, size, complaint in [
        ("nolva-xx 1.0", 4096, "neither nolva-os nor nolva-fs"),
        ("nolva-os 1.0", 63, "at least 64"),
        ("NOLVA-OS 1.0", 4097, "neither nolva-os nor nolva-fs"),
        ("nolva-os 9.9", 32 * 1024 * 1024 + 1, "larger than the 32.0 MiB"),
    ]:
        choose_image(console, tmp_path, name, size, f"refused-{size}.bin")
        assert complaint in console.field_error("firmware-file"), name
        console.type("firmware-confirm", "kevla")
        console.press("firmware-submit")
        assert console.element("firmware-progress").is_displayed() is False

    choose_image(console, tmp_path, "nolva-os 2.1.0-rc1", 1536 * 1024)
    assert console.text("firmware-name") == "nolva-os 2.1.0-rc1"
    assert console.text("firmware-partition") == "OS partition"
    assert console.field_error("firmware-file") == ""

    # A wrong confirmation: said at its field, the session stays.
    console.type("firmware-confirm", "not-kevla")
    console.press("firmware-submit")
    console.wait(lambda d: "not the password of admin" in console.field_error("firmware-confirm"))

    # Slow the upload so that its progress shows; record what the bar shows.
    console.driver.set_network_conditions(latency=5, download_throughput=10 * 1024 * 1024,
                                          upload_throughput=768 * 1024)
    console.driver.execute_script("""
        window.seen = [];
        const bar = document.getElementById('firmware-bar');
        const stage = document.getElementById('firmware-stage');
        new MutationObserver(() => window.seen.push([bar.getAttribute('value'), stage.textContent]))
            .observe(document.getElementById('firmware-progress'),
                     {attributes: true, childList: true, characterData: true, subtree: true});""")
    console.type("firmware-confirm", "kevla")
    console.press("firmware-submit")
    console.wait(lambda d: int(console.element("firmware-bar").get_attribute("value") or 0) >= 30)
    console.screenshot("firmware-uploading")
    done = console.wait_text("firmware-done", "verified", seconds=120)
    assert "OS partition" in done and "nolva-os 2.1.0-rc1" in done, done
    assert console.text("firmware-os") == "nolva-os 2.1.0-rc1"
    # The bar rose while the image went out, then the page waited for the device.
    seen = console.driver.execute_script("return window.seen")
    stages = [stage for _, stage in seen]
    percents = [int(value) for value, stage in seen if value is not None and stage.startswith("Uploading")]
    assert any(0 < p < 100 for p in percents) and percents == sorted(percents), seen
    writing = [i for i, stage in enumerate(stages) if stage.startswith("Writing and verifying")]
    assert writing and all(not s.startswith("Uploading") for s in stages[writing[0]:]), stages
    console.screenshot("firmware-done")

    console.open("overview")
    console.wait(lambda d: console.text("overview-os") == "nolva-os 2.1.0-rc1")


@pytest.mark.nolvad_args("--max-image", "1048576")
def test_an_image_over_a_lower_service_limit_shows_the_services_answer(console, tmp_path):
    console.signed_in()
    console.open("firmware")
    choose_image(console, tmp_path, "nolva-os 2.2", 2 * 1024 * 1024)
    console.type("firmware-confirm", "kevla")
    console.press("firmware-submit")
    assert "1048576" in console.wait_text("firmware-error", "at most")
    assert console.element("firmware-submit").is_enabled()


def test_a_failed_firmware_update_shows_the_services_message(console, device, tmp_path):
    device.fault("mtd-write-fails")
    console.signed_in()
    console.open("firmware")
    choose_image(console, tmp_path, "nolva-fs 3.0", 64 * 1024)
    assert console.text("firmware-partition") == "FS partition"
    console.type("firmware-confirm", "kevla")
    console.press("firmware-submit")
    message = console.wait_text("firmware-error", "STATUS_FIRMWARE_UPDATE_FAILED", seconds=120)
    assert "partition" in message, message
    assert console.text("firmware-fs") == "(erased: no image)"
    assert not console.element("firmware-done").is_displayed()
    console.screenshot("firmware-failed")


def board_log(device):
    return board_tool("show", device.board)


def test_reboot_counts_down_waits_for_the_device_and_returns_to_sign_in(console, device):
    console.signed_in()
    console.open("maintenance")
    console.press("reboot-start")
    console.press("reboot-cancel")
    assert not console.element("reboot-form").is_displayed()
    console.press("reboot-start")
    console.press("reboot-confirm")
    console.wait_page("restart")
    console.wait_text("restart-status", "restarts in")
    console.screenshot("restart")
    console.wait_text("restart-status", "Waiting for it to answer", seconds=15)
    console.wait_page("sign-in", seconds=60)
    assert "restarted" in console.text("notice")
    assert "reboot" in board_log(device).lower()
    console.signed_in()


def test_factory_reset_asks_for_the_word_and_the_password_then_signs_in_as_factory(console, api):
    assert api.call("POST", "/api/users", {"name": "dave", "password": "d1"})[0] == 201
    assert api.call("PUT", "/api/users/admin/password", {"password": "changed"})[0] == 204
    console.signed_in("admin", "changed")
    console.open("maintenance")
    console.press("reset-start")
    word = console.text("reset-word-shown")
    console.type("reset-word", word + "x")
    console.type("reset-confirm", "changed")
    console.press("reset-confirm-button")
    assert "exactly as shown" in console.field_error("reset-word")
    console.type("reset-word", word)
    console.type("reset-confirm", "kevla")
    console.press("reset-confirm-button")
    console.wait(lambda d: "not the password of admin" in console.field_error("reset-confirm"))
    console.screenshot("reset-confirm")
    assert api.call("GET", "/api/users", credentials=("admin", "changed")) == (200, {"users": ["admin", "dave"]})

    console.type("reset-confirm", "changed")
    console.press("reset-confirm-button")
    console.wait_page("restart")
    console.wait_page("sign-in", seconds=60)
    assert "factory account admin" in console.text("notice")
    assert console.element("sign-in-user").get_attribute("value") == "admin"
    console.type("sign-in-password", "kevla")
    console.press("sign-in-submit")
    console.wait_page("overview")
    assert api.call("GET", "/api/users") == (200, {"users": ["admin"]})


def test_sign_out_and_sign_out_everywhere(console, device, tmp_path):
    console.signed_in()
    console.press("sign-out")
    console.wait_page("sign-in")
    assert "signed out" in console.text("notice")
    console.open("network")
    console.wait_page("sign-in")

    # A second browser's session ends too.
    with browser(tmp_path / "other", device.url) as other:
        other.signed_in()
        console.signed_in()
        console.press("sign-out-everywhere")
        console.wait_page("sign-in")
        assert "every other session" in console.text("notice")
        other.open("accounts")
        other.wait_page("sign-in")
        assert "session has ended" in other.text("notice")


def test_keyboard_alone_signs_in_and_reaches_every_page(console):
    console.open("sign-in")
    console.wait_page("sign-in")
    focused = console.driver.switch_to.active_element
    assert focused.get_attribute("id") == "sign-in-password"
    focused.send_keys("kevla", Keys.ENTER)
    console.wait_page("overview")
    for page in ("network", "services", "accounts", "firmware", "maintenance"):
        # Tab from the top of the document to the page's link, then Enter.
        console.driver.execute_script("document.activeElement.blur(); window.scrollTo(0, 0)")
        for _ in range(60):
            ActionChains(console.driver).send_keys(Keys.TAB).perform()
            href = console.driver.switch_to.active_element.get_attribute("href") or ""
            if href.endswith(f"#/{page}"):
                break
        ActionChains(console.driver).send_keys(Keys.ENTER).perform()
        console.wait_page(page)
        assert console.driver.switch_to.active_element.tag_name == "h1"


def every_label_names_a_field(console):
    return console.driver.execute_script("""
        return [...document.querySelectorAll('input')]
            .filter(i => !i.labels || i.labels.length === 0).map(i => i.id);""")


@pytest.mark.parametrize("width", [360, 1280], ids=["phone-360px", "desktop-1280px"])
def test_every_page_fits_the_width(device, tmp_path, width):
    with browser(tmp_path / "chromium", device.url, width=width, height=800) as console:
        console.signed_in()
        assert console.driver.execute_script("return window.innerWidth") == width
        assert every_label_names_a_field(console) == []
        for page in ("overview", "network", "services", "accounts", "firmware", "maintenance"):
            console.open(page)
            console.wait_page(page)
            time.sleep(0.3)
            overflow = console.driver.execute_script(
                "return document.documentElement.scrollWidth - document.documentElement.clientWidth")
            assert overflow <= 0, f"{page} is {overflow} px wider than {width} px"
            console.screenshot(f"{page}-{width}")
        console.open("maintenance")
        console.press("reset-start")
        console.screenshot(f"reset-{width}")


def test_console_files_carry_their_types_and_the_security_policy(device):
    for path, content_type in [("/", "text/html"), ("/index.html", "text/html"),
                               ("/console.js", "text/javascript"), ("/api.js", "text/javascript"),
                               ("/console.css", "text/css")]:
        with urllib.request.urlopen(device.url + path, timeout=10) as answer:
            assert answer.headers["Content-Type"].startswith(content_type), path
            policy = answer.headers["Content-Security-Policy"]
            assert "default-src 'self'" in policy and "frame-ancestors 'none'" in policy, path
            assert answer.headers["X-Content-Type-Options"] == "nosniff", path
            assert answer.headers["Cache-Control"] == "no-store", path
            assert answer.headers["Referrer-Policy"] == "no-referrer", path
