#!/usr/bin/env python3
"""Generate the C boundary of lumenfold from the interface description.

Reads every binding/interface/*.toml (in name order) and writes into the build
tree: one C++ source of entry points per description file, the metadata blobs
with their checksum functions, the record codecs, and interface.json (the same
description, resolved, for the contract tests and the benchmarks). With
--docs, it writes docs.json instead: the help text of every exported item,
from the core headers' comments and the description (see describe.py).
"""

from __future__ import annotations

import argparse
import json
import keyword
import pathlib
import re
import sys
import tomllib

MODULE = "lumenfold_python"
PRIMITIVES = {
    # name: (metadata type code, C register type, codec)
    "u8": (0, "std::uint8_t", "U8"),
    "u16": (1, "std::uint16_t", None),
    "u32": (2, "std::uint32_t", "U32"),
    "u64": (3, "std::uint64_t", "U64"),
    "i8": (4, "std::int8_t", "I8"),
    "i16": (5, "std::int16_t", None),
    "i32": (6, "std::int32_t", "I32"),
    "i64": (7, "std::int64_t", "I64"),
    "f32": (8, "float", None),
    "f64": (9, "double", "F64"),
    "bool": (10, "std::int8_t", "Bool"),
    "string": (11, None, None),
}


# ---------------------------------------------------------------- names

def names(item: str) -> dict:
    """Every spelling of an exported name: as declared, in symbols, in blobs."""
    return {"name": item, "sym": item.lower(), "meta": item.upper()}


def sym_constructor(obj: str, ctor: str) -> str:
    return f"uniffi_{MODULE}_fn_constructor_{names(obj)['sym']}_{ctor}"


def sym_method(obj: str, method: str) -> str:
    return f"uniffi_{MODULE}_fn_method_{names(obj)['sym']}_{method}"


def sym_func(func: str) -> str:
    return f"uniffi_{MODULE}_fn_func_{func}"


def sym_clone(obj: str) -> str:
    return f"uniffi_{MODULE}_fn_clone_{names(obj)['sym']}"


def sym_free(obj: str) -> str:
    return f"uniffi_{MODULE}_fn_free_{names(obj)['sym']}"


def checksum_symbol(fn_symbol: str) -> str:
    return fn_symbol.replace(f"uniffi_{MODULE}_fn_", f"uniffi_{MODULE}_checksum_", 1)


def meta_symbol(kind: str, *parts: str) -> str:
    if kind == "NAMESPACE":
        return f"UNIFFI_META_NAMESPACE_{MODULE.upper()}"
    return f"UNIFFI_META_{MODULE.upper()}_{kind}_" + "_".join(names(p)["meta"] for p in parts)


# ---------------------------------------------------------------- types

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
# Element kinds a buffer can carry (the rest pass in registers only).
SERIALIZED = {t for t, (_, _, codec) in PRIMITIVES.items() if codec}


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
            for s in own + [checksum_symbol(s) for s in own if s.startswith(f"uniffi_{MODULE}_fn_")]:
                if s in symbols:
                    entry.fail(f"its entry point {s} is already made for {symbols[s].label} in {symbols[s].path}")
                symbols[s] = entry

    def check_object(self, entry: Entry, obj: dict) -> list[str]:
        """Checks an object; returns the entry-point symbols it makes."""
        name = obj["name"]
        for n, t in obj["new"]:
            self.check_type(entry, "new", t, "argument")
            if not (self.in_register(t) or t in self.enums):
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

    # Metadata type encoding.
    def type_code(self, t: str) -> bytes:
        if t == "unit":
            return bytes([255])
        if t in PRIMITIVES:
            return bytes([PRIMITIVES[t][0]])
        inner = generic(t)
        if inner:
            kind, arg = inner
            return bytes([17 if kind == "vec" else 12]) + self.type_code(arg)
        if t in self.records:
            return bytes([13]) + mstr(MODULE) + mstr(t)
        if t in self.enums:
            return bytes([14]) + mstr(MODULE) + mstr(t)
        if any(o["name"] == t for o in self.objects):
            return bytes([16]) + mstr(MODULE) + mstr(t)
        raise DescriptionError(f"unknown type {t!r}")

    # C++ codec of a serialized type.
    def codec(self, t: str) -> str:
        inner = generic(t)
        if inner:
            kind, arg = inner
            return f"{'Vec' if kind == 'vec' else 'Opt'}<{self.codec(arg)}>"
        if t in PRIMITIVES and PRIMITIVES[t][2]:
            return PRIMITIVES[t][2]
        if t in self.records or t in self.enums:
            return f"rec::{t}"
        raise DescriptionError(f"type {t!r} cannot be serialized")

    def in_register(self, t: str) -> bool:
        return t in PRIMITIVES and t != "string"

    def c_type(self, t: str) -> str:
        if t == "unit":
            return "void"
        return PRIMITIVES[t][1] if self.in_register(t) else "RustBuffer"


