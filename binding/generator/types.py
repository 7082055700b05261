"""The types of the interface description: the primitives, once, with every
form they take, and the generic vec<T> and opt<T>."""

from __future__ import annotations

import re
from typing import NamedTuple


class Primitive(NamedTuple):
    code: int  # metadata type code
    c: str | None  # C register type (None: passes in a buffer)
    codec: str | None  # codec in runtime/serialize.hpp (None: never serialized)
    fmt: str | None  # struct format of its serialized bytes (big-endian)
    py: str  # Python type


PRIMITIVES = {
    "u8": Primitive(0, "std::uint8_t", "U8", "B", "int"),
    "u16": Primitive(1, "std::uint16_t", None, "H", "int"),
    "u32": Primitive(2, "std::uint32_t", "U32", "I", "int"),
    "u64": Primitive(3, "std::uint64_t", "U64", "Q", "int"),
    "i8": Primitive(4, "std::int8_t", "I8", "b", "int"),
    "i16": Primitive(5, "std::int16_t", None, "h", "int"),
    "i32": Primitive(6, "std::int32_t", "I32", "i", "int"),
    "i64": Primitive(7, "std::int64_t", "I64", "q", "int"),
    "f32": Primitive(8, "float", None, "f", "float"),
    "f64": Primitive(9, "double", "F64", "d", "float"),
    "bool": Primitive(10, "std::int8_t", "Bool", "?", "bool"),
    "string": Primitive(11, None, None, None, "str"),
}
# Element kinds a buffer can carry (the rest pass in registers only).
SERIALIZED = {t for t, p in PRIMITIVES.items() if p.codec}


def generic(t: str):
    """(kind, element) of vec<T> or opt<T>, else None."""
    m = re.fullmatch(r"(vec|opt)<(.+)>", t)
    return (m.group(1), m.group(2)) if m else None


def in_register(t: str) -> bool:
    return t in PRIMITIVES and t != "string"


def c_type(t: str) -> str:
    if t == "unit":
        return "void"
    return PRIMITIVES[t].c if in_register(t) else "RustBuffer"


def codec(iface, t: str) -> str:
    """The C++ codec of a serialized type."""
    inner = generic(t)
    if inner:
        kind, arg = inner
        return f"{'Vec' if kind == 'vec' else 'Opt'}<{codec(iface, arg)}>"
    if t in SERIALIZED:
        return PRIMITIVES[t].codec
    if t in iface.records or t in iface.enums:
        return f"rec::{t}"
    raise ValueError(f"type {t!r} cannot be serialized")
