# ---- host runtime: buffers, call status, value conversion -------------------
# This part is copied verbatim into the generated module; the item
# declarations that follow it are generated from the library's metadata.

import ctypes
import dataclasses
import enum
import itertools
import math
import operator
import os
import platform
import struct
import sys
import threading
from array import array
from collections.abc import Mapping, Sequence, Set

if sys.version_info < (3, 10):
    raise ImportError(f"lumenfold_python needs Python 3.10 or later, not {platform.python_version()}")

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


# Ownership across an exception. An exception can land between any two calls
# (a signal handler's KeyboardInterrupt lands right after the foreign call
# that was running), so whatever the library hands over is held from the
# moment it exists by an object that releases it when dropped: buffers come
# back as _Returned and handles as _Handle (the restypes of the entry points).
# Where ownership passes on (a buffer consumed by a call or freed), the object
# is made a plain value by assigning its __class__, with no call in between,
# so no exception can come between the hand-over and the change. A handle
# stays a _Handle in its object (see _Object).

class _Returned(_RustBuffer):
    """A buffer the library handed over that this host still has to release:
    freed when dropped."""
    __slots__ = ()

    def __del__(self):
        if self.data:
            self.__class__ = _RustBuffer
            _buffer_release(self, _UNUSED)


class _Handle(ctypes.c_uint64):
    """A handle a constructor returned: the reference it designates is freed
    when this is dropped. One subclass per object type, carrying its free
    function."""
    __slots__ = ()
    _free = None

    def __del__(self):
        free = self._free
        handle = self.value
        if handle:
            freed = ctypes.c_uint64(handle)
            # Zeroed before the free: the collector runs every finaliser of
            # cyclic garbage before it clears any of it, so another finaliser
            # may still call a method of the object holding this. It then
            # passes a null handle, which the library refuses, never the
            # address of an object freed (or of one made since in its place).
            self.value = 0
            self.__class__ = ctypes.c_uint64
            free(freed, _UNUSED)


def _handle_type(free):
    return type("_Handle", (_Handle,), {"__slots__": (), "_free": free})


_LIB_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), _LIB_FILE)
_lib = ctypes.CDLL(_LIB_PATH)

_buffer_alloc = _lib.ffi_lumenfold_python_rustbuffer_alloc
_buffer_alloc.argtypes = [ctypes.c_uint64, ctypes.POINTER(_RustCallStatus)]
_buffer_alloc.restype = _Returned
_buffer_from_bytes = _lib.ffi_lumenfold_python_rustbuffer_from_bytes
_buffer_from_bytes.argtypes = [_ForeignBytes, ctypes.POINTER(_RustCallStatus)]
_buffer_from_bytes.restype = _Returned
# The buffers the library handed over are released by its free: their release
# cannot fail, so it never writes its status, and it never waits, so it keeps
# the GIL (no release and re-acquire around it). No argtypes: half the cost of
# a call.
_buffer_release = ctypes.PyDLL(_LIB_PATH)["ffi_lumenfold_python_rustbuffer_free"]
_buffer_release.restype = None


def _elf_machine(path):
    """The machine an ELF file is built for (its e_machine), or None."""
    with open(path, "rb") as f:
        head = f.read(20)
    if len(head) < 20 or head[:4] != b"\x7fELF" or head[5] not in (1, 2):
        return None
    return struct.unpack_from("<H" if head[5] == 1 else ">H", head, 18)[0]


# On x86-64 (System V) a returned RustBuffer, being larger than 16 bytes, is
# written through a pointer the caller passes as a hidden first argument. The
# entry points that return a record are declared that way there (returning
# nothing, taking that pointer first) and handed a buffer of the calling
# thread, which spares ctypes making a structure for every result. Other
# machines pass that pointer elsewhere (aarch64: in x8, outside the argument
# registers), and there ctypes receives the structure.
_HIDDEN_RETURN = (platform.machine() in ("x86_64", "amd64") and ctypes.sizeof(ctypes.c_void_p) == 8
                  and _elf_machine(_LIB_PATH) == 62)  # EM_X86_64