def generic(t: str):
    m = re.fullmatch(r"(vec|opt)<(.+)>", t)
    return (m.group(1), m.group(2)) if m else None


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


# ---------------------------------------------------------------- metadata blobs

def mstr(s: str) -> bytes:
    b = s.encode()
    assert len(b) < 256, s
    return bytes([len(b)]) + b


def mdoc(s: str) -> bytes:
    b = s.encode()
    return len(b).to_bytes(2, "little") + b


def blob_callable(iface: Interface, args, returns: str) -> bytes:
    out = bytes([0, len(args)])  # is-async, argument count
    for name, t in args:
        out += mstr(name) + iface.type_code(t) + bytes([0])
    return out + iface.type_code(returns) + mdoc("")


class Blobs:
    """Metadata blobs in symbol order, plus the checksum entry points."""

    def __init__(self):
        self.items: list[tuple[str, bytes, str | None]] = []

    def add(self, symbol: str, blob: bytes, checksum_fn: str | None = None):
        self.items.append((symbol, blob, checksum_fn))


def object_blobs(iface: Interface, obj: dict) -> Blobs:
    b = Blobs()
    name = obj["name"]
    b.add(meta_symbol("INTERFACE", name),
          bytes([4]) + mstr(MODULE) + mstr(name) + mdoc(iface.doc if obj["doc"] else ""))
    ctor = obj["constructor"]
    b.add(meta_symbol("CONSTRUCTOR", name, ctor),
          bytes([7]) + mstr(MODULE) + mstr(name) + mstr(ctor) + blob_callable(iface, obj["new"], name),
          checksum_symbol(sym_constructor(name, ctor)))
    for m in obj["methods"]:
        b.add(meta_symbol("METHOD", name, m["name"]),
              bytes([1]) + mstr(MODULE) + mstr(name) + mstr(m["name"])
              + blob_callable(iface, m["args"], m["returns"]),
              checksum_symbol(sym_method(name, m["name"])))
    return b


def function_blob(iface: Interface, fn: dict) -> tuple[str, bytes, str]:
    return (meta_symbol("FUNC", fn["name"]),
            bytes([0]) + mstr(MODULE) + mstr(fn["name"]) + blob_callable(iface, fn["args"], fn["returns"]),
            checksum_symbol(sym_func(fn["name"])))


def shared_blobs(iface: Interface) -> Blobs:
    b = Blobs()
    b.add(meta_symbol("NAMESPACE"), bytes([6]) + mstr(MODULE) + mstr(MODULE))
    for name, fields in iface.records.items():
        blob = bytes([2]) + mstr(MODULE) + mstr(name) + bytes([len(fields)])
        docs = iface.field_docs[name]
        for fname, t in fields:
            blob += mstr(fname) + iface.type_code(t) + bytes([0]) + mdoc(docs.get(fname, ""))
        b.add(meta_symbol("RECORD", name), blob + mdoc(""))
    for name, en in iface.enums.items():
        blob = bytes([3]) + mstr(MODULE) + mstr(name) + bytes([0, 0, len(en["variants"])])
        for v in en["variants"]:
            blob += mstr(v) + bytes([0, 0]) + mdoc("")
        b.add(meta_symbol("ENUM", name), blob + bytes([0]) + mdoc(""))
    return b


def emit_blobs(blobs: Blobs) -> str:
    out = []
    for symbol, blob, checksum_fn in blobs.items:
        body = ", ".join(str(x) for x in blob)
        out.append(f'extern "C" {{ LF_EXPORT_DATA extern constexpr unsigned char {symbol}[{len(blob)}] = {{{body}}}; }}')
        if checksum_fn:
            out.append(f"LF_EXPORT std::uint16_t {checksum_fn}() {{ "
                       f"constexpr std::uint16_t v = checksum({symbol}); return v; }}")
    return "\n".join(out) + "\n"


