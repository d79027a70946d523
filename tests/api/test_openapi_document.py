"""The service's OpenAPI document keeps the API's rules, and the checker of
real answers built on it catches what it should."""

import re

import pytest

from openapi_document import (DOCUMENT, load_document, resolve, schema_problems, subschemas,
                              validate_answer)

METHODS = ("get", "put", "post", "delete", "patch", "head", "options", "trace")
CHANGES = ("post", "put", "patch", "delete")
# A merge patch names only what it changes: no member is required.
MERGE_PATCHES = {"NetworkPatch": "Network", "ServicePatch": "ServiceWrite",
                 "OcpPatch": "OcpWrite"}
# This document's own members are OpenAPI's, not ours to close.
OPEN_OBJECTS = {"OpenApiDocument"}
COMMON_HEADERS = ("Cache-Control", "X-Content-Type-Options", "Referrer-Policy",
                  "Content-Security-Policy")
SENSITIVE = {("put", "/api/firmware"), ("post", "/api/factory-reset"),
             ("put", "/api/users/{name}/password")}
SOURCES = DOCUMENT.parents[1]


@pytest.fixture(scope="module")
def document():
    return load_document()


def operations(document):
    for path, item in document["paths"].items():
        for method in METHODS:
            if method in item:
                yield method, path, item[method]


def answers(document):
    """(where, status, response) for every answer of every operation and the general ones."""
    for method, path, operation in operations(document):
        for status, response in operation["responses"].items():
            yield f"{method.upper()} {path} {status}", status, resolve(document, response)
    for status, response in document["x-general-responses"].items():
        yield f"general {status}", status, resolve(document, response)


def schema_roots(document):
    """(location, schema) for every schema the document holds outside another schema."""
    components = document["components"]
    for name, schema in components["schemas"].items():
        yield f"#/components/schemas/{name}", schema
    for kind in ("parameters", "headers"):
        for name, holder in components[kind].items():
            yield f"#/components/{kind}/{name}/schema", holder["schema"]
    for where, _, response in answers(document):
        for name, header in response.get("headers", {}).items():
            if "schema" in header:
                yield f"{where} header {name}", header["schema"]
        for media, content in response.get("content", {}).items():
            yield f"{where} {media}", content["schema"]
    for method, path, operation in operations(document):
        for parameter in operation.get("parameters", []):
            if "schema" in parameter:
                yield f"{method.upper()} {path} {parameter['name']}", parameter["schema"]
        for media, content in operation.get("requestBody", {}).get("content", {}).items():
            yield f"{method.upper()} {path} body {media}", content["schema"]


def every_schema(document):
    """(location, schema) for every schema, nested ones included; $refs are not followed."""
    pending = list(schema_roots(document))
    while pending:
        where, schema = pending.pop()
        yield where, schema
        pending += [(f"{where}/{path}", sub) for path, sub in subschemas(schema)]


def refs(node):
    if isinstance(node, dict):
        if "$ref" in node:
            yield node["$ref"]
        for value in node.values():
            yield from refs(value)
    elif isinstance(node, list):
        for value in node:
            yield from refs(value)


def test_the_document_is_openapi_3_0_3_and_every_ref_resolves(document):
    assert document["openapi"] == "3.0.3"
    assert document["info"]["title"] and document["info"]["description"]
    for ref in set(refs(document)):
        assert resolve(document, {"$ref": ref}) is not None, ref


def test_every_object_is_closed_and_requires_every_member(document):
    problems = []
    for where, schema in every_schema(document):
        if schema.get("type") != "object" and "properties" not in schema:
            continue
        top = where.startswith("#/components/schemas/") and where.count("/") == 3
        name = where.rsplit("/", 1)[-1] if top else None
        if name in OPEN_OBJECTS:
            continue
        if schema.get("additionalProperties") is not False:
            problems.append(f"{where}: additionalProperties is not false")
        members = set(schema.get("properties", {}))
        required = set(schema.get("required", []))
        want = set() if name in MERGE_PATCHES else members
        if required != want:
            problems.append(f"{where}: required {sorted(required)}, want {sorted(want)}")
    assert not problems, "\n".join(problems)


