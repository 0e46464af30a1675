#!/usr/bin/env python3
"""Whole-process benchmark of flowseries against `cat` (the read limit of this machine) and the
numpy yardstick, on two cases kept between runs:

  large: N = M = 50000, about 1.5 GB (830 steps), H, P, Q, V lists of 50, 50, 100 and 50 points
  wide:  N = 250, M = 10, 99999 steps, 200 H points (one HTIME.CSV of about 300 MB)

Prints per case the median (min, max) wall time of each program, the ratios flowseries/cat and
flowseries/yardstick taken run by run, MB/s, peak RSS, and whether flowseries' CSV files equal
the yardstick's byte for byte.

Then the formatter benchmark's nanoseconds per value, and the goals met or not.

With --wine build-windows/flowseries.exe, the Windows build runs under Wine beside the Linux one on
each case, run by run: wall and CPU time (its own and the Wine server's) and their ratios.

usage: bench/compare.py [--build build] [--data build/bench-data] [--runs 5] [--cases large wide]
                        [--cold] [--scaling] [--no-yardstick] [--no-formatter]
                        [--wine build-windows/flowseries.exe]
"""
import argparse
import filecmp
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
YARDSTICK = os.path.join(HERE, 'yardstick_numpy.py')


def python_with_numpy():
    """A Python that can import numpy (this one, or the system's), or None."""
    for python in (sys.executable, '/usr/bin/python3'):
        if os.path.exists(python) and subprocess.run([python, '-c', 'import numpy'],
                                                     stderr=subprocess.DEVNULL).returncode == 0:
            return python
    return None


def spread(count, top):
    """`count` point numbers spread over 1..top."""
    return [1 + (i * (top - 1)) // max(count - 1, 1) for i in range(count)]


def point_list(limits, lists):
    lines = [''.join('%5d' % v for v in limits)]
    for lst in lists:
        lines.append('%5d' % len(lst))
        lines += [''.join('%7d' % v for v in lst[i:i + 10]) for i in range(0, len(lst), 10)]
    return '\n'.join(lines) + '\n'


CASES = {
    'large': dict(nodes=50000, links=50000, steps=830,
                  lists=(spread(50, 50000), spread(50, 49999), spread(100, 50000), spread(50, 50000))),
    'wide': dict(nodes=250, links=10, steps=99999,
                 lists=(spread(200, 250), [], [], [])),
}


def prepare(name, case, data_dir, generator):
    d = os.path.join(data_dir, name)
    os.makedirs(d, exist_ok=True)
    result = os.path.join(d, 'RESULT.BIN')
    stamp = os.path.join(d, 'made-with')
    want = '%(nodes)d %(links)d %(steps)d' % case
    if not (os.path.exists(result) and os.path.exists(stamp) and open(stamp).read() == want):
        print('generating %s case (%s) ...' % (name, want), flush=True)
        subprocess.run([generator, '--nodes', str(case['nodes']), '--links', str(case['links']),
                        '--steps', str(case['steps']), '--title', 'benchmark case ' + name, result],
                       check=True)
        with open(stamp, 'w') as f:
            f.write(want)
    limits = (case['steps'],) + tuple(max(len(lst), 1) for lst in case['lists'])
    with open(os.path.join(d, 'POINTS.LST'), 'w') as f:
        f.write(point_list(limits, case['lists']))
    return d, result


def timed(argv, cwd, stdin=None, stdout=subprocess.DEVNULL):
    # Every run starts with no dirty pages, so that the write-back of an earlier run's output
    # does not land in this one's time.
    os.sync()
    start = time.perf_counter()
    p = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
                         stdout=stdout, stderr=subprocess.PIPE)
    if stdin:
        p.stdin.write(stdin)
        p.stdin.close()
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - start
    err = p.stderr.read()
    p.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit('%s failed: %s' % (argv[0], err.decode(errors='replace')))
    timed.cpu = usage.ru_utime + usage.ru_stime
    return wall, usage.ru_maxrss / 1024.0


