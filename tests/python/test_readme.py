"""The README's Python examples, run: every value a comment states is checked.

A comment states a value when it starts with one (a number, a list, a
record, or ≈ and a number), after the statement that gives it or on the
line below; an expression statement gives its value, an assignment to one
name that name's. A stated value must start the comment as Python prints
the result (`repr`) and be followed by prose or nothing; ≈ x means equal to
x within one part in a million. A comment that starts with an exception's
name and a colon (`# TypeError: not a DatetimeIndex`) states that the
statement raises it, with the text after the colon in its message."""

import ast
import builtins
import io
import math
import pathlib
import re
import tokenize
import unittest

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
VALUE = re.compile(r"(≈\s*)?(?:[-\d\[({]|[A-Z]\w*\()")
RAISES = re.compile(r"([A-Z]\w*(?:Error|Exception)): (.+)")
# What may follow a stated value: prose after a separator, or nothing.
AFTER = re.compile(r"(?:[:,;]?\s|$)")


def python_blocks():
    """(line in the README of the block's first line, source) of each ```python block."""
    text = README.read_text(encoding="utf-8")
    return [(text.count("\n", 0, m.start(1)) + 1, m.group(1))
            for m in re.finditer(r"^```python\n(.*?)^```", text, re.S | re.M)]


def value_comments(source):
    """{line: comment text} of the comments that state a value, and the lines holding only a comment."""
    stated, alone = {}, set()
    for tok in tokenize.generate_tokens(io.StringIO(source).readline):
        if tok.type == tokenize.COMMENT:
            text = tok.string[1:].strip()
            if VALUE.match(text) or RAISES.match(text):
                stated[tok.start[0]] = text
            if not tok.line[:tok.start[1]].strip():
                alone.add(tok.start[0])
    return stated, alone


class ReadmeExamples(unittest.TestCase):
    def check(self, where, value, stated):
        if stated.startswith("≈"):
            number = float(re.match(r"≈\s*([-+\d.e]+)", stated).group(1))
            self.assertTrue(math.isclose(value, number, rel_tol=1e-6), f"{where}: {value!r}, stated {stated!r}")
            return
        shown = repr(value)
        self.assertTrue(stated.startswith(shown) and AFTER.match(stated, len(shown)) is not None,
                        f"{where}: gives {shown}, stated {stated!r}")

    def test_every_stated_value_holds(self):
        blocks = python_blocks()
        self.assertTrue(blocks, "no ```python block in the README")
        checked, scope = 0, {}  # the blocks run one after another, as a reader runs them
        for first, source in blocks:
            stated, alone = value_comments(source)
            for stmt in ast.parse(source).body:
                line = stmt.end_lineno
                if line + 1 in stated and line + 1 in alone and line not in stated:
                    line += 1
                raises = RAISES.match(stated.get(line, ""))
                if raises:
                    where = f"README.md:{first + line - 1}"
                    name, text = raises.groups()
                    error = getattr(builtins, name, None) or getattr(scope["lf"], name)
                    with self.assertRaises(error, msg=where) as ctx:
                        exec(compile(ast.Module([stmt], []), str(README), "exec"), scope)
                    self.assertIn(text, str(ctx.exception), where)
                    del stated[line]
                    checked += 1
                    continue
                if isinstance(stmt, ast.Expr):
                    value = eval(compile(ast.Expression(stmt.value), str(README), "eval"), scope)
                else:
                    exec(compile(ast.Module([stmt], []), str(README), "exec"), scope)
                    targets = getattr(stmt, "targets", [])
                    value = scope[targets[0].id] if len(targets) == 1 and isinstance(targets[0], ast.Name) else None
                if line in stated:
                    where = f"README.md:{first + line - 1}"
                    self.assertIsNotNone(value, f"{where}: states a value the statement does not give")
                    self.check(where, value, stated.pop(line))
                    checked += 1
            self.assertFalse(stated, f"values stated on no statement, README lines "
                                     f"{[first + line - 1 for line in stated]}")
        self.assertGreater(checked, 0)


if __name__ == "__main__":
    unittest.main()
