#!/usr/bin/python3
"""The yardstick: the numpy script a capable user would write instead of flowseries.

usage: yardstick_numpy.py RESULT_FILE POINT_LIST [OUTDIR]

It reads the header record by record, maps all step blocks at once with np.memmap and one packed
structured dtype (every block of a file has the same size), picks the listed columns, and writes
HTIME.CSV, PTIME.CSV, QTIME.csv and VTIME.csv (each only for a non-empty list) into OUTDIR (the
current directory by default), in the same layout and digits as flowseries: a header of ',' and
8-column numbers, rows of a 16-column time and ',' plus 14-column values, at most 200 groups a
line, a trailing ',' on shorter lines, CR LF. Ordinary values go through '%14.5E' (the exact
binary value rounded half-even, as flowseries does); NaN, infinities and 3-digit exponents take a
slower exact path. Columns of point numbers of 0 or less, or above N (M), hold 0.0.
"""
import os
import sys

try:
    import numpy as np
except ImportError:
    sys.exit('yardstick_numpy.py needs numpy: apt-get install python3-numpy (or pip install numpy)')

GROUPS = 200
ROWS_PER_WRITE = 2000
DEFAULT_LIMITS = (100, 50, 50, 100, 50)


def record(f):
    size = np.fromfile(f, '<i4', 1)
    if size.size == 0:
        raise SystemExit('the result file ends inside its header')
    data = np.fromfile(f, np.uint8, int(size[0]))
    f.seek(4, os.SEEK_CUR)
    return data


def header(f):
    record(f)  # title
    n = int(record(f)[:4].view('<i4')[0])
    base = record(f)[:16 * n].view('<f8')[1::2].copy()
    m = int(record(f)[:4].view('<i4')[0])
    record(f)  # link table
    return n, m, base


def block_dtype(n, m):
    return np.dtype([('m0', '<i4'), ('tag', '<i4'), ('time', '<f8'), ('e0', '<i4'),
                     ('m1', '<i4'), ('node', [('tag', '<i4'), ('p', '<f8'), ('q', '<f8')], (n,)),
                     ('e1', '<i4'),
                     ('m2', '<i4'), ('link', [('va', '<f8'), ('vb', '<f8')], (m,)), ('e2', '<i4')])


def integer(text):
    digits = text.replace(' ', '')
    return int(digits) if digits else 0


def point_list(path):
    with open(path, 'rb') as f:
        lines = iter([line.rstrip(b'\n').rstrip(b'\r').decode('latin-1') for line in f])
    first = next(lines)
    limits = [integer(first[5 * i:5 * i + 5]) or d for i, d in enumerate(DEFAULT_LIMITS)]
    lists = []
    for _ in range(4):
        count = integer(next(lines)[:5])
        points = []
        while len(points) < count:
            line = next(lines)
            points += [integer(line[7 * i:7 * i + 7]) for i in range(min(10, count - len(points)))]
        lists.append(np.array(points, dtype=np.int64))
    return limits, lists


def columns(table, points, size):
    """The listed columns of a (steps, size) table; 0.0 for points outside 1..size."""
    inside = (points >= 1) & (points <= size)
    if inside.all():
        return table[:, points - 1]
    out = np.zeros((table.shape[0], len(points)))
    if inside.any():
        out[:, inside] = table[:, points[inside] - 1]
    return out


def exact_field(x, width, digits, scale):
    if x != x:
        return ' NaN'.ljust(width)
    if abs(x) == float('inf'):
        return (' Infinity' if x > 0 else ' -Infinity').ljust(width)
    negative = x < 0
    if x == 0:
        negative, scale, mantissa_digits, exponent = False, 0, '0' * digits, 0
    else:
        text = '%.*E' % ((digits if scale == 0 else digits + 1) - 1, abs(x))
        mantissa, power = text.split('E')
        mantissa_digits = mantissa.replace('.', '')
        exponent = int(power) + 1 - scale
    mantissa = ('.' + mantissa_digits if scale == 0
                else mantissa_digits[0] + '.' + mantissa_digits[1:])
    part = ('E%+03d' if abs(exponent) <= 99 else '%+04d') % exponent
    needed = negative + len(mantissa) + 4
    if needed > width:
        return '*' * width
    zero = '0' if scale == 0 and width >= needed + 1 else ''
    return (('-' if negative else '') + zero + mantissa + part).rjust(width)


