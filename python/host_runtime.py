# ---- host runtime: buffers, call status, value conversion -------------------
# This part is copied verbatim into the generated module; the item
# declarations that follow it are generated from the library's metadata.

import ctypes
import dataclasses
import enum
import operator
import os
import struct
import sys
import threading
from array import array
from collections.abc import Mapping, Sequence, Set

try:
    from collections.abc import Buffer
except ImportError:  # before Python 3.12
    class Buffer:
        """An object exposing the buffer protocol (in annotations: a buffer of doubles)."""

_LITTLE = sys.byteorder == "little"


class LumenfoldError(Exception):
    """An unexpected error reported by the library (status code 2)."""


class LibraryMismatchError(ImportError):
    """The library found does not match the one this module was generated from."""


class _RustBuffer(ctypes.Structure):
    _fields_ = [("capacity", ctypes.c_uint64), ("len", ctypes.c_uint64), ("data", ctypes.c_void_p)]


class _ForeignBytes(ctypes.Structure):
    _fields_ = [("len", ctypes.c_int32), ("data", ctypes.c_void_p)]


class _RustCallStatus(ctypes.Structure):
    _fields_ = [("code", ctypes.c_int8), ("error_buf", _RustBuffer)]


_LIB_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), _LIB_FILE)
_lib = ctypes.CDLL(_LIB_PATH)

_buffer_alloc = _lib.ffi_lumenfold_python_rustbuffer_alloc
_buffer_alloc.argtypes = [ctypes.c_uint64, ctypes.POINTER(_RustCallStatus)]
_buffer_alloc.restype = _RustBuffer
_buffer_from_bytes = _lib.ffi_lumenfold_python_rustbuffer_from_bytes
_buffer_from_bytes.argtypes = [_ForeignBytes, ctypes.POINTER(_RustCallStatus)]
_buffer_from_bytes.restype = _RustBuffer
_buffer_free = _lib.ffi_lumenfold_python_rustbuffer_free
_buffer_free.argtypes = [_RustBuffer, ctypes.POINTER(_RustCallStatus)]
_buffer_free.restype = None

# Clone and free never write their status; one shared record serves them all.
_UNUSED = ctypes.byref(_RustCallStatus())
_byref = ctypes.byref
_c_double = ctypes.c_double
_c_uint64 = ctypes.c_uint64


def _take_buffer(buf):
    """The bytes of a buffer the library returned; the buffer is released."""
    try:
        return ctypes.string_at(buf.data, buf.len) if buf.len else b""
    finally:
        _buffer_free(buf, _byref(_RustCallStatus()))


def _raise_status(st):
    eb = st.error_buf  # a view into st: copy it before clearing st
    code, buf = st.code, _RustBuffer(eb.capacity, eb.len, eb.data)
    # The status record is reused by the next call on this thread.
    st.code = 0
    st.error_buf = _RustBuffer(0, 0, None)
    message = _take_buffer(buf).decode("utf-8", "replace") if buf.data else ""
    if code == 2:
        raise LumenfoldError(message)
    raise LumenfoldError(f"unexpected call status {code}" + (f": {message}" if message else ""))


# One status record per thread: the library writes it only when a call fails,
# and _raise_status clears it again, so it is all zeros before every call.
_thread = threading.local()


def _thread_status():
    st = _RustCallStatus()
    _thread.status = pair = (st, _byref(st))
    return pair


# Vectors cross in pieces of this many elements: each piece is converted,
# swapped and copied while it is in cache, and no temporary as large as the
# vector is made (a fresh block of megabytes costs more in page faults than
# the copy itself).
_PIECE = 1 << 13


class _Series:
    """A list or tuple for a vector of doubles, converted piece by piece as
    it is copied into the library; `where` names it in errors."""
    __slots__ = ("values", "where")

    def __init__(self, values, where):
        self.values = values
        self.where = where

    def __len__(self):
        return len(self.values)

    def piece(self, start, stop):
        part = self.values[start:stop]
        try:
            return array("d", part)
        except (TypeError, OverflowError) as e:
            raise _element_error(part, self.where, e, start) from None


