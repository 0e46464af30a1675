#!/usr/bin/env python3
"""Prepares the files of tests/c/consumer.c (a result file, its copy under a name of non-ASCII
letters, the program's HTIME.CSV, a point-list file) and runs the C program over them, behind
FLOWSERIES_LAUNCHER (Wine for the Windows build).

usage: run_consumer.py --consumer PROGRAM --binary flowseries --generator flowseries-gen"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

LAUNCHER = os.environ.get('FLOWSERIES_LAUNCHER', '').split()
NON_ASCII = 'データ_Söderhamn.bin'


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--consumer', required=True)
    ap.add_argument('--binary', required=True)
    ap.add_argument('--generator', required=True)
    args = ap.parse_args()
    d = tempfile.mkdtemp(prefix='fs_c_')
    try:
        nodes = 25
        subprocess.run(LAUNCHER + [args.generator, '--nodes', str(nodes), '--links', '7', '--steps', '9',
                                   os.path.join(d, 'RESULT.BIN')], check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(d, 'POINTS.LST'), 'w') as f:
            f.write('    9    2\n    2\n      1     25\n    0\n    0\n    0\n')
        run = subprocess.run(LAUNCHER + [args.binary], cwd=d, input=b'1\nRESULT.BIN\nPOINTS.LST\n',
                             capture_output=True)
        if run.returncode != 0:
            sys.exit('the program failed: %r' % run.stderr)
        os.mkdir(os.path.join(d, 'out'))
        shutil.copy(os.path.join(d, 'RESULT.BIN'), os.path.join(d, NON_ASCII))
        # The C program and, on Windows, its DLL beside it.
        consumer = os.path.abspath(args.consumer)
        r = subprocess.run(LAUNCHER + [consumer, '.', str(nodes)], cwd=d,
                           capture_output=True)
        sys.stdout.write(r.stdout.decode(errors='replace'))
        sys.stderr.write(r.stderr.decode(errors='replace'))
        if r.returncode != 0:
            return 1
        with open(os.path.join(d, 'HTIME.CSV'), 'rb') as f, open(os.path.join(d, 'out', 'HTIME.CSV'), 'rb') as g:
            if f.read() != g.read():
                print('extract wrote other bytes than the program')
                return 1
        return 0
    finally:
        shutil.rmtree(d, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
