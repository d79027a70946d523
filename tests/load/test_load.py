"""16 keep-alive clients read and write settings at once for a while: no
answer is a 5xx, no write is lost, and nolvad's descriptors come back."""

import ipaddress
import threading
import time

import requests

from load_support import (load_seconds, nolvad_pid, settled_descriptors,
                          wait_for_descriptors)
from nolva_device import FACTORY_PASSWORD, FACTORY_USER

CLIENTS = 16
TIMEOUT = 60
MOST_REQUESTS = 20000  # per client, whatever the duration

# Each client owns one field of a stored record and writes it with PATCH, so
# the last value it saw stored must be the one left: a lost update shows.
# (record path, field, the value of the client's Nth write)
FIELDS = [
    ("/api/service", "svcWord0", lambda n: n),
    ("/api/service", "primaryValue", lambda n: 1000 + n),
    ("/api/service", "svcWord5", lambda n: -n),
    ("/api/service", "svcWord6", lambda n: n * 3),
    ("/api/service", "svcWord7", lambda n: 2147483647 - n),
    ("/api/service", "secondaryValue", lambda n: n * 7),
    ("/api/service", "svcWord10", lambda n: -2147483648 + n),
    ("/api/ocp", "ocpWord1", lambda n: n),
    ("/api/ocp", "ocpWord2", lambda n: -n),
    ("/api/ocp", "ocpWord3", lambda n: n * 11),
    ("/api/ocp", "ocpWord4", lambda n: n + 5),
    ("/api/ocp", "ocpValue", lambda n: n * 13),
    ("/api/ocp", "ocpPort", lambda n: 20000 + n % 40000),  # clear of both services
    ("/api/network", "address", lambda n: str(ipaddress.IPv4Address(0x0A000000 + n + 1))),
    ("/api/network", "gateway", lambda n: str(ipaddress.IPv4Address(0xAC100000 + n + 1))),
    ("/api/network", "netmask",
     lambda n: str(ipaddress.IPv4Network(f"0.0.0.0/{8 + n % 24}").netmask)),
]
READS = ["/api/health", "/api/network", "/api/service", "/api/ocp"]


class Tally:
    def __init__(self):
        self.lock = threading.Lock()
        self.statuses = {}
        self.failures = []  # (client, what went wrong)

    def count(self, status):
        with self.lock:
            self.statuses[status] = self.statuses.get(status, 0) + 1

    def fail(self, client, problem):
        with self.lock:
            self.failures.append((client, problem))


def sign_in(url):
    answer = requests.post(url + "/api/session", timeout=TIMEOUT,
                           json={"user": FACTORY_USER, "password": FACTORY_PASSWORD})
    assert answer.status_code == 201, answer.text
    return answer.json()["token"]


def run_client(index, url, token, until, tally, last):
    """Reads and writes until `until` or MOST_REQUESTS; keeps its last stored value."""
    path, field, value = FIELDS[index]
    http = requests.Session()
    if token:
        http.headers["Authorization"] = "Bearer " + token
    else:
        http.auth = (FACTORY_USER, FACTORY_PASSWORD)
    try:
        for n in range(MOST_REQUESTS):
            if time.monotonic() >= until:
                break
            if n % 3 == 2:
                wanted = value(n)
                answer = http.patch(url + path, json={field: wanted}, timeout=TIMEOUT)
                if answer.status_code == 200:
                    stored = answer.json()[field]
                    if stored != wanted:
                        tally.fail(index, f"PATCH {path} {field}={wanted} answered {stored}")
                    last[index] = wanted
            else:
                answer = http.get(url + READS[(n + index) % len(READS)], timeout=TIMEOUT)
            tally.count(answer.status_code)
            if answer.status_code != 200:
                tally.fail(index, f"{answer.request.method} {answer.url}: "
                                  f"{answer.status_code} {answer.text[:200]}")
    except requests.RequestException as error:
        tally.fail(index, f"{type(error).__name__}: {error}")
    finally:
        http.close()


def test_sixteen_keep_alive_clients_lose_no_write(start_device):
    device = start_device()
    pid = nolvad_pid(device)
    # Half the clients on sessions, half with Basic credentials on every request.
    tokens = [sign_in(device.url) if i % 2 else None for i in range(CLIENTS)]
    for path in READS:  # whatever nolvad opens once and keeps is open now
        requests.get(device.url + path, auth=(FACTORY_USER, FACTORY_PASSWORD), timeout=TIMEOUT)
    at_rest = settled_descriptors(pid)
    tally = Tally()
    last = [None] * CLIENTS
    until = time.monotonic() + load_seconds()
    clients = [threading.Thread(target=run_client,
                                args=(i, device.url, tokens[i], until, tally, last))
               for i in range(CLIENTS)]
    for client in clients:
        client.start()
    for client in clients:
        client.join(timeout=load_seconds() + 10 * TIMEOUT)
    assert not any(client.is_alive() for client in clients), "a client never finished"

    done = sum(tally.statuses.values())
    print(f"\n{done} requests by {CLIENTS} clients in {load_seconds():g} s; "
          f"answers {tally.statuses}")
    assert not tally.failures, "\n".join(f"client {c}: {p}" for c, p in tally.failures[:20])
    assert all(status < 500 for status in tally.statuses)

    stored = {}
    for path in {f[0] for f in FIELDS}:
        answer = requests.get(device.url + path, auth=(FACTORY_USER, FACTORY_PASSWORD),
                              timeout=TIMEOUT)
        assert answer.status_code == 200, answer.text
        stored[path] = answer.json()
    lost = [f"client {i}: {path} {field} is {stored[path][field]!r}, last written {last[i]!r}"
            for i, (path, field, _) in enumerate(FIELDS)
            if last[i] is not None and stored[path][field] != last[i]]
    assert not lost, "\n".join(lost)
    assert all(value is not None for value in last), "a client stored nothing"

    # The clients have closed their connections; nolvad closes its ends.
    left = wait_for_descriptors(pid, at_rest, 60)
    assert left == at_rest, f"nolvad holds {left} descriptors, {at_rest} before the load"