# ---------------------------------------------------------------- entry-point shims

def c_params(iface: Interface, args) -> list[str]:
    return [f"{iface.c_type(t)} {name}" for name, t in args]


def lift_lines(iface: Interface, args, views: bool = False) -> tuple[list[str], dict[str, str]]:
    """Code that lifts the arguments; returns (lines, name -> C++ expression).
    With `views`, vectors of f64 are read in place instead of copied."""
    lines, exprs = [], {}
    buffers = [n for n, t in args if not iface.in_register(t)]
    if buffers:
        ptrs = ", ".join(f"&{n}" for n in buffers)
        lines.append(f"ArgBuffers<{len(buffers)}> args_({ptrs});")
    for name, t in args:
        if views and t == "vec<f64>":
            lines.append(f'const F64View a_{name} = args_.view("{name}");')
            exprs[name] = f"a_{name}"
        elif t == "string":
            lines.append(f"auto a_{name} = args_.lift_string();")
            exprs[name] = f"std::move(a_{name})"
        elif not iface.in_register(t):
            lines.append(f'auto a_{name} = args_.lift<{iface.codec(t)}>("{name}");')
            exprs[name] = f"a_{name}"
        elif t == "bool":
            lines.append(f'const bool a_{name} = lift_bool_arg({name}, "{name}");')
            exprs[name] = f"a_{name}"
        else:
            exprs[name] = name
    return lines, exprs


def return_expr(iface: Interface, t: str, expr: str) -> str:
    if t == "unit":
        return f"{expr};"
    if t == "bool":
        return f"return static_cast<std::int8_t>({expr} ? 1 : 0);"
    if iface.in_register(t):
        return f"return static_cast<{iface.c_type(t)}>({expr});"
    if t == "string":
        return f"return lower_string({expr});"
    return f"return lower<{iface.codec(t)}>({expr});"


# Declarations of every generated entry point, for entry_points.h.
DECLARATIONS: list[str] = []


def declare(ret_c: str, symbol: str, params: list[str]) -> None:
    DECLARATIONS.append(f"{ret_c} {symbol}({', '.join(params)});")


def shim(ret_c: str, symbol: str, params: list[str], body: list[str]) -> str:
    params = params + ["RustCallStatus* status"]
    declare(ret_c, symbol, params)
    inner = "\n".join("        " + line for line in body)
    return (f"LF_EXPORT {ret_c} {symbol}({', '.join(params)}) {{\n"
            f"    return call_with_status<{ret_c}>(status, [&]() -> {ret_c} {{\n{inner}\n    }});\n}}\n")


def object_shims(iface: Interface, obj: dict) -> str:
    name, core = obj["name"], obj["core"]
    out = [f"// ---- {name}"]
    lines, exprs = lift_lines(iface, obj["new"])
    # The object carries its exported name, for the message of a call made
    # on it through another type's method.
    ctor_args = ", ".join([f'"{name}"'] + [exprs[n] for n, _ in obj["new"]])
    out.append(shim("std::uint64_t", sym_constructor(name, obj["constructor"]), c_params(iface, obj["new"]),
                    lines + [f"return make_object<{core}>({ctor_args});"]))
    for m in obj["methods"]:
        lines, exprs = lift_lines(iface, m["args"])
        call_args = ", ".join(exprs[n] for n, _ in m["args"])
        lock = f"with_locked(consumed_, [&]({core}& c) {{ return c.{m['call']}({call_args}); }})"
        label = f'"{name}.{m["name"]}"'
        body = [f"ConsumedHandle<{core}> consumed_{{handle, {label}}};"] + lines + [return_expr(iface, m["returns"], lock)]
        out.append(shim(iface.c_type(m["returns"]), sym_method(name, m["name"]),
                        ["std::uint64_t handle"] + c_params(iface, m["args"]), body))
    declare("std::uint64_t", sym_clone(name), ["std::uint64_t handle", "RustCallStatus*"])
    declare("void", sym_free(name), ["std::uint64_t handle", "RustCallStatus*"])
    # Clone and free are the same for every type: the object's own type
    # destroys it.
    out.append(f"LF_EXPORT std::uint64_t {sym_clone(name)}(std::uint64_t handle, RustCallStatus*) {{\n"
               f"    return clone_handle(handle);\n}}\n")
    out.append(f"LF_EXPORT void {sym_free(name)}(std::uint64_t handle, RustCallStatus*) {{\n"
               f"    release_handle(handle);\n}}\n")
    if obj.get("batch"):
        fn = obj["batch_fn"]
        # Series are read in place from their buffers, never copied.
        lines, exprs = lift_lines(iface, fn["args"], views=True)
        vectors = [exprs[n] for n, t in fn["args"] if generic(t)]
        ctor = ", ".join(exprs[n] for n, _ in obj["new"])
        element = iface.codec(generic(fn["returns"])[1])
        body = lines + [f"return run_lowered<{element}>({core}{{{ctor}}}, {', '.join(vectors)});"]
        out.append(shim("RustBuffer", sym_func(fn["name"]), c_params(iface, fn["args"]), body))
    return "\n".join(out)


