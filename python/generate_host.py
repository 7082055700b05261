#!/usr/bin/env python3
"""Generate the Python host module of lumenfold from a built library.

Reads the UNIFFI_META_* metadata blobs out of the shared library's dynamic
symbol table, parses them, and writes <out>/lumenfold_python/__init__.py plus a
copy of the library beside it. The module checks the contract version and
every checksum when it is imported.

With --docs, the help texts binding/generate.py extracted (docs.json) are
baked into the docstrings: each after the docstring the metadata carries.

usage: generate_host.py LIBRARY OUT_DIR [--docs DOCS_JSON]
"""

from __future__ import annotations

import argparse
import json
import pathlib
import shutil
import struct
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "binding"))
from generator.metadata import parse  # noqa: E402
from generator.symbols import FN, MODULE, sym_clone, sym_constructor, sym_free, sym_func, sym_method  # noqa: E402
from generator.types import PRIMITIVES  # noqa: E402

CONTRACT_VERSION = 30


# ---------------------------------------------------------------- ELF

def elf_symbols(path: pathlib.Path, prefix: str) -> dict[str, bytes]:
    """The bytes of every defined dynamic data symbol whose name starts with prefix."""
    data = path.read_bytes()
    if data[:4] != b"\x7fELF" or data[4] != 2:
        sys.exit(f"{path}: not a 64-bit ELF file")
    end = "<" if data[5] == 1 else ">"
    shoff, = struct.unpack_from(end + "Q", data, 0x28)
    shentsize, shnum = struct.unpack_from(end + "HH", data, 0x3A)
    sections = []
    for i in range(shnum):
        (name, stype, flags, addr, offset, size, link, info, align, entsize) = struct.unpack_from(
            end + "IIQQQQIIQQ", data, shoff + i * shentsize)
        sections.append({"type": stype, "addr": addr, "offset": offset, "size": size, "link": link,
                         "entsize": entsize})
    out = {}
    for sec in sections:
        if sec["type"] != 11:  # SHT_DYNSYM
            continue
        strtab = sections[sec["link"]]
        for k in range(sec["size"] // sec["entsize"]):
            st_name, st_info, st_other, st_shndx, st_value, st_size = struct.unpack_from(
                end + "IBBHQQ", data, sec["offset"] + k * sec["entsize"])
            if st_shndx == 0 or st_shndx >= len(sections):
                continue
            s = strtab["offset"] + st_name
            name = data[s:data.index(b"\0", s)].decode()
            if not name.startswith(prefix):
                continue
            home = sections[st_shndx]
            at = home["offset"] + (st_value - home["addr"])
            out[name] = data[at:at + st_size]
    return out


# ---------------------------------------------------------------- code

def c_type(t: tuple) -> str:
    if t[0] == "scalar":
        return "ctypes.c_" + PRIMITIVES[t[1]].c.removeprefix("std::").removesuffix("_t")
    if t[0] == "unit":
        return "None"
    if t[0] == "object":
        return "ctypes.c_uint64"
    return "_Returned"


def targets(names) -> str:
    """The targets of an assignment from a tuple: `a, b` or `a,`."""
    names = list(names)
    return ", ".join(names) + ("," if len(names) == 1 else "")


def arg_converter(t: tuple) -> str:
    """The runtime function that turns a Python argument into what the entry
    point takes: a ctypes scalar, or a bytearray to be made a buffer. Only
    the types some item takes have one."""
    if t == ("scalar", "u64"):
        return "_scalar(_c_uint64, _u64)"
    if t[0] == "scalar" and t[1][0] == "u":
        return f"_scalar({c_type(t)}, _uint({t[1][1:]}))"
    if t == ("scalar", "bool"):
        return "_bool"
    if t[0] == "string":
        return "_string"
    if t[0] == "enum":
        return f"_enum_arg({t[1]})"
    if t[0] == "vec" and t[1] in (("scalar", "f64"), ("scalar", "u64"), ("scalar", "bool")):
        return f"_vec_{t[1][1]}"
    raise ValueError(f"unsupported argument type {t!r}")


def arg_lines(var: str, name: str, t: tuple, where: str, converters: dict) -> list[str]:
    """Lines that convert argument `name` into `var`; `where` names it in errors."""
    if t == ("scalar", "f64"):
        # The hot path of `next`: no function call unless the conversion fails.
        return ["try:", f"    {var} = _c_double({name})", "except _CONVERSION_ERRORS as e:",
                f"    raise _number_error({where!r}, {name}, e)"]
    conv = arg_converter(t)
    if conv.startswith(("_scalar(", "_enum_arg(")):
        converters.setdefault(conv, f"_conv_{len(converters)}")
        conv = converters[conv]
    return [f"{var} = {conv}({name}, {where!r})"]


def py_annotation(t: tuple, argument: bool = False) -> str:
    """The annotation of a value; an argument's says what it accepts."""
    if t[0] == "scalar":
        return PRIMITIVES[t[1]].py
    if t[0] in ("record", "enum", "object"):
        return t[1]
    if t[0] == "vec":
        if argument:
            accepted = f"Sequence[{py_annotation(t[1])}]"
            return accepted + " | Buffer" if t[1] == ("scalar", "f64") else accepted
        return f"list[{py_annotation(t[1])}]"
    if t[0] == "opt":
        return f"{py_annotation(t[1], argument)} | None"
    return {"string": "str", "unit": "None"}[t[0]]


MODULE_DOC = """lumenfold: technical-analysis indicators, filters and options analytics.

Streaming objects (Ema, Macd, ...): construct one with its parameters and feed
it one bar at a time with next(...), which returns that bar's output (a float,
a list or a record). Until an indicator has enough history it returns a
warm-up placeholder (0, NaN or a partial-window value), as its help() says.
Batch functions (ema, macd, ...): one per object, a fresh object run over whole
series, one output per bar. Records (MacdResult, ...) are dataclasses; the
options functions (bs_call_price, implied_vol, ...) price and analyse option
chains. help() on any of them names its inputs in order, its output fields,
its warm-up and units; __all__ lists them all.

Generated from the interface metadata of the library beside this file and the
help texts of the core headers; do not edit.
"""


def joined(*texts: str) -> str:
    return "\n\n".join(t for t in texts if t)


class Emitter:
    def __init__(self, items: dict, lib_file: str, docs: dict | None = None):
        self.docs = docs or {"objects": {}, "functions": {}, "records": {}, "enums": {}}
        self.items = items
        self.lib_file = lib_file
        self.lines: list[str] = []
        self.decoders: dict[tuple, str] = {}
        self.converters: dict[str, str] = {}
        self.structs: dict[str, str] = {}
        self.readers: dict[str, str] = {}
        self.reader_lines: list[str] = []

    def decoder(self, t: tuple) -> str:
        if t not in self.decoders:
            self.decoders[t] = f"_decode_{len(self.decoders)}"
        return self.decoders[t]

    def unpacker(self, fmt: str) -> str:
        """The precompiled unpack_from of a big-endian struct format."""
        if fmt not in self.structs:
            self.structs[fmt] = f"_unpack_{len(self.structs)}"
        return self.structs[fmt]

    def flat_format(self, name: str) -> str | None:
        """The struct format of a record made of scalars only, else None."""
        fields = self.items["records"][name]
        if fields and all(t[0] == "scalar" for _, t in fields):
            return ">" + "".join(PRIMITIVES[t[1]].fmt for _, t in fields)
        return None

    def readable(self, t: tuple) -> bool:
        """Whether generated code decodes `t`: scalars, records and optional
        values of them (the rest goes through the runtime's decoders)."""
        if t[0] == "record":
            return all(self.readable(ft) for _, ft in self.items["records"][t[1]])
        return t[0] == "scalar" or (t[0] == "opt" and self.readable(t[1]))

    def flatten(self, t: tuple, target: str) -> tuple[list[str], list[tuple]]:
        """A value of `t` assigned to `target`, as the lines that make its
        records (without running __init__, which only assigns the fields)
        and the items read in order from its bytes: ("scalar", target,
        format) and ("opt", target, type), a tag byte and, when it is not 0,
        a value of that type. Records within records are laid out flat."""
        if t[0] == "scalar":
            return [], [("scalar", target, PRIMITIVES[t[1]].fmt)]
        if t[0] == "opt":
            return [], [("opt", target, t[1])]
        var = f"r{self.records_made}"
        self.records_made += 1
        setup, items = [f"{var} = _new({t[1]})", f"{target} = {var}"], []
        for name, ft in self.items["records"][t[1]]:
            more_setup, more_items = self.flatten(ft, f"{var}.{name}")
            setup += more_setup
            items += more_items
        return setup, items

    def unpack_lines(self, run: list[tuple]) -> list[str]:
        """Lines that read a run of scalars and tags (the tag byte goes to
        `tag`) at `pos` in one step, advancing `pos`."""
        if not run:
            return []
        if run == [("tag",)]:
            return ["tag = mem[pos]", "pos += 1"]
        fmt = ">" + "".join("B" if item[0] == "tag" else item[2] for item in run)
        names = ["tag" if item[0] == "tag" else item[1] for item in run]
        return [f"{targets(names)} = {self.unpacker(fmt)}(mem, pos)", f"pos += {struct.calcsize(fmt)}"]

    def read_items(self, items: list[tuple], after: list[tuple]) -> list[str]:
        """Lines that read `items`, then `after` (scalars and at most a last
        tag: what follows them up to the next optional value). Each run of
        fixed size is one unpack: the scalars and the tag that follow an
        optional value are read with its last part when it is present, on
        their own when it is not."""
        lines: list[str] = []
        run: list[tuple] = []
        tag_read = after_read = False
        i = 0
        while i < len(items):
            kind, target, inner = items[i]
            if kind == "scalar":
                run.append(items[i])
                i += 1
                continue
            if not tag_read:
                run.append(("tag",))
            lines += self.unpack_lines(run)
            run = []
            j = i + 1
            while j < len(items) and items[j][0] == "scalar":
                j += 1
            trailer = items[i + 1:j]
            if j < len(items):
                trailer.append(("tag",))
            else:
                trailer += after
                after_read = True
            setup, inner_items = self.flatten(inner, target)
            lines.append("if tag:")
            lines += [f"    {line}" for line in setup + self.read_items(inner_items, trailer)]
            lines += ["else:", f"    {target} = None"] + [f"    {line}" for line in self.unpack_lines(trailer)]
            tag_read = j < len(items)
            i = j
        return lines + self.unpack_lines(run + ([] if after_read else after))

    def reader(self, name: str) -> str:
        """A generated function decoding a whole record from the bytes of
        `mem` at pos..end."""
        if name not in self.readers:
            fn = self.readers[name] = f"_read_{name}"
            self.records_made = 0
            setup, items = self.flatten(("record", name), "value")
            body = ["at = pos"] + setup + self.read_items(items, [])
            body += ["if pos != end:", "    raise _length_error(end - at, pos - at)", "return value"]
            self.reader_lines += ["", "", f"def {fn}(mem, pos, end):"] + [f"    {line}" for line in body]
        return self.readers[name]

    def record_result(self, name: str, hidden: bool) -> list[str] | None:
        """Lines that decode a returned record straight from the library's
        buffer, release it and return the record; None when the runtime's
        decoders do it. The buffer is `out` (which the library wrote) when
        `hidden`, else `result` (which ctypes made)."""
        if hidden:
            data, length = "words[2]", "words[1]"
            # `released` tells _unwind_out that the buffer in `out` is released,
            # before the release runs: no call in between.
            release = ["released = True", "_buffer_release(out, _UNUSED)", "words[2] = 0", "return value"]
        else:
            data, length = "result.data", "result.len"
            release = ["result.__class__ = _RustBuffer", "_buffer_release(result, _UNUSED)", "return value"]
        fmt = self.flat_format(name)
        if fmt:
            # A failed call returns no buffer. A returned one holds the record
            # whole: its layout is the one the checksums verified at import.
            fields = [n for n, _ in self.items["records"][name]]
            return [f"at = {data}", "if not at:", "    _raise_status(st)", f"value = _new({name})",
                    f"{targets(f'value.{n}' for n in fields)} = {self.unpacker(fmt)}(_MEMORY, at)"] + release
        if self.readable(("record", name)):
            # Read where it lies too, part by part as its tags say; a length
            # that does not match is reported once it is decoded.
            return [f"n = {length}", "if not n:", "    _raise_status(st)", f"at = {data}",
                    f"value = {self.reader(name)}(_MEMORY, at, at + n)"] + release
        return None

    def callable(self, indent: str, py_name: str, symbol: str, entry: dict, first: list[str],
                 label: str, method: str | None = None, doc: str = "") -> None:
        """A Python function for one entry point, called `label` in argument
        errors. Arguments are checked and converted first (nothing of the
        library's is held yet if that fails), then the serialized ones become
        buffers (the items of a list or tuple converted as they are copied in),
        a method clones its handle, and the call runs. Whatever exception ends
        it, and wherever, the status record is reset and every buffer, clone
        and handle the call still holds is released (see _unwind): a flag says
        whether the clone is still owed, and a buffer stops being the call's
        own right before the call that consumes it, with no call in between.
        A function returning a record decoded here comes in two forms: one
        handing the entry point the thread's buffer to write the record to,
        where the machine returns it that way (_HIDDEN_RETURN), one receiving
        it from ctypes elsewhere."""
        ret = entry["returns"]
        fn_var = "_fn_" + symbol.removeprefix(FN)
        params = ", ".join(first + [f"{n}: {py_annotation(t, argument=True)}" for n, t in entry["args"]])
        head = f"def {py_name}({params}) -> {py_annotation(ret) if ret[0] != 'object' else 'None'}:"
        doc = joined(entry["doc"], doc)
        docline = [f"    {doc!r}"] if doc else []
        if ret[0] == "record" and self.record_result(ret[1], False):
            self.bindings.append(f"{fn_var} = _bind({symbol!r}, _RECORD_RESTYPE)")
            self.lines.append(f"{indent}if _HIDDEN_RETURN:")
            for hidden in (True, False):
                if not hidden:
                    self.lines.append(f"{indent}else:")
                body = self.call_body(fn_var, entry, label, method, hidden)
                self.lines += [f"{indent}    {head}"] + [f"{indent}    {line}" for line in docline]
                self.lines += [f"{indent}        {line}" for line in body]
            return
        restype = f"_handle_{ret[1].lower()}" if ret[0] == "object" else c_type(ret)
        self.bindings.append(f"{fn_var} = _bind({symbol!r}, {restype})")
        self.lines += [f"{indent}{head}"] + [f"{indent}{line}" for line in docline]
        self.lines += [f"{indent}    {line}" for line in self.call_body(fn_var, entry, label, method, False)]

    def call_body(self, fn_var: str, entry: dict, label: str, method: str | None, hidden: bool) -> list[str]:
        """The body of the function of `callable`."""
        args = entry["args"]
        ret = entry["returns"]
        body = []
        if ret[0] == "object":
            # A constructor run on an object of another class would leave it
            # holding a library object its methods cannot take.
            where = label if "." in label else f"{label}.__init__"
            body += [f"if not isinstance(self, {label.split('.')[0]}):", f"    raise _foreign_object({where!r}, self)"]
        call_args = []
        for i, (n, t) in enumerate(args):
            var = f"a{i}" if t[0] == "scalar" else f"p{i}"
            body += arg_lines(var, n, t, f"{label}(): argument {n!r}", self.converters)
            call_args.append(f"a{i}" if t[0] == "scalar" else f"b{i}")
        serialized = [i for i, (n, t) in enumerate(args) if t[0] != "scalar"]
        bufs = [f"b{i}" for i in serialized]
        returns_value = ret[0] not in ("scalar", "unit")
        if hidden:
            body += ["try:", "    st, sp, out, op, words = _thread.call", "except AttributeError:",
                     "    st, sp, out, op, words = _thread_call()", "if words[2]:",
                     "    out, op, words = _out_buffer()"]
            held = bufs
        else:
            body += ["try:", "    st, sp = _thread.status", "except AttributeError:", "    st, sp = _thread_status()"]
            held = (["result"] if returns_value else []) + bufs
        if held:
            body.append(" = ".join(held + ["None"]))
        flags = (["owed"] if method else []) + (["released"] if hidden else [])
        if flags:
            body.append(" = ".join(flags + ["False"]))
        call = []
        if len(bufs) == 1:
            call.append(f"{bufs[0]} = _buffer_of(p{serialized[0]})")
        elif bufs:
            call.append(f"{', '.join(bufs)} = _buffers({', '.join(f'p{i}' for i in serialized)})")
        if method:
            # Read before anything is held: what has no handle is refused
            # here, by its type when it is no object of this class.
            cls = label.split('.')[0]
            body += ["try:", "    h = self._h", "except AttributeError:", f"    _no_handle(self, {cls}, {label!r})"]
            call += ["owed = True", f"{method}(h, _UNUSED)"]
            call_args.insert(0, "h")
        if bufs:
            call.append(" = ".join(f"{b}.__class__" for b in bufs) + " = _RustBuffer")
        if method:
            call.append("owed = False")
        if hidden:
            call_args.insert(0, "op")
        result = "result = " if ret[0] != "unit" and not hidden else ""
        call.append(f"{result}{fn_var}({', '.join(call_args + ['sp'])})")
        record = self.record_result(ret[1], hidden) if ret[0] == "record" else None
        if not record:  # a record checks for a returned buffer instead: a failed call returns none
            call += ["if st.code:", "    _raise_status(st)"]
        after = []
        if ret[0] == "object":
            after.append("self._adopt(result)")
        elif ret == ("scalar", "bool"):
            after.append("return bool(result)")
        elif ret[0] == "scalar":
            after.append("return result")
        elif record:
            call += record
        elif returns_value:
            call.append(f"return {self.decoder(ret)}(result)")
        if method:
            # The library refuses an object of another type by its type tag:
            # the Python side pays for that check only once a call has failed.
            fail = f"_method_failed(st, self, h, {cls}, {label!r})"
            call = [line.replace("_raise_status(st)", fail) for line in call]
        clone = f"h if owed else None, _free_{method.removeprefix('_clone_')}" if method else "None, None"
        unwind = f"_unwind_out(st, {', '.join([clone, 'out', 'released'] + held)})" if hidden else \
            f"_unwind(st, {', '.join([clone] + held)})"
        body += ["try:"] + [f"    {line}" for line in call]
        body += ["except BaseException:", f"    {unwind}", "    raise"]
        return body + after

    def emit(self, runtime: str) -> str:
        self.bindings: list[str] = []
        head = [
            f'"""{MODULE_DOC}"""',
            "from __future__ import annotations",
            f"_LIB_FILE = {self.lib_file!r}",
            f"_CONTRACT_VERSION = {CONTRACT_VERSION}",
            "",
            runtime,
        ]
        body = self.lines
        body.append("_ENUMS = {}")
        for name, variants in self.items["enums"].items():
            body.append(f"\n\nclass {name}(enum.IntEnum):")
            if self.docs["enums"].get(name):
                body.append(f"    {self.docs['enums'][name]!r}")
            for i, v in enumerate(variants, 1):
                body.append(f"    {v} = {i}")
            body.append(f"\n\n_ENUMS[{name!r}] = {name}")
        body.append("\n_RECORDS = {}")
        for name, fields in self.items["records"].items():
            body.append("\n\n@dataclasses.dataclass(slots=True)")
            body.append(f"class {name}:")
            if self.docs["records"].get(name):
                body.append(f"    {self.docs['records'][name]!r}")
            for fname, t in fields:
                body.append(f"    {fname}: {py_annotation(t)}")
            body.append(f"\n\n_RECORDS[{name!r}] = ({name}, {fields!r})")
        for name, obj in sorted(self.items["objects"].items()):
            sym = name.lower()
            self.bindings.append(f"_free_{sym} = _bind({sym_free(name)!r}, None)")
            self.bindings.append(f"_handle_{sym} = _handle_type(_free_{sym})")
            body.append(f"\n\nclass {name}(_Object):")
            texts = self.docs["objects"].get(name, {})
            doc = joined(obj.get("doc", ""), texts.get("class", ""))
            if doc:
                body.append(f"    {doc!r}")
            body.append("    __slots__ = ()")
            for ctor in obj["constructors"]:
                symbol = sym_constructor(name, ctor["name"])
                if ctor["name"] == "new":
                    self.callable("    ", "__init__", symbol, ctor, ["self"], name, doc=texts.get("constructor", ""))
                else:
                    # A named constructor builds the object without __init__.
                    self.callable("    ", f"_{ctor['name']}_into", symbol, ctor, ["self"], f"{name}.{ctor['name']}")
                    params = ", ".join(["cls"] + [n for n, _ in ctor["args"]])
                    doc = joined(ctor["doc"], texts.get("constructor", ""))
                    body += ["", "    @classmethod", f"    def {ctor['name']}({params}):"]
                    body += [f"        {doc!r}"] if doc else []
                    body += ["        self = cls.__new__(cls)",
                             f"        self._{ctor['name']}_into({', '.join(n for n, _ in ctor['args'])})",
                             "        return self"]
                    if not any(c["name"] == "new" for c in obj["constructors"]):
                        refused = f"Refused: {name}.{ctor['name']}() makes a {name}."
                        body += ["", "    def __init__(self, *args, **kwargs):", f"        {refused!r}",
                                 f"        raise TypeError('use {name}.{ctor['name']}(...)')"]
            clone_var = f"_clone_{sym}"
            self.bindings.append(f"{clone_var} = _bind({sym_clone(name)!r}, None)")
            for m in obj["methods"]:
                symbol = sym_method(name, m["name"])
                self.callable("    ", m["name"], symbol, m, ["self"], f"{name}.{m['name']}", method=clone_var,
                              doc=texts.get("methods", {}).get(m["name"], ""))
        for fn in sorted(self.items["functions"], key=lambda f: f["name"]):
            body.append("\n")
            self.callable("", fn["name"], sym_func(fn["name"]), fn, [], fn["name"],
                          doc=self.docs["functions"].get(fn["name"], ""))
        tail = ["\n"] + [f"{var} = _result({t!r})" for t, var in self.decoders.items()]
        tail += [f"{var} = struct.Struct({fmt!r}).unpack_from" for fmt, var in self.structs.items()]
        tail += self.reader_lines
        tail += [f"{var} = {conv}" for conv, var in self.converters.items()]
        tail.append(f"\n_check_library({dict(sorted(self.items['checksums'].items()))!r})")
        exports = sorted(["LumenfoldError", "LibraryMismatchError"] + list(self.items["enums"])
                         + list(self.items["records"]) + list(self.items["objects"])
                         + [f["name"] for f in self.items["functions"]])
        tail.append(f"__all__ = {exports!r}")
        return "\n".join(head + self.bindings + body + tail) + "\n"


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("library", type=pathlib.Path)
    ap.add_argument("out_dir", type=pathlib.Path)
    ap.add_argument("--docs", type=pathlib.Path, help="docs.json written by binding/generate.py --docs")
    a = ap.parse_args()
    lib = a.library
    out = a.out_dir / MODULE
    docs = json.loads(a.docs.read_text()) if a.docs else None
    blobs = elf_symbols(lib, "UNIFFI_META_")
    if not blobs:
        sys.exit(f"{lib}: no interface metadata found")
    items = parse(blobs)
    runtime = (pathlib.Path(__file__).parent / "host_runtime.py").read_text()
    try:
        code = Emitter(items, lib.name, docs).emit(runtime)
    except ValueError as e:
        sys.exit(f"{lib}: {e}")
    out.mkdir(parents=True, exist_ok=True)
    shutil.copy2(lib, out / lib.name)
    (out / "__init__.py").write_text(code)


if __name__ == "__main__":
    main()
