"""The metadata blobs and checksums the library carries, read from the
library file itself as a host generator reads them."""

import ctypes
import unittest

import generate_host as gh
from generator import metadata
from support import INTERFACE, LIBRARY

SHARED_DOC = ("Boundary Conditions & Error Behavior:\n"
              "- Period > Length: If a period parameter exceeds the input length, outputs will be NaN until the "
              "warmup is satisfied.\n"
              "- NaN Inputs: NaN values in inputs propagate as NaN in the output for the duration of the rolling "
              "window.\n"
              "- Negative Params: Negative period/length parameters will raise a ValueError.")
# The objects that carry no docstring; every other object carries SHARED_DOC.
WITHOUT_DOC = {"Ad", "Adosc", "AnchoredVwap", "BullBearHMM", "CyberCycleFeatureExtractor", "CycleTrendAnalytics",
               "Donchian", "GeometricPatternScanner", "GriffithsDominantCycleFeatureExtractor", "HeikinAshi",
               "HurstFeatureExtractor", "Ichimoku", "InstantaneousTrendlineFeatureExtractor", "Keltner",
               "MarketStructure", "PivotPoints", "RobustnessEvaluator", "Stoch", "SwissArmyKnife",
               "TrendflexFeatureExtractor", "UltimateBands", "UltimateChannel", "VolumeProfile"}


class Metadata(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.blobs = gh.elf_symbols(LIBRARY, "UNIFFI_META_")
        cls.items = metadata.parse(cls.blobs)  # raises on any blob with bytes left over
        cls.lib = ctypes.CDLL(str(LIBRARY))

    def test_counts_match_the_interface_description(self):
        objects = INTERFACE["objects"]
        kinds = {}
        for symbol in self.blobs:
            kind = symbol.split("_")[4] if not symbol.startswith("UNIFFI_META_NAMESPACE") else "NAMESPACE"
            kinds[kind] = kinds.get(kind, 0) + 1
        self.assertEqual(kinds["NAMESPACE"], 1)
        self.assertEqual(kinds["INTERFACE"], len(objects))
        self.assertEqual(kinds["CONSTRUCTOR"], len(objects))
        self.assertEqual(kinds["METHOD"], sum(len(o["methods"]) for o in objects))
        self.assertEqual(kinds.get("FUNC", 0),
                         sum(1 for o in objects if o["batch"]) + len(INTERFACE["functions"]))
        self.assertEqual(kinds["RECORD"], len(INTERFACE["records"]))
        self.assertEqual(kinds["ENUM"], len(INTERFACE["enums"]))

    def test_ema_constructor_blob(self):
        blob = self.blobs["UNIFFI_META_LUMENFOLD_PYTHON_CONSTRUCTOR_EMA_NEW"]
        self.assertEqual(len(blob), 61)
        expected = (bytes([7]) + b"\x10lumenfold_python" + b"\x03Ema" + b"\x03new" + bytes([0, 1])
                    + b"\x06period" + bytes([3, 0, 16]) + b"\x10lumenfold_python" + b"\x03Ema" + bytes([0, 0]))
        self.assertEqual(blob, expected)
        self.assertEqual(metadata.fnv_checksum(blob), 0xCE67)
        fn = self.lib.uniffi_lumenfold_python_checksum_constructor_ema_new
        fn.restype = ctypes.c_uint16
        self.assertEqual(fn(), 0xCE67)

    def test_every_checksum_entry_point_follows_its_blob(self):
        sums = self.items["checksums"]
        self.assertEqual(len(sums), sum(1 for s in self.blobs if "_CONSTRUCTOR_" in s or "_METHOD_" in s
                                         or "_FUNC_" in s))
        for symbol, expected in sums.items():
            fn = getattr(self.lib, symbol)
            fn.restype = ctypes.c_uint16
            self.assertEqual(fn(), expected, symbol)

    def test_documentation(self):
        blob = self.blobs["UNIFFI_META_LUMENFOLD_PYTHON_INTERFACE_EMA"]
        self.assertEqual(blob[-341:], (339).to_bytes(2, "little") + SHARED_DOC.encode())
        self.assertTrue({"Ad", "Adosc", "Stoch"} <= {o["name"] for o in INTERFACE["objects"]})
        for obj in INTERFACE["objects"]:
            expected = "" if obj["name"] in WITHOUT_DOC else SHARED_DOC
            self.assertEqual(self.items["objects"][obj["name"]]["doc"], expected, obj["name"])
        for fn in self.items["functions"]:
            self.assertEqual(fn["doc"], "")
        for obj in self.items["objects"].values():
            for entry in obj["methods"] + obj["constructors"]:
                self.assertEqual(entry["doc"], "")

    def test_enum_and_records(self):
        self.assertEqual(self.items["enums"]["SwissMode"],
                         ["EMA", "SMA", "Gauss", "Butterworth", "Smooth", "HighPass", "TwoPoleHighPass",
                          "BandPass", "BandStop"])
        self.assertEqual(self.items["records"]["BbandsResult"],
                         [("upper", ("scalar", "f64")), ("middle", ("scalar", "f64")), ("lower", ("scalar", "f64"))])
        self.assertEqual(self.items["namespace"], ("lumenfold_python", "lumenfold_python"))

    def test_only_the_convention_is_exported(self):
        import subprocess
        out = subprocess.run(["nm", "-D", "--defined-only", str(LIBRARY)], capture_output=True, text=True,
                             check=True).stdout
        names = [line.split()[-1] for line in out.splitlines() if line.strip()]
        stray = [n for n in names if not n.startswith(("uniffi_lumenfold_python_", "ffi_lumenfold_python_",
                                                        "UNIFFI_META_"))]
        self.assertEqual(stray, [])
        futures = [n for n in names if n.startswith("ffi_lumenfold_python_rust_future_")]
        self.assertEqual(len(futures), 48)
        for kind in ("u8", "i8", "u16", "i16", "u32", "i32", "u64", "i64", "f32", "f64", "rust_buffer", "void"):
            for op in ("poll", "cancel", "complete", "free"):
                self.assertIn(f"ffi_lumenfold_python_rust_future_{op}_{kind}", names)
        for obj in INTERFACE["objects"]:
            for entry in ("clone", "free"):
                self.assertIn(f"uniffi_lumenfold_python_fn_{entry}_{obj['sym']}", names)


if __name__ == "__main__":
    unittest.main()
