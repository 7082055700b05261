"""The C++ entry points: one source per description file, its shims (each
lifting its arguments, calling the core and lowering the result under the
call status) followed by the metadata blobs of its items; and the header
declaring every entry point."""

from __future__ import annotations

from .metadata import definitions, function_blob, object_blobs, shared_blobs
from .symbols import sym_clone, sym_constructor, sym_free, sym_func, sym_method
from .types import c_type, codec, generic, in_register


def c_params(args) -> list[str]:
    return [f"{c_type(t)} {name}" for name, t in args]


def lift_lines(iface, args, views: bool = False) -> tuple[list[str], dict[str, str]]:
    """Code that lifts the arguments; returns (lines, name -> C++ expression).
    With `views`, vectors of f64 are read in place instead of copied."""
    lines, exprs = [], {}
    buffers = [n for n, t in args if not in_register(t)]
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
        elif not in_register(t):
            lines.append(f'auto a_{name} = args_.lift<{codec(iface, t)}>("{name}");')
            exprs[name] = f"a_{name}"
        elif t == "bool":
            lines.append(f'const bool a_{name} = lift_bool_arg({name}, "{name}");')
            exprs[name] = f"a_{name}"
        else:
            exprs[name] = name
    return lines, exprs


def return_expr(iface, t: str, expr: str) -> str:
    if t == "unit":
        return f"{expr};"
    if t == "bool":
        return f"return static_cast<std::int8_t>({expr} ? 1 : 0);"
    if in_register(t):
        return f"return static_cast<{c_type(t)}>({expr});"
    if t == "string":
        return f"return lower_string({expr});"
    return f"return lower<{codec(iface, t)}>({expr});"


def entry_point(ret_c: str, symbol: str, params: list[str], body: str) -> tuple[str, str]:
    """An exported function: its declaration for entry_points.h and its definition."""
    head = f"{ret_c} {symbol}({', '.join(params)})"
    return f"{head};", f"LF_EXPORT {head} {{\n{body}}}\n"


def shim(ret_c: str, symbol: str, params: list[str], body: list[str]) -> tuple[str, str]:
    """An entry point whose body runs under call_with_status, which turns
    any failure into the status."""
    inner = "\n".join("        " + line for line in body)
    return entry_point(ret_c, symbol, params + ["RustCallStatus* status"],
                       f"    return call_with_status<{ret_c}>(status, [&]() -> {ret_c} {{\n{inner}\n    }});\n")


def object_shims(iface, obj: dict) -> list[tuple[str, str]]:
    name, core = obj["name"], obj["core"]
    lines, exprs = lift_lines(iface, obj["new"])
    # The object carries its exported name, for the message of a call made
    # on it through another type's method.
    ctor_args = ", ".join([f'"{name}"'] + [exprs[n] for n, _ in obj["new"]])
    out = [shim("std::uint64_t", sym_constructor(name, obj["constructor"]), c_params(obj["new"]),
                lines + [f"return make_object<{core}>({ctor_args});"])]
    for m in obj["methods"]:
        lines, exprs = lift_lines(iface, m["args"])
        call_args = ", ".join(exprs[n] for n, _ in m["args"])
        lock = f"with_locked(consumed_, [&]({core}& c) {{ return c.{m['call']}({call_args}); }})"
        label = f'"{name}.{m["name"]}"'
        body = [f"ConsumedHandle<{core}> consumed_{{handle, {label}}};"] + lines + [return_expr(iface, m["returns"], lock)]
        out.append(shim(c_type(m["returns"]), sym_method(name, m["name"]),
                        ["std::uint64_t handle"] + c_params(m["args"]), body))
    # Clone and free are the same for every type: the object's own type
    # destroys it.
    handle = ["std::uint64_t handle", "RustCallStatus*"]
    out.append(entry_point("std::uint64_t", sym_clone(name), handle, "    return clone_handle(handle);\n"))
    out.append(entry_point("void", sym_free(name), handle, "    release_handle(handle);\n"))
    if obj.get("batch"):
        fn = obj["batch_fn"]
        # Series are read in place from their buffers, never copied.
        lines, exprs = lift_lines(iface, fn["args"], views=True)
        vectors = [exprs[n] for n, t in fn["args"] if generic(t)]
        ctor = ", ".join(exprs[n] for n, _ in obj["new"])
        element = codec(iface, generic(fn["returns"])[1])
        body = lines + [f"return run_lowered<{element}>({core}{{{ctor}}}, {', '.join(vectors)});"]
        out.append(shim("RustBuffer", sym_func(fn["name"]), c_params(fn["args"]), body))
    return out


def function_shim(iface, fn: dict) -> tuple[str, str]:
    lines, exprs = lift_lines(iface, fn["args"])
    call = f"{fn['impl']}({', '.join(exprs[n] for n, _ in fn['args'])})"
    return shim(c_type(fn["returns"]), sym_func(fn["name"]), c_params(fn["args"]),
                lines + [return_expr(iface, fn["returns"], call)])


PRELUDE = """// Generated by binding/generate.py from binding/interface; do not edit.
#include "runtime/batch.hpp"
#include "runtime/metadata.hpp"
#include "runtime/object.hpp"
#include "records.hpp"
{includes}
using namespace lumenfold::ffi;
"""


def unit_source(iface, unit: dict) -> tuple[str, list[str]]:
    """The source of one description file's items, and the declarations of
    its entry points."""
    headers = sorted({o["include"] for o in unit["objects"] if "include" in o}
                     | {f["include"] for f in unit["functions"] if "include" in f})
    parts = [PRELUDE.format(includes="\n".join(f'#include "{h}"' for h in headers))]
    points, blobs = [], []
    for obj in unit["objects"]:
        shims = object_shims(iface, obj)
        parts.append("\n".join([f"// ---- {obj['name']}"] + [d for _, d in shims]))
        points += shims
        blobs += object_blobs(iface, obj)
        if obj.get("batch"):
            blobs.append(function_blob(iface, obj["batch_fn"]))
    for fn in unit["functions"]:
        points.append(function_shim(iface, fn))
        parts.append(points[-1][1])
        blobs.append(function_blob(iface, fn))
    parts.append(definitions(blobs))
    return "\n".join(parts), [d for d, _ in points]


def shared_source(iface) -> str:
    """The source of the blobs no description file owns: the namespace, the
    records and the enums."""
    return PRELUDE.format(includes="") + definitions(shared_blobs(iface))


def entry_points_header(declarations: list[str]) -> str:
    return ("// Generated by binding/generate.py: the generated entry points; do not edit.\n"
            "#pragma once\n#include \"runtime/exports.h\"\nextern \"C\" {\n"
            + "\n".join(declarations) + "\n}\n")
