#!/usr/bin/env python3
"""flowseries-stats over every node and link of the large case, against `cat` of the same file
(warm: from the page cache) and against the numpy script a user would write
(../shared/bench/peer_numpy_stats.py, or --peer). Prints the times, the ratios measured in this
run, the peak memory of each, and whether the two CSV files are identical.

usage: bench/stats_bench.py [--build build] [--steps 830] [--runs 3] [--peer PATH] [--keep DIR]
"""
import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time


def timed(command, out=subprocess.DEVNULL):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=out)
    return time.perf_counter() - start


def peak_mib(command):
    """The peak resident memory of one run of `command`, from a child of its own."""
    code = ('import resource, subprocess, sys; subprocess.run(sys.argv[1:], check=True, '
            'stdout=subprocess.DEVNULL); print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)')
    out = subprocess.run([sys.executable, '-c', code] + command, check=True, capture_output=True, text=True)
    return int(out.stdout) / 1024


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument('--build', default=os.path.join(here, '..', 'build'))
    ap.add_argument('--steps', type=int, default=830)
    ap.add_argument('--runs', type=int, default=3)
    ap.add_argument('--peer', default=os.path.join(here, '..', '..', 'shared', 'bench', 'peer_numpy_stats.py'))
    ap.add_argument('--keep', help='folder for the large file, kept between runs')
    args = ap.parse_args()
    folder = args.keep or tempfile.mkdtemp(prefix='fs_stats_')
    os.makedirs(folder, exist_ok=True)
    name = 'large_%d.bin' % args.steps
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        subprocess.run([os.path.join(args.build, 'flowseries-gen'), '--nodes', '50000', '--links', '50000',
                        '--steps', str(args.steps), path], check=True, stdout=subprocess.DEVNULL)
    stats = os.path.abspath(os.path.join(args.build, 'flowseries-stats'))
    size = os.path.getsize(path) / 1e9
    subprocess.run(['cat', path], check=True, stdout=subprocess.DEVNULL)  # into the page cache
    cat = [timed(['cat', path]) for _ in range(args.runs)]
    ours_out = os.path.join(folder, 'ours.csv')
    ours = []
    for _ in range(args.runs):
        with open(ours_out, 'wb') as f:
            start = time.perf_counter()
            subprocess.run([stats, name], check=True, stdout=f, cwd=folder)
            ours.append(time.perf_counter() - start)
    peer_out = os.path.join(folder, 'peer.csv')
    start = time.perf_counter()
    subprocess.run(['/usr/bin/python3', args.peer, name, peer_out], check=True, cwd=folder)
    peer = time.perf_counter() - start
    same = open(ours_out, 'rb').read() == open(peer_out, 'rb').read()
    c, o = statistics.median(cat), statistics.median(ours)
    print('file: %.2f GB, N = M = 50000, %d steps' % (size, args.steps))
    print('cat (warm)          %.3f s' % c)
    print('flowseries-stats    %.3f s   %.2fx cat (goal <= 1.5)   peak %.0f MiB'
          % (o, o / c, peak_mib([stats, path])))
    print('numpy script        %.3f s   flowseries-stats is %.1fx faster (goal >= 20)' % (peer, peer / o))
    print('the two CSV files are %s' % ('identical' if same else 'DIFFERENT'))
    if not args.keep:
        subprocess.run(['rm', '-rf', folder])
    return 0 if same else 1


if __name__ == '__main__':
    sys.exit(main())
