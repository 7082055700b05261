"""The help texts of every exported item, for the Python host.

What an item computes is written once, as a comment in the core header that
declares it: the comment directly above its class (or function, or enum),
followed by the header's opening comment (for a header that declares one
indicator, that opening comment is its whole description). The interface
description adds the rest: the constructor arguments, the `next` inputs in
order, the batch function's argument order, the result and the fields of
every record with their types.

docs(iface, include_dir) returns {"objects": {name: {"class": text,
"constructor": text, "methods": {name: text}}}, "functions": {name: text},
"records": {name: text}, "enums": {name: text}}; the host generator puts each
text in the docstring of its item (after the docstring the metadata carries).
"""

from __future__ import annotations

import pathlib
import re

from .types import PRIMITIVES, generic


class MissingDescription(Exception):
    """An exported item whose header says nothing about it."""


# ---------------------------------------------------------------- headers

class Header:
    """One core header, read as lines."""

    def __init__(self, path: pathlib.Path):
        self.path = path
        self.lines = path.read_text().splitlines()

    def opening(self) -> list[str]:
        """The comment the header opens with."""
        out = []
        for line in self.lines:
            if not line.startswith("//"):
                break
            out.append(line)
        return uncomment(out)

    def above(self, index: int) -> list[str]:
        """The comment block directly above line `index` (over a template
        line that belongs to the declaration)."""
        i = index - 1
        while i >= 0 and re.match(r"\s*template\s*<", self.lines[i]):
            i -= 1
        end = i + 1
        while i >= 0 and self.lines[i].lstrip().startswith("//"):
            i -= 1
        return uncomment(self.lines[i + 1:end])

    def find(self, pattern: str, start: int = 0, stop: int | None = None) -> int | None:
        rx = re.compile(pattern)
        for i in range(start, len(self.lines) if stop is None else stop):
            if rx.match(self.lines[i]):
                return i
        return None

    def type_at(self, name: str, kind: str = "class|struct") -> int | None:
        """The line that opens the definition of type `name` (not a forward
        declaration)."""
        return self.find(rf"\s*(?:{kind})\s+{re.escape(name)}\b(?!.*;\s*$)")

    def body_end(self, start: int) -> int:
        """The line closing the definition opened on line `start`."""
        indent = len(self.lines[start]) - len(self.lines[start].lstrip())
        end = self.find(rf"\s{{{indent}}}}};", start + 1)
        return len(self.lines) if end is None else end

    def member_at(self, name: str, start: int) -> int | None:
        """The declaration of member function `name` in the class opened on `start`."""
        return self.find(rf"\s+[\w:<>,&*\s]*\b{re.escape(name)}\(", start + 1, self.body_end(start))

    def function_at(self, name: str) -> int | None:
        """The declaration of free function `name` (namespace scope, column 0)."""
        return self.find(rf"(?:inline |constexpr |static )*[\w:<>,&*]+(?:<[^()]*>)?\s+{re.escape(name)}\(")

    def fields_of(self, start: int) -> list[tuple[str, str]]:
        """(name, trailing comment) of each data member of the struct opened on `start`."""
        out = []
        for line in self.lines[start + 1:self.body_end(start)]:
            m = re.match(r"\s+[\w:<>,\s]+?\b(\w+)\s*(?:=[^;]*|\{[^;]*\})?;\s*(?://\s*(.*))?$", line)
            if m and "(" not in line.split("//")[0]:
                out.append((m.group(1), m.group(2) or ""))
        return out


def uncomment(lines: list[str]) -> list[str]:
    """Comment lines without their `//` and the one space after it; further
    indentation (a formula set apart) is kept."""
    out = [re.sub(r"^\s*//( ?)", "", line).rstrip() for line in lines]
    while out and not out[-1]:
        out.pop()
    return out


def paragraphs(*blocks: list[str]) -> str:
    return "\n\n".join("\n".join(b) for b in blocks if b)


# ---------------------------------------------------------------- types

def py_type(t: str) -> str:
    """A type of the interface description as the Python host presents it."""
    inner = generic(t)
    if inner:
        element = py_type(inner[1])
        return f"list[{element}]" if inner[0] == "vec" else f"{element} | None"
    if t == "unit":
        return "None"
    return PRIMITIVES[t].py if t in PRIMITIVES else t