def _pieces_of(payload):
    """piece(start, stop) of a vector payload: its elements start..stop as a
    new array in native order."""
    if isinstance(payload, _Series):
        return payload.piece
    if isinstance(payload, memoryview):  # the caller's own doubles: copied, never swapped in place
        raw = payload.cast("B")

        def piece(start, stop):
            a = array("d")
            a.frombytes(raw[8 * start:8 * stop])
            return a
        return piece
    return lambda start, stop: payload[start:stop]  # an array of our own


def _vector_buffer(payload):
    """A library buffer holding a vector of 8-byte elements, written piece by
    piece behind its count in big-endian order."""
    n = len(payload)
    piece = _pieces_of(payload)
    st = _RustCallStatus()
    buf = _buffer_alloc(4 + 8 * n, _byref(st))
    if st.code:
        _raise_status(st)
    try:
        ctypes.memmove(buf.data, struct.pack(">i", n), 4)
        at = buf.data + 4
        for start in range(0, n, _PIECE):
            a = piece(start, min(start + _PIECE, n))
            if _LITTLE:
                a.byteswap()
            ctypes.memmove(at + 8 * start, a.buffer_info()[0], 8 * len(a))
    except BaseException:
        _buffer_free(buf, _byref(_RustCallStatus()))
        raise
    return buf


def _buffer_of(payload):
    """A library-owned buffer holding a serialized argument: a bytearray of
    its bytes, or a vector (an array of 8-byte elements in native order, a
    memoryview of the caller's doubles, or a _Series)."""
    if not isinstance(payload, bytearray):
        return _vector_buffer(payload)
    n = len(payload)
    if n == 0:
        return _RustBuffer(0, 0, None)
    st = _RustCallStatus()
    view = (ctypes.c_char * n).from_buffer(payload)
    buf = _buffer_from_bytes(_ForeignBytes(n, ctypes.cast(view, ctypes.c_void_p)), _byref(st))
    if st.code:
        _raise_status(st)
    return buf


def _buffers(*payloads):
    """Library buffers for several serialized arguments; none is left behind
    if one of them cannot be made."""
    made = []
    try:
        for p in payloads:
            made.append(_buffer_of(p))
    except BaseException:
        for b in made:
            _buffer_free(b, _byref(_RustCallStatus()))
        raise
    return made


# ---- arguments
# Every converter takes the value and `where`, the words that name the
# argument in a message: "sma(): argument 'series'".

def _type_error(where, expected, value):
    return TypeError(f"{where} must be {expected}, not {type(value).__name__}")


def _number_error(where, value, error):
    """The error of a number argument that ctypes refused, naming the argument."""
    if isinstance(error, TypeError):
        return _type_error(where, "a real number", value)
    return type(error)(f"{where}: {error}")


def _index(value, where):
    try:
        return operator.index(value)
    except TypeError:
        raise _type_error(where, "an integer", value) from None


def _uint(bits):
    def check(value, where):
        v = _index(value, where)
        if v < 0:
            raise ValueError(f"{where} must not be negative (got {v})")
        if v >= 1 << bits:
            raise OverflowError(f"{where} does not fit in {bits} bits (got {v})")
        return v
    return check


def _int(bits):
    def check(value, where):
        v = _index(value, where)
        if not -(1 << (bits - 1)) <= v < 1 << (bits - 1):
            raise OverflowError(f"{where} does not fit in {bits} bits (got {v})")
        return v
    return check


_u64 = _uint(64)


def _real(ctype):
    def convert(value, where):
        try:
            return ctype(value)
        except (TypeError, OverflowError) as e:
            raise _number_error(where, value, e) from None
    return convert


_f64 = _real(ctypes.c_double)
_f32 = _real(ctypes.c_float)


def _bool(value, where):
    return ctypes.c_int8(1 if value else 0)


def _scalar(ctype, check):
    return lambda value, where: ctype(check(value, where))


def _float(value, where):
    return _f64(value, where).value


def _truth(value, where):
    return bool(value)


def _packed(fmt, check):
    """A scalar written inside a buffer, in the struct format `fmt`."""
    return lambda value, where: struct.pack(fmt, check(value, where))


def _optional(inner):
    """An optional value: tag byte 0 for None, else 1 and the value."""
    def lower(value, where):
        return bytearray(b"\0") if value is None else bytearray(b"\1" + inner(value, where))
    return lower