class WineServer:
    """A Wine prefix of the benchmark's own with a persistent server, started before the runs (so
    that no run pays Wine's start) and stopped after them; its CPU time is read from /proc, since
    the server is no child of the runs."""

    def __init__(self, prefix):
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG='-all')
        subprocess.run(['wineserver', '-k'], env=self.env, stderr=subprocess.DEVNULL)
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The prefix is made by a first program; its server is let go before the persistent one
        # starts, which every run then shares.
        subprocess.run(['wine', 'cmd', '/c', 'exit'], env=self.env, **quiet)
        subprocess.run(['wineserver', '-w'], env=self.env, **quiet)
        self.server = subprocess.Popen(['wineserver', '-p', '-f'], env=self.env, **quiet)
        subprocess.run(['wine', 'cmd', '/c', 'exit'], env=self.env, **quiet)

    def cpu(self):
        """The CPU seconds of this prefix's server so far."""
        try:
            with open('/proc/%d/stat' % self.server.pid) as f:
                parts = f.read().rsplit(')', 1)[1].split()
            return (int(parts[11]) + int(parts[12])) / os.sysconf('SC_CLK_TCK')
        except (OSError, ValueError, IndexError):
            return 0.0

    def stop(self):
        subprocess.run(['wineserver', '-k'], env=self.env, stderr=subprocess.DEVNULL)
        self.server.wait()


def windows_runs(name, d, args, linux_wall, linux_cpu):
    """The Windows build under Wine on the same case and files, run by run beside the Linux
    binary: wall and CPU time (the program's and the Wine server's), paired ratios, and whether
    the CSV files are the same bytes."""
    exe = os.path.abspath(args.wine)
    wine_dir = os.path.join(d, 'windows')
    os.makedirs(wine_dir, exist_ok=True)
    for f in ('RESULT.BIN', 'POINTS.LST'):
        if not os.path.exists(os.path.join(wine_dir, f)):
            os.symlink(os.path.join(os.path.abspath(d), f), os.path.join(wine_dir, f))
    server = WineServer(os.path.abspath(os.path.join(os.path.dirname(exe), 'wineprefix-bench')))
    walls, cpus, servers = [], [], []
    try:
        for _ in range(args.runs):
            before = server.cpu()
            os.sync()
            start = time.perf_counter()
            p = subprocess.run(['wine', exe], cwd=wine_dir, input=b'1\r\nRESULT.BIN\r\nPOINTS.LST\r\n',
                               env=server.env, capture_output=True)
            walls.append(time.perf_counter() - start)
            if p.returncode != 0:
                sys.exit('flowseries.exe failed: %s' % p.stderr.decode(errors='replace'))
            cpus.append(child_cpu())
            servers.append(server.cpu() - before)
    finally:
        server.stop()
    same = all(filecmp.cmp(os.path.join(d, f), os.path.join(wine_dir, f), shallow=False)
               for f in ('HTIME.CSV', 'PTIME.CSV', 'QTIME.csv', 'VTIME.csv') if os.path.exists(os.path.join(d, f)))
    print('  windows   %s wall, CPU %.3f s + Wine server %.3f s (medians)' % (
        describe(walls), statistics.median(cpus), statistics.median(servers)))
    wall_ratios = [w / l for w, l in zip(walls, linux_wall)]
    cpu_ratios = [(c + s) / l for c, s, l in zip(cpus, servers, linux_cpu)]
    FIGURES[name + '_windows_cpu'] = statistics.median(cpu_ratios)
    print('  windows/linux wall   median %.2f (%.2f-%.2f)' % (statistics.median(wall_ratios), min(wall_ratios),
                                                            max(wall_ratios)))
    print('  windows/linux CPU    median %.2f (%.2f-%.2f), the Wine server counted' % (
        statistics.median(cpu_ratios), min(cpu_ratios), max(cpu_ratios)))
    print('  files: %s' % ('identical to the Linux build\'s' if same else 'DIFFERENT from the Linux build\'s'))
    return same


