"""The interface description (binding/interface/*.toml), read and checked:
every fault stops the generators with a message naming the file, the entry
and the key."""

from __future__ import annotations

import keyword
import pathlib
import re
import tomllib

from .symbols import MODULE, sym_clone, sym_constructor, sym_free, sym_func, sym_method
from .types import PRIMITIVES, SERIALIZED, generic, in_register

class DescriptionError(Exception):
    """A fault in an interface file; the message names the file, the entry and the key."""


# Every key each kind of entry may carry: key -> (required, TOML value kind).
KEYS = {
    "namespace": {"name": (True, str), "doc": (True, str)},
    "record": {"name": (True, str), "fields": (True, list), "field_docs": (False, dict)},
    "enum": {"name": (True, str), "variants": (True, list), "core": (False, str), "include": (False, str)},
    "object": {"name": (True, str), "core": (True, str), "include": (False, str), "new": (False, list),
               "constructor": (False, str), "next": (False, list), "no_next": (False, bool),
               "returns": (False, str), "doc": (False, bool), "batch": (False, str), "batch_args": (False, list),
               "test_new": (False, list), "method": (False, list)},
    "method": {"name": (True, str), "args": (False, list), "returns": (False, str), "call": (False, str)},
    "function": {"name": (True, str), "impl": (True, str), "include": (False, str), "args": (False, list),
                 "returns": (False, str)},
}
TYPE_NAME = re.compile(r"[A-Z][A-Za-z0-9]*")
ITEM_NAME = re.compile(r"[a-z][a-z0-9_]*")
ARG_NAME = re.compile(r"[a-z_][a-z0-9_]*")
# Names an argument or field cannot take: keywords of Python and C++, and the
# names the generated shims and host functions give their own parameters.
RESERVED = set(keyword.kwlist) | {
    "auto", "bool", "break", "case", "catch", "char", "class", "const", "continue", "default", "delete",
    "do", "double", "else", "enum", "explicit", "extern", "float", "for", "friend", "goto", "if", "inline",
    "int", "long", "mutable", "namespace", "new", "noexcept", "operator", "private", "protected", "public",
    "register", "return", "short", "signed", "sizeof", "static", "struct", "switch", "template", "this",
    "throw", "try", "typedef", "typename", "union", "unsigned", "using", "virtual", "void", "volatile", "while",
    "handle", "status", "self"}


class Entry:
    """Where a fault is: a file, an entry in it and, once known, a key."""

    def __init__(self, path: pathlib.Path, kind: str, raw: dict, index: int):
        self.path, self.kind, self.raw = path, kind, raw
        name = raw.get("name")
        self.label = f"{kind} {name!r}" if isinstance(name, str) else f"{kind} #{index + 1}"

    def fail(self, message: str, key: str | None = None):
        at = f", key '{key}'" if key else ""
        raise DescriptionError(f"{self.path}: {self.label}{at}: {message}")

    def check_keys(self, schema: str) -> None:
        for key in self.raw:
            if key not in KEYS[schema]:
                self.fail(f"unknown key (known: {', '.join(KEYS[schema])})", key)
        for key, (required, kind) in KEYS[schema].items():
            if key not in self.raw:
                if required:
                    self.fail("missing", key)
                continue
            value = self.raw[key]
            if not isinstance(value, kind) or (kind is not bool and isinstance(value, bool)):
                expected = "table array" if key == "method" else "table" if kind is dict else kind.__name__
                self.fail(f"must be a {expected}, not {type(value).__name__}", key)
            if kind is list and key not in ("method", "test_new"):
                for v in value:
                    if not isinstance(v, str):
                        self.fail(f"must be a list of strings, not a list holding {v!r}", key)
            if key == "method" and not all(isinstance(m, dict) for m in value):
                self.fail("must be written as [[object.method]] tables", key)

    def name(self, pattern: re.Pattern, what: str, key: str = "name") -> str:
        value = self.raw[key]
        if not pattern.fullmatch(value):
            self.fail(f"{value!r} is not a valid {what}", key)
        return value

    def args(self, key: str, default: list | None = None) -> list[tuple[str, str]]:
        """An argument or field list "name: type", checked for form and repeats."""
        out = []
        for text in self.raw.get(key, default or []):
            m = re.fullmatch(r"\s*([A-Za-z_][A-Za-z0-9_]*)\s*:\s*(\S.*?)\s*", text)
            if not m:
                self.fail(f"{text!r} is not of the form \"name: type\"", key)
            name, t = m.group(1), m.group(2).replace(" ", "")
            if not ARG_NAME.fullmatch(name) or name in RESERVED:
                self.fail(f"{name!r} cannot name an argument or field", key)
            if any(name == n for n, _ in out):
                self.fail(f"{name!r} is declared twice", key)
            out.append((name, t))
        return out