def function_shim(iface: Interface, fn: dict) -> str:
    lines, exprs = lift_lines(iface, fn["args"])
    call = f"{fn['impl']}({', '.join(exprs[n] for n, _ in fn['args'])})"
    return shim(iface.c_type(fn["returns"]), sym_func(fn["name"]), c_params(iface, fn["args"]),
                lines + [return_expr(iface, fn["returns"], call)])


PRELUDE = """// Generated by binding/generate.py from binding/interface; do not edit.
#include "runtime/batch.hpp"
#include "runtime/metadata.hpp"
#include "runtime/object.hpp"
#include "records.hpp"
{includes}
using namespace lumenfold::ffi;
"""


def unit_source(iface: Interface, unit: dict) -> str:
    headers = sorted({o["include"] for o in unit["objects"] if "include" in o}
                     | {f["include"] for f in unit["functions"] if "include" in f})
    parts = [PRELUDE.format(includes="\n".join(f'#include "{h}"' for h in headers))]
    blobs = Blobs()
    for obj in unit["objects"]:
        parts.append(object_shims(iface, obj))
        blobs.items += object_blobs(iface, obj).items
        if obj.get("batch"):
            blobs.add(*function_blob(iface, obj["batch_fn"]))
    for fn in unit["functions"]:
        parts.append(function_shim(iface, fn))
        blobs.add(*function_blob(iface, fn))
    parts.append(emit_blobs(blobs))
    return "\n".join(parts)


def records_header(iface: Interface) -> str:
    out = ["// Generated by binding/generate.py: codecs of the records and enums; do not edit.",
           "#pragma once", "#include <cstddef>", "#include <type_traits>", '#include "runtime/serialize.hpp"']
    out += [f'#include "{en["include"]}"' for en in iface.enums.values() if "include" in en]
    out.append("namespace lumenfold::ffi::rec {")
    for name, fields in iface.records.items():
        # Declare all first so nested records may refer to each other.
        out.append(f"struct {name};")
    for name, en in iface.enums.items():
        core = en.get("core", f"std::int32_t")
        out.append(f"inline constexpr char k{name}Name[] = \"{name}\";")
        out.append(f"struct {name} : Enum<{core}, {len(en['variants'])}, k{name}Name> {{}};")
    for name in record_order(iface):
        fields = iface.records[name]
        writes = " ".join(f"{iface.codec(t)}::write(w, v.{f});" for f, t in fields)
        # Records of fixed-size scalars say how many bytes they take (and records
        # of doubles only how many doubles): batch forms write them directly.
        sizes = [FIXED_BYTES.get(t) for _, t in fields]
        fixed = (f" static constexpr std::size_t kBytes = {sum(sizes)};" if all(sizes) else "")
        if all(t == "f64" for _, t in fields):
            fixed += f" static constexpr std::size_t kDoubles = {len(fields)};"
            # Whether a core type holds exactly these doubles in this order.
            offsets = " && ".join(f"offsetof(T, {f}) == {8 * i}" for i, (f, _) in enumerate(fields))
            fixed += (f" template <class T> static constexpr bool native_layout() {{ return std::is_standard_layout_v<T>"
                      f" && sizeof(T) == {8 * len(fields)} && {offsets}; }}")
        if all(sizes):
            puts = " ".join(f"at = {iface.codec(t)}::put_at(at, v.{f});" for f, t in fields)
            fixed += (f" template <class T> static std::uint8_t* put_at(std::uint8_t* at, const T& v) noexcept"
                      f" {{ {puts} return at; }}")
        out.append(f"struct {name} {{{fixed} template <class T> static void write(Writer& w, const T& v) {{ {writes} }} }};")
    out.append("}  // namespace lumenfold::ffi::rec")
    return "\n".join(out) + "\n"