def test_a_merge_patch_has_the_members_of_its_whole_record(document):
    schemas = document["components"]["schemas"]
    for patch, whole in MERGE_PATCHES.items():
        assert schemas[patch]["properties"] == schemas[whole]["properties"], patch


def test_every_nullable_part_has_its_own_type(document):
    problems = [where for where, schema in every_schema(document)
                if schema.get("nullable") and ("type" not in schema or "$ref" in schema)]
    assert not problems, "nullable without its own type: " + ", ".join(problems)


def test_every_answer_carries_the_common_headers(document):
    problems = []
    for where, _, response in answers(document):
        headers = response.get("headers", {})
        for name in COMMON_HEADERS:
            if name not in headers or not resolve(document, headers[name]).get("required"):
                problems.append(f"{where}: {name} is not a required header")
        hsts = headers.get("Strict-Transport-Security")
        if hsts is None or resolve(document, hsts).get("required"):
            problems.append(f"{where}: Strict-Transport-Security is not listed as optional")
    assert not problems, "\n".join(problems)


# (name, which answers, the header they must carry)
HEADER_RULES = [
    ("401 challenges", lambda m, p, s: s == "401", "WWW-Authenticate"),
    ("405 lists the methods", lambda m, p, s: s == "405", "Allow"),
    ("429 says how long to wait", lambda m, p, s: s == "429", "Retry-After"),
    ("records carry their version",
     lambda m, p, s: p in ("/api/network", "/api/service", "/api/ocp") and s == "200", "ETag"),
    ("sign-in sets the cookie", lambda m, p, s: (m, p, s) == ("post", "/api/session", "201"),
     "Set-Cookie"),
    ("sign-out clears the cookie",
     lambda m, p, s: m == "delete" and p in ("/api/session", "/api/sessions") and s == "204",
     "Set-Cookie"),
    ("a new account is located", lambda m, p, s: (m, p, s) == ("post", "/api/users", "201"),
     "Location"),
]


@pytest.mark.parametrize("name,applies,header", HEADER_RULES, ids=[r[0] for r in HEADER_RULES])
def test_answers_carry_their_own_headers(document, name, applies, header):
    found = []
    checked = [(m, p, s, r) for m, p, op in operations(document)
               for s, r in op["responses"].items()]
    checked += [("", "", s, r) for s, r in document["x-general-responses"].items()]
    for method, path, status, response in checked:
        if not applies(method, path, status):
            continue
        headers = resolve(document, response).get("headers", {})
        assert header in headers, f"{name}: {method} {path} {status} lacks {header}"
        assert resolve(document, headers[header]).get("required"), f"{name}: {header} optional"
        found.append(path)
    assert found, f"{name}: no answer of that kind is documented"


def test_every_operation_lists_the_statuses_of_the_general_rules(document):
    problems = []
    for method, path, operation in operations(document):
        statuses = set(operation["responses"])
        want = {"400", "403", "413", "415"}
        if operation.get("security") != [] or (method, path) == ("post", "/api/session"):
            want |= {"401", "429"}
        if missing := want - statuses:
            problems.append(f"{method.upper()} {path}: lacks {sorted(missing)}")
        if not any(s.startswith("2") for s in statuses):
            problems.append(f"{method.upper()} {path}: no success")
    assert not problems, "\n".join(problems)


def test_every_refusal_is_an_error_body(document):
    errors = {"#/components/schemas/" + n for n in ("Error", "LibraryError", "ThrottledError")}
    for where, status, response in answers(document):
        if int(status) < 400:
            continue
        schema = response["content"]["application/json"]["schema"]
        named = {schema.get("$ref")} | {s.get("$ref") for s in schema.get("oneOf", [])}
        assert named - {None} and named - {None} <= errors, f"{where}: {schema}"


def test_credentials_headers_are_taken_where_they_apply(document):
    for method, path, operation in operations(document):
        names = {resolve(document, p)["name"] for p in operation.get("parameters", [])}
        credentialed = operation.get("security") != []
        assert ("X-CSRF-Token" in names) == (credentialed and method in CHANGES), \
            f"{method.upper()} {path}: X-CSRF-Token"
        assert ("X-Confirm-Password" in names) == ((method, path) in SENSITIVE), \
            f"{method.upper()} {path}: X-Confirm-Password"


