"""The fleet playbooks of examples/fleet, run by ansible-playbook against
four simulated boards, each with its own nolvad on 127.0.0.1: what each run
reports per device, and what the devices hold afterwards."""

import json
import os
import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest
import requests

from nolva_device import FACTORY_PASSWORD, Device

PLAYBOOKS = Path(__file__).resolve().parents[2] / "examples" / "fleet"

BOARDS = 4
RUN_SECONDS = 120  # one ansible-playbook run, at most
REQUEST_SECONDS = 10

# A board with a flash disk on hub port 2, so the facts show a product.
USB_WITH_DISK = (
    "T:  Bus=01 Lev=01 Prnt=01 Port=00 Cnt=01 Dev#=  2 Spd=480  MxCh= 4\n"
    "S:  Product=USB2.0 Hub\n"
    "T:  Bus=01 Lev=02 Prnt=02 Port=02 Cnt=01 Dev#=  3 Spd=480  MxCh= 0\n"
    "S:  Product=Flash Disk\n")


# The last board serves HTTPS only, with the certificate nolvad made; the
# inventory names it as the CA to trust.
TLS_BOARD = BOARDS - 1


def mac_of(index):
    return "02:00:00:00:00:%02X" % (index + 1)


class Run:
    """One ansible-playbook run: its exit status, output and recap."""

    def __init__(self, completed, seconds):
        self.returncode = completed.returncode
        self.output = completed.stdout
        self.seconds = seconds
        # "board0 : ok=4 changed=1 unreachable=0 failed=0 skipped=0 ..."
        self.recap = {}
        for host, counts in re.findall(r"^(\S+)\s+:\s+(ok=.*)$", self.output, re.M):
            self.recap[host] = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", counts)}

    def count(self, host, what):
        return self.recap[host][what]

    def __repr__(self):
        return "exit status %d after %.1f s\n%s" % (self.returncode, self.seconds, self.output)

    def says(self, text):
        """TEXT is in the output, however the output wrapped its lines."""
        return " ".join(text.split()) in " ".join(self.output.split())


class Fleet:
    def __init__(self, work, devices):
        self.work = work
        self.devices = devices
        self.names = ["board%d" % i for i in range(len(devices))]
        self.password = FACTORY_PASSWORD
        self.inventory = work / "inventory"
        self.inventory.mkdir()
        # One device per line, as an operator writes it; no credentials.
        lines = ["[nolva]"]
        for name, device in zip(self.names, devices):
            line = "%s nolva_url=%s" % (name, device.url)
            if device.certificate:
                line += " nolva_ca_path=%s" % device.certificate
            lines.append(line)
        (self.inventory / "hosts.ini").write_text("\n".join(lines) + "\n")
        self.ansible_home = work / "ansible"
        self.runs = []

    def vars_file(self, kind, name, values):
        """host_vars/NAME.yml or group_vars/NAME.yml beside the inventory;
        JSON is YAML."""
        folder = self.inventory / kind
        folder.mkdir(exist_ok=True)
        (folder / (name + ".yml")).write_text(json.dumps(values) + "\n")

    def clear_vars(self):
        for kind in ("host_vars", "group_vars"):
            shutil.rmtree(self.inventory / kind, ignore_errors=True)

    def play(self, playbook, *args, env=None):
        environment = {k: v for k, v in os.environ.items()
                       if not k.startswith(("ANSIBLE_", "NOLVA_"))}
        environment.update({
            "ANSIBLE_CONFIG": str(PLAYBOOKS / "ansible.cfg"),
            # Nothing of Ansible's is left outside the test's folder.
            "ANSIBLE_HOME": str(self.ansible_home),
            "ANSIBLE_LOCAL_TEMP": str(self.ansible_home / "tmp"),
            "ANSIBLE_REMOTE_TEMP": str(self.ansible_home / "remote-tmp"),
            "ANSIBLE_RETRY_FILES_ENABLED": "false",
            "ANSIBLE_NOCOLOR": "true",
            "NOLVA_PASSWORD": self.password,
        })
        environment.update(env or {})
        command = ["ansible-playbook", "-i", str(self.inventory / "hosts.ini"),
                   str(PLAYBOOKS / playbook), *args]
        start = time.monotonic()
        completed = subprocess.run(command, env=environment, cwd=self.work, text=True,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, timeout=RUN_SECONDS)
        run = Run(completed, time.monotonic() - start)
        line = " ".join([playbook, *args]).replace(str(self.work) + "/", "")
        self.runs.append((line, run))
        print("--- ansible-playbook %s\n%r" % (line, run))
        return run

    def api(self, device, method, path, password=None, user="admin", **kwargs):
        return requests.request(method, device.url + path,
                                auth=(user, password or self.password),
                                verify=device.certificate or True,
                                timeout=REQUEST_SECONDS, **kwargs)

    def get(self, device, path):
        answer = self.api(device, "GET", path)
        assert answer.status_code == 200, answer.text
        return answer.json()