def record_order(iface: Interface) -> list[str]:
    """Records with the ones they nest first."""
    order: list[str] = []

    def visit(name: str) -> None:
        if name in order:
            return
        for _, t in iface.records[name]:
            while generic(t):
                t = generic(t)[1]
            if t in iface.records:
                visit(t)
        order.append(name)

    for name in iface.records:
        visit(name)
    return order


def interface_json(iface: Interface) -> dict:
    def obj_json(o):
        return {
            "name": o["name"], "sym": names(o["name"])["sym"], "constructor": o["constructor"],
            "new": o["new"], "methods": [{k: m[k] for k in ("name", "args", "returns")} for m in o["methods"]],
            "batch": ({"name": o["batch_fn"]["name"], "args": o["batch_fn"]["args"]} if o.get("batch") else None),
            "test_new": contract_raw(iface, o), "core": o["core"], "include": o.get("include"),
        }
    return {
        "records": iface.records,
        "enums": {k: v["variants"] for k, v in iface.enums.items()},
        "objects": [obj_json(o) for o in iface.objects],
        "functions": [{"name": f["name"], "args": f["args"], "returns": f["returns"]} for f in iface.functions],
    }


CPP_FIELD = {"f64": "double", "u64": "std::uint64_t", "i64": "std::int64_t", "u32": "std::uint32_t",
             "i32": "std::int32_t", "u8": "std::uint8_t", "i8": "std::int8_t", "bool": "bool"}
FIXED_BYTES = {"f64": 8, "u64": 8, "i64": 8, "u32": 4, "i32": 4, "u8": 1, "i8": 1, "bool": 1}
PACK = {"f64": ">d", "u64": ">Q", "i64": ">q", "u32": ">I", "i32": ">i", "u8": ">B", "i8": ">b", "bool": ">?"}


def record_cases(iface: Interface) -> str:
    """Test cases for the record codecs: a sample value of every record as a
    plain struct, with the bytes this independent encoder expects for it."""
    import struct

    def sample(t: str, i: int):
        inner = generic(t)
        if inner and inner[0] == "opt":
            return sample(inner[1], i) if i % 2 == 0 else None
        if inner:
            return [sample(inner[1], i), sample(inner[1], i + 1)]
        if t in iface.records:
            return [sample(ft, i + k) for k, (_, ft) in enumerate(iface.records[t])]
        if t in iface.enums:
            return 1 + i % len(iface.enums[t]["variants"])
        return {"f64": i + 0.5, "u64": i + 1, "i64": -(i + 1), "u32": i + 1, "i32": -(i + 1), "u8": i + 1,
                "i8": -(i + 1), "bool": i % 2 == 0}[t]

    def encode(t: str, v) -> bytes:
        inner = generic(t)
        if inner and inner[0] == "opt":
            return b"\0" if v is None else b"\1" + encode(inner[1], v)
        if inner:
            return struct.pack(">i", len(v)) + b"".join(encode(inner[1], e) for e in v)
        if t in iface.records:
            return b"".join(encode(ft, fv) for (_, ft), fv in zip(iface.records[t], v))
        return struct.pack(">i" if t in iface.enums else PACK[t], v)

    def cpp_type(t: str) -> str:
        inner = generic(t)
        if inner:
            return f"std::{'optional' if inner[0] == 'opt' else 'vector'}<{cpp_type(inner[1])}>"
        if t in iface.enums:
            return iface.enums[t].get("core", "std::int32_t")
        return f"S_{t}" if t in iface.records else CPP_FIELD[t]

    def cpp_value(t: str, v) -> str:
        inner = generic(t)
        if inner and inner[0] == "opt":
            return "std::nullopt" if v is None else cpp_value(inner[1], v)
        if inner:
            return cpp_type(t) + "{" + ", ".join(cpp_value(inner[1], e) for e in v) + "}"
        if t in iface.enums:
            return f"static_cast<{cpp_type(t)}>({v})"
        if t in iface.records:
            return f"S_{t}{{" + ", ".join(cpp_value(ft, fv) for (_, ft), fv in zip(iface.records[t], v)) + "}"
        return ("true" if v else "false") if t == "bool" else repr(v)

    out = ["// Generated by binding/generate.py: record codec cases; do not edit."]
    for name in record_order(iface):
        fields = "; ".join(f"{cpp_type(t)} {f}" for f, t in iface.records[name])
        out.append(f"struct S_{name} {{ {fields}; }};")
    out.append("inline const std::vector<RecordCase> kRecordCases = {")
    for name in iface.records:
        v = sample(name, 1)
        expected = ", ".join(str(b) for b in encode(name, v))
        out.append(f'    {{"{name}", [] {{ return lower<rec::{name}>({cpp_value(name, v)}); }}, {{{expected}}}}},')
    out.append("};")
    return "\n".join(out) + "\n"


