"""help() on every exported item says more than its signature: it names the
item's inputs in order of appearance and every field of the record it
returns, beside a description in words."""

import dataclasses
import enum
import inspect
import re
import unittest

import lumenfold_python as lf

# Words of a docstring that say nothing beyond the signature.
TYPE_WORDS = {"int", "float", "bool", "str", "list", "sequence", "of", "None", "self"}


def words(doc):
    return re.findall(r"[A-Za-z_][A-Za-z0-9_]*", doc or "")


def result_names(fn):
    """The fields of the record a callable returns, and the records those
    fields hold (whose own help() names their fields)."""
    names = []
    for r in re.findall(r"[A-Z]\w+", str(inspect.signature(fn).return_annotation)):
        if dataclasses.is_dataclass(getattr(lf, r, None)):
            for f in dataclasses.fields(getattr(lf, r)):
                names += [f.name] + [t for t in re.findall(r"[A-Z]\w+", str(f.type)) if hasattr(lf, t)]
    return names


class Help(unittest.TestCase):
    def assert_explains(self, what, doc, names):
        said = words(doc)
        self.assertEqual([n for n in names if n not in said], [], f"{what} does not name these")
        prose = set(said) - set(names) - TYPE_WORDS
        self.assertGreater(len(prose), 12, f"{what} says little beyond its signature: {doc!r}")

    def callable_names(self, fn):
        return [p for p in inspect.signature(fn).parameters if p not in ("self", "cls")] + result_names(fn)

    def test_every_exported_item_explains_itself(self):
        self.assertGreater(len(lf.__doc__), 400)
        for name in lf.__all__:
            item = getattr(lf, name)
            if name in ("LumenfoldError", "LibraryMismatchError"):
                continue
            with self.subTest(name):
                if isinstance(item, type) and issubclass(item, enum.Enum):
                    self.assert_explains(name, item.__doc__, [m.name for m in item])
                elif dataclasses.is_dataclass(item):
                    self.assert_explains(name, item.__doc__, [f.name for f in dataclasses.fields(item)])
                elif isinstance(item, type):
                    methods = {m: f for m, f in vars(item).items()
                               if not m.startswith("_") or m == "__init__"}
                    named = []
                    for m, f in methods.items():
                        f = f.__func__ if isinstance(f, classmethod) else f
                        if m == "__init__" and "TypeError" in inspect.getsource(f):
                            continue  # only a named constructor makes this object
                        self.assert_explains(f"{name}.{m}", f.__doc__, self.callable_names(f))
                        named += self.callable_names(f)
                    self.assert_explains(name, item.__doc__, named)
                else:
                    self.assert_explains(name, item.__doc__, self.callable_names(item))

    def test_what_a_user_cannot_guess(self):
        # The facts help() exists for: units, returns rather than prices and
        # the two regime numberings.
        self.assertIn("per calendar day", lf.bs_theta.__doc__)
        self.assertIn("per 1.0 of volatility", lf.bs_vega.__doc__)
        hmm = lf.BullBearHMM.next.__doc__
        self.assertIn("return", hmm)
        self.assertIn("not a price", hmm)
        self.assertIn("1 Bull", hmm)
        self.assertIn("Bull 0", lf.regime_to_features.__doc__)
        self.assertIn("NaN until bar slow + signal - 2", lf.Macd.next.__doc__)
        self.assertIn("Negative Params", lf.Ema.__doc__)  # the metadata docstring comes first


if __name__ == "__main__":
    unittest.main()
