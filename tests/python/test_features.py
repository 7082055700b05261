"""Boundary behaviour of the feature-family objects that the generic contract
cannot see: the regime model's named constructor and skipped inputs, the
regime feature function, the robustness evaluator's two methods, and the
field documentation of the Hurst features record."""

import math
import unittest

import generate_host as gh
import lumenfold_python as lf
from support import LIBRARY

LABEL_DOC = "-1 mean-reverting, 0 random, +1 trending (or None -> -99 sentinel for FFI simplicity in some consumers)"


class Regimes(unittest.TestCase):
    def test_bull_bear_model(self):
        hmm = lf.BullBearHMM.bull_bear()
        self.assertEqual(hmm.next(0.0), 1)
        for bad in (math.nan, math.inf, -math.inf):
            self.assertEqual(hmm.next(bad), 0)
        self.assertEqual(hmm.next(-0.03), 2)
        with self.assertRaises(TypeError):
            lf.BullBearHMM()

    def test_regime_to_features(self):
        cases = {0: (0, 0), 3: (3, 3), 4: (0, 4), 9: (4, 9), 260: (0, 4)}
        for regime_id, (slot, label) in cases.items():
            r = lf.regime_to_features(regime_id)
            self.assertEqual(r.regime_vector, [1.0 if i == slot else 0.0 for i in range(5)], regime_id)
            self.assertEqual(r.regime_label, label, regime_id)


class Evaluators(unittest.TestCase):
    def test_robustness_methods(self):
        ev = lf.RobustnessEvaluator()
        self.assertEqual(ev.calculate_score(), 0.0)
        for x in (10.0, 5.0, 1.0):
            self.assertIsNone(ev.add_test_result(x))
        self.assertEqual(ev.calculate_score(), 0.5)


class Metadata(unittest.TestCase):
    def test_regime_label_field_doc(self):
        blob = gh.elf_symbols(LIBRARY, "UNIFFI_META_")["UNIFFI_META_LUMENFOLD_PYTHON_RECORD_HURSTFEATURESRESULT"]
        doc = LABEL_DOC.encode()
        field = b"\x0cregime_label" + bytes([6, 0]) + len(doc).to_bytes(2, "little") + doc
        self.assertTrue(blob.endswith(field + b"\x00\x00"))
        self.assertIn(b"\x0bpersistence" + bytes([9, 0, 0, 0]), blob)


if __name__ == "__main__":
    unittest.main()
