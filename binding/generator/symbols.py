"""The exported symbols: entry points, their checksum functions and the
metadata blobs, named after the item as declared."""

MODULE = "lumenfold_python"
FN = f"uniffi_{MODULE}_fn_"


def sym_constructor(obj: str, ctor: str) -> str:
    return f"{FN}constructor_{obj.lower()}_{ctor}"


def sym_method(obj: str, method: str) -> str:
    return f"{FN}method_{obj.lower()}_{method}"


def sym_func(func: str) -> str:
    return f"{FN}func_{func}"


def sym_clone(obj: str) -> str:
    return f"{FN}clone_{obj.lower()}"


def sym_free(obj: str) -> str:
    return f"{FN}free_{obj.lower()}"


def checksum_symbol(fn_symbol: str) -> str:
    return fn_symbol.replace(FN, f"uniffi_{MODULE}_checksum_", 1)


def meta_symbol(kind: str, *parts: str) -> str:
    if kind == "NAMESPACE":
        return f"UNIFFI_META_NAMESPACE_{MODULE.upper()}"
    return f"UNIFFI_META_{MODULE.upper()}_{kind}_" + "_".join(p.upper() for p in parts)