# The restype of the entry points that return a record.
_RECORD_RESTYPE = None if _HIDDEN_RETURN else _Returned

# Clone and free never write their status; one shared record serves them all.
_UNUSED = ctypes.byref(_RustCallStatus())
_NO_BUFFER = _RustBuffer(0, 0, None)
_byref = ctypes.byref
_c_double = ctypes.c_double
_c_uint64 = ctypes.c_uint64
_I32 = struct.Struct(">i")
_new = object.__new__
# A read-only view of the whole address space: a returned record is unpacked
# where the library wrote it, at the address its buffer holds, with no object
# made to reach it. Only the bytes of a buffer just returned are read through it.
_MEMORY = memoryview((ctypes.c_char * sys.maxsize).from_address(0)).cast("B").toreadonly()
# Vectors and strings carry their count as a signed 32-bit integer.
_MAX_COUNT = 2**31 - 1


def _take_buffer(buf):
    """The bytes of a buffer the library returned; the buffer is released."""
    try:
        return ctypes.string_at(buf.data, buf.len) if buf.len else b""
    finally:
        buf.__class__ = _RustBuffer
        _buffer_release(buf, _UNUSED)


def _take_message(st):
    """The message of the failure recorded in `st`; `st` is reset for the next
    call on this thread and the message buffer released."""
    eb = st.error_buf  # a view into st: copy it before resetting st
    buf = _RustBuffer(eb.capacity, eb.len, eb.data)
    # From here `buf` alone holds the message: no call in between.
    st.code = 0
    st.error_buf = _NO_BUFFER
    buf.__class__ = _Returned
    return _take_buffer(buf).decode("utf-8", "replace")


def _raise_status(st):
    code = st.code
    message = _take_message(st)
    if code == 2:
        raise LumenfoldError(message)
    raise LumenfoldError(f"unexpected call status {code}" + (f": {message}" if message else ""))


def _foreign_object(label, obj):
    return TypeError(f"{label}() called on an object of type {type(obj).__name__}")


def _method_failed(st, obj, h, cls, label):
    """Raises the failure of a method call on `obj`, whose handle was `h`: a
    TypeError when `obj` is not a `cls` (the library refused it by its
    type), a LumenfoldError saying so when it was finalised (its __del__ or
    its handle's had run: the library refused a null handle), else the
    library's error."""
    if not isinstance(obj, cls):
        _take_message(st)
        raise _foreign_object(label, obj)
    if h is None or (isinstance(h, _c_uint64) and not h.value):
        _take_message(st)
        raise LumenfoldError(f"{label}(): this {type(obj).__name__} was already finalised: its library object is "
                             f"freed")
    _raise_status(st)


def _no_handle(obj, cls, label):
    """Raises the error of a method called on `obj`, which holds no handle: a
    TypeError when it is not a `cls`, else a RuntimeError saying that it was
    never initialised (made by __new__ alone, or by a subclass's __init__
    that does not call its base's)."""
    if not isinstance(obj, cls):
        raise _foreign_object(label, obj) from None
    raise RuntimeError(f"{label}(): this {type(obj).__name__} was never initialised: {cls.__name__}.__init__ did "
                       f"not run on it (a subclass's __init__ must call super().__init__(...))") from None


def _length_error(n, used):
    """A returned buffer of `n` bytes whose decoding took `used` bytes."""
    if used < n:
        return LumenfoldError(f"{n - used} bytes left over after decoding a result")
    return LumenfoldError(f"a result of {n} bytes decoded as {used} bytes")


def _unwind(st, clone, free, *held):
    """Releases what a call that ends in an exception still holds: the failure
    left in its status record, the clone of its object's handle that no call
    consumed (freed with `free`), and the buffers and handles in `held` that
    are still its own."""
    if st.code:
        _take_message(st)
    if clone is not None:
        free(clone, _UNUSED)
    for value in held:
        if isinstance(value, _Returned):
            value.__class__ = _RustBuffer
            _buffer_release(value, _UNUSED)
        elif isinstance(value, _Handle):
            free_handle = value._free
            value.__class__ = _c_uint64
            if value.value:
                free_handle(value, _UNUSED)