_last_children = [0.0]


def child_cpu():
    """The CPU seconds of the children waited for since the last call."""
    import resource
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    total = usage.ru_utime + usage.ru_stime
    spent, _last_children[0] = total - _last_children[0], total
    return spent


def evict(path):
    """Drops the file's pages from the page cache, so that the next read comes from the disk."""
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    finally:
        os.close(fd)


def output_bytes(d):
    return sum(os.path.getsize(os.path.join(d, f)) for f in ('HTIME.CSV', 'PTIME.CSV', 'QTIME.csv', 'VTIME.csv')
               if os.path.exists(os.path.join(d, f)))


def floor_command(size):
    """The least any program must do here: read the whole result file and write `size` bytes to
    a file, in large blocks."""
    return ['sh', '-c', 'cat RESULT.BIN > /dev/null && '
            'dd if=/dev/zero of=floor.out bs=1M count=%d iflag=count_bytes status=none' % size]


def describe(times):
    return '%.3f s (%.3f-%.3f)' % (statistics.median(times), min(times), max(times))


def run_case(name, case, args):
    d, result = prepare(name, case, args.data, os.path.join(args.build, 'flowseries-gen'))
    size_mb = os.path.getsize(result) / 1e6
    peer_dir = os.path.abspath(os.path.join(d, 'yardstick'))
    os.makedirs(peer_dir, exist_ok=True)
    subprocess.run(['cat', result], stdout=subprocess.DEVNULL, check=True)  # warm the page cache
    binary = os.path.abspath(os.path.join(args.build, 'flowseries'))
    cat, ours, peer, our_rss, peer_rss, floor, our_cpu = [], [], [], [], [], [], []
    cold_cat, cold_ours = [], []
    timed([binary], d, stdin=b'1\nRESULT.BIN\nPOINTS.LST\n')  # the output's size, for the floor
    written = output_bytes(d)
    for _ in range(args.runs):
        cat.append(timed(['cat', 'RESULT.BIN'], d)[0])
        floor.append(timed(floor_command(written), d)[0])
        w, rss = timed([binary], d, stdin=b'1\nRESULT.BIN\nPOINTS.LST\n')
        ours.append(w)
        our_rss.append(rss)
        our_cpu.append(timed.cpu)
        if args.cold:
            evict(result)
            cold_cat.append(timed(['cat', 'RESULT.BIN'], d)[0])
            evict(result)
            cold_ours.append(timed([binary], d, stdin=b'1\nRESULT.BIN\nPOINTS.LST\n')[0])
            subprocess.run(['cat', result], stdout=subprocess.DEVNULL, check=True)  # warm again
        if not args.no_yardstick:
            w, rss = timed([args.python, YARDSTICK, 'RESULT.BIN', 'POINTS.LST', peer_dir], d)
            peer.append(w)
            peer_rss.append(rss)
    print('\n== %s: %.0f MB, N=%d M=%d, %d steps, %d runs' % (name, size_mb, case['nodes'], case['links'],
                                                              case['steps'], args.runs))
    print('  cat        %s' % describe(cat))
    print('  flowseries %s   %.0f MB/s   peak RSS %.1f MiB' % (describe(ours), size_mb / statistics.median(ours),
                                                             max(our_rss)))
    ratios = [o / c for o, c in zip(ours, cat)]
    FIGURES[name + '_cat'] = statistics.median(ratios)
    print('  flowseries/cat        median %.2f (%.2f-%.2f)' % (statistics.median(ratios), min(ratios), max(ratios)))
    print('  floor      %s   (read the file, write %.0f MB)' % (describe(floor), written / 1e6))
    ratios = [o / f for o, f in zip(ours, floor)]
    FIGURES[name + '_floor'] = statistics.median(ratios)
    print('  flowseries/floor      median %.2f (%.2f-%.2f)' % (statistics.median(ratios), min(ratios), max(ratios)))
    if cold_ours:
        print('  cold: cat %s, flowseries %s' % (describe(cold_cat), describe(cold_ours)))
        ratios = [o / c for o, c in zip(cold_ours, cold_cat)]
        FIGURES[name + '_cold_cat'] = statistics.median(ratios)
        print('  cold flowseries/cat   median %.2f (%.2f-%.2f)' % (statistics.median(ratios), min(ratios),
                                                                  max(ratios)))
    ok = True
    module = os.path.abspath(os.path.join(args.build, 'python'))
    numpy_python = python_with_numpy()
    if os.path.isdir(module) and numpy_python:
        # The Python module's series() of the case's H list, timed inside one interpreter (its
        # start and numpy's import are not the reading's), against the program's whole run.
        probe = ('import sys, time, flowseries\n'
                 'points = [int(x) for x in sys.argv[1].split(",")]\n'
                 'best = 1e9\n'
                 'for _ in range(%d):\n'
                 '    t = time.perf_counter()\n'
                 '    flowseries.open("RESULT.BIN").series("H", points)\n'
                 '    best = min(best, time.perf_counter() - t)\n'
                 'print(best)\n') % args.runs
        out = subprocess.run([numpy_python, '-c', probe, ','.join(map(str, case['lists'][0]))], cwd=d,
                             env=dict(os.environ, PYTHONPATH=module), capture_output=True, text=True)
        if out.returncode == 0:
            best = float(out.stdout)
            FIGURES[name + '_module'] = best / min(ours)
            print('  python series("H")  %.3f s (best of %d), %.2f of the program\'s best run' % (
                best, args.runs, best / min(ours)))
    if args.wine:
        print('  linux CPU %.3f s (median)' % statistics.median(our_cpu))
        child_cpu()
        ok = windows_runs(name, d, args, ours, our_cpu)
    if peer:
        print('  yardstick  %s   peak RSS %.1f MiB' % (describe(peer), max(peer_rss)))
        ratios = [o / p for o, p in zip(ours, peer)]
        FIGURES[name + '_yardstick'] = statistics.median(ratios)
        print('  flowseries/yardstick  median %.3f (%.3f-%.3f), i.e. %.1fx faster' % (
            statistics.median(ratios), min(ratios), max(ratios), 1 / statistics.median(ratios)))
        same = []
        for f in ('HTIME.CSV', 'PTIME.CSV', 'QTIME.csv', 'VTIME.csv'):
            mine, theirs = os.path.join(d, f), os.path.join(peer_dir, f)
            if os.path.exists(mine) or os.path.exists(theirs):
                ok = os.path.exists(mine) and os.path.exists(theirs) and filecmp.cmp(mine, theirs, shallow=False)
                same.append('%s %s' % (f, 'identical' if ok else 'DIFFERENT'))
        print('  files: ' + ', '.join(same))
        return ok and all(s.endswith('identical') for s in same)
    return ok


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    ap.add_argument('--build', default='build')
    ap.add_argument('--data', default=None)
    ap.add_argument('--runs', type=int, default=5)
    ap.add_argument('--cases', nargs='+', default=list(CASES), choices=list(CASES))
    ap.add_argument('--no-yardstick', action='store_true')
    ap.add_argument('--no-formatter', action='store_true', help='skip the formatter benchmark')
    ap.add_argument('--cold', action='store_true',
                    help='also time cat and flowseries with the result file evicted from the page cache')
    ap.add_argument('--wine', metavar='FLOWSERIES.EXE',
                    help='also run this Windows build under Wine on each case, paired with the Linux one')
    ap.add_argument('--scaling', action='store_true',
                    help='the large case at 0.4, 1.5 and 3 GB: time per GB and peak RSS')
    args = ap.parse_args()
    args.data = args.data or os.path.join(args.build, 'bench-data')
    if not args.no_yardstick:
        args.python = python_with_numpy()
        if args.python is None:
            sys.exit('bench/compare.py: the yardstick needs numpy, which no Python here has.\n'
                     'Install it (Debian: apt-get install python3-numpy; else pip install numpy),\n'
                     'or run with --no-yardstick to compare with cat only.')
    print('machine: %d cores; %s' % (os.cpu_count(), ' '.join(os.uname()[2:3])))
    ok = all([run_case(name, CASES[name], args) for name in args.cases])
    if args.scaling:
        scaling(args)
    if not args.no_formatter:
        formatter(args)
    if FIGURES:
        goals()
    return 0 if ok else 1


