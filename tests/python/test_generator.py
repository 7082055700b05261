"""The interface generator refuses a malformed description: every fault
stops it with a message naming the file, the entry and the key, never with
an exception of its own; a description using every documented key is
accepted."""

import contextlib
import io
import json
import pathlib
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, str(pathlib.Path(__file__).parents[2] / "binding"))
import generate  # noqa: E402

NAMESPACE = '''
[namespace]
name = "lumenfold_python"
doc = "shared"

[[enum]]
name = "Mode"
core = "demo::Mode"
include = "demo/mode.hpp"
variants = ["Fast", "Slow"]

[[record]]
name = "Pair"
fields = ["first: f64", "second: opt<f64>", "flags: vec<bool>"]
field_docs = { second = "absent before the warm-up" }
'''

# Every key the format documents, defaults left out where they apply.
OBJECTS = '''
[[object]]
name = "Avg"
core = "demo::Avg"
include = "demo/avg.hpp"
new = ["period: u64", "mode: Mode"]
batch = "avg"
batch_args = ["period: u64", "series: vec<f64>", "mode: Mode"]
test_new = [3, 2]

[[object]]
name = "Split"
core = "demo::Split"
new = []
constructor = "fresh"
next = ["price: f64", "up: bool"]
returns = "Pair"
doc = false
batch = "split"
batch_args = ["prices: vec<f64>", "ups: vec<bool>"]

[[object.method]]
name = "reset"

[[object.method]]
name = "window"
args = ["n: u32"]
returns = "vec<vec<f64>>"
call = "window_of"

[[function]]
name = "label"
args = ["symbol: string", "strike: opt<f64>", "call: bool", "counts: vec<u64>"]
returns = "string"
impl = "demo::label"
include = "demo/label.hpp"

[[function]]
name = "spread"
args = ["xs: vec<f64>"]
impl = "demo::spread"
'''


def run_generator(files, headers=None):
    """(exit status, message) of the generator run over these files; any
    exception other than its own exit escapes, failing the test. With
    headers ({include: text}), it writes docs.json instead and the status
    comes with its texts."""
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp) / "interface"
        folder.mkdir()
        for name, text in files.items():
            (folder / name).write_text(text)
        out = pathlib.Path(tmp) / "out"
        argv = ["generate.py", "--interface", str(folder), "--out", str(out)]
        if headers is not None:
            include = pathlib.Path(tmp) / "include"
            for name, text in headers.items():
                (include / name).parent.mkdir(parents=True, exist_ok=True)
                (include / name).write_text(text)
            argv += ["--docs", str(include)]
        with mock.patch.object(sys, "argv", argv), contextlib.redirect_stdout(io.StringIO()):
            try:
                generate.main()
            except SystemExit as e:
                return 1, str(e.code).replace(str(folder) + "/", "")
        return (0, json.loads((out / "docs.json").read_text())) if headers is not None else (0, "")


def with_objects(old, new):
    assert old in OBJECTS, old
    return {"00_namespace.toml": NAMESPACE, "10_objects.toml": OBJECTS.replace(old, new, 1)}


