"""The metadata blobs the library exports, one per item, and their checksums:
written here from the description, and read back here from a built library
by the host generator."""

from __future__ import annotations

from .symbols import MODULE, checksum_symbol, meta_symbol, sym_constructor, sym_func, sym_method
from .types import PRIMITIVES, generic

# The first byte of a blob: the kind of item it describes.
FUNC, METHOD, RECORD, ENUM, INTERFACE, NAMESPACE, CONSTRUCTOR = 0, 1, 2, 3, 4, 6, 7
# Type codes besides the primitives' (types.PRIMITIVES); a named type is
# followed by the module and its name, a generic one by its element type.
T_OPT, T_RECORD, T_ENUM, T_OBJECT, T_VEC, T_UNIT = 12, 13, 14, 16, 17, 255
T_NAMED = {T_RECORD: "record", T_ENUM: "enum", T_OBJECT: "object"}
PRIMITIVE_OF = {p.code: t for t, p in PRIMITIVES.items()}


# ---------------------------------------------------------------- writing

def mstr(s: str) -> bytes:
    b = s.encode()
    assert len(b) < 256, s
    return bytes([len(b)]) + b


def mdoc(s: str) -> bytes:
    b = s.encode()
    return len(b).to_bytes(2, "little") + b


def item(kind: int, *names: str) -> bytes:
    """A blob's or a named type's start: its code, the module and the item's names."""
    return bytes([kind]) + b"".join(mstr(n) for n in (MODULE,) + names)


def type_code(iface, t: str) -> bytes:
    if t == "unit":
        return bytes([T_UNIT])
    if t in PRIMITIVES:
        return bytes([PRIMITIVES[t].code])
    inner = generic(t)
    if inner:
        return bytes([T_VEC if inner[0] == "vec" else T_OPT]) + type_code(iface, inner[1])
    code = T_RECORD if t in iface.records else T_ENUM if t in iface.enums else T_OBJECT
    return item(code, t)


def callable_blob(iface, args, returns: str) -> bytes:
    out = bytes([0, len(args)])  # is-async, argument count
    for name, t in args:
        out += mstr(name) + type_code(iface, t) + bytes([0])  # no default
    return out + type_code(iface, returns) + mdoc("")


# A blob as written: (symbol, bytes, symbol of its checksum function or None).

def object_blobs(iface, obj: dict) -> list[tuple[str, bytes, str | None]]:
    name, ctor = obj["name"], obj["constructor"]
    out = [(meta_symbol("INTERFACE", name), item(INTERFACE, name) + mdoc(iface.doc if obj["doc"] else ""), None),
           (meta_symbol("CONSTRUCTOR", name, ctor),
            item(CONSTRUCTOR, name, ctor) + callable_blob(iface, obj["new"], name),
            checksum_symbol(sym_constructor(name, ctor)))]
    for m in obj["methods"]:
        out.append((meta_symbol("METHOD", name, m["name"]),
                    item(METHOD, name, m["name"]) + callable_blob(iface, m["args"], m["returns"]),
                    checksum_symbol(sym_method(name, m["name"]))))
    return out


def function_blob(iface, fn: dict) -> tuple[str, bytes, str]:
    return (meta_symbol("FUNC", fn["name"]), item(FUNC, fn["name"]) + callable_blob(iface, fn["args"], fn["returns"]),
            checksum_symbol(sym_func(fn["name"])))


def shared_blobs(iface) -> list[tuple[str, bytes, None]]:
    out = [(meta_symbol("NAMESPACE"), item(NAMESPACE, MODULE), None)]
    for name, fields in iface.records.items():
        blob = item(RECORD, name) + bytes([len(fields)])
        docs = iface.field_docs[name]
        for fname, t in fields:
            blob += mstr(fname) + type_code(iface, t) + bytes([0]) + mdoc(docs.get(fname, ""))
        out.append((meta_symbol("RECORD", name), blob + mdoc(""), None))
    for name, en in iface.enums.items():
        blob = item(ENUM, name) + bytes([0, 0, len(en["variants"])])
        for v in en["variants"]:
            blob += mstr(v) + bytes([0, 0]) + mdoc("")
        out.append((meta_symbol("ENUM", name), blob + bytes([0]) + mdoc(""), None))
    return out