class Interface:
    def __init__(self, files: list[pathlib.Path]):
        self.doc = ""
        self.records: dict[str, list[tuple[str, str]]] = {}
        self.field_docs: dict[str, dict[str, str]] = {}
        self.enums: dict[str, dict] = {}
        self.objects: list[dict] = []
        self.functions: list[dict] = []
        self.units: dict[str, dict] = {}
        self.entries: list[tuple[Entry, dict]] = []  # what the second pass checks
        types: dict[str, Entry] = {}
        namespace = None
        for path in files:
            data = self.read(path)
            unit = {"objects": [], "functions": []}
            self.units[path.stem] = unit
            for kind, raw in data.items():
                if kind == "namespace":
                    entry = Entry(path, "namespace", raw, 0)
                    if namespace is not None:
                        entry.fail(f"declared again (first in {namespace.path})")
                    namespace = entry
                    entry.check_keys("namespace")
                    if raw["name"] != MODULE:
                        entry.fail(f"must be {MODULE!r}", "name")
                    self.doc = raw["doc"]
                    continue
                for i, item in enumerate(raw):
                    entry = Entry(path, kind, item, i)
                    entry.check_keys(kind)
                    name = entry.name(TYPE_NAME if kind != "function" else ITEM_NAME,
                                      "function name" if kind == "function" else f"{kind} name (CamelCase)")
                    if kind == "function":
                        fn = {"name": name, "args": entry.args("args"), "returns": item.get("returns", "f64"),
                              "impl": item["impl"], **({"include": item["include"]} if "include" in item else {})}
                        self.functions.append(fn)
                        unit["functions"].append(fn)
                        self.entries.append((entry, fn))
                        continue
                    if name in types:
                        entry.fail(f"name already declared as {types[name].label} in {types[name].path}")
                    types[name] = entry
                    if kind == "record":
                        self.records[name] = entry.args("fields")
                        self.field_docs[name] = docs = item.get("field_docs", {})
                        for f, doc in docs.items():
                            if f not in dict(self.records[name]):
                                entry.fail(f"{f!r} is not a field of the record", "field_docs")
                            if not isinstance(doc, str):
                                entry.fail(f"the docstring of {f!r} must be a string", "field_docs")
                        self.entries.append((entry, {"name": name, "fields": self.records[name]}))
                    elif kind == "enum":
                        variants = item["variants"]
                        for v in variants:
                            if not re.fullmatch(r"[A-Za-z][A-Za-z0-9]*", v):
                                entry.fail(f"{v!r} is not a valid variant name", "variants")
                        if len(set(variants)) != len(variants) or not variants:
                            entry.fail("variants must be one or more distinct names", "variants")
                        self.enums[name] = item
                    else:
                        obj = resolve_object(entry)
                        self.objects.append(obj)
                        unit["objects"].append(obj)
                        self.entries.append((entry, obj))
        if namespace is None:
            raise DescriptionError(f"{files[0].parent if files else 'interface'}: no file declares [namespace]")
        self.check()

    @staticmethod
    def read(path: pathlib.Path) -> dict:
        try:
            data = tomllib.loads(path.read_text())
        except tomllib.TOMLDecodeError as e:
            raise DescriptionError(f"{path}: not valid TOML: {e}") from None
        for kind, value in data.items():
            if kind not in KEYS or kind == "method":
                raise DescriptionError(f"{path}: unknown table [{kind}] (known: namespace, record, enum, "
                                       f"object, function)")
            if (kind == "namespace") != isinstance(value, dict):
                form = "[namespace]" if kind == "namespace" else f"[[{kind}]]"
                raise DescriptionError(f"{path}: {kind} entries must be written as {form}")
        return data

    def check(self) -> None:
        """The second pass, once every type is known: types, the batch
        arguments against the constructor and `next`, test values, symbols."""
        symbols: dict[str, Entry] = {}
        for entry, item in self.entries:
            if entry.kind == "record":
                for f, t in item["fields"]:
                    self.check_type(entry, "fields", t, "field")
                continue
            if entry.kind == "function":
                for _, t in item["args"]:
                    self.check_type(entry, "args", t, "argument")
                self.check_type(entry, "returns", item["returns"], "result")
                own = [sym_func(item["name"])]
            else:
                own = self.check_object(entry, item)
            for s in own:
                if s in symbols:
                    entry.fail(f"its entry point {s} is already made for {symbols[s].label} in {symbols[s].path}")
                symbols[s] = entry

    def check_object(self, entry: Entry, obj: dict) -> list[str]:
        """Checks an object; returns the entry-point symbols it makes."""
        name = obj["name"]
        for n, t in obj["new"]:
            self.check_type(entry, "new", t, "argument")
            if not (in_register(t) or t in self.enums):
                entry.fail(f"constructor argument {n!r}: a constructor takes numbers, bools and enums only, "
                           f"not {t!r}", "new")
        methods = set()
        for m in obj["methods"]:
            key = "next" if m["name"] == "next" and not entry.raw.get("no_next") else "method"
            if m["name"] in methods:
                entry.fail(f"method {m['name']!r} is declared twice", key)
            methods.add(m["name"])
            for _, t in m["args"]:
                self.check_type(entry, key if key == "next" else "method", t, "argument")
            self.check_type(entry, "returns" if key == "next" else "method", m["returns"], "result")
        own = [sym_constructor(name, obj["constructor"]), sym_clone(name), sym_free(name)]
        own += [sym_method(name, m["name"]) for m in obj["methods"]]
        if "test_new" in entry.raw:
            self.check_test_values(entry, obj)
        if "batch_args" in entry.raw and "batch" not in entry.raw:
            entry.fail("given without `batch`", "batch_args")
        if "batch" not in entry.raw:
            return own
        fn = obj["batch_fn"]
        if entry.raw.get("no_next"):
            entry.fail("a batch function runs `next`, which this object does not have", "batch")
        if "batch_args" not in entry.raw:
            entry.fail("missing (the batch function's arguments)", "batch_args")
        inputs = obj["methods"][0]["args"]
        vectors = [(n, t) for n, t in fn["args"] if generic(t)]
        if len(vectors) != len(inputs):
            entry.fail(f"{len(vectors)} vector(s) for the {len(inputs)} input(s) of `next` "
                       f"({', '.join(n for n, _ in inputs)})", "batch_args")
        for (vn, vt), (inn, it) in zip(vectors, inputs):
            if vt != f"vec<{it}>":
                entry.fail(f"vector {vn!r} must be vec<{it}> to feed the `next` input {inn!r}", "batch_args")
        ctor = dict(obj["new"])
        given = {n: t for n, t in fn["args"] if not generic(t)}
        for n, t in given.items():
            if n not in ctor:
                entry.fail(f"scalar {n!r} names no constructor argument "
                           f"(new: {', '.join(ctor) or 'none'})", "batch_args")
            if ctor[n] != t:
                entry.fail(f"scalar {n!r} is {t}, the constructor argument is {ctor[n]}", "batch_args")
        missing = [n for n in ctor if n not in given]
        if missing:
            entry.fail(f"constructor argument(s) {', '.join(missing)} not given", "batch_args")
        element = obj["methods"][0]["returns"]
        if element in ("unit", "string"):
            entry.fail(f"`next` returning {element} has no batch form", "batch")
        if not ITEM_NAME.fullmatch(fn["name"]):
            entry.fail(f"{fn['name']!r} is not a valid function name", "batch")
        return own + [sym_func(fn["name"])]

    def check_test_values(self, entry: Entry, obj: dict) -> None:
        values = entry.raw["test_new"]
        if len(values) != len(obj["new"]):
            entry.fail(f"{len(values)} value(s) for {len(obj['new'])} constructor argument(s)", "test_new")
        for v, (n, t) in zip(values, obj["new"]):
            integral = isinstance(v, int) and not isinstance(v, bool)
            if t in self.enums:
                ok = integral and 1 <= v <= len(self.enums[t]["variants"])
            elif t in ("f64", "f32"):
                ok = isinstance(v, (int, float)) and not isinstance(v, bool)
            elif t == "bool":
                ok = isinstance(v, bool)
            else:
                ok = integral and (v >= 0 or t.startswith("i"))
            if not ok:
                entry.fail(f"{v!r} is no value of {n!r} ({t})", "test_new")

    def check_type(self, entry: Entry, key: str, t: str, role: str) -> None:
        """A type as an argument, a result, a record field, or (inner) an
        element of a vector or optional value."""
        inner = generic(t)
        if inner:
            self.check_type(entry, key, inner[1], "element")
            return
        if t == "unit":
            ok = role == "result"
        elif t == "string":
            ok = role in ("argument", "result")
        elif t in PRIMITIVES:
            ok = role in ("argument", "result") or t in SERIALIZED
        else:
            ok = t in self.records or t in self.enums
            if not ok:
                entry.fail(f"unknown type {t!r}", key)
        if not ok:
            where = {"element": "inside a vector or optional value",
                     "field": "as a record field"}.get(role, f"as {role}")
            entry.fail(f"type {t!r} cannot be used {where}", key)

    def all_functions(self):
        for obj in self.objects:
            if obj.get("batch"):
                yield obj["batch_fn"]
        yield from self.functions


