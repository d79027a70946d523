"""nolvad's OpenAPI document as a checker of real answers.

validate_answer() holds one answer (status, headers, JSON body) against what
the document promises for its path and method. An API test calls it on every
answer it gets:

    from openapi_document import load_document, validate_answer
    validate_answer(load_document(), "GET", "/api/network", 200, body, headers)

OpenAPI 3.0 schemas are not JSON Schema: `nullable` becomes a type list and
int32 becomes its range here, then Draft 4 (the dialect OpenAPI 3.0 extends)
does the checking.
"""

import copy
import json
import pathlib
from collections.abc import Mapping

import jsonschema

DOCUMENT = pathlib.Path(__file__).resolve().parents[2] / "nolvad" / "openapi.json"

INT32 = (-(2**31), 2**31 - 1)
# Keywords whose value is one schema, or a list or a name-keyed map of them.
ONE_SCHEMA = ("items", "additionalProperties", "not")
SCHEMA_LISTS = ("allOf", "anyOf", "oneOf")
SCHEMA_MAPS = ("properties",)
# OpenAPI's own keywords, meaningless to a JSON Schema validator.
OPENAPI_ONLY = ("nullable", "example", "discriminator", "readOnly", "writeOnly", "xml",
                "externalDocs", "deprecated")


def load_document(path=DOCUMENT):
    with open(path, encoding="utf-8") as file:
        return json.load(file)


def resolve(document, node):
    """The object a (chain of) local $ref names, or `node` itself."""
    seen = set()
    while isinstance(node, Mapping) and "$ref" in node:
        ref = node["$ref"]
        if not ref.startswith("#/") or ref in seen:
            raise KeyError(f"cannot resolve {ref}")
        seen.add(ref)
        node = document
        for part in ref[2:].split("/"):
            node = node[part.replace("~1", "/").replace("~0", "~")]
    return node


def subschemas(schema):
    """(keyword path, schema) for each schema directly inside `schema`."""
    for key in ONE_SCHEMA:
        if isinstance(schema.get(key), Mapping):
            yield key, schema[key]
    for key in SCHEMA_LISTS:
        for i, sub in enumerate(schema.get(key, [])):
            yield f"{key}/{i}", sub
    for key in SCHEMA_MAPS:
        for name, sub in schema.get(key, {}).items():
            yield f"{key}/{name}", sub


def to_json_schema(schema):
    """One OpenAPI 3.0 schema as Draft 4 JSON Schema; $refs are kept."""
    if not isinstance(schema, Mapping):
        return schema
    out = {k: copy.deepcopy(v) for k, v in schema.items() if k not in OPENAPI_ONLY}
    for path, sub in subschemas(schema):
        keyword, _, name = path.partition("/")
        if keyword in SCHEMA_MAPS:
            out[keyword][name] = to_json_schema(sub)
        elif keyword in SCHEMA_LISTS:
            out[keyword][int(name)] = to_json_schema(sub)
        else:
            out[keyword] = to_json_schema(sub)
    if schema.get("nullable") is True:
        out["type"] = [schema["type"], "null"] if "type" in schema else ["null"]
        if "enum" in out:
            out["enum"] = out["enum"] + [None]
    if schema.get("format") == "int32":
        out["minimum"] = max(out.get("minimum", INT32[0]), INT32[0])
        out["maximum"] = min(out.get("maximum", INT32[1]), INT32[1])
    return out


def validator(document, schema):
    """A Draft 4 validator of `schema`, whose $refs reach the document's components."""
    components = {name: to_json_schema(s)
                  for name, s in document.get("components", {}).get("schemas", {}).items()}
    root = {"components": {"schemas": components}, "allOf": [to_json_schema(schema)]}
    return jsonschema.Draft4Validator(root)


def schema_problems(document, schema, value):
    """What is wrong with `value` against `schema`, one line each; [] when it fits."""
    return [f"{'/'.join(map(str, e.absolute_path)) or '(body)'}: {e.message}"
            for e in validator(document, schema).iter_errors(value)]


def answers_for(document, method, path_template):
    """The documented answers of a request: its operation's, else the general ones."""
    general = document.get("x-general-responses", {})
    item = document["paths"].get(path_template)
    if item is None:
        return {k: v for k, v in general.items() if k == "404"}
    operation = item.get("get" if method == "head" else method)
    if operation is None:
        return {k: v for k, v in general.items() if k == "405"}
    return operation["responses"]


def header_problems(document, response, headers, tls):
    problems = []
    have = {name.lower(): value for name, value in
            (headers.items() if isinstance(headers, Mapping) else headers)}
    for name, header in response.get("headers", {}).items():
        header = resolve(document, header)
        tls_only = name.lower() == "strict-transport-security"
        required = header.get("required", False) or (tls_only and tls)
        value = have.get(name.lower())
        if value is None:
            if required:
                problems.append(f"header {name} is missing")
            continue
        if tls_only and not tls:
            problems.append(f"header {name} is sent over plain HTTP")
        schema = resolve(document, header.get("schema", {}))
        if schema.get("type") == "integer":
            try:
                value = int(value)
            except ValueError:
                problems.append(f"header {name}: {value!r} is not an integer")
                continue
        problems += [f"header {name}: {p}" for p in schema_problems(document, schema, value)]
    return problems


def validate_answer(document, method, path_template, status, body_json, headers, tls=False):
    """Raises AssertionError naming every way the answer differs from the document.

    path_template is the document's path ("/api/users/{name}"), or the request's
    path when it is none of them. body_json is the parsed body, None for an
    empty one. headers: a mapping or (name, value) pairs, names in any case.
    """
    method = method.lower()
    where = f"{method.upper()} {path_template} {status}"
    answers = answers_for(document, method, path_template)
    if str(status) not in answers:
        raise AssertionError(f"{where}: status {status} is not documented here "
                             f"(documented: {', '.join(sorted(answers)) or 'none'})")
    response = resolve(document, answers[str(status)])
    problems = header_problems(document, response, headers, tls)
    content = response.get("content", {})
    if method == "head" or not content:
        if body_json is not None:
            problems.append("the answer has a body where none is documented")
    elif body_json is None:
        problems.append(f"the body is missing; documented: {', '.join(content)}")
    else:
        have = {k.lower(): v for k, v in
                (headers.items() if isinstance(headers, Mapping) else headers)}
        media = have.get("content-type", "").split(";")[0].strip().lower()
        if media not in content:
            problems.append(f"Content-Type {media or '(none)'} is not one of {', '.join(content)}")
        else:
            problems += schema_problems(document, content[media]["schema"], body_json)
    if problems:
        raise AssertionError(where + ":\n  " + "\n  ".join(problems))