def request_bodies(document):
    for method, path, operation in operations(document):
        for media, content in operation.get("requestBody", {}).get("content", {}).items():
            yield f"{method.upper()} {path} {media}", media, content, operation["requestBody"]


def examples_of(document, content):
    found = [resolve(document, e)["value"] for e in content.get("examples", {}).values()]
    return found + ([content["example"]] if "example" in content else [])


def test_every_request_body_example_is_accepted_by_its_schema(document):
    checked = 0
    for where, media, content, body in request_bodies(document):
        if media == "application/octet-stream":
            assert body.get("description"), f"{where}: describe the image"
            continue
        values = examples_of(document, content)
        assert values, f"{where}: no example"
        for value in values:
            assert not schema_problems(document, content["schema"], value), where
            checked += 1
    assert checked >= 10


def test_request_schemas_refuse_unknown_and_missing_members(document):
    for where, media, content, _ in request_bodies(document):
        if media == "application/octet-stream":
            continue
        schema = content["schema"]
        for value in examples_of(document, content):
            assert schema_problems(document, schema, {**value, "unknownMember": 1}), where
            name = next(iter(value))
            wrong = {**value, name: [value[name]]}
            assert schema_problems(document, schema, wrong), f"{where}: {name} as a list"
            if resolve(document, schema).get("required"):
                short = {k: v for k, v in value.items() if k != name}
                assert schema_problems(document, schema, short), f"{where}: without {name}"


def test_ports_and_words_hold_their_range(document):
    schemas = document["components"]["schemas"]
    write, stored = schemas["ServiceWrite"], schemas["Service"]
    base = resolve(document, document["components"]["examples"]["Service"])["value"]
    rows = [
        ("a port above 65535", write, {**base, "primaryPort": 65536}, False),
        ("a negative port", write, {**base, "secondaryPort": -1}, False),
        ("a word past int32", write, {**base, "svcWord5": 2**31}, False),
        ("a fractional word", write, {**base, "svcWord5": 1.5}, False),
        ("a stored port past 65535", stored, {**base, "primaryPort": 70000}, True),
        ("a stored word at INT32_MIN", stored, {**base, "svcWord0": -(2**31)}, True),
    ]
    for name, schema, value, fits in rows:
        assert (not schema_problems(document, schema, value)) == fits, name


# A hand-made answer and what validate_answer makes of it.
JSON = {"Content-Type": "application/json"}
COMMON = {"Cache-Control": "no-store", "X-Content-Type-Options": "nosniff",
          "Referrer-Policy": "no-referrer",
          "Content-Security-Policy": "default-src 'self'; frame-ancestors 'none'"}
TAG = '"00112233445566778899aabbccddeeff"'
NETWORK = {"dhcp": True, "address": "192.168.0.223", "netmask": "255.255.255.0",
           "gateway": "192.168.0.1"}
REFUSED = {"error": "port-conflict", "message": "the primary service and OCP would both use "
           "port 23", "status": "STATUS_REFUSED", "code": "0xFFFFFFFF"}
AUTH = {"error": "auth-failed", "message": "wrong name or password"}
CHALLENGE = {"WWW-Authenticate": 'Bearer realm="nolva"'}
HSTS = {"Strict-Transport-Security": "max-age=31536000"}
DEVICE = {"mac": "00:1A:2B:3C:4D:5E", "firmware": None, "usbPorts": [{"port": 1, "product": ""}],
          "failures": [{"operation": "GetFirmwareVersions",
                        "status": "STATUS_FIRMWARE_VERSION_FAILED", "code": "0x8000030E"}]}