def formatter(args):
    """The formatter benchmark's nanoseconds per value, field by field and data by data."""
    bench = os.path.join(args.build, 'bench', 'number_text_bench')
    if not os.path.exists(bench):
        print('\n== formatter: %s not built (Google Benchmark missing?)' % bench)
        return
    # The repetitions of all benchmarks are run in a random order, so that a minute in which the
    # machine runs slower (it wanders) spreads over all of them instead of spoiling one.
    out = subprocess.run([bench, '--benchmark_format=json', '--benchmark_min_time=0.2',
                          '--benchmark_repetitions=7', '--benchmark_enable_random_interleaving=true',
                          '--benchmark_report_aggregates_only=true'],
                         capture_output=True, text=True, check=True).stdout
    print('\n== formatter: ns per value (median of 7, interleaved)')
    medians = [b for b in json.loads(out)['benchmarks'] if b.get('aggregate_name') == 'median']
    for b in sorted(medians, key=lambda b: b.get('family_index', 0)):
        name = b['run_name'].replace('BM_', '')
        ns = b['ns/value'] * 1e9  # the counter is kept in seconds per value
        print('  %-28s %6.2f ns' % (name, ns))
        if name.startswith(('TimeField', 'ValueField')) and ('_wide' in name or '_mix' in name):
            FIGURES.setdefault('formatter', []).append(ns)