def batch_bench_args(iface: Interface, obj: dict) -> list[tuple]:
    """The arguments of an object's batch function as the benchmarks pass
    them, in declared order: ("flags", name, per-bar expression), ("column",
    name, column of the bars), ("enum", name, variant number) or ("scalar",
    name, C type, contract value as C++, contract value)."""
    fn = obj["batch_fn"]
    inputs = [bench_input(n, t) for n, t in obj["methods"][0]["args"]] if obj["methods"] else []
    by_name = dict(zip([n for n, _ in obj["new"]], contract_values(iface, obj)))
    raw_by_name = dict(zip([n for n, _ in obj["new"]], contract_raw(iface, obj)))
    cols = iter(inputs)
    out = []
    for n, t in fn["args"]:
        if t == "vec<bool>":
            out.append(("flags", n, next(cols)))
        elif generic(t):
            out.append(("column", n, next(cols).replace("[i]", "")))
        elif t in iface.enums:
            out.append(("enum", n, int(raw_by_name[n])))
        else:
            out.append(("scalar", n, iface.c_type(t), by_name[n], raw_by_name[n]))
    return out


def bench_cases(iface: Interface) -> str:
    """Benchmarks of every object: its core stepped over the bars, and its
    batch function called through the C boundary."""
    out = ["// Generated by binding/generate.py: benchmark registrations; do not edit."]
    out += sorted({f'#include "{o["include"]}"' for o in iface.objects if "include" in o})

    for obj in iface.objects:
        values = contract_values(iface, obj)
        ctor = ", ".join(values)
        inputs = [bench_input(n, t) for n, t in obj["methods"][0]["args"]] if obj["methods"] else []
        name = obj["name"]
        if obj["methods"] and obj["methods"][0]["name"] == "next":
            out.append(f"static void BM_core_{name}(benchmark::State& state) {{\n"
                       f"    const Bars& b = bars();\n"
                       f"    for (auto _ : state) {{\n"
                       f"        {obj['core']} core{{{ctor}}};\n"
                       f"        for (std::size_t i = 0; i < b.n; ++i) benchmark::DoNotOptimize(core.next({', '.join(inputs)}));\n"
                       f"    }}\n"
                       f"    state.SetItemsProcessed(state.iterations() * b.n);\n}}\n"
                       f"BENCHMARK(BM_core_{name})->Unit(benchmark::kMillisecond);")
        if obj.get("batch"):
            # Through the C boundary as a host calls it: every vector copied in
            # with from_bytes, the call, the result freed; the scalars are the
            # benchmark's parameters, registered here with the contract values.
            fn = obj["batch_fn"]
            params, args, prep, copies, registered = [], [], [], [], []
            for kind, n, *rest in batch_bench_args(iface, obj):
                if kind == "flags":
                    # A flag column, encoded once from its per-bar expression.
                    prep.append(f"    Bytes in_{n};\n"
                                f"    {{\n        Writer w;\n        w.count(b.n);\n"
                                f"        for (std::size_t i = 0; i < b.n; ++i) w.boolean({rest[0]});\n"
                                f"        in_{n}.assign(w.data(), w.data() + w.size());\n    }}\n")
                    copies.append(f"        RustBuffer buf_{n} = copy_in(in_{n});\n")
                    args.append(f"buf_{n}")
                elif kind == "column":
                    prep.append(f"    const Bytes& in_{n} = serialized({rest[0]});\n")
                    copies.append(f"        RustBuffer buf_{n} = copy_in(in_{n});\n")
                    args.append(f"buf_{n}")
                elif kind == "enum":
                    # An enum travels as its variant number in a buffer.
                    copies.append(f"        RustBuffer buf_{n} = [] {{ Writer w; w.i32({rest[0]}); "
                                  f"return w.release(); }}();\n")
                    args.append(f"buf_{n}")
                else:
                    params.append(f"{rest[0]} {n}")
                    args.append(n)
                    registered.append(rest[1])
            # The memcpy baseline copies one input: a series of doubles where there is one.
            vectors = [n for n, t in fn["args"] if generic(t)]
            first = f"in_{next((n for n, t in fn['args'] if t == 'vec<f64>'), vectors[0])}"
            bm = f"BM_ffi_{fn['name']}"
            register = (f"BENCHMARK_CAPTURE({', '.join([bm, 'contract'] + registered)})" if registered
                        else f"BENCHMARK({bm})")
            out.append(f"static void BM_ffi_{fn['name']}({', '.join(['benchmark::State& state'] + params)}) {{\n"
                       f"    const Bars& b = bars(state);\n"
                       + "".join(prep) +
                       f"    measure_batch(state, b.n, {first}, batch_key({', '.join([chr(34) + fn['name'] + chr(34)] + [p.split()[-1] for p in params])}), [&] {{\n"
                       + "".join(copies) +
                       f"        RustCallStatus st{{0, {{0, 0, nullptr}}}};\n"
                       f"        release_result({sym_func(fn['name'])}({', '.join(args + ['&st'])}), st);\n"
                       f"    }});\n}}\n"
                       f"{register}->Apply(on_every_series)->Unit(benchmark::kMillisecond);")
    return "\n".join(out) + "\n"