# One status record per thread: the library writes it only when a call fails,
# and every path out of a call resets it, so it is all zeros before every call.
_thread = threading.local()


def _thread_status():
    st = _RustCallStatus()
    _thread.status = pair = (st, _byref(st))
    return pair


def _status():
    try:
        return _thread.status
    except AttributeError:
        return _thread_status()


# Where the entry points that return a record write it, one buffer per
# thread, beside the thread's status record: (status, its pointer, buffer,
# its pointer, its fields as native 64-bit words: capacity, len, data; read
# and written through the words, which is cheaper than through the fields).
# The buffer is empty (a null `data`) but from the return of such a call to
# the release of what it returned. A call that finds it in use (one made by a
# finalizer or a signal handler in between) takes a buffer of its own.
def _out_buffer():
    out = _RustBuffer()
    return out, _byref(out), memoryview(out).cast("B").cast("Q")


def _thread_call():
    _thread.call = state = _status() + _out_buffer()
    return state


def _unwind_out(st, clone, free, out, released, *held):
    """_unwind for a call that had the library write its result into `out`:
    a buffer left there is released too unless `released` says the call did
    so already, and `out` is left empty."""
    at = out.data
    if at:
        cap, n = out.capacity, out.len
        # From here the locals alone hold the buffer: no call in between.
        out.data = None
        if not released:
            held += (_Returned(cap, n, at),)
    _unwind(st, clone, free, *held)


# Vectors cross in pieces of this many elements: each piece is converted,
# swapped and copied while it is in cache, and no temporary as large as the
# vector is made (a fresh block of megabytes costs more in page faults than
# the copy itself).
_PIECE = 1 << 13


class _ByValue(type(ctypes.c_double)):
    """The metaclass of _Double, of which no object counts as an instance."""

    def __instancecheck__(cls, obj):
        return False


# The items of a list or tuple are converted by a ctypes array of _Double laid
# over a scratch array: its slice assignment converts item by item through the
# number protocol (__float__, then __index__) and stops at the first that
# fails. It would copy the bytes of an item that is (or, by its __class__,
# says it is) an instance of the element type: no object counts as one of
# _Double (but one of that very type, which this module never makes), so
# every ctypes object is refused by its type instead. The scratch is first
# filled with _UNSET, a quiet NaN with a payload drawn for this process, so
# that where the conversion stopped shows: at the first element still _UNSET
# (unless an item before it converted to _UNSET itself).
_Double = _ByValue("_Double", (ctypes.c_double,), {})
_UNSET = 0x7FF8 << 48 | int.from_bytes(os.urandom(6), "little") & ((1 << 48) - 1) | 1
_UNSET_PIECE = struct.pack("=Q", _UNSET) * _PIECE


class _Series:
    """A list or tuple (or an instance of a subclass of either) for a vector
    of doubles, converted piece by piece as it is copied into the library;
    `where` names it in errors. A list is read as it stands when this is
    made: its items are copied at once (a copy of a list is atomic under the
    interpreter lock), last first, so that each piece is cut from the end of
    the copy and its references are dropped while they are in cache; a list
    whose length has changed by the time its last piece is converted (an
    item's __float__ or another thread changed it) is refused. A vector is
    never spliced from two states. A subclass is read through list's and
    tuple's own methods, whatever it overrides. Written once."""
    __slots__ = ("values", "items", "count", "where", "scratch", "view")

    def __init__(self, values, where):
        if issubclass(type(values), list):
            self.values = values
            self.items = list.__getitem__(values, _REVERSED)
        else:
            self.values = None
            self.items = tuple.__getitem__(values, _WHOLE)
        self.count = len(self.items)
        self.where = where
        # A power of two long, so that few array types are made.
        self.scratch = array("d", bytes(8 * min(_PIECE, 1 << max(self.count - 1, 0).bit_length())))
        self.view = (_Double * len(self.scratch)).from_buffer(self.scratch)

    def __len__(self):
        return self.count

    def write(self, start, stop, at):
        if self.values is None:
            part = self.items[start:stop]
        else:
            cut = self.count - stop
            part = self.items[cut:]
            del self.items[cut:]
            part.reverse()
        n = stop - start
        ctypes.memmove(self.view, _UNSET_PIECE, 8 * n)
        try:
            self.view[:n] = part
        except _CONVERSION_ERRORS as e:
            # The first item left unset is the one that failed (a float that
            # is _UNSET was written).
            words = memoryview(self.scratch).cast("B").cast("Q")
            i = next(i for i in range(n) if words[i] == _UNSET and not
                     (issubclass(type(part[i]), float) and struct.pack("=d", part[i]) == _UNSET_PIECE[:8]))
            raise _number_error(self.where, part[i], e, "numbers", start + i)
        if stop == self.count and self.values is not None:
            _check_unchanged(self.values, self.count, self.where)
        if _LITTLE:
            self.scratch.byteswap()
        ctypes.memmove(at, self.view, 8 * n)