def resolve_object(entry: Entry) -> dict:
    """An object with its defaults filled in: constructor `new`, `next` taking
    one f64 and returning f64, the shared docstring."""
    raw = entry.raw
    obj = dict(raw)
    obj.setdefault("doc", True)
    obj["constructor"] = entry.name(ITEM_NAME, "constructor name", "constructor") if "constructor" in raw else "new"
    obj["new"] = entry.args("new")
    next_method = {
        "name": "next",
        "args": entry.args("next", ["input: f64"]),
        "returns": raw.get("returns", "f64"),
        "call": "next",
    }
    if raw.get("no_next") and ("next" in raw or "returns" in raw):
        entry.fail("given with no_next = true", "next" if "next" in raw else "returns")
    methods = [] if raw.get("no_next") else [next_method]
    for i, m in enumerate(raw.get("method", [])):
        method = Entry(entry.path, "method", m, i)
        method.label = f"{entry.label}, {method.label}"
        method.check_keys("method")
        methods.append({
            "name": method.name(ITEM_NAME, "method name"),
            "args": method.args("args"),
            "returns": m.get("returns", "unit"),
            "call": method.name(re.compile(r"[A-Za-z_][A-Za-z0-9_]*"), "C++ member name", "call")
            if "call" in m else m["name"],
        })
    obj["methods"] = methods
    if raw.get("batch"):
        obj["batch_fn"] = {
            "name": raw["batch"],
            "args": entry.args("batch_args"),
            "returns": f"vec<{next_method['returns']}>",
            "object": obj["name"],
        }
    return obj