def core_classes(iface: Interface) -> str:
    """Every object's core class that steps with `next`, made with the contract
    values, and the C++ element type of each `next` input: the core tests check
    that lumenfold::core::batch takes each of them."""
    inputs = {"f64": "double", "bool": "bool"}
    out = ["// Generated by binding/generate.py: the core classes of the objects; do not edit."]
    out += sorted({f'#include "{o["include"]}"' for o in iface.objects if "include" in o})
    out.append("inline const std::vector<CoreClass> kCoreClasses = {")
    for obj in iface.objects:
        if not obj["methods"] or obj["methods"][0]["name"] != "next":
            continue
        types = ", ".join(inputs[t] for _, t in obj["methods"][0]["args"])
        ctor = ", ".join(contract_values(iface, obj))
        out.append(f'    core_class<{types}>("{obj["name"]}", [] {{ return {obj["core"]}{{{ctor}}}; }}),')
    out.append("};")
    return "\n".join(out) + "\n"


def ab_cases(iface: Interface) -> str:
    """The batch functions of the A/B benchmark (bench/ab_ffi.cpp): per
    function ab_<name>(fn, a, status, scalars...), which calls the entry point
    at fn as a host does (every vector copied in through a's library), and its
    symbol ab_<name>_symbol; then kAbCases, each function with the contract
    values, named as the benchmarks name it."""
    out = ["// Generated by binding/generate.py: the A/B benchmark's batch functions; do not edit.",
           f"inline bool ab_flag(std::size_t i) {{ return {bench_input('flag', 'bool')}; }}"]
    cases = []
    for obj in iface.objects:
        if not obj.get("batch"):
            continue
        fn = obj["batch_fn"]
        sym = sym_func(fn["name"])
        params, args, values, shown = [], [], [], []
        for kind, n, *rest in batch_bench_args(iface, obj):
            if kind in ("flags", "column"):
                args.append(f"a.in(a.{'flags' if kind == 'flags' else rest[0].removeprefix('b.')})")
            elif kind == "enum":
                args.append(f"a.variant({rest[0]})")
            else:
                params.append(f"{rest[0]} {n}")
                args.append(n)
                values.append(rest[1])
                shown.append(f"{rest[2]:.6f}" if isinstance(rest[2], float) else str(int(rest[2])))
        out.append(f"inline constexpr const char* ab_{fn['name']}_symbol = \"{sym}\";\n"
                   f"inline RustBuffer ab_{fn['name']}({', '.join(['void* fn', 'const AbArgs& a', 'RustCallStatus* st'] + params)}) {{\n"
                   f"    return reinterpret_cast<decltype(&{sym})>(fn)({', '.join(args + ['st'])});\n}}")
        key = fn["name"] + (f"({', '.join(shown)})" if shown else "")
        cases.append(f"    {{\"{key}\", ab_{fn['name']}_symbol, [](void* fn, const AbArgs& a, RustCallStatus* st) "
                     f"{{ return ab_{fn['name']}({', '.join(['fn', 'a', 'st'] + values)}); }}}},")
    out.append("inline const AbCase kAbCases[] = {\n" + "\n".join(cases) + "\n};")
    return "\n".join(out) + "\n"