_REVERSED = slice(None, None, -1)
_WHOLE = slice(None)


class _Doubles:
    """A caller's buffer of native doubles, copied whole into the library.
    No view of it is held in between: a view kept alive (by a traceback that
    holds this frame) would stop the caller's array from growing."""
    __slots__ = ("values", "where")

    def __init__(self, values, where):
        self.values = values
        self.where = where


class _Cast(_Doubles):
    """A caller's one-dimensional buffer of other real numbers (integers,
    bools, float32, float16), of any layout, while NumPy is loaded: NumPy
    casts it piece by piece straight into the library's buffer, each value
    to the double float() makes of it, at C speed."""
    __slots__ = ()


def _changed(where):
    return ValueError(f"{where} changed while it was being converted")


def _check_unchanged(values, count, where):
    """Refuses a list read as it stood with `count` items whose length has
    changed since (by an item's conversion or another thread)."""
    if list.__len__(values) != count:
        raise _changed(where)


def _count_error(where, n):
    return ValueError(f"{where} has {n} items, more than the {_MAX_COUNT} a vector can hold")


def _vector_buffer(n, write, where):
    """A library buffer holding a vector of n 8-byte elements, written piece by
    piece behind its count in big-endian order by write(start, stop, at),
    which writes the elements start..stop at address `at`."""
    if n > _MAX_COUNT:
        raise _count_error(where, n)
    st, sp = _status()
    buf = _buffer_alloc(4 + 8 * n, sp)
    if st.code:
        _raise_status(st)
    try:
        at = buf.data
        ctypes.memmove(at, _I32.pack(n), 4)
        at += 4
        for start in range(0, n, _PIECE):
            write(start, min(start + _PIECE, n), at + 8 * start)
    except BaseException:
        buf.__class__ = _RustBuffer
        _buffer_release(buf, _UNUSED)
        raise
    return buf


def _swapping(piece):
    """A writer for _vector_buffer from piece(start, stop), which gives the
    elements start..stop as an array in native order."""
    def write(start, stop, at):
        a = piece(start, stop)
        if _LITTLE:
            a.byteswap()
        ctypes.memmove(at, a.buffer_info()[0], 8 * len(a))
    return write


def _doubles_buffer(payload):
    with _view(payload.values, payload.where, True) as view:
        # Checked again: another thread may have changed the object since.
        if view.ndim != 1 or view.format not in ("d", "@d") or not view.c_contiguous:
            raise _changed(payload.where)
        with view.cast("B") as raw:
            def piece(start, stop):
                a = array("d")
                a.frombytes(raw[8 * start:8 * stop])
                return a
            return _vector_buffer(len(view), _swapping(piece), payload.where)


