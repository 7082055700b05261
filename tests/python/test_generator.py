"""The interface generator refuses a malformed description: every fault
stops it with a message naming the file, the entry and the key, never with
an exception of its own; a description using every documented key is
accepted."""

import contextlib
import io
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


def run_generator(files):
    """(exit status, message) of the generator run over these files; any
    exception other than its own exit escapes, failing the test."""
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp) / "interface"
        folder.mkdir()
        for name, text in files.items():
            (folder / name).write_text(text)
        argv = ["generate.py", "--interface", str(folder), "--out", str(pathlib.Path(tmp) / "out")]
        with mock.patch.object(sys, "argv", argv), contextlib.redirect_stdout(io.StringIO()):
            try:
                generate.main()
            except SystemExit as e:
                return 1, str(e.code).replace(str(folder) + "/", "")
        return 0, ""


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


if __name__ == "__main__":
    unittest.main()