@pytest.fixture(scope="module")
def fleet(tmp_path_factory):
    assert shutil.which("ansible-playbook"), "ansible-playbook missing: tools/test installs it"
    work = tmp_path_factory.mktemp("fleet")
    usb = work / "usb-with-disk"
    usb.write_text(USB_WITH_DISK)
    devices = []
    try:
        for index in range(BOARDS):
            name = "board%d" % index
            board_args = ["--mac", mac_of(index)]
            if index == 2:
                board_args += ["--usb", str(usb)]
            if index == TLS_BOARD:
                certificate = work / (name + "-cert.pem")
                device = Device(work / name, board_args=board_args, listen=False,
                                nolvad_args=["--tls-listen", "127.0.0.1:0",
                                             "--tls-cert", certificate,
                                             "--tls-key", work / (name + "-key.pem")])
                device.certificate = str(certificate)
            else:
                device = Device(work / name, board_args=board_args)
                device.certificate = None
            devices.append(device)
            assert re.match(r"https?://127\.0\.0\.1:\d+$", device.url), device.url
        fleet = Fleet(work, devices)
        yield fleet
        print("=== ansible-playbook runs over %d boards" % BOARDS)
        for command, run in fleet.runs:
            print("%6.1f s  exit %d  %s" % (run.seconds, run.returncode, command))
    finally:
        statuses = [device.stop() for device in devices]
    assert statuses == [0] * len(devices), "nolvad's exit status on SIGTERM"


def assert_each(run, names, **counts):
    for name in names:
        for what, number in counts.items():
            assert name in run.recap and run.count(name, what) == number, \
                "%s: %s=%d expected\n%s" % (name, what, number, run)


def test_facts_of_every_device(fleet):
    facts_dir = fleet.work / "facts"
    first = fleet.play("facts.yml", "-e", "facts_dir=%s" % facts_dir)
    assert first.returncode == 0, first
    assert_each(first, fleet.names, failed=0)
    for index, (name, device) in enumerate(zip(fleet.names, fleet.devices)):
        facts = json.loads((facts_dir / (name + ".json")).read_text())
        assert facts["mac"] == mac_of(index), name
        assert facts["firmware"] == fleet.get(device, "/api/device/firmware"), name
        for record in ("network", "service", "ocp"):
            assert facts[record] == fleet.get(device, "/api/" + record), (name, record)
        products = {port["port"]: port["product"] for port in facts["usbPorts"]}
        assert products.get(2) == ("Flash Disk" if index == 2 else ""), (name, products)
        # The table: one row per device with its own address.
        assert re.search(r"^\s*%s\s+%s\s" % (name, mac_of(index)), first.output, re.M), name

    second = fleet.play("facts.yml", "-e", "facts_dir=%s" % facts_dir)
    assert second.returncode == 0, second
    assert_each(second, fleet.names, changed=0, failed=0)


def test_settings_changed_then_ok(fleet):
    fleet.vars_file("group_vars", "nolva", {"nolva_service": {"primaryPort": 9101},
                                            "nolva_ocp": {"ocpPort": 2323}})
    try:
        first = fleet.play("settings.yml")
        assert first.returncode == 0, first
        assert_each(first, fleet.names, changed=1, failed=0)
        for name, device in zip(fleet.names, fleet.devices):
            assert fleet.get(device, "/api/service")["primaryPort"] == 9101, name
            assert fleet.get(device, "/api/ocp")["ocpPort"] == 2323, name

        second = fleet.play("settings.yml")
        assert second.returncode == 0, second
        assert_each(second, fleet.names, changed=0, failed=0)
    finally:
        fleet.clear_vars()


def test_port_clash_fails_only_that_device(fleet):
    # board2's OCP would take the primary service's port; the others move theirs.
    fleet.vars_file("group_vars", "nolva", {"nolva_ocp": {"ocpPort": 2424}})
    fleet.vars_file("host_vars", "board2", {"nolva_ocp": {"ocpPort": 9101}})
    try:
        run = fleet.play("settings.yml")
    finally:
        fleet.clear_vars()
    assert run.returncode != 0, run
    assert_each(run, ["board2"], failed=1, changed=0)
    assert_each(run, ["board0", "board1", "board3"], failed=0, changed=1)
    clashing = fleet.devices[2]
    assert fleet.get(clashing, "/api/ocp")["ocpPort"] == 2323
    # The device's own words reach the operator.
    refusal = fleet.api(clashing, "PATCH", "/api/ocp", json={"ocpPort": 9101})
    assert refusal.status_code == 409, refusal.text
    assert run.says(refusal.json()["message"]), run


