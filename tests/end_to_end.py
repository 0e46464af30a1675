#!/usr/bin/env python3
"""End-to-end runs of the real binary: each case makes a temporary directory with its input
files, pipes the console answers to the program, and compares standard output, the report on
standard error, the exit status and every file left behind, byte for byte.

usage: end_to_end.py --binary build/flowseries --generator build/flowseries-gen [-k NAME]
"""
import argparse
import json
import math
import os
import re
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

BINARY = None
GENERATOR = None
PLOT = None
POINTS = None
STATS = None
DIFF = None


def POINTS_AVAILABLE():
    return '--points' in sys.argv or POINTS is not None
# A command that the binary runs under, such as a memory checker: FLOWSERIES_E2E_WRAPPER="valgrind -q".
WRAPPER = os.environ.get('FLOWSERIES_E2E_WRAPPER', '').split()
# The command that runs each program of a build for another system: FLOWSERIES_LAUNCHER="wine"
# runs the Windows build, whose reports spell paths as Windows does (Z:\tmp\... under Wine).
LAUNCHER = os.environ.get('FLOWSERIES_LAUNCHER', '').split()
WINDOWS = bool(LAUNCHER)
# The system's words for a full disk (Wine's text for ERROR_DISK_FULL).
DISK_FULL = b'Disk full.' if WINDOWS else b'No space left on device'
ON_POSIX_ONLY = 'a POSIX facility of the program (signals, FIFOs, terminals, resource limits, users)'


def native(path):
    """A POSIX absolute path as the program's reports spell it."""
    if isinstance(path, str):
        path = path.encode()
    return b'Z:' + path.replace(b'/', b'\\') if WINDOWS else path


def shell_command(program):
    """The program as a word of a shell command line (behind its launcher, if any)."""
    return ' '.join(shlex.quote(word) for word in LAUNCHER + [program])


def missing_drive_letter():
    """A drive letter that names no drive under Wine (its drives are links in the prefix)."""
    prefix = os.environ.get('WINEPREFIX') or re.search(r'WINEPREFIX=(\S+)', ' '.join(LAUNCHER)).group(1)
    for letter in 'QPONMLKJIHG':
        if not os.path.lexists(os.path.join(prefix, 'dosdevices', letter.lower() + ':')):
            return letter.encode()
    raise RuntimeError('every drive letter is taken')


def with_cwd(text, d):
    """`text` with {cwd} standing for the run's directory, spelled as the program spells it."""
    cwd = native(os.path.realpath(d))
    return text.replace(b'{cwd}/', cwd + (b'\\' if WINDOWS else b'/')).replace(b'{cwd}', cwd)
CRLF = b'\r\n'
PROMPTS = [bytes.fromhex(h) for h in (
    '2d2d2d20208c8b89ca837483408343838b8169907d89bb9770816a82cc93c782dd8d9e82dd82cc90dd92e820',
    '2d2d2d20202020574f524b2e4c535482a982e793c782dd8d9e82de2f30',
    '2d2d2d20202020837483408343838b96bc82f093fc97cd814081402f31',
    '2d2d2d208c8b89ca837483408343838b96bc82cc93fc97cd20',
    '2d2d2d20834f8389837497708366815b835e82cc93c782dd8d9e82dd20',
    '2d2d2d2020208140208366815b835e837483408343838b96bc82cc93fc97cd')]
LINES = [b' ' + p + CRLF for p in PROMPTS]
HEADING = b'Image              PC        Routine            Line        Source             '
TITLE = (u'流れ計算 テスト '.encode('cp932') + b'abcdefghij' * 8)[:80]


# ------------------------------------------------------------------ expected text
def exponent_field(x, width, digits, scale):
    if x != x:
        return b' NaN'.ljust(width)
    if math.isinf(x):
        return (b' Infinity' if x > 0 else b' -Infinity').ljust(width)
    negative = x < 0
    if x == 0:
        negative, scale, mantissa_digits, exponent = False, 0, b'0' * digits, 0
    else:
        count = digits if scale == 0 else digits + 1
        text = b'%.*e' % (count - 1, abs(x))        # correctly rounded, ties to even
        mant, exp = text.split(b'e')
        mantissa_digits = mant.replace(b'.', b'')
        exponent = int(exp) + 1 - scale
    part = b'E%+03d' % exponent if abs(exponent) <= 99 else b'%+04d' % exponent
    mantissa = (b'.' + mantissa_digits if scale == 0
                else mantissa_digits[:1] + b'.' + mantissa_digits[1:])
    required = negative + len(mantissa) + 4
    if required > width:
        return b'*' * width
    zero = b'0' if scale == 0 and width >= required + 1 else b''
    return ((b'-' if negative else b'') + zero + mantissa + part).rjust(width)


def integer_field(v, width):
    text = b'%d' % v
    return b'*' * width if len(text) > width else text.rjust(width)


def csv_lines(first, groups):
    out = b''
    for i in range(0, max(len(groups), 1), 200):
        chunk = groups[i:i + 200]
        out += (first if i == 0 else b'') + b''.join(chunk) + (b',' if len(chunk) < 200 else b'') + CRLF
    return out


def series_csv(numbers, rows):
    out = csv_lines(b'', [b',' + integer_field(v, 8) for v in numbers])
    for t, values in rows:
        out += csv_lines(exponent_field(t, 16, 7, 0), [b',' + exponent_field(v, 14, 5, 1) for v in values])
    return out


# ------------------------------------------------------------------ input builders
def i32(v):
    return struct.pack('<i', v)


def f64(v):
    return struct.pack('<d', v)


def frame(payload, lead=None):
    n = len(payload) if lead is None else lead
    return i32(n) + payload + i32(n)


class Network:
    """A result file's content and the series values it gives."""

    def __init__(self, n, m, steps, title=TITLE):
        self.n, self.m, self.steps, self.title = n, m, steps, title
        self.base = [50.0 + 0.5 * i for i in range(1, max(n, 0) + 1)]
        self.p = [[i + 0.125 * s for i in range(1, max(n, 0) + 1)] for s in range(steps)]
        self.q = [[-0.25 * i * (s + 1) for i in range(1, max(n, 0) + 1)] for s in range(steps)]
        self.va = [[10.0 * j + s + 0.5 for j in range(1, max(m, 0) + 1)] for s in range(steps)]
        self.vb = [[-(1.5 * j + s) for j in range(1, max(m, 0) + 1)] for s in range(steps)]
        self.times = [30.0 * s for s in range(steps)]

    def header_records(self, n_written=None):
        n, m = max(self.n, 0), max(self.m, 0)
        nodes = b''.join(f64(0.5 * i) + f64(self.base[i]) for i in range(n))
        links = b''.join(struct.pack('<5i2d', j, j + 1, 0, 0, 0, 1.0, 2.0) for j in range(1, m + 1))
        return [frame(self.title), frame(i32(self.n)), frame(nodes), frame(i32(self.m)), frame(links)]

    def step_records(self, s):
        n, m = max(self.n, 0), max(self.m, 0)
        node = b''.join(i32(i) + f64(self.p[s][i]) + f64(self.q[s][i]) for i in range(n))
        link = b''.join(f64(self.va[s][j]) + f64(self.vb[s][j]) for j in range(m))
        return [frame(i32(s + 1) + f64(self.times[s])), frame(node), frame(link)]

    def data(self):
        out = b''.join(self.header_records())
        for s in range(self.steps):
            out += b''.join(self.step_records(s))
        return out

    def value(self, kind, v, s):
        n, m = max(self.n, 0), max(self.m, 0)
        if kind == 'V':
            return [self.va[s][v - 1], self.vb[s][v - 1]] if 0 < v <= m else [0.0, 0.0]
        if v <= 0 or v > n:
            return [0.0]
        return [{'H': self.p[s][v - 1] + self.base[v - 1], 'P': self.p[s][v - 1],
                 'Q': self.q[s][v - 1]}[kind]]

    def csv(self, kind, points, stored):
        numbers = [v for v in points for _ in range(2 if kind == 'V' else 1)]
        rows = [(self.times[s], [x for v in points for x in self.value(kind, v, s)])
                for s in range(stored)]
        return series_csv(numbers, rows)


def point_list(limits=(None,) * 5, lists=((), (), (), ())):
    def field(v, w):
        return b' ' * w if v is None else b'%*d' % (w, v)
    lines = [b''.join(field(v, 5) for v in limits)]
    for lst in lists:
        lines.append(field(len(lst), 5))
        lines += [b''.join(field(v, 7) for v in lst[i:i + 10]) for i in range(0, len(lst), 10)]
    return b'\n'.join(lines) + b'\n'


def console_out(net_title=TITLE, n=0, m=0, upto='end', typed=True):
    out = LINES[0] + LINES[1] + LINES[2]
    if upto == 'answer':
        return out
    if typed:
        out += LINES[3]
    if upto == 'name':
        return out
    return out + net_title + CRLF + b'%12d%12d' % (n, m) + CRLF + LINES[4] + LINES[5]


# ------------------------------------------------------------------ the read-ahead, replayed
class ReadAhead:
    """The record reader's outcome on a file, replayed with an 8192-byte read-ahead that grows to
    L + 12 for a longer record and is refilled with one read of all it has room for. Gives the
    number of stored steps, or the failure number."""

    class Ended(Exception):
        pass

    class Failed(Exception):
        pass

    def __init__(self, data):
        self.data, self.capacity, self.filled, self.consumed = data, 8192, 0, 0

    def refill(self):
        got = max(0, min(self.capacity - (self.filled - self.consumed), len(self.data) - self.filled))
        self.filled += got
        return got

    def piece(self, end_allowed):
        ended = False
        if self.filled - self.consumed < 4 and (self.refill() == 0 or self.filled - self.consumed < 4):
            ended = True
        if not ended:
            length = struct.unpack_from('<i', self.data, self.consumed)[0]
            self.continued, length = length < 0, abs(length)
            if self.filled - self.consumed < 8 + length:
                if 8 + length > self.capacity:
                    self.capacity = length + 12
                if self.refill() == 0:
                    ended = True
                elif self.filled - self.consumed < 8 + length:
                    raise self.Failed(39)
        if ended:
            if end_allowed:
                raise self.Ended()
            raise self.Failed(24)
        self.left = length
        self.consumed += 8 + length

    def read(self, size, end_allowed=False):
        self.piece(end_allowed)
        while size > self.left:
            size -= self.left
            if not self.continued:
                raise self.Failed(67)
            self.piece(end_allowed)
        while self.continued:
            self.piece(end_allowed)

    def outcome(self, n, m, step_limit):
        try:
            for size in (80, 4, 16 * max(n, 0), 4, 36 * max(m, 0)):
                self.read(size)
            stored = 0
            while True:
                try:
                    self.read(12, True)
                except self.Ended:
                    return 0, stored
                self.read(20 * max(n, 0))
                self.read(16 * max(m, 0))
                if stored == step_limit:
                    return 0, stored
                stored += 1
        except self.Failed as failure:
            return failure.args[0], None


# ------------------------------------------------------------------ running
class Run:
    pass


def python_with(module):
    """A Python that can import `module` (this one, or the system's), or None."""
    for python in (sys.executable, '/usr/bin/python3'):
        if os.path.exists(python) and subprocess.run([python, '-c', 'import ' + module],
                                                     stderr=subprocess.DEVNULL).returncode == 0:
            return python
    return None


def read_png(path):
    """Width, height and rows of RGB(A) bytes of an 8-bit PNG (as rsvg-convert writes them)."""
    import zlib
    with open(path, 'rb') as f:
        data = f.read()
    at, idat = 8, b''
    while at < len(data):
        n, kind = struct.unpack('>I4s', data[at:at + 8])
        body = data[at + 8:at + 8 + n]
        at += 12 + n
        if kind == b'IHDR':
            w, h, _, colour = struct.unpack('>IIBB', body[:10])
        elif kind == b'IDAT':
            idat += body
    raw, bpp = zlib.decompress(idat), {6: 4, 2: 3}[colour]
    stride, rows, prev, at = w * bpp, [], bytearray(w * bpp), 0
    for _ in range(h):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * bpp:x * bpp + 3]) for x in range(w)])
        prev = line
    return w, h, rows