def _cast_buffer(payload):
    numpy = _numpy()
    with _view(payload.values, payload.where, True) as view:
        # Checked again: another thread may have changed the object since.
        if numpy is None or view.ndim != 1 or view.format.lstrip("@=<>!") not in _CAST_FORMATS:
            raise _changed(payload.where)
        source = numpy.asarray(view)
        try:
            def write(start, stop, at):
                target = numpy.frombuffer((ctypes.c_char * (8 * (stop - start))).from_address(at), ">f8")
                target[:] = source[start:stop]
            # A float32 signalling NaN is made quiet, as float() makes it,
            # without NumPy's warning for it.
            with numpy.errstate(invalid="ignore"):
                return _vector_buffer(len(view), write, payload.where)
        finally:
            del source  # its export of the view, before the view is released


def _buffer_of(payload):
    """A library buffer (a _Returned) holding a serialized argument: a
    bytearray of its bytes, or a vector (a _Series, a _Doubles, a _Cast, or an
    array of 8-byte elements in native order of our own)."""
    if isinstance(payload, bytearray):
        n = len(payload)
        if n == 0:
            return _RustBuffer(0, 0, None)
        st, sp = _status()
        view = (ctypes.c_char * n).from_buffer(payload)
        buf = _buffer_from_bytes(_ForeignBytes(n, ctypes.cast(view, ctypes.c_void_p)), sp)
        if st.code:
            _raise_status(st)
        return buf
    if isinstance(payload, _Series):
        return _vector_buffer(len(payload), payload.write, payload.where)
    if isinstance(payload, _Cast):
        return _cast_buffer(payload)
    if isinstance(payload, _Doubles):
        return _doubles_buffer(payload)
    return _vector_buffer(len(payload), _swapping(lambda start, stop: payload[start:stop]), "a vector")


def _buffers(*payloads):
    """Library buffers for several serialized arguments; none is left behind
    if one of them cannot be made."""
    made = []
    try:
        for p in payloads:
            made.append(_buffer_of(p))
    except BaseException:
        for b in made:
            b.__class__ = _RustBuffer
            _buffer_release(b, _UNUSED)
        raise
    return made


# ---- arguments
# Every converter takes the value and `where`, the words that name the
# argument in a message: "sma(): argument 'series'".

# What a value's failed conversion raises: TypeError for what is not a
# number, OverflowError for one out of range, ValueError for one its
# __float__ or __index__ refuses. Raised while a value is converted, these
# are the value's, reported naming it; anything else (KeyboardInterrupt,
# MemoryError, RecursionError, a StopIteration) leaves the call as it is.
_CONVERSION_ERRORS = (TypeError, ValueError, OverflowError)


def _type_error(where, expected, value):
    return TypeError(f"{where} must be {expected}, not {type(value).__name__}")


def _number_error(where, value, error, expected="a real number", item=None):
    """The error to raise for `value`, the argument `where` names or its item
    `item`, whose conversion raised `error` (one of _CONVERSION_ERRORS), or
    None for a value refused by its type: one of the same kind (a TypeError
    saying what was `expected`) that names it, `error` its cause."""
    if error is None or isinstance(error, TypeError):
        e = (_type_error(where, expected, value) if item is None else
             TypeError(f"{where} must be a sequence of {expected}, but item {item} is {type(value).__name__}"))
    else:
        if item is not None:
            where = f"{where} item {item}"
        e = (OverflowError(f"{where}: {error}") if isinstance(error, OverflowError) else
             ValueError(f"{where}: {type(value).__name__} value could not be converted: {error}"))
    e.__cause__ = error
    return e


def _uint(bits):
    """A check of an unsigned integer of `bits` bits: the argument `where`
    names, or its item `item`."""
    def check(value, where, item=None):
        try:
            v = operator.index(value)
        except _CONVERSION_ERRORS as e:
            raise _number_error(where, value, e, "an integer" if item is None else "integers", item)
        if item is not None:
            where = f"{where} item {item}"
        if v < 0:
            raise ValueError(f"{where} must not be negative (got {v})")
        if v >= 1 << bits:
            raise OverflowError(f"{where} does not fit in {bits} bits (got {v})")
        return v
    return check


_u64 = _uint(64)