def element(t: str) -> str | None:
    """The record or enum a type carries, if any."""
    inner = generic(t)
    return element(inner[1]) if inner else t


def arg_type(t: str) -> str:
    """The type of an argument: a vector argument takes any sequence."""
    inner = generic(t)
    return f"sequence of {py_type(inner[1])}" if inner and inner[0] == "vec" else py_type(t)


def arg_list(args) -> str:
    return ", ".join(f"{n}: {arg_type(t)}" for n, t in args)


def names(args) -> str:
    return ", ".join(n for n, _ in args)


# ---------------------------------------------------------------- texts

class Describer:
    def __init__(self, iface, include_dir: pathlib.Path):
        self.iface = iface
        self.include_dir = include_dir
        self.headers: dict[str, Header] = {}
        self.descriptions: dict[str, str] = {}  # object name -> its description

    def header(self, include: str | None, what: str) -> Header:
        if not include:
            raise MissingDescription(f"{what}: no `include` names the header that describes it")
        if include not in self.headers:
            path = self.include_dir / include
            if not path.is_file():
                raise MissingDescription(f"{what}: header {path} not found")
            self.headers[include] = Header(path)
        return self.headers[include]

    def fields(self, record: str) -> str:
        return ", ".join(f"{n}: {py_type(t)}" for n, t in self.iface.records[record])

    def result(self, t: str) -> str:
        """What a call returns, in words, with the fields of a record."""
        inner = generic(t)
        if inner:
            kind, arg = inner
            if kind == "opt":
                return f"{self.result(arg)} or None"
            return f"a list of {self.result(arg) if arg in self.iface.records else py_type(arg)}"
        if t in self.iface.records:
            return f"{t}({self.fields(t)})"
        if t == "unit":
            return "nothing"
        return f"{'an' if py_type(t) == 'int' else 'a'} {py_type(t)}"

    # Objects

    def object_description(self, obj: dict) -> str:
        what = f"object {obj['name']!r}"
        h = self.header(obj.get("include"), what)
        cls = obj["core"].split("::")[-1]
        at = h.type_at(cls)
        if at is None:
            raise MissingDescription(f"{what}: class {cls} not found in {h.path}")
        text = paragraphs(h.above(at), h.opening())
        if not text:
            raise MissingDescription(f"{what}: {h.path} has no comment describing {cls}")
        return text

    def object_texts(self, obj: dict) -> dict:
        name = obj["name"]
        text = self.descriptions[name] = self.object_description(obj)
        ctor = obj["constructor"]
        made = f"{name}({arg_list(obj['new'])})" if ctor == "new" else f"{name}.{ctor}({arg_list(obj['new'])})"
        summary = labelled("Construct:", made)
        methods = {}
        h = self.header(obj.get("include"), name)
        at = h.type_at(obj["core"].split("::")[-1])
        for m in obj["methods"]:
            sig = f"{m['name']}({arg_list(m['args'])}) -> {py_type(m['returns'])}"
            if m["name"] == "next" and m is obj["methods"][0]:
                out = self.result(m["returns"]) if element(m["returns"]) in self.iface.records else py_type(m["returns"])
                summary += labelled("Each bar:", f"{m['name']}({arg_list(m['args'])}) -> {out}")
                inputs = f"inputs in order: {arg_list(m['args'])}" if m["args"] else "no input"
                lead = f"Feeds one bar ({inputs}) and returns that bar's output, {self.result(m['returns'])}."
                methods[m["name"]] = paragraphs(wrap(lead), text.splitlines())
            else:
                summary += labelled("Method:", sig)
                member = h.member_at(m["call"], at)
                own = h.above(member) if member is not None else []
                args = f"Arguments in order: {arg_list(m['args'])}. " if m["args"] else "No argument. "
                lead = f"{args}Returns {self.result(m['returns'])}."
                methods[m["name"]] = paragraphs(wrap(lead), own, text.splitlines())
        if obj.get("batch"):
            fn = obj["batch_fn"]
            summary += labelled("Batch:", f"{fn['name']}({names(fn['args'])}) -> {py_type(fn['returns'])}, one per bar")
        # What it computes in one sentence; the class docstring, just above
        # in help(), holds the whole description.
        args = f" Arguments in order: {names(obj['new'])}." if obj["new"] else ""
        ctor_text = paragraphs(wrap(f"{made}: a new {name} that has seen no bar.{args}"),
                               wrap(first_sentence(text) + f" help({name}) describes its output and warm-up."))
        return {"class": paragraphs(text.splitlines(), summary), "constructor": ctor_text, "methods": methods}

    def batch_text(self, obj: dict) -> str:
        fn, name = obj["batch_fn"], obj["name"]
        inputs = obj["methods"][0]["args"]
        vectors = [(n, t) for n, t in fn["args"] if t.startswith("vec<")]
        if [v for v, _ in vectors] == [i for i, _ in inputs]:
            feeds = f"the series feed the inputs of {name}.next of the same names"
        else:
            feeds = ", ".join(f"`{v}` feeds `{i}`" for (v, _), (i, _) in zip(vectors, inputs)) + f" of {name}.next"
        lead = (f"Batch form of {name}: a new {name}({names(obj['new'])}) run over whole series. Arguments in "
                f"order: {arg_list(fn['args'])}; {feeds}, bar by bar"
                + (", series of unequal length paired up to the shortest" if len(vectors) > 1 else "")
                + ". Returns "
                f"{self.result(fn['returns'])}, one per bar, bit for bit what {name}.next gives.")
        return paragraphs(wrap(lead), self.descriptions[name].splitlines())

    # Functions

    def function_comment(self, fn: dict) -> tuple[Header, list[str]]:
        """The function's header and the comment above the core function its
        `impl` calls (named there, or wrapped in a lambda)."""
        h = self.header(fn.get("include"), f"function {fn['name']!r}")
        m = re.search(r"(?:\w+::)+(\w+)", fn["impl"])
        at = h.function_at(m.group(1) if m else fn["impl"])
        return h, h.above(at) if at is not None else []

    def function_text(self, fn: dict) -> str:
        h, own = self.function_comment(fn)
        text = paragraphs(own, h.opening())
        if not text:
            raise MissingDescription(f"function {fn['name']!r}: {h.path} has no comment describing it")
        args = f"Arguments in order: {arg_list(fn['args'])}. " if fn["args"] else "No argument. "
        lead = f"{args}Returns {self.result(fn['returns'])}."
        return paragraphs(wrap(lead), text.splitlines())

    # Records and enums

    def producers(self, record: str) -> tuple[list[tuple[str, str]], list[str]]:
        """The calls returning the record, each with the object or function
        describing it, and the record fields holding it."""
        calls, held = [], []
        for obj in self.iface.objects:
            for m in obj["methods"]:
                if element(m["returns"]) == record:
                    calls.append((f"{obj['name']}.{m['name']}()", obj["name"]))
            if obj.get("batch") and element(obj["batch_fn"]["returns"]) == record:
                calls.append((f"{obj['batch_fn']['name']}()", obj["name"]))
        for fn in self.iface.functions:
            if element(fn["returns"]) == record:
                calls.append((f"{fn['name']}()", fn["name"]))
        for name, fields in self.iface.records.items():
            held += [f"{name}.{f}" for f, t in fields if element(t) == record]
        return calls, held

    def core_struct(self, record: str, near: list[str]) -> tuple[Header, int] | None:
        """The core struct (at namespace scope) holding the record's fields,
        found by their names; one in a producer's header first."""
        wanted = [n for n, _ in self.iface.records[record]]
        found = []
        for path in sorted(self.include_dir.rglob("*.hpp")):
            include = str(path.relative_to(self.include_dir))
            if include not in self.headers:
                self.headers[include] = Header(path)
            h = self.headers[include]
            for i, line in enumerate(h.lines):
                if re.match(r"struct\s+\w+\s*(?:final\s*)?\{", line) and [n for n, _ in h.fields_of(i)] == wanted:
                    found.append((include not in near, include, h, i))
        if not found:
            return None
        found.sort(key=lambda f: f[:2])
        return found[0][2], found[0][3]

    def record_text(self, record: str) -> str:
        fields = self.iface.records[record]
        calls, held = self.producers(record)
        owners = list(dict.fromkeys(owner for _, owner in calls))
        near = [o["include"] for o in self.iface.objects if o["name"] in owners and "include" in o]
        near += [f["include"] for f in self.iface.functions if f["name"] in owners and "include" in f]
        struct = self.core_struct(record, near)
        notes = dict(struct[0].fields_of(struct[1])) if struct else {}
        docs = self.iface.field_docs.get(record, {})
        lines = [f"{record}: fields in order"]
        for n, t in fields:
            note = "; ".join(x for x in (notes.get(n, ""), docs.get(n, "")) if x)
            lines.append(f"  {n}: {py_type(t)}" + (f"  ({note})" if note else ""))
        given = " ".join(
            ([f"Returned by {', '.join(c for c, _ in calls)}."] if calls else [])
            + ([f"Held in {', '.join(held)}."] if held else [])) or "No exported call returns it at present."
        own = struct[0].above(struct[1]) if struct else []
        described = []
        functions = {f["name"]: f for f in self.iface.functions}
        if len(owners) == 1 and owners[0] in self.descriptions:
            described = self.descriptions[owners[0]].splitlines()
        elif len(owners) == 1 and owners[0] in functions:
            described = self.function_comment(functions[owners[0]])[1]
        elif len(owners) > 1 or (owners and not own):
            described = wrap(f"What the fields hold: see help() of {', '.join(owners)}.")
        return paragraphs(lines, wrap(given), own, described)

    def enum_text(self, name: str, en: dict) -> str:
        h = self.header(en.get("include"), f"enum {name!r}")
        core = en.get("core", name).split("::")[-1]
        at = h.type_at(core, "enum class|enum struct|enum")
        text = paragraphs(h.above(at) if at is not None else [], h.opening())
        if not text:
            raise MissingDescription(f"enum {name!r}: {h.path} has no comment describing it")
        values = ", ".join(f"{v} = {i}" for i, v in enumerate(en["variants"], 1))
        users = [f"{o['name']}({names(o['new'])})" for o in self.iface.objects
                 if any(t == name for _, t in o["new"])]
        users += [f"{f['name']}()" for f in self.iface.all_functions() if any(t == name for _, t in f["args"])]
        tail = [f"Values: {values}."] + ([f"Taken by {', '.join(users)}."] if users else [])
        return paragraphs(text.splitlines(), wrap(" ".join(tail)))


