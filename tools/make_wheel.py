#!/usr/bin/env python3
"""Writes the wheel of the flowseries package: its Python files and the shared library beside
them, for `pip install --no-index` into any Python 3 (>= 3.9) that has numpy.

usage: make_wheel.py --package DIR --version V --platform TAG --out DIR
Writes OUT/flowseries-V-py3-none-TAG.whl and prints its path."""
import argparse
import base64
import hashlib
import os
import sys
import zipfile

METADATA = """Metadata-Version: 2.1
Name: flowseries
Version: {version}
Summary: The result files of a network flow simulation and the series files of flowseries, read with flowseries' own reader
Requires-Python: >=3.9
Requires-Dist: numpy
Provides-Extra: frames
Requires-Dist: pandas; extra == "frames"
Provides-Extra: ensembles
Requires-Dist: xarray; extra == "ensembles"
Requires-Dist: dask; extra == "ensembles"

The package flowseries: result files and series files as numpy arrays, pandas frames and xarray
datasets (lazy and distributed with dask), over the C library of flowseries that this wheel holds.
"""

WHEEL = """Wheel-Version: 1.0
Generator: flowseries make_wheel.py
Root-Is-Purelib: false
Tag: py3-none-{platform}
"""


def digest(data):
    return 'sha256=' + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b'=').decode()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--package', required=True)
    ap.add_argument('--version', required=True)
    ap.add_argument('--platform', required=True)
    ap.add_argument('--out', required=True)
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    name = 'flowseries-%s-py3-none-%s.whl' % (args.version, args.platform)
    info = 'flowseries-%s.dist-info' % args.version
    entries = []
    for file in sorted(os.listdir(args.package)):
        if file.endswith('.pyc') or file == '__pycache__':
            continue
        with open(os.path.join(args.package, file), 'rb') as f:
            entries.append(('flowseries/' + file, f.read()))
    if not any(n.startswith('flowseries/libflowseries') or n.endswith('.dll') for n, _ in entries):
        sys.exit('make_wheel: no shared library in ' + args.package)
    entries.append((info + '/METADATA', METADATA.format(version=args.version).encode()))
    entries.append((info + '/WHEEL', WHEEL.format(platform=args.platform).encode()))
    record = ''.join('%s,%s,%d\n' % (n, digest(d), len(d)) for n, d in entries)
    record += info + '/RECORD,,\n'
    entries.append((info + '/RECORD', record.encode()))
    path = os.path.join(args.out, name)
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as wheel:
        for n, data in entries:
            item = zipfile.ZipInfo(n, date_time=(2026, 1, 1, 0, 0, 0))
            item.compress_type = zipfile.ZIP_DEFLATED
            # The library keeps its execute permission.
            item.external_attr = (0o755 if n.endswith(('.so.1', '.dll')) else 0o644) << 16
            wheel.writestr(item, data)
    print(path)


if __name__ == '__main__':
    main()