def spiky_series_csv(steps, seed):
    """A series file of three nodes: a noisy wave, a fast wave with spikes, noise with a gap of
    NaN and one deep spike."""
    import random
    rnd = random.Random(seed)
    lines = [b',       5,      17,     120,']
    for s in range(steps):
        values = [100 + 20 * math.sin(s / (steps / 60)) + rnd.gauss(0, 2),
                  50 + (300 if s % (steps // 5 + 3) == 0 else 0) + 10 * math.sin(s / 7),
                  None if steps * 2 // 5 <= s < steps * 2 // 5 + steps // 50 else
                  -30 + 5 * rnd.random() - (200 if s == steps * 2 // 3 else 0)]
        lines.append(b'%16.7E' % (30.0 * s) + b''.join(
            b',%14.5E' % v if v is not None else b',           NaN' for v in values) + b',')
    return CRLF.join(lines) + CRLF


def headless_browser():
    """A Chromium to open pages with, or None."""
    for name in ('chromium', 'chromium-browser', 'google-chrome'):
        if shutil.which(name):
            return shutil.which(name)
    return None


def read_at_least(stream, count):
    """What a running program has written, once there are `count` bytes or the stream ends."""
    out = b''
    while len(out) < count:
        chunk = os.read(stream.fileno(), 4096)
        if not chunk:
            break
        out += chunk
    return out


def run_program(files, stdin, signal_after=None, limit_kb=None, user=None, stdout_path=None,
                directory=None, prepare=None, new_session=False, stack_kb=None, env=None,
                file_limit=None, close_fd=None, stdin_path=None):
    """Runs the binary in a fresh directory holding `files`; returns what it left."""
    d = directory or tempfile.mkdtemp(prefix='fs_e2e_')
    for name, data in files.items():
        path = os.path.join(d, name)
        if data is None:
            os.mkdir(path)
        else:
            with open(path, 'wb') as f:
                f.write(data)
    before = {n: files[n] for n in files}
    if prepare:
        prepare(d)

    def preexec():
        import resource
        if WINDOWS:
            return  # Wine does not start under a small address space
        if limit_kb:
            resource.setrlimit(resource.RLIMIT_AS, (limit_kb * 1024, limit_kb * 1024))
        if stack_kb:
            resource.setrlimit(resource.RLIMIT_STACK, (stack_kb * 1024, stack_kb * 1024))
        if file_limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))
        if close_fd is not None:
            os.close(close_fd)
        if user is not None:
            os.setgid(user)
            os.setuid(user)
    out_target = open(stdout_path, 'wb') if stdout_path else subprocess.PIPE
    in_source = open(stdin_path, 'rb') if stdin_path else subprocess.PIPE
    p = subprocess.Popen(WRAPPER + LAUNCHER + [BINARY], cwd=d, stdin=in_source, stdout=out_target,
                         stderr=subprocess.PIPE, preexec_fn=preexec, start_new_session=new_session,
                         env=env)
    if stdin_path:
        in_source.close()
        stdin = None
    if stdout_path:
        out_target.close()
    if signal_after is not None:
        p.stdin.write(stdin)
        p.stdin.flush()
        time.sleep(signal_after[1])
        p.send_signal(signal_after[0])
        out, err = p.communicate(timeout=30)
    else:
        try:
            out, err = p.communicate(stdin, timeout=60)
        except subprocess.TimeoutExpired:
            p.kill()
            p.communicate()
            raise
    r = Run()
    r.dir, r.status, r.stdout, r.stderr = d, p.returncode, out, err
    r.files = {}
    for name in os.listdir(d):
        path = os.path.join(d, name)
        if os.path.isdir(path):
            r.files[name] = None
        elif not os.path.isfile(path):
            continue  # a link to a device, as the case made it
        else:
            with open(path, 'rb') as f:
                r.files[name] = f.read()
    r.before = before
    if directory is None:
        subprocess.run(['rm', '-rf', d])
    return r


STACK_ROW = re.compile(rb'^.{17}  [0-9A-F]{8}  .{17}  [ 0-9A-Za-z]{10}  \S.*$')


def stack_rows(after_heading):
    """The rows of a stack table that starts right after its heading line; each must hold the
    module in 17 columns, the upper-case 8-digit address, the routine in 17 and the line in 10."""
    rows = after_heading.split(CRLF)
    if rows and rows[-1] == b'':
        rows.pop()
    return rows


class EndToEnd(unittest.TestCase):
    maxDiff = 2000

    def assertStackTable(self, after_heading):
        rows = stack_rows(after_heading)
        self.assertTrue(rows, 'no row under the heading')
        for row in rows:
            self.assertRegex(row, STACK_ROW)

    def whole_run(self, net, lists, limits=(None,) * 5, stored=None, pl=None, data=None,
                  extra=None, stdin=b'1\nres.bin\npl.txt\n'):
        files = {'res.bin': data if data is not None else net.data(),
                 'pl.txt': pl if pl is not None else point_list(limits, lists)}
        files.update(extra or {})
        r = run_program(files, stdin)
        self.assertEqual(r.stderr, b'')
        self.assertEqual(r.status, 0)
        self.assertEqual(r.stdout, console_out(net.title, net.n, net.m))
        if stored is None:
            stored = min(net.steps, 100)
        for kind, name, lst in zip('HPQV', ('HTIME.CSV', 'PTIME.CSV', 'QTIME.csv', 'VTIME.csv'), lists):
            if lst:
                self.assertEqual(r.files.get(name), net.csv(kind, lst, stored), name)
        return r

    def failing_run(self, files, stdin, status, line, stdout=None, os_line=False):
        r = run_program(files, stdin)
        self.assertEqual(r.status, status, r.stderr)
        report = b'flowseries: ' + line + CRLF
        at = r.stderr.find(report)
        self.assertGreaterEqual(at, 0, r.stderr)
        self.assertEqual(at > 0, os_line, r.stderr)
        self.assertTrue(r.stderr[at + len(report):].startswith(HEADING + CRLF), r.stderr)
        self.assertStackTable(r.stderr[at + len(report) + len(HEADING) + 2:])
        if stdout is not None:
            self.assertEqual(r.stdout, stdout)
        return r

    # ---------------------------------------------------------- the whole job
    def test_example_h_file(self):
        net = Network(20, 0, 2)
        for s, (a, b) in enumerate(((2.5, 10.25), (2.75, 10.0))):
            net.p[s][4], net.p[s][16] = a, b
        net.base[4], net.base[16] = 10.0, 3.0
        net.times = [0.0, 60.0]
        r = self.whole_run(net, ([5, 17], [], [], []))
        self.assertEqual(r.files['HTIME.CSV'], b',       5,      17,\r\n'
                         b'   0.0000000E+00,   1.25000E+01,   1.32500E+01,\r\n'
                         b'   0.6000000E+02,   1.27500E+01,   1.30000E+01,\r\n')
        self.assertNotIn('PTIME.CSV', r.files)

    def test_lists_and_limits(self):
        net = Network(30, 12, 4)
        ten, eleven = list(range(1, 11)), list(range(11, 0, -1))
        cases = [
            ('all four series', ([5], [1, 30], [2], [3]), (None,) * 5, 4),
            ('lists of 10 and 11', (ten, eleven, [], []), (None,) * 5, 4),
            ('placeholders', ([0, -1, 3], [-999999], [0], [-3, 0]), (None,) * 5, 4),
            ('same point twice', ([7, 7], [3, 3, 3], [], [2, 2]), (None,) * 5, 4),
            ('points above N within the tables', ([31, 50000], [31], [49999], [13, 50000]), (None,) * 5, 4),
            ('step limit below the steps', ([1], [2], [], []), (2, None, None, None, None), 2),
            ('all limits 1', ([3], [4], [5], [6]), (1, 1, 1, 1, 1), 1),
            ('count equal to its limit', ([1, 2, 3], [], [], []), (None, 3, None, None, None), 4),
        ]
        for name, lists, limits, stored in cases:
            with self.subTest(name):
                self.whole_run(net, lists, limits, stored)

    def test_list_of_twelve_with_a_short_first_line(self):
        net = Network(20, 1, 2)
        pl = b'\n   12\n      1      2      3\n     11     12\n    1\n     20\n    0\n    0\n'
        self.whole_run(net, ([1, 2, 3] + [0] * 7 + [11, 12], [20], [], []), pl=pl)

    def test_blank_and_negative_counts(self):
        net = Network(10, 2, 2)
        r = self.whole_run(net, ([], [7], [], []), pl=b'\n     \n    1\n      7\n\n   -3\n',
                           extra={'VTIME.csv': b'old V'})
        self.assertEqual(r.files['VTIME.csv'], b'old V')

    def test_default_limits_store_100_steps_and_50_points(self):
        net = Network(60, 2, 101)
        self.whole_run(net, (list(range(1, 51)), [], [], []), stored=100)

    def test_network_shapes(self):
        for name, net, lists in (
                ('N = 0 and M = 0', Network(0, 0, 3), ([1], [2], [3], [4])),
                ('M = 0', Network(5, 0, 2), ([], [5], [], [1])),
                ('no steps', Network(5, 5, 0), ([1], [2], [3], [4])),
                ('more than 50000 nodes', Network(50010, 1, 1), ([50005, 50010], [], [], [1]))):
            with self.subTest(name):
                self.whole_run(net, lists)

    def test_negative_counts_in_the_header_read_no_entries(self):
        net = Network(-5, -2, 0)
        data = b''.join([frame(TITLE), frame(i32(-5)), frame(b''), frame(i32(-2)), frame(b'')])
        data += frame(i32(1) + f64(1.0)) + frame(b'') + frame(b'')
        r = run_program({'res.bin': data, 'pl.txt': point_list(lists=([1], [], [], [1]))},
                        b'1\nres.bin\npl.txt\n')
        self.assertEqual(r.status, 0, r.stderr)
        self.assertEqual(r.stdout, console_out(TITLE, -5, -2))
        self.assertEqual(r.files['HTIME.CSV'], series_csv([1], [(1.0, [0.0])]))
        self.assertEqual(r.files['VTIME.csv'], series_csv([1, 1], [(1.0, [0.0, 0.0])]))

    def test_wide_files_continue_on_new_lines(self):
        net = Network(250, 100, 2)
        h200, h201 = list(range(1, 201)), list(range(1, 202))
        r = self.whole_run(net, (h200, h201, [], list(range(1, 101))), (None, 200, 201, None, 100))
        self.assertEqual(len(r.files['HTIME.CSV'].split(CRLF)[0]), 1800)
        self.assertEqual(len(r.files['HTIME.CSV'].split(CRLF)[1]), 3016)
        self.assertEqual(r.files['PTIME.CSV'].split(CRLF)[1], b',     201,')
        self.assertEqual(len(r.files['VTIME.csv'].split(CRLF)[1]), 3016)

    def test_series_files_keep_their_names_and_replace_longer_files(self):
        net = Network(10, 5, 2)
        if WINDOWS:
            # Names are not case-sensitive: an existing file of another case is the series file,
            # rewritten under the name it already has.
            r = run_program({'res.bin': net.data(), 'pl.txt': point_list(lists=([1], [2], [3], [4])),
                             'HTIME.CSV': b'X' * 30000, 'vtime.CSV': b'upper'}, b'1\nres.bin\npl.txt\n')
            self.assertEqual(r.status, 0, r.stderr)
            self.assertEqual(r.files['HTIME.CSV'], net.csv('H', [1], 2))
            self.assertEqual(r.files['vtime.CSV'], net.csv('V', [4], 2))
            self.assertEqual(sorted(n for n in r.files if n.upper().endswith('.CSV')),
                             ['HTIME.CSV', 'PTIME.CSV', 'QTIME.csv', 'vtime.CSV'])
            return
        r = self.whole_run(net, ([1], [2], [3], [4]),
                           extra={'HTIME.CSV': b'X' * 30000, 'htime.csv': b'lower', 'VTIME.CSV': b'upper'})
        self.assertEqual(r.files['htime.csv'], b'lower')
        self.assertEqual(r.files['VTIME.CSV'], b'upper')
        self.assertEqual(sorted(n for n in r.files if n.upper().endswith('.CSV')),
                         ['HTIME.CSV', 'PTIME.CSV', 'QTIME.csv', 'VTIME.CSV', 'VTIME.csv', 'htime.csv'])

    def test_generated_result_file(self):
        d = tempfile.mkdtemp(prefix='fs_gen_')
        path = os.path.join(d, 'gen.bin')
        subprocess.run(LAUNCHER + [GENERATOR, '--nodes', '300', '--links', '50', '--steps', '20', path], check=True)
        with open(path, 'rb') as f:
            data = f.read()
        subprocess.run(['rm', '-rf', d])
        r = run_program({'res.bin': data, 'pl.txt': point_list(lists=([1, 300], [2], [3], [50]))},
                        b'1\nres.bin\npl.txt\n')
        self.assertEqual(r.status, 0, r.stderr)
        self.assertEqual(len(r.files['HTIME.CSV'].split(CRLF)), 22)
        self.assertEqual(len(data), 8 + 80 + 8 + 4 + 8 + 300 * 16 + 8 + 4 + 8 + 50 * 36
                         + 20 * (8 + 12 + 8 + 300 * 20 + 8 + 50 * 16))

    # ---------------------------------------------------------- the dialogue
    def test_answers(self):
        net = Network(4, 2, 1)
        work_list = b'line 1\n\n,,/\t\xff\n  res.bin  \n'
        for answer, typed in ((b'  1  ', True), (b'1 2', True), (b'\n\n1', True), (b',', False),
                              (b'/', False), (b'3*1', True), (b'1.9', True), (b'0.5', False),
                              (b'2', False), (b'2*', False), (b'1e10', False)):
            with self.subTest(answer=answer):
                stdin = answer + (b'\nres.bin\npl.txt\n' if typed else b'\npl.txt\n')
                r = run_program({'res.bin': net.data(), 'WORK.LST': work_list,
                                 'pl.txt': point_list(lists=([], [1], [], []))}, stdin)
                self.assertEqual(r.status, 0, r.stderr)
                self.assertEqual(r.stdout, console_out(net.title, 4, 2, typed=typed))
                self.assertEqual(r.files['PTIME.CSV'], net.csv('P', [1], 1))

    def test_names_are_trimmed_and_cut_at_20_columns(self):
        net = Network(4, 2, 1)
        for stdin in (b'1\n   res.bin   \npl.txt\n', b'1\nres.bin             IGNORED\npl.txt\n',
                      b'1\r\nres.bin\r\npl.txt', b'0\npl.txt\n'):
            with self.subTest(stdin=stdin):
                r = run_program({'res.bin': net.data(), 'pl.txt': point_list(lists=([1], [], [], [])),
                                 'WORK.LST': b'a\nb\nc\nres.bin\0\0  \n'}, stdin)
                self.assertEqual(r.status, 0, r.stderr)

    def test_dialogue_failures(self):
        net = Network(4, 2, 1)
        d = net.data()
        up_answer, up_name, full = console_out(upto='answer'), console_out(upto='name'), console_out(TITLE, 4, 2)
        cases = [
            ('missing WORK.LST', {'res.bin': d}, b'0\n', 29, b'severe (29): file not found, unit 98, file {cwd}/WORK.LST', up_answer),
            ('WORK.LST of three lines', {'WORK.LST': b'a\nb\nres.bin\n'}, b'0\n', 24,
             b'severe (24): end-of-file during read, unit 98, file {cwd}/WORK.LST', up_answer),
            ('missing result file', {}, b'1\nnone.bin\n', 29, b'severe (29): file not found, unit 7, file {cwd}/none.bin', up_name),
            ('blank result name', {}, b'1\n     \n', 29, b'severe (29): file not found, unit 7, file ', up_name),
            ('bad answer', {}, b'12x\n', 59, b'severe (59): list-directed I/O syntax error, unit -4, file CONIN$', up_answer),
            ('answer beyond 32 bits', {}, b'99999999999\n', 64, b'severe (64): input conversion error, unit -4, file CONIN$', up_answer),
            ('no answer', {}, b'', 24, b'severe (24): end-of-file during read, unit -4, file CONIN$', up_answer),
            ('no point-list name', {'res.bin': d}, b'1\nres.bin\n', 24, b'severe (24): end-of-file during read, unit -4, file CONIN$', full),
            ('new point-list file', {'res.bin': d}, b'1\nres.bin\nnew.txt\n', 24,
             b'severe (24): end-of-file during read, unit 9, file {cwd}/new.txt', full),
            ('bad point-list field', {'res.bin': d, 'pl.txt': b'\n    1\n     1x\n'}, b'1\nres.bin\npl.txt\n', 64,
             b'severe (64): input conversion error, unit 9, file {cwd}/pl.txt', full),
        ]
        for name, files, stdin, status, line, stdout in cases:
            with self.subTest(name):
                r = run_program(files, stdin)
                self.assertEqual(r.status, status, r.stderr)
                self.assertEqual(r.stdout, stdout)
                expected = b'flowseries: ' + with_cwd(line, r.dir) + CRLF
                self.assertTrue(r.stderr.startswith(expected + HEADING + CRLF), r.stderr)
                if name == 'new point-list file':
                    self.assertEqual(r.files['new.txt'], b'')

    def test_result_file_failures(self):
        net = Network(3, 2, 3)
        recs = net.header_records() + [x for s in range(3) for x in net.step_records(s)]
        d = b''.join(recs)
        cases = [
            ('header cut after the node count', b''.join(recs[:2]), 24, 'end-of-file during read'),
            ('title of 79 bytes', frame(TITLE[:79]) + b''.join(recs[1:]), 67, 'input statement requires too much data'),
            ('node step record one byte short', b''.join(recs[:6]) + frame(recs[6][4:-5]) + b''.join(recs[7:]), 67,
             'input statement requires too much data'),
            ('cut step block', d[:-30], 24, 'end-of-file during read'),
            ('huge node count', b''.join([recs[0], frame(i32(2000000000))] + recs[2:]), 67,
             'input statement requires too much data'),
        ]
        for name, data, status, text in cases:
            with self.subTest(name):
                r = run_program({'res.bin': data, 'pl.txt': point_list(lists=([1], [2], [], [])),
                                 'HTIME.CSV': b'old\r\n'}, b'1\nres.bin\npl.txt\n')
                self.assertEqual(r.status, status, r.stderr)
                self.assertIn(b'flowseries: severe (%d): %s, unit 7, file ' % (status, text.encode()), r.stderr)
                self.assertEqual(r.files['HTIME.CSV'], b'old\r\n')
                self.assertNotIn('PTIME.CSV', r.files)

    def test_step_after_the_limit_is_read_whole(self):
        net = Network(3, 2, 3)
        d = net.data()
        r = run_program({'res.bin': d[:-5], 'pl.txt': point_list((2, None, None, None, None), ([], [2], [], []))},
                        b'1\nres.bin\npl.txt\n')
        self.assertEqual(r.status, 24, r.stderr)
        net4 = Network(3, 2, 4)
        self.whole_run(net4, ([], [2], [], []), (2, None, None, None, None), stored=2,
                       data=net4.data()[:-5])

    def test_cut_files_end_as_the_read_ahead_decides(self):
        # Records from 12 bytes to 80 KB, so that some are read whole and some value by value.
        for n, m in ((4000, 3000), (30, 700)):
            net = Network(n, m, 4)
            data = net.data()
            header = len(b''.join(net.header_records()))
            step = (len(data) - header) // 4
            cuts = sorted({header + k * step // 7 for k in range(29)} |
                          {header + 2 * step + d for d in (0, 1, 3, 4, 5, 12, 19, 20, 21, 8191, 8192, 8193)} |
                          {len(data) - d for d in (1, 4, 8, 9, 100)})
            # Under Wine every run costs a second: there one limit, the one that cuts steps short.
            limits = (3,) if WINDOWS else (2, 3, 100)
            for cut in cuts:
                for limit in limits:
                    status, stored = ReadAhead(data[:cut]).outcome(n, m, limit)
                    with self.subTest(n=n, cut=cut, limit=limit, expected=status):
                        r = run_program({'res.bin': data[:cut], 'pl.txt': point_list(
                            (limit, None, None, None, None), ([1, n], [n // 2], [], [m]))},
                            b'1\nres.bin\npl.txt\n')
                        self.assertEqual(r.status, status, r.stderr[:200])
                        if status == 0:
                            self.assertEqual(r.files['HTIME.CSV'], net.csv('H', [1, n], stored))
                            self.assertEqual(r.files['VTIME.csv'], net.csv('V', [m], stored))

    def test_long_records_read_value_by_value(self):
        """Past the first 8 MiB, node records of 1 MB stay on disk and only the listed values are
        read: the series and the outcome of every cut are the same as for a whole read."""
        n, m = 50000, 2000
        net = Network(n, m, 12)
        data = net.data()
        header = len(b''.join(net.header_records()))
        step = (len(data) - header) // 12
        lists = ([1, 777, 49999, 50000], [2, 3, 4, 25000], [50000], [1, 1999, 2000])
        files = {'pl.txt': point_list(lists=lists)}
        self.whole_run(net, lists, data=data)
        cuts = [header + 8 * step + d for d in (0, 2, 13, 20, 40, 500000, 1000000, 1000027, step - 3)] + \
               [len(data) - 1, len(data) - 20000]
        for cut in cuts:
            for limit in (8, 9, 100):
                status, stored = ReadAhead(data[:cut]).outcome(n, m, limit)
                with self.subTest(cut=cut, limit=limit, expected=status):
                    files['pl.txt'] = point_list((limit, None, None, None, None), lists)
                    files['res.bin'] = data[:cut]
                    r = run_program(files, b'1\nres.bin\npl.txt\n')
                    self.assertEqual(r.status, status, r.stderr[:200])
                    if status == 0:
                        self.assertEqual(r.files['HTIME.CSV'], net.csv('H', lists[0], stored))
                        self.assertEqual(r.files['VTIME.csv'], net.csv('V', lists[3], stored))

    def test_long_series_files_formatted_in_chunks(self):
        """A file of more than 2^18 values is formatted on two threads: the same bytes."""
        net = Network(60, 2, 6000)
        lists = (list(range(1, 51)), [], [], [1, 2])
        self.whole_run(net, lists, limits=(6000, None, None, None, None), stored=6000)
        if os.environ.get('FLOWSERIES_SANITIZED'):
            return
        # Threads take their stacks' size from the stack limit: with a stack limit above the
        # address-space limit no thread can start, and the file is formatted on one.
        r = run_program({'res.bin': net.data(), 'pl.txt': point_list((6000, None, None, None, None), lists)},
                        b'1\nres.bin\npl.txt\n', limit_kb=512 * 1024, stack_kb=1024 * 1024)
        self.assertEqual(r.status, 0, r.stderr)
        self.assertEqual(r.files['HTIME.CSV'], net.csv('H', lists[0], 6000))

    def test_speed_ways_at_their_real_thresholds(self):
        """Runs long enough for every speed way (the tail decoder over 64 MiB of steps, the page
        filler over 16 MiB of tables, the chunk ring over 2^18 values) give the bytes of the
        plain program, and so does a value of the switch that is not known."""
        nodes, links = 2000, 100
        block = 3 * 8 + 12 + 20 * nodes + 16 * links
        d = tempfile.mkdtemp(prefix='fs_gen_')
        path = os.path.join(d, 'gen.bin')
        subprocess.run(LAUNCHER + [GENERATOR, '--nodes', str(nodes), '--links', str(links),
                                   '--steps', '2400', path], check=True)
        with open(path, 'rb') as f:
            plain = f.read()
        subprocess.run(['rm', '-rf', d])
        header = len(plain) - 2400 * block

        def with_surplus(data, step, extra):
            """Step `step`'s node record `extra` bytes longer than its values."""
            at = header + step * block + 8 + 12
            length = struct.unpack_from('<i', data, at)[0]
            marker = struct.pack('<i', length + extra)
            return (data[:at] + marker + data[at + 4:at + 4 + length] + b'\xa5' * extra + marker
                    + data[at + 8 + length:])

        h_points = [1 + i * 13 for i in range(150)]
        lists = (h_points, [7, 2000], [], [1, 100])
        cases = [
            # The page filler waits for steps that never come: the end of the file must wake it.
            ('fewer steps than the limit', plain, 99999),
            ('the limit below the steps', plain, 1700),
            # Every later block lies one block further on than a plain file puts it: a plain block
            # stands where the tail decoder looks for each of the last steps below the limit.
            ('a whole block of surplus bytes in an early step', with_surplus(plain, 3, block), 1700),
            ('surplus bytes in the last steps', with_surplus(plain, 2390, 24), 99999),
        ]
        for name, data, limit in cases:
            files = {'res.bin': data, 'pl.txt': point_list((limit, 150, None, None, None), lists)}
            runs = {ways: run_program(files, b'1\nres.bin\npl.txt\n', env=dict(os.environ, FLOWSERIES_WAYS=ways))
                    for ways in ('plain', 'all', 'quickest')}
            reference = runs['plain']
            self.assertEqual(reference.status, 0, name + ': ' + reference.stderr.decode(errors='replace'))
            self.assertEqual(len(reference.files['HTIME.CSV'].split(CRLF)), 2 + min(limit, 2400), name)
            for ways, r in runs.items():
                self.assertEqual((r.status, r.stdout), (reference.status, reference.stdout), name + ', ' + ways)
                for f in ('HTIME.CSV', 'PTIME.CSV', 'VTIME.csv'):
                    self.assertTrue(r.files[f] == reference.files[f], '%s, %s: %s differs' % (name, ways, f))
            self.assertEqual(runs['all'].stderr, b'', name)
            self.assertEqual(runs['quickest'].stderr, b'flowseries: FLOWSERIES_WAYS=quickest is not known '
                             b'(plain, all) and is ignored\r\n', name)
        # What ran, as the program tells it on request: the plain run started no thread, mapped
        # nothing and formatted one field at a time; the quick run on this long file started
        # threads of its own (the tail decoder at least).
        files = {'res.bin': plain, 'pl.txt': point_list((99999, 150, None, None, None), lists)}
        for ways in ('plain', 'all'):
            r = run_program(files, b'1\nres.bin\npl.txt\n',
                            env=dict(os.environ, FLOWSERIES_WAYS=ways, FLOWSERIES_SHOW_WAYS='1'))
            said = re.fullmatch(rb'flowseries: ways: (\w+), threads (\d+), mapped views (\d+), '
                                rb'value fields ([a-z ,]+)\r\n', r.stderr)
            self.assertTrue(said, r.stderr)
            if ways == 'plain':
                self.assertEqual(said.groups(), (b'plain', b'0', b'0', b'one by one'))
            else:
                self.assertEqual(said.group(1), b'all')
                self.assertGreaterEqual(int(said.group(2)), 1, r.stderr)

    def test_the_readmes_loader_reads_rows_of_more_than_200_values(self):
        """The pandas loader that the README shows, run as it stands there, gives every value of
        series files whose rows go on in continuation lines, and reads the special forms."""
        python = python_with('pandas')
        if python is None:
            self.skipTest('no Python with pandas (Debian: apt-get install python3-pandas)')
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'README.md')) as f:
            readme = f.read()
        code = re.search(r'<!-- series-loader -->\n```python\n(.*?)```', readme, re.S).group(1)
        net = Network(300, 120, 3)
        lists = (list(range(1, 251)), [], [], list(range(1, 111)))
        r = run_program({'res.bin': net.data(), 'pl.txt': point_list((10, 250, None, None, 110), lists)},
                        b'1\nres.bin\npl.txt\n', directory=tempfile.mkdtemp(prefix='fs_e2e_'))
        self.assertEqual(r.status, 0, r.stderr)
        probe = code + textwrap.dedent('''
            import json, sys
            out = {}
            for name in ('HTIME.CSV', 'VTIME.csv'):
                t = read_series(name)
                out[name] = [list(map(str, t.columns)), list(t.index), t.values.tolist()]
            out['forms'] = [number(x) for x in ('  1.00000+100', ' -2.50000-120', '   1.50000E+02')]
            out['special'] = [str(number(x)) for x in (' NaN', ' Infinity', ' -Infinity')]
            import shutil
            for other, links in (('run1_VTIME.csv', None), ('case1-vtime.csv', None), ('V.csv', True)):
                shutil.copy('VTIME.csv', other)
                out[other] = list(map(str, read_series(other, links).columns))[:2]
            json.dump(out, sys.stdout)
            ''')
        got = json.loads(subprocess.run([python, '-c', probe], cwd=r.dir, capture_output=True, check=True).stdout)
        subprocess.run(['rm', '-rf', r.dir])
        rounded = lambda x: float('%.5E' % x)
        for name, kind, points in (('HTIME.CSV', 'H', lists[0]), ('VTIME.csv', 'V', lists[3])):
            columns, times, values = got[name]
            names = [str(v) for v in points] if kind == 'H' else \
                ['%d.%s' % (v, c) for v in points for c in ('va', 'vb')]
            self.assertEqual(columns, names, name)
            self.assertEqual(times, net.times, name)
            self.assertEqual(values, [[rounded(x) for v in points for x in net.value(kind, v, s)]
                                      for s in range(3)], name)
        self.assertEqual(got['forms'], [1e100, -2.5e-120, 150.0])
        self.assertEqual(got['special'], ['nan', 'inf', '-inf'])
        for other in ('run1_VTIME.csv', 'case1-vtime.csv', 'V.csv'):
            self.assertEqual(got[other], ['1.va', '1.vb'], other)

    def test_records_in_pieces_give_the_same_series(self):
        net = Network(5000, 20, 3)
        records = net.header_records() + [x for s in range(3) for x in net.step_records(s)]

        def split(record, *sizes):
            payload, out, at = record[4:-4], b'', 0
            for size in sizes:
                out += i32(-size) + payload[at:at + size] + i32(size if at == 0 else -size)
                at += size
            return out + i32(len(payload) - at) + payload[at:] + i32(-(len(payload) - at))
        data = b''.join(records[:6]) + split(records[6], 7, 70000) + b''.join(records[7:9]) + \
            split(records[9], 50001) + split(records[10], 3) + b''.join(records[11:])
        self.whole_run(net, ([1, 5000, 2500], [4999], [], [20]), data=data)

    # ---------------------------------------------------------- statistics
    def test_statistics_agree_with_an_independent_computation(self):
        """flowseries-stats against plain Python (math.fsum, the first step of each extreme) on
        files with NaN, infinities, ties, repeated and falling times, records in pieces, cuts,
        and networks of 0 and 1 nodes or links."""
        if STATS is None:
            self.skipTest('flowseries-stats not given')
        def expected(name, net, steps, status='complete'):
            rows = []
            kinds = [('H', lambda s, i: net.p[s][i] + net.base[i], max(net.n, 0)),
                     ('P', lambda s, i: net.p[s][i], max(net.n, 0)), ('Q', lambda s, i: net.q[s][i], max(net.n, 0)),
                     ('va', lambda s, j: net.va[s][j], max(net.m, 0)), ('vb', lambda s, j: net.vb[s][j], max(net.m, 0))]
            for kind, value, count in kinds:
                for i in range(count):
                    vals = [value(s, i) for s in range(steps)]
                    good = [(v, s) for s, v in enumerate(vals) if not math.isnan(v)]
                    fig = ['', '', '', '', '']
                    if good:
                        lo = min(v for v, _ in good)
                        hi = max(v for v, _ in good)
                        slo = next(s for v, s in good if v == lo)
                        shi = next(s for v, s in good if v == hi)
                        finite = [v for v, _ in good if not math.isinf(v)]
                        infs = {v for v, _ in good if math.isinf(v)}
                        mean = (float('nan') if len(infs) == 2 else infs.pop() if infs
                                else math.fsum(finite) / len(good))
                        fig = [repr(lo), repr(net.times[slo]), repr(hi), repr(net.times[shi]), repr(mean)]
                    rows.append(','.join([name, status, kind, str(i + 1), str(steps),
                                          str(len(vals) - len(good))] + fig))
            return rows

        odd = Network(6, 3, 7)
        nan, inf = float('nan'), float('inf')
        odd.p[0][0] = nan
        odd.p[3][0] = inf
        odd.p[5][1] = -inf
        odd.p[2][1] = inf
        for s in range(7):
            odd.q[s][2] = nan                       # a point with no value at all
            odd.va[s][0] = 5.0 if s in (1, 4) else 7.0 + s  # ties at the lowest value
            odd.vb[s][1] = 1e16 / 3 if s % 2 else -1e-7 / 3
        odd.q[1][3] = 1e300
        odd.times = [0.0, 60.0, 60.0, 30.0, 1e-5, 1e20, 120.0]  # repeated and falling times
        net = Network(4, 2, 5)
        records = net.header_records() + [x for s in range(5) for x in net.step_records(s)]
        pieces = records[6][4:-4]
        records[6] = i32(-10) + pieces[:10] + i32(10) + i32(len(pieces) - 10) + pieces[10:] + i32(-(len(pieces) - 10))
        cut_net = Network(3, 1, 4)
        whole = cut_net.data()
        block = len(b''.join(cut_net.step_records(0)))
        cases = [  # (name, data, expected rows, exit status)
            ('odd.bin', odd.data(), expected('odd.bin', odd, 7), 0),
            ('pieces.bin', b''.join(records), expected('pieces.bin', net, 5), 0),
            ('nodes0.bin', Network(0, 1, 3).data(), expected('nodes0.bin', Network(0, 1, 3), 3), 0),
            ('links0.bin', Network(1, 0, 2).data(), expected('links0.bin', Network(1, 0, 2), 2), 0),
            ('cut.bin', whole[:len(whole) - 30], expected('cut.bin', cut_net, 3, 'cut'), 1),
            ('headcut.bin', whole[:len(whole) - block + 6], expected('headcut.bin', cut_net, 3, 'cut'), 1),
            ('missing.bin', None, ['missing.bin,failed 29,,,,,,,,,'], 1),
        ]
        d = tempfile.mkdtemp(prefix='fs_e2e_')
        try:
            for name, data, rows, status in cases:
                with self.subTest(name):
                    if data is not None:
                        with open(os.path.join(d, name), 'wb') as f:
                            f.write(data)
                    for ways in ('all', 'plain'):
                        env = dict(os.environ, FLOWSERIES_WAYS=ways)
                        r = subprocess.run(LAUNCHER + [STATS, name], cwd=d, capture_output=True, env=env)
                        self.assertEqual(r.returncode, status, r.stderr)
                        lines = r.stdout.decode().split('\n')
                        self.assertEqual(lines[0], 'file,status,kind,point,steps,nan,min,time_of_min,max,time_of_max,mean')
                        self.assertEqual(lines[1:-1], rows)
                        self.assertEqual(bool(r.stderr), status != 0, r.stderr)
            # Many files at once, in the order given, with a narrowed choice of points and steps.
            r = subprocess.run(LAUNCHER + [STATS, '-j', '2', '--kind', 'va', '--links', '1', '--steps', '2:3',
                                           'odd.bin', 'missing.bin', 'pieces.bin'], cwd=d, capture_output=True)
            self.assertEqual(r.returncode, 1)
            self.assertEqual(r.stdout.decode().split('\n')[1:], [
                'odd.bin,complete,va,1,2,0,5.0,60.0,9.0,60.0,7.0', 'missing.bin,failed 29,,,,,,,,,',
                'pieces.bin,complete,va,1,2,0,11.5,30.0,12.5,60.0,12.0', ''])
            # Each file's member, by a pattern.
            r = subprocess.run(LAUNCHER + [STATS, '--kind', 'va', '--links', '1', '--member', 'run{index}:{stem}',
                                           'odd.bin', 'missing.bin'], cwd=d, capture_output=True)
            self.assertEqual([line.split(',')[:2] for line in r.stdout.decode().split('\n')[1:-1]],
                             [['run1:odd', 'complete'], ['run2:missing', 'failed 29']])
            info = subprocess.run(LAUNCHER + [STATS, '--info', '--json', 'headcut.bin'], cwd=d, capture_output=True)
            got = json.loads(info.stdout)
            self.assertEqual((got['nodes'], got['links'], got['steps'], got['complete'], got['first_time'],
                              got['last_time']), (3, 1, 3, False, 0.0, 60.0))
            info = subprocess.run(LAUNCHER + [STATS, '--info', '--json', 'pieces.bin', 'odd.bin'], cwd=d,
                                  capture_output=True)
            got = [json.loads(line) for line in info.stdout.splitlines()]
            self.assertEqual([(g['steps'], g['continued_steps'], g['times_not_increasing']) for g in got],
                             [(5, 1, 0), (7, 0, 4)])
            # A trailing length that differs from the leading one: the program reads on as
            # always; the checkers name it.
            wrong = Network(3, 1, 4)
            records = wrong.header_records() + [x for st in range(4) for x in wrong.step_records(st)]
            records[9] = records[9][:-4] + i32(12345)
            with open(os.path.join(d, 'trailing.bin'), 'wb') as f:
                f.write(b''.join(records))
            info = subprocess.run(LAUNCHER + [STATS, '--info', '--json', 'trailing.bin'], cwd=d, capture_output=True)
            got = json.loads(info.stdout)
            self.assertEqual((got['steps'], got['complete'], got['trailing_mismatches']), (4, True, 1))
            self.assertEqual(json.loads(subprocess.run(LAUNCHER + [STATS, '--info', '--json', 'odd.bin'], cwd=d,
                                                       capture_output=True).stdout)['trailing_mismatches'], 0)
            if POINTS:
                with open(os.path.join(d, 'pl.txt'), 'wb') as f:
                    f.write(point_list(lists=([1], [], [], [])))
                r = subprocess.run(LAUNCHER + [POINTS, 'check', 'pl.txt', '--result', 'trailing.bin'], cwd=d,
                                   capture_output=True)
                self.assertEqual(r.returncode, 0)
                self.assertIn(b'1 record piece(s) of the result file end with a length other than', r.stdout)
            if POINTS:
                # A cut inside a step head ends the run normally: the checker says so.
                with open(os.path.join(d, 'pl.txt'), 'wb') as f:
                    f.write(point_list(lists=([1], [], [], [])))
                r = subprocess.run(LAUNCHER + [POINTS, 'check', 'pl.txt', '--result', 'headcut.bin'], cwd=d,
                                   capture_output=True)
                self.assertIn(b'cut inside the step head after step 3', r.stdout)
            if PLOT:
                # The envelope charts of a statistics file: one per kind, against the point number.
                r = subprocess.run(LAUNCHER + [STATS, '-o', 'stats.csv', 'odd.bin', 'pieces.bin'], cwd=d,
                                   capture_output=True)
                r = subprocess.run(LAUNCHER + [PLOT, 'stats.csv'], cwd=d, capture_output=True)
                self.assertEqual((r.returncode, r.stdout.split()),
                                 (0, [b'stats_H.svg', b'stats_P.svg', b'stats_Q.svg', b'stats_va.svg', b'stats_vb.svg']),
                                 r.stderr)
                with open(os.path.join(d, 'stats_va.svg'), 'rb') as f:
                    svg = f.read()
                self.assertIn(b'>link</text>', svg)
                self.assertIn(b'pieces.bin highest', svg)
                self.assertNotIn(b'nan', svg.lower())
            for args in (['--kind', 'X', 'odd.bin'], ['--steps', '3:2', 'odd.bin'], ['--nodes', '0-2', 'odd.bin'], []):
                self.assertEqual(subprocess.run(LAUNCHER + [STATS] + args, cwd=d, capture_output=True).returncode, 2, args)
        finally:
            subprocess.run(['rm', '-rf', d])

    def test_diff_finds_every_difference_and_nothing_else(self):
        """flowseries-diff: one-ulp changes at the first and last step and point of each kind, a
        step fewer, a changed time, tolerances at their edges, NaN, records in pieces on one side
        only, cut and missing files, and series files with continuation lines."""
        if DIFF is None:
            self.skipTest('flowseries-diff not given')

        def net():
            return Network(5, 3, 4)

        def ulp(x):
            return math.nextafter(x, math.inf)

        def changed(edit):
            n = net()
            edit(n)
            return n.data()

        def in_pieces(n):
            records = n.header_records() + [x for s in range(n.steps) for x in n.step_records(s)]
            out = b''
            for i, record in enumerate(records):
                payload = record[4:-4]
                if i >= 5 and len(payload) > 20:
                    half = len(payload) // 2
                    out += i32(-half) + payload[:half] + i32(half) + i32(len(payload) - half) + \
                        payload[half:] + i32(-(len(payload) - half))
                else:
                    out += record
            return out

        base = net().data()
        nan = float('nan')
        cases = [  # (name, B's bytes, extra arguments, exit status, what must be said)
            ('the same', base, [], 0, b'equal'),
            ('records in pieces on one side', in_pieces(net()), [], 0, b'equal'),
            ('p of the first node at the first step', changed(lambda n: n.p[0].__setitem__(0, ulp(n.p[0][0]))), [], 1, b'P of node 1 at step 1'),
            ('q of the last node at the last step', changed(lambda n: n.q[3].__setitem__(4, ulp(n.q[3][4]))), [], 1, b'Q of node 5 at step 4'),
            ('va of the first link at the last step', changed(lambda n: n.va[3].__setitem__(0, ulp(n.va[3][0]))), [], 1, b'va of link 1 at step 4'),
            ('vb of the last link at the first step', changed(lambda n: n.vb[0].__setitem__(2, ulp(n.vb[0][2]))), [], 1, b'vb of link 3 at step 1'),
            ('H of a node whose p changed', changed(lambda n: n.p[1].__setitem__(2, n.p[1][2] + 1e-9)), ['--kind', 'H'], 1, b'H of node 3 at step 2'),
            ('a change outside the kinds asked', changed(lambda n: n.p[1].__setitem__(2, ulp(n.p[1][2]))), ['--kind', 'va,vb'], 0, b'equal'),
            ('a change outside the steps asked', changed(lambda n: n.p[0].__setitem__(0, 99.0)), ['--steps', '2:'], 0, b'equal'),
            ('a change outside the nodes asked', changed(lambda n: n.p[0].__setitem__(0, 99.0)), ['--nodes', '2-5'], 0, b'equal'),
            ('a step fewer', Network(5, 3, 3).data(), [], 1, b'steps: 4 and 3'),
            ('a changed time', changed(lambda n: n.times.__setitem__(2, 61.0)), [], 1, b"step 3's time: 60.0 and 61.0"),
            ('within the absolute tolerance', changed(lambda n: n.p[0].__setitem__(0, n.p[0][0] + 0.25)), ['--atol', '0.25'], 0, b'equal'),
            ('just beyond it', changed(lambda n: n.p[0].__setitem__(0, n.p[0][0] + 0.25)), ['--atol', '0.2499'], 1, b'P of node 1'),
            ('within the relative tolerance', changed(lambda n: n.va[0].__setitem__(0, n.va[0][0] * 1.001)), ['--rtol', '0.001'], 0, b'equal'),
            ('NaN against a number', changed(lambda n: n.q[2].__setitem__(1, nan)), [], 1, b'Q of node 2 at step 3'),
            ('a cut file', base[:-20], [], 24, b'severe (24)'),
            ('a title', changed(lambda n: setattr(n, 'title', b'x' * 80)), [], 1, b'the titles differ'),
        ]
        d = tempfile.mkdtemp(prefix='fs_e2e_')
        try:
            with open(os.path.join(d, 'a.bin'), 'wb') as f:
                f.write(base)
            nan_both = changed(lambda n: n.q[2].__setitem__(1, nan))
            with open(os.path.join(d, 'nan.bin'), 'wb') as f:
                f.write(nan_both)
            r = subprocess.run(LAUNCHER + [DIFF, 'nan.bin', 'nan.bin'], cwd=d, capture_output=True)
            self.assertEqual(r.returncode, 0, r.stdout)  # NaN equals NaN
            for name, data, args, status, said in cases:
                with self.subTest(name):
                    with open(os.path.join(d, 'b.bin'), 'wb') as f:
                        f.write(data)
                    r = subprocess.run(LAUNCHER + [DIFF] + args + ['a.bin', 'b.bin'], cwd=d, capture_output=True)
                    self.assertEqual(r.returncode, status, r.stdout + r.stderr)
                    self.assertIn(said, r.stdout + r.stderr)
            r = subprocess.run(LAUNCHER + [DIFF, '--json', 'a.bin', 'b.bin'], cwd=d, capture_output=True)
            got = json.loads(r.stdout)
            self.assertEqual((got['equal'], got['structure']), (False, ['the titles differ']))
            r = subprocess.run(LAUNCHER + [DIFF, 'a.bin', 'none.bin'], cwd=d, capture_output=True)
            self.assertEqual(r.returncode, 29)
            # One ulp in a series file of rows on continuation lines, and a row fewer.
            points = list(range(1, 251))
            wide = Network(260, 1, 3)
            other = Network(260, 1, 3)
            other.p[2][249] = 1.25 + other.p[2][249]
            for name, text in (('HTIME.CSV', wide.csv('H', points, 3)), ('B/HTIME.CSV', other.csv('H', points, 3)),
                               ('C/HTIME.CSV', wide.csv('H', points, 2))):
                os.makedirs(os.path.dirname(os.path.join(d, name)), exist_ok=True)
                with open(os.path.join(d, name), 'wb') as f:
                    f.write(text)
            r = subprocess.run(LAUNCHER + [DIFF, '--json', 'HTIME.CSV', 'B/HTIME.CSV'], cwd=d, capture_output=True)
            got = json.loads(r.stdout)
            self.assertEqual((r.returncode, got['counts']['H'], got['worst'][0]['point'], got['worst'][0]['step']),
                             (1, 1, 250, 3))
            r = subprocess.run(LAUNCHER + [DIFF, 'HTIME.CSV', 'C/HTIME.CSV'], cwd=d, capture_output=True)
            self.assertEqual(r.returncode, 1)
            self.assertIn(b'rows: 3 and 2', r.stdout)
        finally:
            subprocess.run(['rm', '-rf', d])

    # ---------------------------------------------------------- mends
    def test_mends(self):
        net = Network(10, 5, 2)
        full = console_out(TITLE, 10, 5)
        cases = [
            ('count above its limit', point_list((None, 2, None, None, None), ([1, 2, 3], [], [], [])),
             101, b'point count exceeds its limit, unit 9, file {cwd}/pl.txt'),
            ('V count above its limit', point_list((None, None, None, None, 1), ([], [], [], [1, 2])),
             101, b'point count exceeds its limit, unit 9, file {cwd}/pl.txt'),
            ('node number above the tables', point_list(lists=([50001], [], [], [])),
             102, b'point number outside the result tables, unit 9, file {cwd}/pl.txt'),
            ('link number above the tables', point_list(lists=([], [], [], [1, 50001])),
             102, b'point number outside the result tables, unit 9, file {cwd}/pl.txt'),
            ('negative limit', point_list((None, None, -1, None, None), ([1], [], [], [])),
             103, b'negative limit, unit 9, file {cwd}/pl.txt'),
            ('work area that does not fit 32 bits', point_list((11000, 10000, 10000, 10000, 10000), ([1], [], [], [])),
             179, b'Cannot allocate array - overflow on array size calculation.'),
        ]
        for name, pl, status, text in cases:
            with self.subTest(name):
                r = run_program({'res.bin': net.data(), 'pl.txt': pl}, b'1\nres.bin\npl.txt\n')
                self.assertEqual(r.status, status, r.stderr)
                self.assertEqual(r.stdout, full)
                line = b'flowseries: severe (%d): ' % status + with_cwd(text, r.dir)
                self.assertTrue(r.stderr.startswith(line + CRLF + HEADING + CRLF), r.stderr)
                self.assertFalse([n for n in r.files if n.endswith(('.CSV', '.csv'))])

    @unittest.skipIf(os.environ.get('FLOWSERIES_SANITIZED'), 'sanitizers need the address space')
    @unittest.skipIf(WINDOWS, ON_POSIX_ONLY)
    def test_insufficient_memory(self):
        net = Network(10, 5, 2)
        # 99999 steps of 2005 columns: 1.6 GB of reals, a size that fits but cannot be had here.
        pl = point_list((99999, 2000, 1, 1, 1), ([1], [], [], []))
        r = run_program({'res.bin': net.data(), 'pl.txt': pl}, b'1\nres.bin\npl.txt\n', limit_kb=1024 * 1024)
        self.assertEqual(r.status, 41, r.stderr)
        self.assertIn(b'flowseries: severe (41): insufficient virtual memory\r\n' + HEADING, r.stderr)

    def test_every_failure_of_the_catalogue(self):
        """Each failure Linux can produce: report line, table heading, exit status, and which
        series files exist afterwards (old ones are never lost to a failure before their turn)."""
        net = Network(10, 4, 3)
        data = net.data()
        lists = point_list(lists=([1], [2], [3], [4]))
        old = {'HTIME.CSV': b'old H\r\n', 'VTIME.csv': b'old V\r\n'}
        long_title = i32(200000000)   # a title record of 200 MB that the file really holds

        def sparse_long_record(d):
            with open(os.path.join(d, 'long.bin'), 'wb') as f:
                f.write(long_title)
                f.truncate(4 + 200000000)
                f.seek(0, 2)
                f.write(long_title + data[88:])

        def locked(d):
            os.chmod(d, 0o777)
            os.chmod(os.path.join(d, 'res.bin'), 0)
        nobody = 65534 if os.geteuid() == 0 else None
        cut = data[:8300]  # the first read-ahead ends inside a record that the refill cannot complete
        cases = [
            # name, files, stdin, status, report text, OS line, files afterwards (None: as before)
            ('9 permission denied', {'res.bin': data, 'pl.txt': lists}, b'1\nres.bin\n', 9,
             b'permission to access file denied, unit 7, file {cwd}/res.bin', False, None,
             dict(prepare=locked, user=nobody)),
            ('24 end of the point-list file', {'res.bin': data, 'pl.txt': b'\n    1\n'}, b'1\nres.bin\npl.txt\n', 24,
             b'end-of-file during read, unit 9, file {cwd}/pl.txt', False, None, {}),
            ('29 missing work list', {'res.bin': data}, b'0\n', 29,
             b'file not found, unit 98, file {cwd}/WORK.LST', False, None, {}),
            ('30 result file is a directory', {'res.bin': None}, b'1\nres.bin\n', 30,
             b'open failure, unit 7, file {cwd}/res.bin', True, None, {}),
            ('30 PTIME.CSV is a directory', {'res.bin': data, 'pl.txt': lists, 'PTIME.CSV': None}, b'1\nres.bin\npl.txt\n', 30,
             b'open failure, unit 11, file {cwd}/PTIME.CSV', True, {'HTIME.CSV': net.csv('H', [1], 3)}, {}),
            ('39 record cut after the first read-ahead', {'res.bin': Network(300, 0, 3).data()[:8300], 'pl.txt': lists},
             b'1\nres.bin\npl.txt\n', 39, b'error during read, unit 7, file {cwd}/res.bin', False, None, {}),
            # Without a controlling terminal, the terminal device has no device behind it.
            ('42 the terminal of a session without one', {}, b'1\n/dev/tty\n', 42,
             b'no such device, unit 7, file /dev/tty', False, None, dict(new_session=True)),
            ('43 NUL inside a name', {'res.bin': data}, b'1\nres\0.bin\n', 43,
             b'file name specification error, unit 7, file {cwd}/res\0.bin', False, None, {}),
            ('59 bad answer', {}, b'x\n', 59, b'list-directed I/O syntax error, unit -4, file CONIN$', False, None, {}),
            ('64 answer beyond 32 bits', {}, b'4294967296\n', 64, b'input conversion error, unit -4, file CONIN$', False, None, {}),
            ('67 short link table', {'res.bin': b''.join(net.header_records()[:4]) + frame(b'x' * 35), 'pl.txt': lists},
             b'1\nres.bin\n', 67, b'input statement requires too much data, unit 7, file {cwd}/res.bin', False, None, {}),
            ('101 count above its limit', {'res.bin': data, 'pl.txt': point_list((None, 1, None, None, None), ([1, 2], [], [], []))},
             b'1\nres.bin\npl.txt\n', 101, b'point count exceeds its limit, unit 9, file {cwd}/pl.txt', False, None, {}),
            ('102 point outside the tables', {'res.bin': data, 'pl.txt': point_list(lists=([1], [60000], [], []))},
             b'1\nres.bin\npl.txt\n', 102, b'point number outside the result tables, unit 9, file {cwd}/pl.txt', False, None, {}),
            ('103 negative limit', {'res.bin': data, 'pl.txt': point_list((None, None, None, -5, None), ([1], [], [], []))},
             b'1\nres.bin\npl.txt\n', 103, b'negative limit, unit 9, file {cwd}/pl.txt', False, None, {}),
            ('179 work area beyond 32 bits', {'res.bin': data, 'pl.txt': point_list((99999, 99999, 1, 1, 1), ([1], [], [], []))},
             b'1\nres.bin\npl.txt\n', 179, b'Cannot allocate array - overflow on array size calculation.', False, None, {}),
        ]
        if WINDOWS:
            # As root, Wine opens a read-only file for writing anyway (the mapping of a refusal to 9
            # is a unit test there); a POSIX device is no device there, a missing drive letter is.
            cases = [c for c in cases if c[0][:2] not in ('9 ', '42')]
            drive = missing_drive_letter()
            cases += [
                ('42 a drive letter that names no drive', {}, b'1\n%s:\\r.bin\n' % drive, 42,
                 b'no such device, unit 7, file %s:\\r.bin' % drive, False, None, {}),
                ('42 a series file on a missing drive', {'res.bin': data, 'pl.txt': b''}, b'1\nres.bin\n%s:pl.txt\n' % drive, 42,
                 b'no such device, unit 9, file %s:\\pl.txt' % drive, False, None, {}),
            ]
            for bad in (b'res|.bin', b'res?.bin', b'res<1>.bin', b'res\t.bin', b'"res.bin"'):
                cases.append(('43 %r in a name' % bad, {'res.bin': data}, b'1\n' + bad + b'\n', 43,
                              b'file name specification error, unit 7, file {cwd}/' + bad, False, None, {}))
        if not os.environ.get('FLOWSERIES_SANITIZED') and not WINDOWS:
            # These need a small address space (Wine does not start under one).
            cases.append(('98 long record beyond the address space', {'pl.txt': lists}, b'1\nlong.bin\n', 98,
                          b'cannot allocate memory for the file buffer - out of memory, unit 7, file {cwd}/long.bin',
                          False, None, dict(prepare=sparse_long_record, limit_kb=150 * 1024)))
            cases.append(('41 work area beyond the address space', {'res.bin': data, 'pl.txt': point_list((99999, 2000, 1, 1, 1), ([1], [], [], []))},
                          b'1\nres.bin\npl.txt\n', 41, b'insufficient virtual memory', False, None, dict(limit_kb=1024 * 1024)))
        for name, files, stdin, status, text, os_line, after, options in cases:
            if options.get('user', 0) is None and 'user' in options:
                options = dict(options)
                del options['user']
            with self.subTest(name):
                all_files = dict(old)
                all_files.update(files)
                r = run_program(all_files, stdin, **options)
                self.assertEqual(r.status, status, r.stderr[:300])
                line = b'flowseries: severe (%d): ' % status + with_cwd(text, r.dir) + CRLF
                at = r.stderr.find(line)
                self.assertGreaterEqual(at, 0, r.stderr[:300])
                self.assertEqual(at > 0, os_line, r.stderr[:300])
                self.assertTrue(r.stderr[at + len(line):].startswith(HEADING + CRLF))
                self.assertStackTable(r.stderr[at + len(line) + len(HEADING) + 2:])
                expected = dict(old)
                expected.update(after or {})
                for series in ('HTIME.CSV', 'PTIME.CSV', 'QTIME.csv', 'VTIME.csv'):
                    self.assertEqual(r.files.get(series), expected.get(series), series)

    def test_write_failures(self):
        net = Network(20, 0, 600)
        # Standard output on a full device: the first prompt fails.
        d = tempfile.mkdtemp(prefix='fs_e2e_')
        r = run_program({}, b'1\n', stdout_path='/dev/full')
        self.assertEqual(r.status, 38, r.stderr)
        self.assertIn(b'flowseries: severe (38): error during write, unit -1, file CONOUT$\r\n' + HEADING, r.stderr)
        self.assertTrue(r.stderr.startswith(b'flowseries: ' + DISK_FULL + CRLF), r.stderr)
        # A series file on a full file system: a small tmpfs, when this machine lets us mount one.
        subprocess.run(['rm', '-rf', d])
        d = tempfile.mkdtemp(prefix='fs_e2e_')
        mount = os.path.join(d, 'full')
        os.mkdir(mount)
        if subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=64k', 'tmpfs', mount],
                          stderr=subprocess.DEVNULL).returncode != 0:
            print('\nskipped: a series file on a full file system (cannot mount a tmpfs here)')
            subprocess.run(['rm', '-rf', d])
            return
        try:
            with open(os.path.join(d, 'res.bin'), 'wb') as f:
                f.write(net.data())
            os.symlink(os.path.join(d, 'res.bin'), os.path.join(mount, 'r'))
            r = run_program({'pl.txt': point_list((600, 20, None, None, None), (list(range(1, 21)), [1], [], []))},
                            b'1\nr\npl.txt\n', directory=mount)
            self.assertEqual(r.status, 38, r.stderr)
            self.assertIn(b'flowseries: severe (38): error during write, unit 10, file ' + with_cwd(b'{cwd}/HTIME.CSV', mount), r.stderr)
            self.assertTrue(r.stderr.startswith(b'flowseries: ' + DISK_FULL + CRLF), r.stderr)
            self.assertNotIn('PTIME.CSV', r.files)
        finally:
            subprocess.run(['umount', mount])
            subprocess.run(['rm', '-rf', d])

    @unittest.skipIf(WINDOWS, ON_POSIX_ONLY)
    def test_closed_streams_limits_and_termination_leave_the_users_files_whole(self):
        """A standard stream closed at the start never becomes a file of the user's; a file-size
        limit or a full disk leaves a failed series file a plain prefix of the new run, reported;
        SIGTERM is reported as an event."""
        net = Network(20, 3, 400)
        pl = point_list((400, None, None, None, None), ([1, 2, 3, 4, 5], [], [], []))
        whole = run_program({'R.BIN': net.data(), 'pl.txt': pl}, b'1\nR.BIN\npl.txt\n').files['HTIME.CSV']
        older = (b'9' * 70 + CRLF) * (2 * len(whole) // 72)
        event = b'flowseries: error (200): program aborting due to %s event\r\n'
        # (what, closed descriptor, file-size limit, signal after the result file is open, status,
        #  what standard error starts with)
        cases = [('stderr closed, interrupt', 2, None, signal.SIGINT, 130, b''),
                 ('stderr closed, terminated', 2, None, signal.SIGTERM, 143, b''),
                 ('terminated', None, None, signal.SIGTERM, 143, event % b'SIGTERM'),
                 ('stdout closed', 1, None, None, 38, b'flowseries: Bad file descriptor\r\n'),
                 ('stdin closed', 0, None, None, 39, b'flowseries: Bad file descriptor\r\n'),
                 ('file-size limit', None, 20000, None, 38, b'flowseries: File too large\r\n')]
        for what, fd, limit, sig, status, err_start in cases:
            with self.subTest(what):
                files = {'R.BIN': net.data(), 'pl.txt': pl, 'HTIME.CSV': older}
                answers = b'1\nR.BIN\n' if sig else b'1\nR.BIN\npl.txt\n'
                r = run_program(files, answers, signal_after=(sig, 0.5) if sig else None,
                                file_limit=limit, close_fd=fd)
                self.assertEqual(r.status, status, r.stderr)
                self.assertTrue(r.stderr.startswith(err_start), r.stderr)
                self.assertEqual(r.files['R.BIN'], net.data())
                self.assertEqual(r.files['pl.txt'], pl)
                if limit is None:
                    self.assertEqual(r.files['HTIME.CSV'], older)
                else:
                    self.assertIn(b'error during write, unit 10, file ' + with_cwd(b'{cwd}/HTIME.CSV', r.dir), r.stderr)
                    self.assertEqual(len(r.files['HTIME.CSV']), limit)
                    self.assertTrue(whole.startswith(r.files['HTIME.CSV']))
        # A line without an end is dropped as it arrives, in bounded memory, and ends the run as
        # a line buffer that cannot grow, wherever it comes from.
        no_memory = b'cannot allocate memory for the file buffer - out of memory, unit %d, file %s'
        for what, files, answers, stdin_path, unit, name in (
                ('point-list file', {'R.BIN': net.data()}, b'1\nR.BIN\n/dev/zero\n', None, 9, b'/dev/zero'),
                ('work list', {'R.BIN': net.data()}, b'0\n', None, 98, b'{cwd}/WORK.LST'),
                ('console answer', {}, None, '/dev/zero', -4, b'CONIN$')):
            with self.subTest(what):
                def zero_list(d):
                    os.symlink('/dev/zero', os.path.join(d, 'WORK.LST'))
                r = run_program(files, answers or b'', prepare=zero_list if unit == 98 else None,
                                limit_kb=None if os.environ.get('FLOWSERIES_SANITIZED') else 200 * 1024,
                                stdin_path=stdin_path)
                self.assertEqual(r.status, 98, r.stderr[:300])
                self.assertIn(b'flowseries: severe (98): ' + no_memory % (unit, with_cwd(name, r.dir)), r.stderr)
        # A series file that may only be read fails on its first write, for its permission.
        def read_only(d):
            os.chmod(d, 0o777)
            os.chmod(os.path.join(d, 'HTIME.CSV'), 0o444)
        r = run_program({'R.BIN': net.data(), 'pl.txt': pl, 'HTIME.CSV': older}, b'1\nR.BIN\npl.txt\n',
                        prepare=read_only, user=65534 if os.geteuid() == 0 else None)
        self.assertEqual(r.status, 38, r.stderr)
        self.assertTrue(r.stderr.startswith(b'flowseries: Permission denied\r\nflowseries: severe (38): error during write, unit 10'), r.stderr)
        self.assertEqual(r.files['HTIME.CSV'], older)

    @unittest.skipIf(WINDOWS, ON_POSIX_ONLY)
    def test_interrupts_in_the_step_loop(self):
        """The result file is a pipe that the test keeps open: the program waits for the next step
        inside the step loop when the signal arrives."""
        net = Network(10, 4, 2)
        for sig, status, event in ((signal.SIGINT, 130, b'control-C'), (signal.SIGQUIT, 131, b'control-BREAK'),
                                   (signal.SIGHUP, 129, b'window-CLOSE'), (signal.SIGTERM, 143, b'SIGTERM')):
            with self.subTest(event=event):
                d = tempfile.mkdtemp(prefix='fs_e2e_')
                fifo = os.path.join(d, 'res.bin')
                os.mkfifo(fifo)
                with open(os.path.join(d, 'pl.txt'), 'wb') as f:
                    f.write(point_list(lists=([1], [], [], [])))
                p = subprocess.Popen(LAUNCHER + [BINARY], cwd=d, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
                p.stdin.write(b'1\nres.bin\npl.txt\n')
                p.stdin.flush()
                writer = os.open(fifo, os.O_WRONLY)
                os.write(writer, net.data())
                expected = console_out(net.title, 10, 4)
                out = read_at_least(p.stdout, len(expected))
                time.sleep(0.3)
                p.send_signal(sig)
                rest, err = p.communicate(timeout=10)
                os.close(writer)
                self.assertEqual(out + rest, expected)
                self.assertEqual(p.returncode, status)
                self.assertTrue(err.startswith(b'flowseries: error (200): program aborting due to ' + event +
                                               b' event\r\n' + HEADING + CRLF), err)
                self.assertFalse(os.path.exists(os.path.join(d, 'HTIME.CSV')))
                subprocess.run(['rm', '-rf', d])

    def run_on_terminal(self, lang, files, answers):
        """Runs the binary with standard input and output on a pseudo-terminal in raw mode."""
        import pty
        import tty
        d = tempfile.mkdtemp(prefix='fs_e2e_')
        for name, data in files.items():
            with open(os.path.join(d, name), 'wb') as f:
                f.write(data)
        master, slave = pty.openpty()
        tty.setraw(slave)
        env = dict(os.environ, LANG=lang, LC_ALL=lang)
        p = subprocess.Popen(LAUNCHER + [BINARY], cwd=d, stdin=slave, stdout=slave, stderr=subprocess.PIPE, env=env)
        os.close(slave)
        os.write(master, answers)
        out = b''
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                break
            if not chunk:
                break
            out += chunk
        p.wait(timeout=10)
        p.stderr.close()
        os.close(master)
        subprocess.run(['rm', '-rf', d])
        return p.returncode, out

    @unittest.skipIf(WINDOWS, ON_POSIX_ONLY)
    def test_prompts_in_utf8_on_a_utf8_terminal_only(self):
        net = Network(4, 2, 1)
        files = {'res.bin': net.data(), 'pl.txt': point_list(lists=([1], [], [], []))}
        utf8 = [b' ' + m.decode('cp932').encode('utf-8') + CRLF for m in PROMPTS]
        for lang, lines in (('C.UTF-8', utf8), ('C', LINES), ('POSIX', LINES)):
            with self.subTest(lang=lang):
                status, out = self.run_on_terminal(lang, files, b'1\nres.bin\npl.txt\n')
                self.assertEqual(status, 0)
                self.assertEqual(out, lines[0] + lines[1] + lines[2] + lines[3] + net.title + CRLF +
                                 b'%12d%12d' % (4, 2) + CRLF + lines[4] + lines[5])
        # Not a terminal: code page 932 whatever the locale.
        r = run_program(files, b'1\nres.bin\npl.txt\n')
        self.assertEqual(r.stdout, console_out(net.title, 4, 2))

    @unittest.skipIf(not shutil.which('tmux') or WINDOWS, 'tmux is not installed, or the program is no POSIX one')
    def test_interactive_run_under_tmux(self):
        net = Network(4, 2, 2)
        d = tempfile.mkdtemp(prefix='fs_tmux_')
        with open(os.path.join(d, 'res.bin'), 'wb') as f:
            f.write(net.data())
        with open(os.path.join(d, 'pl.txt'), 'wb') as f:
            f.write(point_list(lists=([1, 2], [], [], [])))
        session = 'flowseries_%d' % os.getpid()
        tmux = ['tmux', '-L', session, '-f', '/dev/null']
        env = dict(os.environ, LANG='C.UTF-8', LC_ALL='C.UTF-8')
        subprocess.run(tmux + ['new-session', '-d', '-s', session, '-x', '100', '-y', '30', '-c', d,
                               BINARY + '; echo "exit status $?"; sleep 30'], check=True, env=env)

        def screen():
            return subprocess.run(tmux + ['capture-pane', '-p', '-t', session], capture_output=True,
                                  check=True).stdout.decode('utf-8')

        def wait_for(text):
            for _ in range(100):
                if text in screen():
                    return
                time.sleep(0.05)
            self.fail('%r never appeared on the screen:\n%s' % (text, screen()))
        try:
            wait_for('ファイル名を入力　　/1')
            subprocess.run(tmux + ['send-keys', '-t', session, '1', 'Enter'], check=True)
            wait_for('結果ファイル名の入力')
            subprocess.run(tmux + ['send-keys', '-t', session, 'res.bin', 'Enter'], check=True)
            wait_for('データファイル名の入力')
            subprocess.run(tmux + ['send-keys', '-t', session, 'pl.txt', 'Enter'], check=True)
            wait_for('exit status 0')
            self.assertIn('           4           2', screen())
            with open(os.path.join(d, 'HTIME.CSV'), 'rb') as f:
                self.assertEqual(f.read(), net.csv('H', [1, 2], 2))
        finally:
            subprocess.run(tmux + ['kill-server'], stderr=subprocess.DEVNULL)
            subprocess.run(['rm', '-rf', d])

    @unittest.skipIf(not shutil.which('xmllint'), 'xmllint is not installed')
    def test_plot_draws_every_shape_of_series_file(self):
        if not PLOT:
            self.skipTest('no --plot program given')
        for name, net, lists, limits in (
                ('wide rows', Network(250, 120, 3), (list(range(1, 202)), [1, 0, -4], [], list(range(1, 101))),
                 (None, 201, None, None, 100)),
                ('zero steps', Network(5, 5, 0), ([1], [2], [3], [4]), (None,) * 5)):
            with self.subTest(name):
                d = tempfile.mkdtemp(prefix='fs_plot_')
                files = {'res.bin': net.data(), 'pl.txt': point_list(limits, lists)}
                for f, data in files.items():
                    with open(os.path.join(d, f), 'wb') as out:
                        out.write(data)
                p = subprocess.run(LAUNCHER + [BINARY], cwd=d, input=b'1\nres.bin\npl.txt\n', capture_output=True)
                self.assertEqual(p.returncode, 0, p.stderr)
                for series in ('HTIME.CSV', 'PTIME.CSV', 'QTIME.csv', 'VTIME.csv'):
                    if not os.path.exists(os.path.join(d, series)):
                        continue
                    p = subprocess.run(LAUNCHER + [PLOT, series], cwd=d, capture_output=True)
                    self.assertEqual(p.returncode, 0, p.stderr)
                    svg = os.path.join(d, series.rsplit('.', 1)[0] + '.svg')
                    p = subprocess.run(['xmllint', '--noout', svg], capture_output=True)
                    self.assertEqual(p.returncode, 0, p.stderr)
                subprocess.run(['rm', '-rf', d])

    def test_plot_reduces_long_series_to_the_same_picture(self):
        """The chart of a long series keeps at most four points per pixel column of each line and
        draws the picture of every point: rasterised, the two differ in nothing but the shade of
        anti-aliased edges, no ink is more than a pixel from ink in the other, and no line, gap
        or spike goes missing."""
        if not PLOT:
            self.skipTest('no --plot program given')
        if not shutil.which('rsvg-convert'):
            self.skipTest('no rsvg-convert to rasterise the charts (Debian: apt-get install librsvg2-bin)')
        d = tempfile.mkdtemp(prefix='fs_plot_')
        with open(os.path.join(d, 'HTIME.CSV'), 'wb') as f:
            f.write(spiky_series_csv(20000, 7))
        charts = {}
        for name, options in (('every', ['--every-point']), ('reduced', [])):
            p = subprocess.run(LAUNCHER + [PLOT] + options + ['HTIME.CSV', name + '.svg'], cwd=d, capture_output=True)
            self.assertEqual(p.returncode, 0, p.stderr)
            subprocess.run(['rsvg-convert', name + '.svg', '-o', name + '.png'], cwd=d, check=True)
            charts[name] = read_png(os.path.join(d, name + '.png'))
        sizes = {n: os.path.getsize(os.path.join(d, n + '.svg')) for n in charts}
        subprocess.run(['rm', '-rf', d])
        self.assertLess(sizes['reduced'] * 5, sizes['every'])
        w, h, every = charts['every']
        _, _, reduced = charts['reduced']

        def ink(rows, x, y):
            return min(rows[y][x]) < 160

        def ink_near(rows, x, y):
            return any(ink(rows, xx, yy) for yy in range(max(y - 1, 0), min(y + 2, h))
                       for xx in range(max(x - 1, 0), min(x + 2, w)))
        # The plot area (x 80 to 760, y 40 to 480) and a pixel around it for the line's width.
        inside = lambda x, y: 78 <= x <= 762 and 38 <= y <= 482
        shaded = 0
        for y in range(h):
            for x in range(w):
                a, b = every[y][x], reduced[y][x]
                if a == b:
                    continue
                self.assertTrue(inside(x, y), 'pixel %d,%d outside the plot area differs' % (x, y))
                shaded += max(abs(i - j) for i, j in zip(a, b)) > 64
                if ink(every, x, y):
                    self.assertTrue(ink_near(reduced, x, y), 'ink at %d,%d lost' % (x, y))
                if ink(reduced, x, y):
                    self.assertTrue(ink_near(every, x, y), 'ink at %d,%d added' % (x, y))
        self.assertLess(shaded, 680 * 440 // 200)  # under half a percent of the plot area

    def test_plot_pages_open_in_a_browser(self):
        """--html pages, several in one go: the page loads without a script error in headless
        Chromium and its chart holds the series and the steps (every step, a window of them, or
        the reduced rows of a long file); a file that is not a series file gets its message and
        the others are still written."""
        if not PLOT:
            self.skipTest('no --plot program given')
        browser = headless_browser()
        if browser is None:
            self.skipTest('no headless browser (Debian: apt-get install chromium)')
        library = os.environ.get('FLOWSERIES_DYGRAPHS', '/usr/share/javascript/dygraphs')
        if not os.path.exists(os.path.join(library, 'dygraph.min.js')):
            self.skipTest('no dygraphs for the page (Debian: apt-get install libjs-dygraphs)')
        d = tempfile.mkdtemp(prefix='fs_page_')
        net = Network(30, 6, 40)
        lists = ([5, 17], [3], [], [2, 6])
        r = run_program({'res.bin': net.data(), 'pl.txt': point_list(lists=lists)}, b'1\nres.bin\npl.txt\n',
                        directory=d)
        self.assertEqual(r.status, 0, r.stderr)
        with open(os.path.join(d, 'LONG.CSV'), 'wb') as f:
            f.write(spiky_series_csv(30000, 3))
        with open(os.path.join(d, 'notes.csv'), 'wb') as f:
            f.write(b'time,value\n1,2\n')
        p = subprocess.run(LAUNCHER + [PLOT, '--html', 'HTIME.CSV', 'VTIME.csv', 'notes.csv', 'LONG.CSV'],
                           cwd=d, capture_output=True)
        self.assertEqual(p.returncode, 1)
        self.assertIn(b'notes.csv: not a series file', p.stderr)
        self.assertEqual(p.stdout.split(), [b'HTIME.html', b'VTIME.html', b'LONG.html'])
        p = subprocess.run(LAUNCHER + [PLOT, '--html', '--points', '17', '--from', '300', '--to', '600',
                                       'LONG.CSV', 'window.html'], cwd=d, capture_output=True)
        self.assertEqual(p.returncode, 0, p.stderr)
        long_labels = ['node 5', 'node 17', 'node 120']
        cases = [  # (page, labels, rows, reduced, first row, what the zoom note says)
            ('HTIME.html', ['node 5', 'node 17'], 40, False, [0.0, net.value('H', 5, 0)[0]], ''),
            ('VTIME.html', ['link 2 va', 'link 2 vb', 'link 6 va', 'link 6 vb'], 40, False,
             [0.0, net.value('V', 2, 0)[0]], ''),
            ('window.html', ['node 17'], 11, False, [300.0, None], ''),
            ('HTIME.html#from=0&to=60', ['node 5', 'node 17'], 40, False, [0.0, None], ''),
            ('LONG.html', long_labels, None, True, [0.0, None], ''),
            # Zoomed into a few buckets of the reduced run: the page says so, with the command.
            ('LONG.html#from=3000&to=9000', long_labels, None, True, [0.0, None],
             'flowseries-plot --html --from 3000 --to 9000 LONG.CSV'),
        ]
        for page, labels, rows, reduced, first, zoom in cases:
            with self.subTest(page):
                dom = subprocess.run([browser, '--headless', '--no-sandbox', '--disable-gpu',
                                      '--virtual-time-budget=10000', '--dump-dom',
                                      'file://' + os.path.join(os.path.realpath(d), page)],
                                     capture_output=True, timeout=120).stdout
                found = re.search(rb'<pre id="check"[^>]*>([^<]*)</pre>', dom)
                self.assertIsNotNone(found, 'the page did not report: %r' % dom[-500:])
                check = json.loads(found.group(1).decode().replace('&quot;', '"'))
                self.assertEqual(check['errors'], [])
                self.assertEqual(check['labels'], labels)
                self.assertEqual(check['reduced'], reduced)
                if rows is not None:
                    self.assertEqual(check['rows'], rows)
                else:
                    self.assertLessEqual(check['rows'], 4 * 2000)
                self.assertEqual(check['first'][0], first[0])
                if zoom:
                    self.assertIn(zoom, check['zoomNote'])
                    self.assertIn('each bucket here stands for about 15 steps', check['zoomNote'])
                else:
                    self.assertEqual(check['zoomNote'], '')
                if first[1] is not None:
                    self.assertAlmostEqual(check['first'][1], first[1], places=3)
        shot = os.path.join(d, 'LONG.png')
        subprocess.run([browser, '--headless', '--no-sandbox', '--disable-gpu', '--hide-scrollbars',
                        '--window-size=1200,800', '--screenshot=' + shot,
                        'file://' + os.path.join(os.path.realpath(d), 'LONG.html')],
                       capture_output=True, timeout=120)
        w, h, _ = read_png(shot)
        self.assertEqual((w, h), (1200, 800))
        subprocess.run(['rm', '-rf', d])

    def test_interrupts(self):
        """The program waits for its answer, after its three prompts: the signal arrives in the
        middle of the read."""
        events = ((signal.SIGINT, 130, b'control-C'), (signal.SIGQUIT, 131, b'control-BREAK'),
                  (signal.SIGHUP, 129, b'window-CLOSE'), (signal.SIGTERM, 143, b'SIGTERM'))
        # Wine turns an interrupt signal into the console's control-C event; it has no way to send
        # the break key or a closed window without a real console (unit tests cover those).
        for sig, status, event in events[:1] if WINDOWS else events:
            with self.subTest(event=event):
                d = tempfile.mkdtemp(prefix='fs_e2e_')
                p = subprocess.Popen(WRAPPER + LAUNCHER + [BINARY], cwd=d, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
                expected = console_out(upto='answer')
                out = read_at_least(p.stdout, len(expected))
                p.send_signal(sig)
                rest, err = p.communicate(timeout=30)
                p.stdin.close()
                subprocess.run(['rm', '-rf', d])
                self.assertEqual(out + rest, expected)
                self.assertEqual(p.returncode, status, err)
                head = b'flowseries: error (200): program aborting due to ' + event + b' event\r\n' + HEADING + CRLF
                self.assertTrue(err.startswith(head), err)
                self.assertStackTable(err[len(head):])

    # ---------------------------------------------------------- console input, FIFOs, units
    def test_console_answer_edges(self):
        net = Network(4, 2, 1)
        files = {'res.bin': net.data(), 'pl.txt': point_list(lists=([1], [], [], [])),
                 'WORK.LST': b'a\nb\nc\nres.bin\n'}
        cases = [
            # stdin, exit status, report text (or None for a normal end)
            (b'1\r2\nres.bin\npl.txt\n', 59, b'list-directed I/O syntax error, unit -4, file CONIN$'),
            (b'*1\nres.bin\npl.txt\n', 59, b'list-directed I/O syntax error, unit -4, file CONIN$'),
            (b'1e\n', 59, b'list-directed I/O syntax error, unit -4, file CONIN$'),
            (b'2147483648\n', 64, b'input conversion error, unit -4, file CONIN$'),
            (b'-2147483648\npl.txt\n', 0, None),          # any answer but 1: the work list
            (b'1\r\nres.bin\r\npl.txt\r\n', 0, None),
            (b'1\nres.bin\np', 0, None),                  # a last line of one byte, no LF
        ]
        for stdin, status, text in cases:
            with self.subTest(stdin=stdin):
                all_files = dict(files)
                all_files['p'] = point_list(lists=([1], [], [], []))
                r = run_program(all_files, stdin)
                self.assertEqual(r.status, status, r.stderr[:300])
                if text is None:
                    self.assertEqual(r.stderr, b'')
                    self.assertEqual(r.files['HTIME.CSV'], net.csv('H', [1], 1))
                else:
                    self.assertTrue(r.stderr.startswith(b'flowseries: severe (%d): ' % status + text + CRLF + HEADING),
                                    r.stderr[:300])
                    self.assertNotIn('HTIME.CSV', r.files)

    def test_devices_named_as_inputs_end_at_once(self):
        """A terminal or serial line (Windows: any character device) named as the result file or
        the point-list file ends the run at once with 30 and its resolved name, never a wait; a
        device that reads as an empty file (/dev/null) is still read as one."""
        net = Network(3, 1, 1)
        if WINDOWS:
            devices = [(name, None) for name in ('AUX', 'COM1', 'CON', 'NUL')]
        else:
            master, slave = os.openpty()
            devices = [(os.ttyname(slave), None), ('/dev/null', 24)]
        for device, status in devices:
            for answers, unit in ((b'1\n%s\npl.txt\n', 7), (b'1\nres.bin\n%s\n', 9)):
                with self.subTest(device=device, unit=unit):
                    r = run_program({'res.bin': net.data(), 'pl.txt': point_list(lists=([1], [], [], []))},
                                    answers % device.encode())
                    if status is not None:
                        self.assertEqual(r.status, status, r.stderr)
                        continue
                    self.assertEqual(r.status, 30, r.stderr)
                    # (Under Wine with no console, CON is refused by the open itself: the system's
                    # words come first.)
                    line = [x for x in r.stderr.split(CRLF) if x.startswith(b'flowseries: severe')][0]
                    self.assertTrue(line.startswith(b'flowseries: severe (30): open failure, unit %d, file ' % unit),
                                    line)
                    if not WINDOWS:
                        self.assertTrue(line.endswith(device.encode()), line)
        if not WINDOWS:
            os.close(master)
            os.close(slave)

    @unittest.skipIf(WINDOWS, ON_POSIX_ONLY)
    def test_inputs_through_fifos_end_when_their_writers_close(self):
        import threading
        net = Network(10, 4, 3)
        for fifos in (('res.bin',), ('pl.txt',), ('res.bin', 'pl.txt')):
            with self.subTest(fifos=fifos):
                d = tempfile.mkdtemp(prefix='fs_e2e_')
                contents = {'res.bin': net.data(), 'pl.txt': point_list(lists=([1], [2], [3], [4]))}
                writers = []
                for name, data in contents.items():
                    path = os.path.join(d, name)
                    if name in fifos:
                        os.mkfifo(path)

                        def feed(path=path, data=data):
                            with open(path, 'wb') as f:
                                f.write(data)
                        writers.append(threading.Thread(target=feed, daemon=True))
                        writers[-1].start()
                    else:
                        with open(path, 'wb') as f:
                            f.write(data)
                p = subprocess.run(LAUNCHER + [BINARY], cwd=d, input=b'1\nres.bin\npl.txt\n', capture_output=True, timeout=20)
                for w in writers:
                    w.join(timeout=5)
                self.assertEqual(p.returncode, 0, p.stderr)
                with open(os.path.join(d, 'VTIME.csv'), 'rb') as f:
                    self.assertEqual(f.read(), net.csv('V', [4], 3))
                subprocess.run(['rm', '-rf', d])

    def test_console_output_to_a_pipe_without_reader(self):
        d = tempfile.mkdtemp(prefix='fs_e2e_')
        read_end, write_end = os.pipe()
        os.close(read_end)
        p = subprocess.run(LAUNCHER + [BINARY], cwd=d, input=b'1\n', stdout=write_end, stderr=subprocess.PIPE, timeout=20)
        os.close(write_end)
        subprocess.run(['rm', '-rf', d])
        self.assertEqual(p.returncode, 38, p.stderr)
        # The system's own words come first (Linux: "Broken pipe"; Windows: its text for the code).
        system_line = p.stderr.split(CRLF)[0] + CRLF if WINDOWS else b'flowseries: Broken pipe\r\n'
        self.assertRegex(system_line, rb'^flowseries: \S.*\r\n$')
        self.assertTrue(p.stderr.startswith(system_line + b'flowseries: severe (38): '
                                            b'error during write, unit -1, file CONOUT$\r\n' + HEADING), p.stderr)

    def test_each_series_file_has_its_unit_and_only_listed_series_are_written(self):
        net = Network(10, 4, 2)
        names = ('HTIME.CSV', 'PTIME.CSV', 'QTIME.csv', 'VTIME.csv')
        units = (10, 11, 12, 12)
        for i, (name, unit) in enumerate(zip(names, units)):
            lists = [[], [], [], []]
            lists[i] = [1]
            with self.subTest(series=name):
                # The only listed series: written, and no other file appears or changes.
                old = {n: b'old ' + n.encode() for n in names if n != name}
                r = self.whole_run(net, lists, extra=old)
                for other in old:
                    self.assertEqual(r.files[other], old[other])
                # Its file a directory: the open failure names the series file's unit.
                r = run_program({'res.bin': net.data(), 'pl.txt': point_list(lists=lists), name: None},
                                b'1\nres.bin\npl.txt\n')
                self.assertEqual(r.status, 30, r.stderr)
                self.assertIn(b'flowseries: severe (30): open failure, unit %d, file %s\r\n'
                              % (unit, with_cwd(b'{cwd}/' + name.encode(), r.dir)), r.stderr)
        # No list at all: no series file.
        r = self.whole_run(net, ([], [], [], []))
        self.assertFalse([n for n in r.files if n.upper().endswith('.CSV')])

    # ---------------------------------------------------------- standard output is a stream
    def test_console_output_into_a_log_keeps_the_surrounding_text(self):
        net = Network(4, 2, 1)
        out = console_out(net.title, 4, 2)
        d = tempfile.mkdtemp(prefix='fs_e2e_')
        for name, data in (('res.bin', net.data()), ('pl.txt', point_list(lists=([1], [], [], []))),
                           ('answers.txt', b'1\nres.bin\npl.txt\n')):
            with open(os.path.join(d, name), 'wb') as f:
                f.write(data)
        log = os.path.join(d, 'run.log')
        quoted = shell_command(BINARY)
        cases = [
            ('>', None, '(echo "run 1"; %s < answers.txt; echo done) > run.log' % quoted,
             b'run 1\n' + out + b'done\n'),
            ('>>', b'earlier runs\n' * 50, '(echo "run 2"; %s < answers.txt; echo done) >> run.log' % quoted,
             b'earlier runs\n' * 50 + b'run 2\n' + out + b'done\n'),
            ('> after a longer log', b'x' * 5000, '%s < answers.txt > run.log' % quoted, out),
            ('pipe', None, '(echo start; %s < answers.txt; echo end) | cat > run.log' % quoted,
             b'start\n' + out + b'end\n'),
        ]
        for name, before, script, expected in cases:
            with self.subTest(name):
                if before is not None:
                    with open(log, 'wb') as f:
                        f.write(before)
                elif os.path.exists(log):
                    os.remove(log)
                p = subprocess.run(['sh', '-c', script], cwd=d, capture_output=True, timeout=30)
                self.assertEqual(p.returncode, 0, p.stderr)
                with open(log, 'rb') as f:
                    self.assertEqual(f.read(), expected)
        # A descriptor shared with the surrounding program, before and after the run.
        with open(log, 'wb') as f:
            f.write(b'before\n' * 100)
            f.flush()
            p = subprocess.run(LAUNCHER + [BINARY], cwd=d, stdin=open(os.path.join(d, 'answers.txt'), 'rb'), stdout=f,
                               stderr=subprocess.PIPE, timeout=30)
            f.write(b'after\n')
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(log, 'rb') as f:
            self.assertEqual(f.read(), b'before\n' * 100 + out + b'after\n')
        subprocess.run(['rm', '-rf', d])

    @unittest.skipIf(WINDOWS, ON_POSIX_ONLY)
    def test_signals_ignored_at_the_start_stay_ignored(self):
        """Under nohup or as a background job of a script, the ignored signal neither ends the run
        nor brings a report; the run finishes normally once its answers arrive."""
        net = Network(4, 2, 1)
        cases = [
            ('nohup, hang-up', ['nohup'], [signal.SIGHUP], None),
            ('ignored interrupt and break', [], [signal.SIGINT, signal.SIGQUIT], (signal.SIGINT, signal.SIGQUIT)),
            # A script's background job has stdin from /dev/null unless it is redirected.
            ('background job of a script', ['sh', '-c', 'exec 3<&0; "$0" <&3 3<&- & wait $!'], [signal.SIGINT, signal.SIGQUIT], None),
        ]
        for name, launcher, signals, ignore in cases:
            if launcher and not shutil.which(launcher[0]):
                continue
            with self.subTest(name):
                d = tempfile.mkdtemp(prefix='fs_e2e_')
                with open(os.path.join(d, 'res.bin'), 'wb') as f:
                    f.write(net.data())
                with open(os.path.join(d, 'pl.txt'), 'wb') as f:
                    f.write(point_list(lists=([1], [], [], [])))

                def preexec(ignore=ignore):
                    for sig in ignore or ():
                        signal.signal(sig, signal.SIG_IGN)
                p = subprocess.Popen(launcher + [BINARY], cwd=d, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, preexec_fn=preexec, start_new_session=True)
                first = read_at_least(p.stdout, len(console_out(upto='answer')))
                # The program waits for its answer: signal it there (not the launching shell).
                target = p.pid
                if launcher[:1] == ['sh']:
                    with open('/proc/%d/task/%d/children' % (p.pid, p.pid)) as f:
                        target = int(f.read().split()[0])
                for sig in signals:
                    os.kill(target, sig)
                time.sleep(0.2)
                self.assertIsNone(p.poll(), 'the run ended on an ignored signal')
                rest, err = p.communicate(b'1\nres.bin\npl.txt\n', timeout=30)
                self.assertEqual(p.returncode, 0, err)
                self.assertEqual(err, b'')
                self.assertEqual(first + rest, console_out(net.title, 4, 2))
                with open(os.path.join(d, 'HTIME.CSV'), 'rb') as f:
                    self.assertEqual(f.read(), net.csv('H', [1], 1))
                subprocess.run(['rm', '-rf', d])

    # ---------------------------------------------------------- command line, batch runs, helpers
    def test_command_line_of_every_program(self):
        d = tempfile.mkdtemp(prefix='fs_e2e_')
        programs = [('flowseries', BINARY), ('flowseries-gen', GENERATOR)]
        programs += [(n, p) for n, p in (('flowseries-plot', PLOT), ('flowseries-points', POINTS),
                                          ('flowseries-stats', STATS), ('flowseries-diff', DIFF)) if p]
        for name, program in programs:
            for args, status in ((['--help'], 0), (['-h'], 0), (['--version'], 0), (['-V'], 0),
                                 (['--no-such-option'], 2)):
                with self.subTest(program=name, args=args):
                    p = subprocess.run(LAUNCHER + [program] + args, cwd=d, input=b'1\nres.bin\n', capture_output=True,
                                       timeout=20)
                    self.assertEqual(p.returncode, status, p.stderr)
                    if status == 0:
                        self.assertEqual(p.stderr, b'')
                        if 'help' in args[0] or args[0] == '-h':
                            self.assertIn(b'usage: ' + name.encode(), p.stdout)
                        else:
                            self.assertEqual(p.stdout, name.encode() + b' 1.0.0\n')
                    else:
                        self.assertEqual(p.stdout, b'')
                        self.assertEqual(p.stderr.count(b'\n'), 1, p.stderr)
                        self.assertIn(b"'--no-such-option'", p.stderr)
                        self.assertIn(b'--help', p.stderr)
                    self.assertEqual(os.listdir(d), [])   # nothing read or written
        # An argument that is not an option: refused the same way, nothing read.
        p = subprocess.run(LAUNCHER + [BINARY, 'res.bin'], cwd=d, input=b'1\n', capture_output=True, timeout=20)
        self.assertEqual((p.returncode, p.stdout), (2, b''))
        self.assertIn(b"unexpected argument 'res.bin'", p.stderr)
        # Nonsense that used to give a file or a chart with exit 0: a wrong command line, with why.
        subprocess.run(LAUNCHER + [GENERATOR, '--nodes', '3', '--links', '1', '--steps', '4', 'g.bin'], cwd=d, check=True)
        with open(os.path.join(d, 'HTIME.CSV'), 'wb') as f:
            f.write(Network(3, 1, 4).csv('H', [1, 2], 4))
        before = sorted(os.listdir(d))
        nonsense = [([GENERATOR, '--nodes', 'abc', '--links', '2', '--steps', '3', 'z.bin'], b"'abc'"),
                    ([GENERATOR, '--nodes', '3', '--links', '2', '--steps', '-1', 'z.bin'], b"'-1'"),
                    ([GENERATOR, '--nodes', '3', '--links', '2', '--steps', '3', '--dt', 'x', 'z.bin'], b"'x'")]
        if PLOT:
            nonsense += [([PLOT, 'HTIME.CSV', 'out.png'], b'not .png'),
                         ([PLOT, '-o', 'out.png', 'HTIME.CSV'], b'must end in .svg'),
                         ([PLOT, '--from', '5000', '--to', '100', 'HTIME.CSV'], b'lies after --to'),
                         ([PLOT, '--from', '1e9', 'HTIME.CSV'], b'no step lies in the window')]
        for args, why in nonsense:
            with self.subTest(args=args):
                p = subprocess.run(LAUNCHER + args, cwd=d, capture_output=True, timeout=20)
                self.assertEqual(p.returncode, 2, p.stderr)
                self.assertIn(why, p.stderr)
                self.assertEqual(sorted(os.listdir(d)), before)
        if PLOT:
            # Which file holds links: its name (VTIME in any case), or the user's word.
            vtime = Network(3, 2, 4).csv('V', [1, 2], 4)
            for name, args, label in (('run1_VTIME.csv', [], b'>link 1 va<'), ('case1-vtime.csv', [], b'>link 1 va<'),
                                      ('V.csv', [], b'>node 1<'), ('V.csv', ['--links'], b'>link 1 va<'),
                                      ('VTIME.csv', ['--nodes'], b'>node 1<')):
                with self.subTest(name=name, args=args):
                    with open(os.path.join(d, name), 'wb') as f:
                        f.write(vtime)
                    p = subprocess.run(LAUNCHER + [PLOT] + args + [name, '-o', 'v.svg'], cwd=d, capture_output=True)
                    self.assertEqual(p.returncode, 0, p.stderr)
                    with open(os.path.join(d, 'v.svg'), 'rb') as f:
                        self.assertIn(label, f.read())
            # The chart's title: --title, and the result file's title from --result or from the
            # work list beside the series file.
            for args, title in ((['--title', 'Case A'], b'>Case A</text>'),
                                (['--title', 'Case A', '--result', 'g.bin'], b'>Case A - flowseries sample result</text>'),
                                ([], b'>V.csv</text>')):
                p = subprocess.run(LAUNCHER + [PLOT] + args + ['V.csv', '-o', 'v.svg'], cwd=d, capture_output=True)
                with open(os.path.join(d, 'v.svg'), 'rb') as f:
                    self.assertIn(title, f.read(), args)
            with open(os.path.join(d, 'WORK.LST'), 'wb') as f:
                f.write(b'a\nb\nc\ng.bin\n')
            p = subprocess.run(LAUNCHER + [PLOT, 'V.csv', '-o', 'v.svg'], cwd=d, capture_output=True)
            with open(os.path.join(d, 'v.svg'), 'rb') as f:
                self.assertIn(b'>V.csv - flowseries sample result</text>', f.read())
        subprocess.run(['rm', '-rf', d])

    def test_batch_runs_over_case_folders(self):
        """The documented loop: answers from printf, one folder per case, stop at the first
        failure."""
        net = Network(6, 3, 4)
        d = tempfile.mkdtemp(prefix='fs_e2e_')
        for case, data in (('case1', net.data()), ('case2', net.data()), ('case3', b'broken'), ('case4', net.data())):
            os.mkdir(os.path.join(d, case))
            with open(os.path.join(d, case, 'result.bin'), 'wb') as f:
                f.write(data)
            with open(os.path.join(d, case, 'POINTS.LST'), 'wb') as f:
                f.write(point_list(lists=([1, 6], [], [2], [3])))
        for line_end in (b'\n', b'\r\n'):
            with self.subTest(line_end=line_end):
                script = ("for c in case*/; do (cd \"$c\" && printf '1%s' | %s > run.log) || "
                          "{ echo \"stopped at $c\"; exit 1; }; done" %
                          (('\\nresult.bin\\nPOINTS.LST\\n' if line_end == b'\n'
                            else '\\r\\nresult.bin\\r\\nPOINTS.LST\\r\\n'), shell_command(BINARY)))
                p = subprocess.run(['sh', '-c', script], cwd=d, capture_output=True, timeout=60)
                self.assertEqual(p.returncode, 1)
                self.assertEqual(p.stdout, b'stopped at case3/\n')
                self.assertIn(b'flowseries: severe (', p.stderr)
                for case in ('case1', 'case2'):
                    with open(os.path.join(d, case, 'VTIME.csv'), 'rb') as f:
                        self.assertEqual(f.read(), net.csv('V', [3], 4))
                    with open(os.path.join(d, case, 'run.log'), 'rb') as f:
                        self.assertEqual(f.read(), console_out(net.title, 6, 3))
                self.assertFalse(os.path.exists(os.path.join(d, 'case4', 'HTIME.CSV')))
        subprocess.run(['rm', '-rf', d])

    @unittest.skipIf(not POINTS_AVAILABLE(), 'no --points program given')
    def test_points_check_agrees_with_the_program(self):
        """check's exit status and report line equal flowseries' on the same file."""
        net = Network(30, 5, 2)
        five = Network(30, 5, 5)
        # Cut inside step 4's node record: three complete steps.
        cut = five.data()[:-(len(b''.join(five.step_records(4))) + 300)]
        h1 = ([1], [], [], [])
        # name, point-list text, result file (and what check says of it, and the rows the program
        # writes when it succeeds)
        stepped = [
            ('more steps than the limit', point_list((3, None, None, None, None), h1), five.data(),
             b'holds 5 steps; the step limit of 3 (columns 1-5) writes the first 3 of them', 3),
            ('a file cut inside a step', point_list(lists=h1), cut,
             b'is cut inside step 4 (3 complete steps): the run ends with failure', None),
            ('a cut file with the limit it names', point_list((2, None, None, None, None), h1), cut,
             b'result file: 30 nodes, 5 links, 3 complete steps and then failure', 2),
            ('a letter in a list, named', b'\n    1\n     1a\n    0\n    0\n    0\n', net.data(),
             b'line 3: columns 1-7: "1a" is not a number', None),
        ]
        files = [
            ('the example', point_list((100, 50, 50, 100, 50), ([5, 17], [], [120], [4, 9, 11]))),
            ('defaults', point_list(lists=([1], [2], [3], [4]))),
            ('empty', b''),
            ('ends inside a list', b'\n    3\n      1\n'),
            ('a letter in a list', b'\n    1\n     1a\n    0\n    0\n    0\n'),
            ('count above its limit', b'    0    1\n    2\n      1      2\n    0\n    0\n    0\n'),
            ('point beyond the tables', b'\n    1\n  50001\n    0\n    0\n    0\n'),
            ('negative limit', b'   -1\n    0\n    0\n    0\n    0\n'),
            ('work area beyond 32 bits', b'99999999999999999999\n    0\n    0\n    0\n    0\n'),
            ('warnings only', b'\n    2\n     123456\n    0\n    0\n    1\n      9\n'),
        ]
        cases = [(name, text, net.data(), None, None) for name, text in files] + stepped
        for name, text, result, says, rows in cases:
            with self.subTest(name):
                r = run_program({'res.bin': result, 'pl.txt': text}, b'1\nres.bin\npl.txt\n')
                d = tempfile.mkdtemp(prefix='fs_e2e_')
                with open(os.path.join(d, 'pl.txt'), 'wb') as f:
                    f.write(text)
                with open(os.path.join(d, 'res.bin'), 'wb') as f:
                    f.write(result)
                c = subprocess.run(LAUNCHER + [POINTS, 'check', 'pl.txt', '--result', 'res.bin'], cwd=d,
                                   capture_output=True, timeout=20)
                self.assertEqual(c.returncode, r.status, c.stdout + c.stderr)
                if r.status:
                    report = r.stderr.split(CRLF)[0].replace(native(os.path.realpath(r.dir)), b'')
                    self.assertEqual(c.stderr.replace(native(os.path.realpath(d)), b''), report + b'\n')
                else:
                    self.assertIn(b'accepted', c.stdout)
                if says:
                    self.assertIn(says, c.stdout)
                if rows is not None:
                    self.assertEqual(r.files['HTIME.CSV'].count(CRLF), 1 + rows)
                subprocess.run(['rm', '-rf', d])
        # A missing file: check creates nothing and says what the program would end with.
        d = tempfile.mkdtemp(prefix='fs_e2e_')
        c = subprocess.run(LAUNCHER + [POINTS, 'check', 'none.lst'], cwd=d, capture_output=True, timeout=20)
        self.assertEqual(c.returncode, 24)
        self.assertEqual(os.listdir(d), [])
        subprocess.run(['rm', '-rf', d])

    @unittest.skipIf(not POINTS_AVAILABLE(), 'no --points program given')
    def test_points_make_writes_what_the_program_reads(self):
        import random
        rnd = random.Random(11)
        net = Network(40, 12, 3)
        for i in range(12):
            lists = [[rnd.randint(-5, 40 if k < 3 else 12) for _ in range(rnd.randint(0, 23))] for k in range(4)]
            args = ['make'] + (['--crlf'] if i % 2 else [])
            for flag, lst in zip(('--h', '--p', '--q', '--v'), lists):
                if lst:
                    args += [flag, ','.join(map(str, lst))]
            with self.subTest(args=args):
                made = subprocess.run(LAUNCHER + [POINTS] + args, capture_output=True, timeout=20)
                self.assertEqual(made.returncode, 0, made.stderr)
                self.assertEqual(b'\r\n' in made.stdout, bool(i % 2))
                self.whole_run(net, lists, pl=made.stdout)
        bad = subprocess.run(LAUNCHER + [POINTS, 'make', '--h', '1,2,3', '--limits', '10,2,1,1,1'], capture_output=True)
        self.assertEqual((bad.returncode, bad.stdout), (2, b''))
        # The step limit follows the result file, or is said; misplaced digits and points beyond
        # the tables are named; --strict turns warnings into a failing exit.
        long_net = Network(20, 3, 150)
        d = tempfile.mkdtemp(prefix='fs_e2e_')
        try:
            with open(os.path.join(d, 'r.bin'), 'wb') as f:
                f.write(long_net.data())
            files = {'misplaced.lst': b'  200\n    3\n      5      17   120\n    0\n    0\n    0\n',
                     'beyond.lst': b'  100\n    1\n  60000\n    0\n    0\n    0\n',
                     'clean.lst': point_list((150, None, None, None, None), ([5, 17], [], [], []))}
            for name, data in files.items():
                with open(os.path.join(d, name), 'wb') as f:
                    f.write(data)
            cases = [  # (arguments, exit status, what standard output starts with, in stdout, in stderr)
                (['make', '--h', '5,17'], 0, b'  100', b'', b'the step limit written is 100 (the default)'),
                (['make', '--result', 'r.bin', '--h', '5,17'], 0, b'  150', b'', b''),
                (['make', '--result', 'r.bin', '--steps', '7', '--h', '5'], 0, b'    7', b'', b''),
                (['make', '--result', 'r.bin', '--h', '5,21'], 2, b'', b'', b'H point 21 is above the result file'),
                (['check', 'misplaced.lst'], 0, b'', b'warning: line 3', b''),
                (['check', 'misplaced.lst', '--strict'], 1, b'', b'warning: line 3', b'warnings (--strict)'),
                (['check', 'clean.lst', '--result', 'r.bin', '--strict'], 0, b'', b'accepted', b''),
                (['check', 'beyond.lst'], 102, b'', b'line 3: H point 1 (columns 1-7) is 60000', b'severe (102)'),
            ]
            for args, status, start, out, err in cases:
                with self.subTest(args=args):
                    r = subprocess.run(LAUNCHER + [POINTS] + args, cwd=d, capture_output=True)
                    self.assertEqual(r.returncode, status, r.stderr)
                    self.assertTrue(r.stdout.startswith(start), r.stdout[:80])
                    self.assertIn(out, r.stdout)
                    self.assertIn(err, r.stderr)
        finally:
            subprocess.run(['rm', '-rf', d])


def main():
    global BINARY, GENERATOR
    ap = argparse.ArgumentParser()
    ap.add_argument('--binary', required=True)
    ap.add_argument('--generator', required=True)
    ap.add_argument('--plot')
    ap.add_argument('--points')
    ap.add_argument('--stats')
    ap.add_argument('--diff')
    ap.add_argument('--shard', help='K/N: run only the K-th of N equal shares of the tests')
    ap.add_argument('--ways', choices=('plain', 'all'),
                    help='run every case with FLOWSERIES_WAYS set so (the plain program, or every way)')
    args, rest = ap.parse_known_args()
    global PLOT, POINTS, STATS, DIFF
    POINTS = os.path.abspath(args.points) if args.points else None
    STATS = os.path.abspath(args.stats) if args.stats else None
    DIFF = os.path.abspath(args.diff) if args.diff else None
    BINARY, GENERATOR = os.path.abspath(args.binary), os.path.abspath(args.generator)
    PLOT = os.path.abspath(args.plot) if args.plot else None
    if args.ways:
        os.environ['FLOWSERIES_WAYS'] = args.ways
    if WINDOWS:
        # One Wine server for the whole suite: otherwise every run starts one of its own.
        prefix = re.search(r'WINEPREFIX=(\S+)', ' '.join(LAUNCHER))
        env = dict(os.environ, WINEPREFIX=prefix.group(1)) if prefix else None
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A server left in the prefix by an interrupted run would keep this one waiting.
        subprocess.run(['wineserver', '-k'], env=env, **quiet)
        subprocess.run(LAUNCHER + ['cmd', '/c', 'exit'], **quiet)  # creates the prefix
        subprocess.run(['wineserver', '-w'], env=env)
        server = subprocess.Popen(['wineserver', '-p'], env=env)
        # The first program under a new server starts Wine's own services, which inherit its
        # standard streams and keep them open: start them here, on /dev/null, rather than in a
        # test that waits for the end of the program's output.
        subprocess.run(LAUNCHER + ['cmd', '/c', 'exit'], **quiet)
        try:
            ok = run_tests(args.shard, rest)
        finally:
            subprocess.run(['wineserver', '-k'], env=env)
            server.wait()
        sys.exit(0 if ok else 1)
    sys.exit(0 if run_tests(args.shard, rest) else 1)


def run_tests(shard, rest):
    """Runs the suite, or every N-th test of it from the K-th on (by name) for shard K/N."""
    if not shard:
        return unittest.main(argv=[sys.argv[0]] + rest, verbosity=1, exit=False).result.wasSuccessful()
    k, n = (int(x) for x in shard.split('/'))
    names = sorted(unittest.defaultTestLoader.getTestCaseNames(EndToEnd))
    suite = unittest.TestSuite(EndToEnd(name) for name in names[k - 1::n])
    return unittest.TextTestRunner(verbosity=1).run(suite).wasSuccessful()


if __name__ == '__main__':
    main()