def first_sentence(text: str) -> str:
    """The first sentence of a description, joined into one line."""
    para = " ".join(text.split("\n\n")[0].split())
    m = re.search(r"(?<=[a-z0-9)\]`'])\.\s+(?=[A-Z(])", para)
    return para[:m.start() + 1] if m else para


def labelled(label: str, text: str) -> list[str]:
    """`text` wrapped beside a label column of 11 characters."""
    lines = wrap(text, 79 - 11)
    return [f"{label:<11}{lines[0]}"] + [" " * 11 + line for line in lines[1:]]


def wrap(text: str, width: int = 79) -> list[str]:
    """Lines of at most `width` characters (longer words stay whole)."""
    lines, line = [], ""
    words = []
    for word in text.split(" "):
        # "name: type" stays on one line.
        if words and words[-1].endswith(":") and len(words[-1]) > 1:
            words[-1] += " " + word
        else:
            words.append(word)
    for word in words:
        if line and len(line) + 1 + len(word) > width:
            lines.append(line)
            line = word
        else:
            line = f"{line} {word}" if line else word
    return lines + ([line] if line else [])


def docs(iface, include_dir: pathlib.Path) -> dict:
    d = Describer(iface, include_dir)
    out = {"objects": {}, "functions": {}, "records": {}, "enums": {}}
    for obj in iface.objects:
        out["objects"][obj["name"]] = d.object_texts(obj)
        if obj.get("batch"):
            out["functions"][obj["batch_fn"]["name"]] = d.batch_text(obj)
    for fn in iface.functions:
        out["functions"][fn["name"]] = d.function_text(fn)
    for name in iface.records:
        out["records"][name] = d.record_text(name)
    for name, en in iface.enums.items():
        out["enums"][name] = d.enum_text(name, en)
    return out