def image(path, name):
    """A firmware image: its name field (the version read back) at bytes
    32-63."""
    data = b"\x5a" * 32 + name.encode().ljust(32, b"\0") + bytes(4096)
    path.write_bytes(data)
    return path


def os_versions(fleet):
    return [fleet.get(device, "/api/device/firmware")["os"] for device in fleet.devices]


def test_firmware_rollout_stops_at_the_failing_batch(fleet):
    rollout = ["-e", "firmware_batch=2", "-e", "firmware_max_fail_percent=25"]
    old = image(fleet.work / "os-1.0.img", "nolva-os 1.0")
    first = fleet.play("firmware.yml", "-e", "firmware_image=%s" % old, *rollout)
    assert first.returncode == 0, first
    assert_each(first, fleet.names, changed=1, failed=0)
    assert os_versions(fleet) == ["nolva-os 1.0"] * BOARDS
    again = fleet.play("firmware.yml", "-e", "firmware_image=%s" % old, *rollout)
    assert again.returncode == 0, again
    assert_each(again, fleet.names, changed=0, failed=0)

    # board1's flash refuses every write: its batch (board0, board1) is half
    # failed, more than 25 %, so board2 and board3 are never reached.
    fleet.devices[1].fault("mtd-write-fails")
    new = image(fleet.work / "os-2.0.img", "nolva-os 2.0")
    run = fleet.play("firmware.yml", "-e", "firmware_image=%s" % new, *rollout)
    assert run.returncode != 0, run
    assert_each(run, ["board0"], changed=1, failed=0)
    assert_each(run, ["board1"], failed=1)
    assert "board2" not in run.recap and "board3" not in run.recap, run
    versions = os_versions(fleet)
    assert versions[0] == "nolva-os 2.0", versions
    assert versions[1] != "nolva-os 2.0", versions
    assert versions[2:] == ["nolva-os 1.0"] * 2, versions


def test_admin_password_rotation(fleet):
    new_password = "r0tated:admin"
    rotate = {"NOLVA_NEW_ADMIN_PASSWORD": new_password}
    first = fleet.play("accounts.yml", env=rotate)
    assert first.returncode == 0, first
    assert_each(first, fleet.names, changed=1, failed=0)
    # Run again as it was: every device takes the new password already.
    second = fleet.play("accounts.yml", env=rotate)
    assert second.returncode == 0, second
    assert_each(second, fleet.names, changed=0, failed=0)
    for name, device in zip(fleet.names, fleet.devices):
        refused = fleet.api(device, "GET", "/api/users", password=FACTORY_PASSWORD)
        assert refused.status_code == 401, (name, refused.status_code)
        accepted = fleet.api(device, "GET", "/api/users", password=new_password)
        assert accepted.status_code == 200, (name, accepted.status_code)
    fleet.password = new_password


def test_account_present_then_absent_on_a_limited_run(fleet):
    bob = ["-e", "account_name=bob", "--limit", "board0:board3"]
    present = {"NOLVA_ACCOUNT_PASSWORD": "bobs pass"}
    limited = ["board0", "board3"]

    def listed():
        return ["bob" in fleet.get(device, "/api/users")["users"] for device in fleet.devices]

    for changed in (1, 0):
        run = fleet.play("accounts.yml", *bob, env=present)
        assert run.returncode == 0, run
        assert_each(run, limited, changed=changed, failed=0)
        assert sorted(run.recap) == limited, run
    assert listed() == [True, False, False, True]

    # Another password for bob: changed, and only the new one is his.
    run = fleet.play("accounts.yml", *bob, env={"NOLVA_ACCOUNT_PASSWORD": "bobs other"})
    assert_each(run, limited, changed=1, failed=0)
    for password, status in (("bobs pass", 401), ("bobs other", 204)):
        answer = fleet.api(fleet.devices[0], "PUT", "/api/users/bob/password",
                           user="bob", password=password, json={"password": password})
        assert answer.status_code == status, (password, answer.text)

    for changed in (1, 0):
        run = fleet.play("accounts.yml", *bob, "-e", "account_state=absent")
        assert run.returncode == 0, run
        assert_each(run, limited, changed=changed, failed=0)
    assert listed() == [False] * BOARDS