def contract_raw(iface: Interface, obj: dict) -> list:
    """Constructor values of the contract tests and benchmarks: `test_new`, else
    u64 parameters 5, 9, 13, ..., factors 0.5 and the first enum variant."""
    if obj.get("test_new") is not None:
        raw = list(obj["test_new"])
    else:
        raw, k = [], 0
        for _, t in obj["new"]:
            if t in ("f64", "f32"):
                raw.append(0.5)
            elif t in iface.enums:
                raw.append(1)
            else:
                raw.append(5 + 4 * k)
                k += 1
    return raw


def contract_values(iface: Interface, obj: dict) -> list[str]:
    """The contract values as C++ constructor arguments."""
    raw = contract_raw(iface, obj)
    out = []
    for v, (_, t) in zip(raw, obj["new"]):
        if t in iface.enums:
            out.append(f"static_cast<{iface.enums[t]['core']}>({v})")
        elif t in ("f64", "f32"):
            out.append(repr(float(v)))
        else:
            out.append(f"{v}ull" if t == "u64" else str(v))
    return out


def bench_input(name: str, t: str) -> str:
    if t == "bool":
        return "(i % 7 == 0)"
    return f"b.{name}[i]" if name in ("open", "high", "low", "close", "volume") else "b.close[i]"


def write_if_changed(path: pathlib.Path, text: str) -> None:
    if not path.exists() or path.read_text() != text:
        path.write_text(text)


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--interface", required=True, type=pathlib.Path)
    ap.add_argument("--out", required=True, type=pathlib.Path)
    ap.add_argument("--list-sources", action="store_true", help="print the sources it would write")
    ap.add_argument("--sources-of", nargs="+", metavar="OBJECT",
                    help="print the generated sources that hold these objects' entry points")
    ap.add_argument("--docs", type=pathlib.Path, metavar="INCLUDE_DIR",
                    help="write only docs.json, reading the core headers under INCLUDE_DIR")
    a = ap.parse_args()
    files = sorted(a.interface.glob("*.toml"))
    sources = [a.out / "exports_shared.cpp"] + [a.out / f"exports_{f.stem}.cpp" for f in files]
    if a.list_sources:
        print(";".join(str(s) for s in sources))
        return
    try:
        iface = Interface(files)
    except DescriptionError as e:
        sys.exit(f"generate.py: {e}")
    if a.sources_of:
        held = {}
        for stem, unit in iface.units.items():
            for obj in unit["objects"]:
                held[obj["name"]] = a.out / f"exports_{stem}.cpp"
        missing = [o for o in a.sources_of if o not in held]
        if missing:
            sys.exit(f"generate.py: no object named {', '.join(missing)}")
        print(";".join(sorted({str(held[o]) for o in a.sources_of})))
        return
    a.out.mkdir(parents=True, exist_ok=True)
    if a.docs:
        import describe
        try:
            texts = describe.docs(iface, a.docs)
        except describe.MissingDescription as e:
            sys.exit(f"generate.py: {e}")
        # Written every time: the build reruns this only when a source changed.
        (a.out / "docs.json").write_text(json.dumps(texts, indent=1, ensure_ascii=False))
        return
    write_if_changed(a.out / "records.hpp", records_header(iface))
    write_if_changed(a.out / "exports_shared.cpp", PRELUDE.format(includes="") + emit_blobs(shared_blobs(iface)))
    for f in files:
        write_if_changed(a.out / f"exports_{f.stem}.cpp", unit_source(iface, iface.units[f.stem]))
    write_if_changed(a.out / "entry_points.h",
                     "// Generated by binding/generate.py: the generated entry points; do not edit.\n"
                     "#pragma once\n#include \"runtime/exports.h\"\nextern \"C\" {\n"
                     + "\n".join(DECLARATIONS) + "\n}\n")
    write_if_changed(a.out / "record_cases.inc", record_cases(iface))
    write_if_changed(a.out / "bench_cases.inc", bench_cases(iface))
    write_if_changed(a.out / "ab_cases.inc", ab_cases(iface))
    write_if_changed(a.out / "core_classes.inc", core_classes(iface))
    write_if_changed(a.out / "interface.json", json.dumps(interface_json(iface), indent=1))


if __name__ == "__main__":
    main()
