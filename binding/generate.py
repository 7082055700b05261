#!/usr/bin/env python3
"""Generate the C boundary of lumenfold from the interface description.

Reads every binding/interface/*.toml (in name order) and writes into the build
tree: one C++ source of entry points per description file, the metadata blobs
with their checksum functions, the record codecs, and interface.json (the same
description, resolved, for the contract tests and the benchmarks). With
--docs, it writes docs.json instead: the help text of every exported item,
from the core headers' comments and the description (see generator/describe.py).
"""

from __future__ import annotations

import argparse
import json
import pathlib
import sys

from generator import describe, fixtures, records, shims
from generator.description import DescriptionError, Interface


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--interface", required=True, type=pathlib.Path)
    ap.add_argument("--out", required=True, type=pathlib.Path)
    ap.add_argument("--list-sources", action="store_true", help="print the sources it would write")
    ap.add_argument("--sources-of", nargs="+", metavar="OBJECT",
                    help="print the generated sources that hold these objects' entry points")
    ap.add_argument("--docs", type=pathlib.Path, metavar="INCLUDE_DIR",
                    help="write only docs.json, reading the core headers under INCLUDE_DIR")
    a = ap.parse_args()
    files = sorted(a.interface.glob("*.toml"))
    sources = [a.out / "exports_shared.cpp"] + [a.out / f"exports_{f.stem}.cpp" for f in files]
    if a.list_sources:
        print(";".join(str(s) for s in sources))
        return
    try:
        iface = Interface(files)
    except DescriptionError as e:
        sys.exit(f"generate.py: {e}")
    if a.sources_of:
        held = {o["name"]: a.out / f"exports_{stem}.cpp" for stem, unit in iface.units.items() for o in unit["objects"]}
        missing = [o for o in a.sources_of if o not in held]
        if missing:
            sys.exit(f"generate.py: no object named {', '.join(missing)}")
        print(";".join(sorted({str(held[o]) for o in a.sources_of})))
        return
    a.out.mkdir(parents=True, exist_ok=True)
    if a.docs:
        try:
            texts = describe.docs(iface, a.docs)
        except describe.MissingDescription as e:
            sys.exit(f"generate.py: {e}")
        # Written every time: the build reruns this only when a source changed.
        (a.out / "docs.json").write_text(json.dumps(texts, indent=1, ensure_ascii=False))
        return
    outputs = {"records.hpp": records.records_header(iface), "exports_shared.cpp": shims.shared_source(iface)}
    declarations = []
    for f in files:
        outputs[f"exports_{f.stem}.cpp"], declared = shims.unit_source(iface, iface.units[f.stem])
        declarations += declared
    outputs |= {"entry_points.h": shims.entry_points_header(declarations),
                "record_cases.inc": fixtures.record_cases(iface), "bench_cases.inc": fixtures.bench_cases(iface),
                "ab_cases.inc": fixtures.ab_cases(iface), "core_classes.inc": fixtures.core_classes(iface),
                "interface.json": json.dumps(fixtures.interface_json(iface), indent=1)}
    # Only what changed is written, so that the build recompiles only that.
    for name, text in outputs.items():
        path = a.out / name
        if not path.exists() or path.read_text() != text:
            path.write_text(text)


if __name__ == "__main__":
    main()
