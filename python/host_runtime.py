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


def _buffer_of(payload):
    """A library-owned buffer holding a serialized argument: a bytearray, or
    an array of big-endian 8-byte elements that still needs its count."""
    st = _RustCallStatus()
    if isinstance(payload, array):
        n = len(payload)
        buf = _buffer_alloc(4 + 8 * n, _byref(st))
        if st.code:
            _raise_status(st)
        ctypes.memmove(buf.data, struct.pack(">i", n), 4)
        if n:
            ctypes.memmove(buf.data + 4, payload.buffer_info()[0], 8 * n)
        return buf
    n = len(payload)
    if n == 0:
        return _RustBuffer(0, 0, None)
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

def _u64(value, name):
    v = operator.index(value)
    if v < 0:
        raise ValueError(f"{name} must not be negative (got {v})")
    if v >= 1 << 64:
        raise OverflowError(f"{name} does not fit in 64 bits (got {v})")
    return v


def _uint(bits):
    def check(value, name):
        v = operator.index(value)
        if v < 0:
            raise ValueError(f"{name} must not be negative (got {v})")
        if v >= 1 << bits:
            raise OverflowError(f"{name} does not fit in {bits} bits (got {v})")
        return v
    return check


def _int(bits):
    def check(value, name):
        v = operator.index(value)
        if not -(1 << (bits - 1)) <= v < 1 << (bits - 1):
            raise OverflowError(f"{name} does not fit in {bits} bits (got {v})")
        return v
    return check


def _f64(value, name):
    return ctypes.c_double(value)


def _f32(value, name):
    return ctypes.c_float(value)


def _bool(value, name):
    return ctypes.c_int8(1 if value else 0)


def _scalar(ctype, check):
    return lambda value, name: ctype(check(value, name))


def _vec_f64(values, name):
    """A whole vector of doubles converted at once, in big-endian order."""
    # Always a copy: the caller's data is never swapped.
    try:
        view = memoryview(values)
    except TypeError:
        view = None
    if view is not None and view.format == "d" and view.ndim == 1 and view.c_contiguous:
        a = array("d")
        a.frombytes(view.cast("B"))  # array('d'), a float64 NumPy array: one block copy
    else:
        a = array("d", values)
    if _LITTLE:
        a.byteswap()
    return a


def _vec_u64(values, name):
    a = array("Q", (_u64(v, name) for v in values))
    if _LITTLE:
        a.byteswap()
    return a


def _vec_bool(values, name):
    flags = bytes(1 if v else 0 for v in values)
    return bytearray(struct.pack(">i", len(flags)) + flags)


def _string(value, name):
    return bytearray(str(value).encode("utf-8"))


def _enum_arg(cls):
    def lower(value, name):
        return bytearray(struct.pack(">i", int(cls(value))))
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
                a = array("d")
                a.frombytes(r.data[r.pos:r.pos + 8 * n])
                r.pos += 8 * n
                if _LITTLE:
                    a.byteswap()
                return a.tolist()
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