class Generator(unittest.TestCase):
    def test_every_documented_key_is_accepted(self):
        code, err = run_generator({"00_namespace.toml": NAMESPACE, "10_objects.toml": OBJECTS})
        self.assertEqual((code, err), (0, ""))

    def test_faults_name_the_file_the_entry_and_the_key(self):
        sma = '[[object]]\nname = "Avg"\ncore = "x::Y"\nbatch = "other"\nbatch_args = ["series: vec<f64>"]\n'
        cases = [
            (with_objects('constructor = "fresh"', 'constructer = "fresh"'),
             "10_objects.toml: object 'Split', key 'constructer': unknown key"),
            (with_objects('core = "demo::Avg"\n', ''), "10_objects.toml: object 'Avg', key 'core': missing"),
            (with_objects('args = ["n: u32"]', 'args = ["n: u23"]'),
             "10_objects.toml: object 'Split', key 'method': unknown type 'u23'"),
            (with_objects('"period: u64", "series', '"periods: u64", "series'),
             "10_objects.toml: object 'Avg', key 'batch_args': scalar 'periods' names no constructor argument"),
            (with_objects('"ups: vec<bool>"', '"ups: vec<bool>", "more: vec<f64>"'),
             "10_objects.toml: object 'Split', key 'batch_args': 3 vector(s) for the 2 input(s) of `next`"),
            (with_objects('"ups: vec<bool>"', '"ups: vec<f64>"'),
             "key 'batch_args': vector 'ups' must be vec<bool> to feed the `next` input 'up'"),
            (with_objects('batch_args = ["period: u64", "series: vec<f64>", "mode: Mode"]',
                          'batch_args = ["series: vec<f64>", "mode: Mode"]'),
             "object 'Avg', key 'batch_args': constructor argument(s) period not given"),
            (with_objects('test_new = [3, 2]', 'test_new = [3, 5]'),
             "object 'Avg', key 'test_new': 5 is no value of 'mode' (Mode)"),
            (with_objects('name = "reset"', 'name = "reset"\nargs = ["x: f64", "x: f64"]'),
             "object 'Split', method 'reset', key 'args': 'x' is declared twice"),
            (with_objects('name = "reset"', 'name = "reset"\nreturn = "f64"'),
             "object 'Split', method 'reset', key 'return': unknown key"),
            (with_objects('impl = "demo::spread"', ''), "function 'spread', key 'impl': missing"),
            (with_objects('returns = "string"', 'returns = "vec<string>"'),
             "function 'label', key 'returns': type 'string' cannot be used inside a vector"),
            (with_objects('[[function]]\nname = "spread"', '[[function]]\nname = "avg"'),
             "function 'avg': its entry point uniffi_lumenfold_python_fn_func_avg is already made for object 'Avg'"),
            (with_objects('name = "Split"', 'name = "AVG"'),
             "object 'AVG': its entry point uniffi_lumenfold_python_fn_clone_avg is already made for object 'Avg'"),
            (with_objects('name = "Split"', 'name = "Pair"'),
             "object 'Pair': name already declared as record 'Pair' in 00_namespace.toml"),
            ({"00_namespace.toml": NAMESPACE, "10_objects.toml": OBJECTS, "11_more.toml": sma},
             "11_more.toml: object 'Avg': name already declared as object 'Avg' in 10_objects.toml"),
            ({"00_namespace.toml": NAMESPACE.replace('"flags: vec<bool>"', '"flags: string"'),
              "10_objects.toml": OBJECTS},
             "00_namespace.toml: record 'Pair', key 'fields': type 'string' cannot be used as a record field"),
            ({"00_namespace.toml": NAMESPACE.replace("{ second =", "{ third ="), "10_objects.toml": OBJECTS},
             "00_namespace.toml: record 'Pair', key 'field_docs': 'third' is not a field of the record"),
            ({"00_namespace.toml": NAMESPACE, "10_objects.toml": OBJECTS.replace("[[object]]", "[[objects]]")},
             "10_objects.toml: unknown table [objects]"),
            ({"00_namespace.toml": NAMESPACE, "10_objects.toml": OBJECTS + "\nname = 3\n"},
             "10_objects.toml: not valid TOML"),
            ({"10_objects.toml": OBJECTS}, "no file declares [namespace]"),
        ]
        for files, message in cases:
            with self.subTest(message):
                code, err = run_generator(files)
                self.assertNotEqual(code, 0)
                self.assertIn(message, err)

    def test_help_texts_come_from_the_header_comments(self):
        # The comment above the class (or function) comes first, then the
        # header's opening comment; an item its header does not describe
        # stops the build, named.
        interface = {"00_namespace.toml": '[namespace]\nname = "lumenfold_python"\ndoc = "shared"\n',
                     "10_avg.toml": '[[object]]\nname = "Avg"\ncore = "demo::Avg"\ninclude = "demo/avg.hpp"\n'
                                    'new = ["period: u64"]\nbatch = "avg"\n'
                                    'batch_args = ["period: u64", "series: vec<f64>"]\n\n'
                                    '[[function]]\nname = "half"\nargs = ["x: f64"]\nimpl = "demo::half"\n'
                                    'include = "demo/avg.hpp"\n'}
        header = ("// Averages of the price; NaN until `period` inputs.\n#pragma once\nnamespace demo {\n"
                  "// The plain mean.\ntemplate <class T>\nclass Avg {\n};\n// Half of x.\n"
                  "inline double half(double x) { return x / 2; }\n}\n")
        code, docs = run_generator(interface, {"demo/avg.hpp": header})
        self.assertEqual(code, 0, docs)
        described = "The plain mean.\n\nAverages of the price; NaN until `period` inputs."
        self.assertTrue(docs["objects"]["Avg"]["class"].startswith(described))
        self.assertIn("Feeds one bar (inputs in order: input: float)", docs["objects"]["Avg"]["methods"]["next"])
        self.assertIn(described, docs["objects"]["Avg"]["methods"]["next"])
        self.assertIn("`series` feeds `input` of Avg.next", " ".join(docs["functions"]["avg"].split()))
        self.assertIn("Half of x.\n\nAverages of the price", docs["functions"]["half"])
        bare = header.replace("// Averages of the price; NaN until `period` inputs.\n", "").replace("// The plain mean.\n", "")
        code, err = run_generator(interface, {"demo/avg.hpp": bare})
        self.assertEqual(code, 1)
        self.assertIn("object 'Avg'", err)


if __name__ == "__main__":
    unittest.main()