ANSWERS = [
    # name, method, path, status, body, headers, tls, a word of the complaint or None
    ("a record with its ETag", "GET", "/api/network", 200, NETWORK,
     {**COMMON, **JSON, "ETag": TAG}, False, None),
    ("a record without its ETag", "GET", "/api/network", 200, NETWORK, {**COMMON, **JSON},
     False, "ETag is missing"),
    ("a record with an unknown member", "PATCH", "/api/network", 200, {**NETWORK, "mtu": 1500},
     {**COMMON, **JSON, "ETag": TAG}, False, "mtu"),
    ("a device object with a failed part", "GET", "/api/device", 200, DEVICE,
     {**COMMON, **JSON}, False, None),
    ("an undocumented status", "GET", "/api/health", 500, REFUSED, {**COMMON, **JSON}, False,
     "not documented"),
    ("a port conflict with its status", "PUT", "/api/service", 409, REFUSED,
     {**COMMON, **JSON}, False, None),
    ("a port conflict without its status", "PUT", "/api/service", 409, AUTH | {
        "error": "port-conflict"}, {**COMMON, **JSON}, False, "status"),
    ("a 401 with the library status", "GET", "/api/users", 401,
     {**AUTH, "status": "STATUS_AUTH_FAILED", "code": "0x80000300"},
     {**COMMON, **JSON, **CHALLENGE}, False, None),
    ("a 401 without its challenge", "GET", "/api/users", 401, AUTH, {**COMMON, **JSON}, False,
     "WWW-Authenticate"),
    ("an unknown error word", "GET", "/api/users", 401, {**AUTH, "error": "denied"},
     {**COMMON, **JSON, **CHALLENGE}, False, "denied"),
    ("a 429 with a wait past 60 s", "POST", "/api/session", 429,
     {"error": "throttled", "message": "wait", "retryAfter": 61},
     {**COMMON, **JSON, "Retry-After": "61"}, False, "61"),
    ("a 405 on a listed path", "DELETE", "/api/network", 405,
     {"error": "method-not-allowed", "message": "use GET, HEAD, PUT, PATCH"},
     {**COMMON, **JSON, "Allow": "GET, HEAD, PUT, PATCH"}, False, None),
    ("a 404 on an unlisted path", "GET", "/api/nothing", 404,
     {"error": "not-found", "message": "there is no /api/nothing"}, {**COMMON, **JSON}, False,
     None),
    ("a 204 with a body", "DELETE", "/api/users/{name}", 204, {}, COMMON, False, "body"),
    ("a sign-out clearing the cookie", "DELETE", "/api/session", 204, None,
     {**COMMON, "Set-Cookie": "nolva_session=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict"},
     False, None),
    ("HEAD without a body", "HEAD", "/api/health", 200, None, COMMON, False, None),
    ("TLS without HSTS", "GET", "/api/health", 200, {"status": "ok"}, {**COMMON, **JSON}, True,
     "Strict-Transport-Security"),
    ("TLS with HSTS, names in lower case", "GET", "/api/health", 200, {"status": "ok"},
     {k.lower(): v for k, v in {**COMMON, **JSON, **HSTS}.items()}, True, None),
    ("HSTS over plain HTTP", "GET", "/api/health", 200, {"status": "ok"},
     {**COMMON, **JSON, **HSTS}, False, "plain HTTP"),
    ("a body of another media type", "GET", "/api/health", 200, {"status": "ok"},
     {**COMMON, "Content-Type": "text/plain"}, False, "text/plain"),
]


@pytest.mark.parametrize("name,method,path,status,body,headers,tls,complaint", ANSWERS,
                         ids=[row[0] for row in ANSWERS])
def test_validate_answer(document, name, method, path, status, body, headers, tls, complaint):
    if complaint is None:
        validate_answer(document, method, path, status, body, headers, tls=tls)
    else:
        with pytest.raises(AssertionError, match=re.escape(complaint)):
            validate_answer(document, method, path, status, body, headers, tls=tls)


def service_source(name):
    path = SOURCES / "nolvad" / name
    if not path.exists():
        pytest.skip(f"nolvad/{name} is not in this checkout")
    return path.read_text(encoding="utf-8")


def test_the_document_lists_exactly_the_service_routes(document):
    table = re.findall(r'\{"([A-Z]+)", "(/api/[^"]*)", &S::', service_source("routes.cc"))
    assert table, "no route rows found in nolvad/routes.cc"
    listed = {(m.upper(), p) for m, p, _ in operations(document)}
    assert listed == set(table)


def test_the_error_words_are_the_service_words(document):
    rows = re.findall(r'\{Error::k\w+, (\d{3}), "([a-z-]+)"\}', service_source("errors.cc"))
    assert rows, "no error rows found in nolvad/errors.cc"
    assert set(document["components"]["schemas"]["ErrorWord"]["enum"]) == {w for _, w in rows}
    documented = {s for _, s, _ in answers(document)}
    assert {s for s, _ in rows} <= documented