# Not vectors, though they iterate: text and raw bytes (whose items are
# characters or bytes, not numbers), mappings and sets (no order of their own).
_NOT_VECTORS = (str, bytes, bytearray, Mapping, Set)


def _check_vector(values, where, items):
    if isinstance(values, _NOT_VECTORS):
        raise _type_error(where, f"a sequence of {items}", values)


def _element_error(values, where, error, first=0):
    """The error of a vector of numbers whose conversion failed, naming the
    argument and the first item that is not a number (`values` may be the
    part of the vector that starts at item `first`)."""
    try:
        items = iter(values)
    except TypeError:
        return _type_error(where, "a sequence of numbers", values)
    for i, v in enumerate(items, first):
        try:
            _c_double(v)
        except TypeError:
            return TypeError(f"{where} must be a sequence of numbers, but item {i} is {type(v).__name__}")
        except OverflowError as e:
            return OverflowError(f"{where} item {i}: {e}")
    return type(error)(f"{where}: {error}")


# Buffer formats of doubles, by the byte order of their data.
_DOUBLE_FORMATS = {"d": sys.byteorder, "@d": sys.byteorder, "=d": sys.byteorder, "<d": "little", ">d": "big",
                   "!d": "big"}


def _vec_f64(values, where):
    """A vector of doubles, converted with no work per element in Python: a
    buffer of native doubles (array('d'), a float64 NumPy array, a memoryview)
    stays a view of the caller's data and a list or tuple stays itself until
    they are copied into the library; any other sequence of numbers becomes an
    array of our own now."""
    if type(values) is list or type(values) is tuple:
        return _Series(values, where)
    _check_vector(values, where, "numbers")
    try:
        view = memoryview(values)
    except TypeError:
        view = None
    if view is not None:
        order = _DOUBLE_FORMATS.get(view.format) if view.ndim == 1 else None
        if order == sys.byteorder and view.format in ("d", "@d") and view.c_contiguous:
            return view
        if order is not None:
            a = array("d")
            a.frombytes(view.tobytes())
            if order != sys.byteorder:
                a.byteswap()
            return a
    try:
        return array("d", values)
    except (TypeError, OverflowError) as e:
        raise _element_error(values, where, e) from None


def _vec_u64(values, where):
    _check_vector(values, where, "integers")
    try:
        items = iter(values)
    except TypeError:
        raise _type_error(where, "a sequence of integers", values) from None
    return array("Q", (_u64(v, f"{where} item {i}") for i, v in enumerate(items)))


def _vec_bool(values, where):
    _check_vector(values, where, "booleans")
    try:
        flags = bytes(1 if v else 0 for v in values)
    except TypeError:
        raise _type_error(where, "a sequence of booleans", values) from None
    return bytearray(struct.pack(">i", len(flags)) + flags)


def _string(value, where):
    if not isinstance(value, str):
        raise _type_error(where, "a str", value)
    return bytearray(value.encode("utf-8"))


def _enum_arg(cls):
    def lower(value, where):
        try:
            member = cls(value)
        except ValueError:
            raise ValueError(f"{where} must be a {cls.__name__} (got {value!r})") from None
        return bytearray(struct.pack(">i", int(member)))
    return lower


# ---- results

_SCALAR_FORMATS = {"u8": "B", "u16": "H", "u32": "I", "u64": "Q", "i8": "b", "i16": "h",
                   "i32": "i", "i64": "q", "f32": "f", "f64": "d", "bool": "?"}


class _Reader:
    __slots__ = ("data", "pos")

    def __init__(self, data):
        self.data = data
        self.pos = 0

    def unpack(self, fmt, size):
        values = struct.unpack_from(fmt, self.data, self.pos)
        self.pos += size
        return values


def _flat_format(desc):
    """The struct format of a record made of scalars only, or None."""
    if desc[0] == "record":
        parts = []
        for _, t in _RECORDS[desc[1]][1]:
            if t[0] != "scalar":
                return None
            parts.append(_SCALAR_FORMATS[t[1]])
        return ">" + "".join(parts)
    return None