def _is_bool(value):
    """True for a bool, or NumPy's bool (told by its type, without importing
    NumPy): nothing else is taken for a flag, not even 0 and 1."""
    kind = type(value)
    return kind is bool or (kind.__name__ in ("bool_", "bool") and kind.__module__ == "numpy")


def _truth(value, where):
    if not _is_bool(value):
        raise _type_error(where, "a bool", value)
    return bool(value)


def _bool(value, where):
    return ctypes.c_int8(_truth(value, where))


def _scalar(ctype, check):
    return lambda value, where: ctype(check(value, where))


# Not vectors, though they iterate: text and raw bytes (whose items are
# characters or bytes, not numbers), mappings and sets (no order of their own).
_NOT_VECTORS = (str, bytes, bytearray, Mapping, Set)
_BYTE_FORMATS = ("B", "b", "c")


def _numpy():
    """NumPy if it is loaded, else None: this module never imports it (a
    caller who passes a NumPy array has)."""
    return sys.modules.get("numpy")


def _is_ndarray(obj):
    """A NumPy array (of any subclass), told without importing NumPy."""
    return issubclass(type(obj), getattr(_numpy(), "ndarray", ()))


def _is_number_array(obj):
    """An array.array or a NumPy array: their items are numbers whatever
    their size."""
    return isinstance(obj, array) or _is_ndarray(obj)


def _is_masked(obj):
    """A NumPy masked array, told without importing NumPy: one exists only
    once numpy.ma is loaded."""
    ma = sys.modules.get("numpy.ma")
    return ma is not None and issubclass(type(obj), ma.MaskedArray)


def _not_a_vector(where, items, what):
    return TypeError(f"{where} must be a sequence of {items}, not {what}")


def _table_error(where, items, ndim, kind):
    hint = ": pass one column, as df['close']" if kind == "DataFrame" else ""
    return _not_a_vector(where, items, f"a {ndim}-dimensional {kind}{hint}")


def _check_vector(values, where, items, source=None):
    """Refuses what is not a vector of `items`. Returns the vector to read and
    the format and contiguity of a one-dimensional buffer, None for anything
    else. An object that exposes no buffer but has __array__ (a pandas Series
    or DataFrame, a proxy of one) is read as the array that returns, once,
    `source` its type: that must expose a buffer, as NumPy requires. A table
    is refused by its dimensions, read before its buffer whatever its
    columns hold, never read as its column labels. Refused by what they
    hold: a masked array, whatever its type (its buffer holds the values
    masked out too), a buffer of raw bytes or complex numbers, and a NumPy
    array of a dtype that exports no buffer (datetimes, timedeltas)."""
    if isinstance(values, _NOT_VECTORS):
        raise _type_error(where, f"a sequence of {items}", values)
    if _is_masked(values):
        raise _not_a_vector(where, items, "a masked array: fill its masked entries first (numpy.ma.filled)")
    kind = (source or type(values)).__name__
    ndarray = _is_ndarray(values)
    if ndarray and values.ndim > 1:
        raise _table_error(where, items, values.ndim, kind)
    try:
        view = _view(values, where)
    except ValueError:
        if not ndarray:
            raise
        raise _not_a_vector(where, items, f"a {kind} of dtype {values.dtype}") from None
    if view is None and source is not None:
        raise TypeError(f"{where} must be a sequence of {items}, but {kind}.__array__() returned "
                        f"{type(values).__name__}, which exposes no buffer")
    if view is None:
        # Looked up on the object, as NumPy does, so that a proxy's forward counts.
        try:
            to_array = values.__array__
        except AttributeError:
            to_array = None
        if to_array is not None:
            try:
                array_ = to_array()
            except _CONVERSION_ERRORS as e:
                raise _number_error(where, values, e, f"a sequence of {items}")
            return _check_vector(array_, where, items, type(values))
        layout = None
    else:
        with view:
            if view.ndim > 1:
                raise _table_error(where, items, view.ndim, kind)
            # Raw bytes stay refused however they are wrapped (a memoryview,
            # a cast, a ctypes array): a buffer of single bytes is a vector
            # only when it is an array of numbers.
            fmt = view.format.lstrip("@=<>!")
            if fmt in _BYTE_FORMATS and not _is_number_array(view.obj):
                raise _not_a_vector(where, items, f"a buffer of bytes ({kind})")
            if fmt.startswith("Z"):
                raise _not_a_vector(where, items, f"a buffer of complex numbers ({kind})")
            if len(view) > _MAX_COUNT:
                raise _count_error(where, len(view))
            layout = (view.format, view.c_contiguous) if view.ndim == 1 else None
    if layout is None:
        try:
            n = len(values)
        except TypeError:
            pass  # an iterable without a length: counted as it is converted
        except (ValueError, OverflowError) as e:  # a __len__ below 0 or beyond an index
            raise type(e)(f"{where}: the length of {type(values).__name__} could not be read: {e}") from e
        else:
            if n > _MAX_COUNT:
                raise _count_error(where, n)
    return values, layout