def definitions(blobs) -> str:
    """The blobs as exported C++ arrays, each checksum function beside its blob."""
    out = []
    for symbol, blob, checksum_fn in blobs:
        body = ", ".join(str(x) for x in blob)
        out.append(f'extern "C" {{ LF_EXPORT_DATA extern constexpr unsigned char {symbol}[{len(blob)}] = {{{body}}}; }}')
        if checksum_fn:
            out.append(f"LF_EXPORT std::uint16_t {checksum_fn}() {{ "
                       f"constexpr std::uint16_t v = checksum({symbol}); return v; }}")
    return "\n".join(out) + "\n"


# ---------------------------------------------------------------- reading

class Reader:
    """One blob, read front to back; a type as a tuple: ("scalar", name),
    ("string",), ("unit",), ("opt" or "vec", element) or ("record", "enum"
    or "object", name)."""

    def __init__(self, data: bytes):
        self.data = data
        self.pos = 0

    def take(self, n: int) -> bytes:
        self.pos += n
        return self.data[self.pos - n:self.pos]

    def u8(self) -> int:
        return self.take(1)[0]

    def string(self) -> str:
        return self.take(self.u8()).decode()

    def doc(self) -> str:
        return self.take(int.from_bytes(self.take(2), "little")).decode()

    def type(self) -> tuple:
        code = self.u8()
        if code == T_UNIT:
            return ("unit",)
        if code in (T_OPT, T_VEC):
            return ("opt" if code == T_OPT else "vec", self.type())
        if code in T_NAMED:
            self.string()  # module path
            return (T_NAMED[code], self.string())
        if code not in PRIMITIVE_OF:
            raise ValueError(f"unknown type code {code}")
        t = PRIMITIVE_OF[code]
        return ("string",) if t == "string" else ("scalar", t)

    def callable_tail(self) -> dict:
        if self.u8() != 0:
            raise ValueError("asynchronous items are not supported")
        # Each argument: name, type, has-default.
        args = [(self.string(), self.type(), self.u8())[:2] for _ in range(self.u8())]
        return {"args": args, "returns": self.type(), "doc": self.doc()}


def parse(blobs: dict[str, bytes]) -> dict:
    """The items the blobs describe, and under "checksums" the value each
    checksum entry point returns; raises ValueError on a blob it cannot read
    whole."""
    items = {"objects": {}, "functions": [], "records": {}, "enums": {}, "namespace": None, "checksums": {}}
    for symbol, data in sorted(blobs.items()):
        b = Reader(data)
        code, module, name = b.u8(), b.string(), b.string()
        fn = None  # the entry point the blob describes
        if code == NAMESPACE:
            items["namespace"] = (module, name)
        elif code == FUNC:
            items["functions"].append({"name": name, **b.callable_tail()})
            fn = sym_func(name)
        elif code in (METHOD, CONSTRUCTOR, INTERFACE):
            obj = items["objects"].setdefault(name, {"methods": [], "constructors": []})
            if code == INTERFACE:
                obj["doc"] = b.doc()
            else:
                entry = {"name": b.string(), **b.callable_tail()}
                obj["methods" if code == METHOD else "constructors"].append(entry)
                fn = (sym_method if code == METHOD else sym_constructor)(name, entry["name"])
        elif code == RECORD:
            # Each field: name, type, has-default, doc; then the record's doc.
            items["records"][name] = [(b.string(), b.type(), b.u8(), b.doc())[:2] for _ in range(b.u8())]
            b.doc()
        elif code == ENUM:
            # Two flag bytes; each variant: name, two flag bytes, doc; a flag, the doc.
            b.take(2)
            items["enums"][name] = [(b.string(), b.take(2), b.doc())[0] for _ in range(b.u8())]
            b.take(1)
            b.doc()
        else:
            raise ValueError(f"{symbol}: unknown metadata kind {code}")
        if b.pos != len(data):
            raise ValueError(f"{len(data) - b.pos} bytes left over")
        if fn:
            items["checksums"][checksum_symbol(fn)] = fnv_checksum(data)
    return items


def fnv_checksum(blob: bytes) -> int:
    """The checksum of a blob, as runtime/metadata.hpp computes it."""
    h = 0xCBF29CE484222325
    for byte in blob:
        h ^= byte
        h = (h * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return (h ^ (h >> 16) ^ (h >> 32) ^ (h >> 48)) & 0xFFFF