def _decoder(desc):
    """A function(reader) -> value for a type descriptor."""
    kind = desc[0]
    if kind == "scalar":
        fmt = ">" + _SCALAR_FORMATS[desc[1]]
        size = struct.calcsize(fmt)
        return lambda r: r.unpack(fmt, size)[0]
    if kind == "enum":
        cls = _ENUMS[desc[1]]
        return lambda r: cls(r.unpack(">i", 4)[0])
    if kind == "opt":
        inner = _decoder(desc[1])
        return lambda r: inner(r) if r.unpack(">B", 1)[0] else None
    if kind == "vec":
        elem = desc[1]
        if elem == ("scalar", "f64"):
            def read_f64s(r):
                n = r.unpack(">i", 4)[0]
                data = r.data[r.pos:r.pos + 8 * n]
                r.pos += 8 * n
                out = []
                for at in range(0, 8 * n, 8 * _PIECE):
                    a = array("d")
                    a.frombytes(data[at:at + 8 * _PIECE])
                    if _LITTLE:
                        a.byteswap()
                    out += a.tolist()
                return out
            return read_f64s
        flat = _flat_format(elem)
        if flat:
            cls = _RECORDS[elem[1]][0]
            size = struct.calcsize(flat)

            def read_flat(r):
                n = r.unpack(">i", 4)[0]
                end = r.pos + size * n
                out = [cls(*t) for t in struct.iter_unpack(flat, r.data[r.pos:end])]
                r.pos = end
                return out
            return read_flat
        inner = _decoder(elem)

        def read_vec(r):
            n = r.unpack(">i", 4)[0]
            return [inner(r) for _ in range(n)]
        return read_vec
    if kind == "record":
        cls, fields = _RECORDS[desc[1]]
        flat = _flat_format(desc)
        if flat:
            size = struct.calcsize(flat)
            return lambda r: cls(*r.unpack(flat, size))
        readers = [_decoder(t) for _, t in fields]
        return lambda r: cls(*[f(r) for f in readers])
    raise TypeError(f"cannot decode {desc!r}")


def _result(desc):
    """A function(buffer) -> value that decodes a returned buffer in place and
    releases it."""
    decode = (lambda r: bytes(r.data).decode("utf-8")) if desc == ("string",) else _decoder(desc)

    def run(buf):
        try:
            n = buf.len
            view = memoryview((ctypes.c_ubyte * n).from_address(buf.data)).cast("B") if n else memoryview(b"")
            return decode(_Reader(view))
        finally:
            _buffer_free(buf, _byref(_RustCallStatus()))
    return run


def _bind(name, restype):
    # No argtypes: every argument is passed as a ready ctypes value, which
    # spares ctypes a conversion per argument on every call.
    fn = getattr(_lib, name)
    fn.restype = restype
    return fn


def _check_library(expected_checksums):
    version_fn = _lib.ffi_lumenfold_python_uniffi_contract_version
    version_fn.argtypes = []
    version_fn.restype = ctypes.c_uint32
    version = version_fn()
    if version != _CONTRACT_VERSION:
        raise LibraryMismatchError(
            f"{_LIB_PATH}: contract version {version}, this module expects {_CONTRACT_VERSION}")
    for symbol, expected in expected_checksums.items():
        try:
            fn = getattr(_lib, symbol)
        except AttributeError:
            raise LibraryMismatchError(f"{_LIB_PATH}: missing entry point {symbol}") from None
        fn.argtypes = []
        fn.restype = ctypes.c_uint16
        actual = fn()
        if actual != expected:
            raise LibraryMismatchError(
                f"{_LIB_PATH}: checksum of {symbol} is {actual:#06x}, this module expects {expected:#06x}")


class _Object:
    """Base of the exported objects: owns one reference to a library object
    (`_h`, the handle as a ready ctypes value)."""
    __slots__ = ("_h",)
    _free = None

    def __del__(self):
        handle = getattr(self, "_h", None)
        if handle is not None:
            self._h = None
            type(self)._free(handle, _UNUSED)

    # A copy would share the library object without holding a reference of its
    # own, and a pickle would carry a bare address into another process: both
    # end in a call on a freed object. Refuse them all.
    def _refuse_copy(self, *_):
        name = type(self).__name__
        raise TypeError(f"{name} objects cannot be copied or pickled: the indicator state lives inside the "
                        f"library and cannot be duplicated or saved; construct a new {name} instead")

    __copy__ = __deepcopy__ = __reduce__ = __reduce_ex__ = _refuse_copy

# ---- generated declarations --------------------------------------------------