def _view(values, where, exposed=False):
    """A memoryview of `values`, or None for an object that exposes no buffer
    (or, `exposed`, one that did when it was checked: refused as changed). A
    buffer that cannot be read (a released memoryview) is refused naming the
    argument."""
    try:
        return memoryview(values)
    except TypeError:
        if exposed:
            raise _changed(where) from None
        return None
    except (ValueError, BufferError) as e:
        raise _number_error(where, values, e)


def _iterated(values, where):
    """An array of the doubles an iterable of numbers yields, read once, each
    item converted once. Runs of floats, bools and ints are read, then
    converted at once: they run no code of the caller's (only an int too
    large for a double fails, and is found by converting the run's ints
    again). Any other item is converted on its own as soon as it is read, in
    our own call, never inside an iteration (which would take a
    StopIteration for the end of the items), so that reading stops at an
    item whose conversion fails. What the iterable itself raises leaves as
    it is."""
    try:
        items = iter(values)
    except TypeError:
        raise _type_error(where, "a sequence of numbers", values) from None
    a = array("d")
    while True:
        start = len(a)
        for kind, run in itertools.groupby(itertools.islice(items, _PIECE), type):
            if kind is int or kind is bool or issubclass(kind, float):
                part = list(run)
                try:
                    a.fromlist(part)
                except OverflowError as e:
                    i = next(i for i, v in enumerate(part) if not _fits(v))
                    raise _number_error(where, part[i], e, "numbers", len(a) + i)
                continue
            for v in run:
                try:
                    x = _as_float(v, 0)
                except _CONVERSION_ERRORS as e:
                    raise _number_error(where, v, e, "numbers", len(a))
                a.append(x)
        if len(a) - start < _PIECE:
            return a


def _fits(n):
    """Whether the int `n` converts to a double."""
    try:
        float(n)
    except OverflowError:
        return False
    return True


# An item converted once, by ldexp(item, 0), which returns it as a float with
# its bits (an array converts an item it appends twice: to check it, to store it).
_as_float = math.ldexp


# Buffer formats of doubles, by the byte order of their data.
_DOUBLE_FORMATS = {"d": sys.byteorder, "@d": sys.byteorder, "=d": sys.byteorder, "<d": "little", ">d": "big",
                   "!d": "big"}


# Buffer formats of other real numbers (integers, bools, float32, float16):
# NumPy, once loaded, casts them to doubles as float() converts each value.
_CAST_FORMATS = frozenset("bBhHiIlLqQ?fe")