def line_counts(n):
    return [GROUPS] * (n // GROUPS) + ([n % GROUPS] if n % GROUPS else [])


def lines_of(first, groups):
    out, at = [], 0
    for i, count in enumerate(line_counts(len(groups))):
        out.append((first if i == 0 else '') + ''.join(groups[at:at + count]) +
                   (',' if count < GROUPS else '') + '\r\n')
        at += count
    return ''.join(out)


def write_series(path, numbers, times, values):
    row = ''.join(('%s' if i == 0 else '') + ',%14.5E' * count + (',' if count < GROUPS else '') + '\r\n'
                  for i, count in enumerate(line_counts(len(numbers))))
    time_fields = [exact_field(t, 16, 7, 0) for t in (times + 0.0).tolist()]
    with open(path, 'wb') as f:
        f.write(lines_of('', [',' + ('%8d' % v if -9999999 <= v <= 99999999 else '*' * 8)
                              for v in numbers.tolist()]).encode('ascii'))
        for first in range(0, len(times), ROWS_PER_WRITE):
            block = values[first:first + ROWS_PER_WRITE] + 0.0  # no negative zero
            magnitude = np.abs(block)
            unusual = (~np.isfinite(block) | (magnitude >= 1e99) |
                       ((magnitude < 1e-98) & (block != 0))).any(axis=1)
            text = []
            for j, row_values in enumerate(block.tolist()):
                if unusual[j]:
                    text.append(lines_of(time_fields[first + j],
                                         [',' + exact_field(x, 14, 5, 1) for x in row_values]))
                else:
                    text.append(row % (time_fields[first + j], *row_values))
            f.write(''.join(text).encode('ascii'))


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__.split('\n\n')[1])
    out = sys.argv[3] if len(sys.argv) == 4 else '.'
    limits, (h, p, q, v) = point_list(sys.argv[2])
    with open(sys.argv[1], 'rb') as f:
        n, m, base = header(f)
        start = f.tell()
    dtype = block_dtype(n, m)
    stored = max(0, min((os.path.getsize(sys.argv[1]) - start) // dtype.itemsize, limits[0]))
    if stored:
        blocks = np.memmap(sys.argv[1], dtype=dtype, mode='r', offset=start, shape=(stored,))
        times = np.array(blocks['time'])
        node_p, node_q = blocks['node']['p'], blocks['node']['q']
        va, vb = blocks['link']['va'], blocks['link']['vb']
    else:
        times = np.zeros(0)
        node_p = node_q = np.zeros((0, n))
        va = vb = np.zeros((0, m))
    if len(h):
        inside = (h >= 1) & (h <= n)
        h_base = np.zeros(len(h))
        h_base[inside] = base[h[inside] - 1]
        write_series(os.path.join(out, 'HTIME.CSV'), h, times, columns(node_p, h, n) + h_base)
    if len(p):
        write_series(os.path.join(out, 'PTIME.CSV'), p, times, columns(node_p, p, n))
    if len(q):
        write_series(os.path.join(out, 'QTIME.csv'), q, times, columns(node_q, q, n))
    if len(v):
        pairs = np.empty((len(times), 2 * len(v)))
        pairs[:, 0::2] = columns(va, v, m)
        pairs[:, 1::2] = columns(vb, v, m)
        write_series(os.path.join(out, 'VTIME.csv'), np.repeat(v, 2), times, pairs)


if __name__ == '__main__':
    main()
