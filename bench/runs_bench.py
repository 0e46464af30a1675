#!/usr/bin/env python3
"""Many runs, measured in one run of this script:

1. flowseries-diff of two copies of the large case (N = M = 50000, 830 steps, 1.5 GB each)
   against `cat` of both, warm (goal: at most 1.5x).
2. The peak of every node of 16 copies of a mid-size case, computed from
   flowseries.open_many on a two-worker dask.distributed LocalCluster, against
   `flowseries-stats -j 2` over the same files (the command line is the floor); the two give
   the same peaks.

usage: bench/runs_bench.py [--build build] [--keep DIR] [--runs 3]
Python: Debian's /usr/bin/python3 with python3-xarray, python3-dask, python3-distributed.
"""
import argparse
import csv
import os
import statistics
import subprocess
import sys
import tempfile
import time


def timed(command, **kw):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kw)
    return time.perf_counter() - start


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument('--build', default=os.path.join(here, '..', 'build'))
    ap.add_argument('--keep', help='folder for the files, kept between runs')
    ap.add_argument('--runs', type=int, default=3)
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    folder = args.keep or tempfile.mkdtemp(prefix='fs_runs_')
    os.makedirs(folder, exist_ok=True)
    gen = os.path.join(build, 'flowseries-gen')

    large = os.path.join(folder, 'large_830.bin')
    if not os.path.exists(large):
        subprocess.run([gen, '--nodes', '50000', '--links', '50000', '--steps', '830', large],
                       check=True, stdout=subprocess.DEVNULL)
    copy = os.path.join(folder, 'large_copy.bin')
    if not os.path.exists(copy):
        subprocess.run(['cp', large, copy], check=True)
    subprocess.run(['cat', large, copy], check=True, stdout=subprocess.DEVNULL)
    cat = statistics.median(timed(['cat', large, copy]) for _ in range(args.runs))
    diff = statistics.median(timed([os.path.join(build, 'flowseries-diff'), large, copy])
                             for _ in range(args.runs))
    print('diff of two copies of the large case (%.2f GB each)' % (os.path.getsize(large) / 1e9))
    print('  cat of both (warm)   %.3f s' % cat)
    print('  flowseries-diff      %.3f s   %.2fx cat (goal <= 1.5)' % (diff, diff / cat))

    mid = os.path.join(folder, 'mid.bin')
    if not os.path.exists(mid):
        subprocess.run([gen, '--nodes', '10000', '--links', '2000', '--steps', '400', mid],
                       check=True, stdout=subprocess.DEVNULL)
    members = []
    for i in range(16):
        path = os.path.join(folder, 'member%02d.bin' % i)
        if not os.path.exists(path):
            subprocess.run(['cp', mid, path], check=True)
        members.append(path)
    subprocess.run(['cat'] + members, check=True, stdout=subprocess.DEVNULL)
    stats_csv = os.path.join(folder, 'peaks.csv')
    stats_cmd = [os.path.join(build, 'flowseries-stats'), '-j', '2', '--kind', 'H', '-o', stats_csv] + members
    cli = statistics.median(timed(stats_cmd) for _ in range(args.runs))
    code = '''
import sys, time, json


def main():
    sys.path.insert(0, %r)
    import flowseries
    from dask.distributed import Client, LocalCluster
    paths = json.loads(sys.argv[1])
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as c, Client(c):
        times = []
        for _ in range(%d):
            start = time.perf_counter()
            peaks = flowseries.open_many(paths).H.max(dim='step').compute()
            times.append(time.perf_counter() - start)
        times.sort()
        print(json.dumps({'seconds': times[len(times) // 2], 'first': peaks.values[0].tolist(),
                          'last': peaks.values[-1].tolist()}))


if __name__ == '__main__':
    main()
''' % (os.path.join(build, 'python'), args.runs)
    import json
    script = os.path.join(folder, 'ensemble_peaks.py')
    with open(script, 'w') as f:
        f.write(code)
    out = subprocess.run(['/usr/bin/python3', script, json.dumps(members)], check=True,
                         capture_output=True, text=True,
                         env=dict(os.environ, PYTHONPATH=os.path.join(build, 'python')))
    dask = json.loads(out.stdout.strip().splitlines()[-1])
    with open(stats_csv) as f:
        rows = list(csv.DictReader(f))
    first = [float(r['max']) for r in rows if r['file'] == members[0]]
    same = first == dask['first'] and first == dask['last']
    print('peak of every node of 16 copies of a mid-size case (%.0f MB each, N = 10000)'
          % (os.path.getsize(mid) / 1e6))
    print('  flowseries-stats -j 2            %.3f s' % cli)
    print('  open_many on a 2-worker cluster  %.3f s   %.1fx the command line' % (dask['seconds'], dask['seconds'] / cli))
    print('  the peaks are %s' % ('the same' if same else 'DIFFERENT'))
    if not args.keep:
        subprocess.run(['rm', '-rf', folder])
    return 0 if same else 1


if __name__ == '__main__':
    sys.exit(main())