# Figures that the goals are judged by, gathered while the cases run.
FIGURES = {}


def goals():
    print('\n== goals')
    rows = [('wide flowseries/yardstick', 'wide_yardstick', 0.04),
            ('wide flowseries/floor', 'wide_floor', 2.0),
            ('large flowseries/cat (warm)', 'large_cat', 1.0),
            ('large flowseries/cat (cold)', 'large_cold_cat', 1.0),
            ('large windows/linux CPU', 'large_windows_cpu', 1.5),
            ('large python series()/program', 'large_module', 1.5)]
    for label, key, limit in rows:
        if key in FIGURES:
            value = FIGURES[key]
            print('  %-30s %7.3f  (at most %.2f: %s)' % (label, value, limit,
                                                         'met' if value <= limit else 'NOT met'))
    if 'formatter' in FIGURES:
        worst = max(FIGURES['formatter'])
        print('  %-30s %7.2f  (at most 10 ns: %s)' % ('formatter, slowest realistic', worst,
                                                      'met' if worst <= 10 else 'NOT met'))


def scaling(args):
    binary = os.path.abspath(os.path.join(args.build, 'flowseries'))
    print('\n== scaling: the large case at three sizes (warm cache, best of %d)' % args.runs)
    for steps in (222, 830, 1660):
        case = dict(CASES['large'], steps=steps)
        d, result = prepare('large-%d' % steps, case, args.data, os.path.join(args.build, 'flowseries-gen'))
        subprocess.run(['cat', result], stdout=subprocess.DEVNULL, check=True)
        size_gb = os.path.getsize(result) / 1e9
        runs = [timed([binary], d, stdin=b'1\nRESULT.BIN\nPOINTS.LST\n') for _ in range(args.runs)]
        best = min(w for w, _ in runs)
        print('  %5.2f GB %5d steps: %.3f s, %.3f s per GB, peak RSS %.1f MiB' % (
            size_gb, steps, best, best / size_gb, max(r for _, r in runs)))


if __name__ == '__main__':
    sys.exit(main())