def _vec_f64(values, where):
    """A vector of doubles, converted with no work per element in Python: a
    buffer of native doubles (array('d'), a float64 NumPy array or pandas
    Series, a memoryview) stays the caller's until it is copied into the
    library, and a list or tuple is converted as it is copied (a list as it
    stands now: see _Series); so is a buffer of other real numbers while
    NumPy is loaded (see _Cast). Another buffer of doubles or any other
    iterable of numbers becomes an array of our own now."""
    if issubclass(type(values), (list, tuple)):  # isinstance() would believe a proxy's __class__
        return _Series(values, where)
    values, layout = _check_vector(values, where, "numbers")
    if layout is not None:
        fmt, contiguous = layout
        order = _DOUBLE_FORMATS.get(fmt)
        if order == sys.byteorder and fmt in ("d", "@d") and contiguous:
            return _Doubles(values, where)
        if order is not None:
            a = array("d")
            with _view(values, where, True) as view:
                a.frombytes(view.tobytes())
            if order != sys.byteorder:
                a.byteswap()
            return a
        if fmt.lstrip("@=<>!") in _CAST_FORMATS and _numpy() is not None:
            return _Cast(values, where)
    return _iterated(values, where)


def _elements(values, where, items):
    """The items of a vector of `items` that are converted one by one, and a
    check to run once they are: a list read as it stands now (refused if its
    length has changed by then) and a tuple through their own methods,
    whatever a subclass overrides (as _Series reads them); any other iterable
    as it yields them."""
    if issubclass(type(values), list):
        taken = list.__getitem__(values, _WHOLE)
        return taken, lambda: _check_unchanged(values, len(taken), where)
    if issubclass(type(values), tuple):
        return tuple.__getitem__(values, _WHOLE), None
    values = _check_vector(values, where, items)[0]
    try:
        return iter(values), None
    except TypeError:
        raise _type_error(where, f"a sequence of {items}", values) from None


def _vec_u64(values, where):
    items, check = _elements(values, where, "integers")
    a = array("Q")
    # A loop, not a generator: a StopIteration raised by an item's __index__
    # leaves the call as itself.
    for i, v in enumerate(items):
        a.append(_u64(v, where, i))
    if check is not None:
        check()
    return a


def _vec_bool(values, where):
    items, check = _elements(values, where, "booleans")
    flags = bytearray(4)
    for i, v in enumerate(items):
        if not _is_bool(v):
            raise _number_error(where, v, None, "booleans", i)
        flags.append(1 if v else 0)
    if check is not None:
        check()
    n = len(flags) - 4
    if n > _MAX_COUNT:
        raise _count_error(where, n)
    flags[:4] = _I32.pack(n)
    return flags


def _string(value, where):
    if not isinstance(value, str):
        raise _type_error(where, "a str", value)
    try:
        return bytearray(value.encode("utf-8"))
    except UnicodeEncodeError as e:
        raise ValueError(f"{where} cannot be encoded as UTF-8: {e}") from e


def _enum_arg(cls):
    def lower(value, where):
        if type(value) is not cls:
            raise _type_error(where, f"a {cls.__name__}", value)
        return bytearray(_I32.pack(value.value))
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
            with memoryview((ctypes.c_ubyte * n).from_address(buf.data) if n else b"") as whole:
                with whole.cast("B") as view:
                    return decode(_Reader(view))
        finally:
            buf.__class__ = _RustBuffer
            _buffer_release(buf, _UNUSED)
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
    """Base of the exported objects: holds one reference to a library object
    (`_h`, the _Handle a constructor returned).

    The _Handle itself owns the reference and frees it when the last Python
    reference to it goes. A call takes its own (`h = self._h`) before it
    clones the handle, so re-running __init__ or __del__ on another thread,
    which only replaces `_h`, frees the old library object once no call
    still holds it: never under a running call, never twice."""
    __slots__ = ("_h",)

    def __del__(self):
        self._h = None

    def _adopt(self, handle):
        """Stores the _Handle a constructor returned, in place of the one this
        object held before (when __init__ runs again)."""
        self._h = handle

    # A copy would share the library object without holding a reference of its
    # own, and a pickle would carry a bare address into another process: both
    # end in a call on a freed object. Refuse them all.
    def _refuse_copy(self, *_):
        name = type(self).__name__
        raise TypeError(f"{name} objects cannot be copied or pickled: the indicator state lives inside the "
                        f"library and cannot be duplicated or saved; construct a new {name} instead")

    __copy__ = __deepcopy__ = __reduce__ = __reduce_ex__ = _refuse_copy

# ---- generated declarations --------------------------------------------------
