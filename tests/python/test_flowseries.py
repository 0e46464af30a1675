"""The Python module against the program itself: the same values as its series files, the same
failures as its exit statuses, the same bytes from extract.

Run by ctest with PYTHONPATH holding the built module and FLOWSERIES_BINARY, FLOWSERIES_GEN naming
the program and the sample generator."""
import os
import re
import struct
import subprocess

import numpy
import pytest

import flowseries

BINARY = os.environ['FLOWSERIES_BINARY']
GENERATOR = os.environ['FLOWSERIES_GEN']
FILES = ('HTIME.CSV', 'PTIME.CSV', 'QTIME.csv', 'VTIME.csv')


def frame(payload, lead=None, trail=None):
    lead = len(payload) if lead is None else lead
    trail = len(payload) if trail is None else trail
    return struct.pack('<i', lead) + payload + struct.pack('<i', trail)


def in_pieces(payload, size):
    """A record cut into continued pieces of `size` bytes."""
    pieces = [payload[i:i + size] for i in range(0, len(payload), size)] or [b'']
    return b''.join(frame(p, -len(p) if i + 1 < len(pieces) else len(p))
                    for i, p in enumerate(pieces))


def point_list(steps, h, p, q, v):
    lines = ['%5d%5d%5d%5d%5d' % (steps, max(len(h), 1), max(len(p), 1), max(len(q), 1), max(len(v), 1))]
    for lst in (h, p, q, v):
        lines.append('%5d' % len(lst))
        lines += [''.join('%7d' % x for x in lst[i:i + 10]) for i in range(0, len(lst), 10)]
    return '\n'.join(lines) + '\n'


def generated(tmp_path, nodes, links, steps):
    path = tmp_path / 'RESULT.BIN'
    subprocess.run([GENERATOR, '--nodes', str(nodes), '--links', str(links), '--steps', str(steps),
                    str(path)], check=True)
    return path.read_bytes()


def with_continued_records(data, nodes, links, steps):
    """The generator's file with every node and link step record in pieces of 1,000 bytes."""
    header = len(data) - steps * (3 * 8 + 12 + 20 * nodes + 16 * links)
    out, at = [data[:header]], header
    for _ in range(steps):
        for length in (12, 20 * nodes, 16 * links):
            payload = data[at + 4:at + 4 + length]
            out.append(in_pieces(payload, 1000) if length > 12 else frame(payload))
            at += length + 8
    return b''.join(out)


def run_program(folder, points_text):
    (folder / 'POINTS.LST').write_text(points_text)
    return subprocess.run([BINARY], cwd=folder, input=b'1\nRESULT.BIN\nPOINTS.LST\n',
                          capture_output=True)


def shown(x, digits=5):
    """A value as the series files round it."""
    return float('%.*E' % (digits, x))


@pytest.mark.parametrize('shape', ['plain', 'continued records'])
def test_values_equal_the_programs_files(tmp_path, shape):
    nodes, links, steps = 260, 130, 12
    data = generated(tmp_path, nodes, links, steps)
    if shape == 'continued records':
        data = with_continued_records(data, nodes, links, steps)
        (tmp_path / 'RESULT.BIN').write_bytes(data)
    h, p, q, v = list(range(1, 251)), [3, 260], [7], list(range(1, 121))
    run = run_program(tmp_path, point_list(steps, h, p, q, v))
    assert run.returncode == 0, run.stderr
    result = flowseries.open(str(tmp_path / 'RESULT.BIN'))
    assert (result.nodes, result.links) == (nodes, links)
    assert len(result.times) == steps
    for name, kind, points in (('HTIME.CSV', 'H', h), ('PTIME.CSV', 'P', p), ('QTIME.csv', 'Q', q)):
        ours = result.series(kind, points)
        assert ours.shape == (steps, len(points))
        times, columns, values = flowseries.read_csv(str(tmp_path / name), frame=False)
        assert list(columns) == points
        assert numpy.array_equal(times, result.times)
        assert numpy.array_equal(values, numpy.vectorize(shown)(ours)), name
    va, vb = result.series('va', v), result.series('vb', v)
    times, columns, values = flowseries.read_csv(str(tmp_path / 'VTIME.csv'), frame=False)
    assert list(columns)[:4] == [(1, 'va'), (1, 'vb'), (2, 'va'), (2, 'vb')]
    assert numpy.array_equal(values[:, 0::2], numpy.vectorize(shown)(va))
    assert numpy.array_equal(values[:, 1::2], numpy.vectorize(shown)(vb))


def test_read_csv_gives_frames_of_every_file(tmp_path):
    """Rows of more than 200 values (continuation lines), the trailing comma, and the links of
    VTIME.csv as (link, va/vb) columns."""
    pandas = pytest.importorskip('pandas')
    data = generated(tmp_path, 300, 120, 5)
    run = run_program(tmp_path, point_list(5, list(range(1, 231)), [2], [4, 5], list(range(1, 111))))
    assert run.returncode == 0, run.stderr
    h = flowseries.read_csv(str(tmp_path / 'HTIME.CSV'))
    assert isinstance(h, pandas.DataFrame)
    assert h.shape == (5, 230) and list(h.columns) == list(range(1, 231)) and h.index.name == 'time'
    result = flowseries.open(str(tmp_path / 'RESULT.BIN'))
    assert h[230].tolist() == [shown(x) for x in result.series('H', [230])[:, 0]]
    v = flowseries.read_csv(str(tmp_path / 'VTIME.csv'))
    assert v.shape == (5, 220) and v[(110, 'vb')].tolist() == [shown(x) for x in result.series('vb', [110])[:, 0]]
    framed = result.series('Q', [4, 5], frame=True)
    assert framed.index.tolist() == result.times.tolist() and list(framed.columns) == [4, 5]
    assert len(data) > 0


@pytest.mark.parametrize('damage', ['cut inside a step', 'a record shorter than its content',
                                    'not there', 'cut inside the header'])
def test_failures_carry_the_programs_number(tmp_path, damage):
    data = generated(tmp_path, 40, 10, 6)
    if damage == 'cut inside a step':
        data = data[:len(data) - 700]
    elif damage == 'a record shorter than its content':
        header = len(data) - 6 * (3 * 8 + 12 + 20 * 40 + 16 * 10)
        at = header + 20  # the node record of the first step: 100 bytes short of N entries
        payload = data[at + 4:at + 4 + 700]
        data = data[:at] + frame(payload) + data[at + 8 + 800:]
    elif damage == 'cut inside the header':
        data = data[:300]
    if damage == 'not there':
        (tmp_path / 'RESULT.BIN').unlink()
    else:
        (tmp_path / 'RESULT.BIN').write_bytes(data)
    run = run_program(tmp_path, point_list(100, [1, 40], [], [], [2]))
    assert run.returncode != 0
    with pytest.raises(flowseries.Error) as raised:
        flowseries.open(str(tmp_path / 'RESULT.BIN')).series('H', [1, 40])
    assert raised.value.number == run.returncode
    assert raised.value.path == str(tmp_path / 'RESULT.BIN')
    assert str(raised.value) == run.stderr.split(b'\r\n')[0].decode()


def test_extract_writes_the_programs_bytes(tmp_path):
    generated(tmp_path, 250, 120, 30)
    text = point_list(30, list(range(1, 221)), [5, 17], [9], list(range(1, 105)))
    run = run_program(tmp_path, text)
    assert run.returncode == 0, run.stderr
    out = tmp_path / 'out'
    out.mkdir()
    flowseries.extract(str(tmp_path / 'RESULT.BIN'), str(tmp_path / 'POINTS.LST'), str(out))
    for name in FILES:
        assert (out / name).read_bytes() == (tmp_path / name).read_bytes(), name
    with pytest.raises(flowseries.Error) as raised:
        flowseries.extract(str(tmp_path / 'RESULT.BIN'), str(tmp_path / 'NONE.LST'), str(out))
    assert raised.value.number == 29


ROW = b'   0.0000000E+00,   1.25000E+01,   1.32500E+01,\r\n'


@pytest.mark.parametrize('name,text,where,rows', [
    ('a value cut at the end of a row', b',       5,      17,\r\n' + ROW + ROW[:36], 'line 3: ends without', 1),
    ('a byte of no text in a value', b',       5,      17,\r\n' + ROW + ROW.replace(b'1.2', b'1\xff2'), 'line 3, column 18: "   1\\xFF', 1),
    ('a header of no text', b',       5,    \xe9\xff,\r\n' + ROW, 'line 1, column 11', 0),
    ('a NUL in a value', b',       5,      17,\r\n' + ROW.replace(b'1.3', b'1\x003'), 'line 2, column 33', 0),
    ('CR-only line ends', b',       5,      17,\r' + ROW[:-1], 'line 1', 0),
    ('a folder', None, 'is a directory', 0),
])
def test_damaged_series_files_are_errors_or_partial(tmp_path, name, text, where, rows):
    path = tmp_path / 'HTIME.CSV'
    if text is None:
        path.mkdir()
    else:
        path.write_bytes(text)
    with pytest.raises(flowseries.Error) as raised:
        flowseries.read_csv(str(path), frame=False)
    assert where in str(raised.value)
    if text is not None and rows > 0:
        with pytest.warns(UserWarning, match=re.escape(where)):
            times, columns, values = flowseries.read_csv(str(path), frame=False, partial=True)
        assert values.shape == (rows, 2) and values[0, 1] == 13.25


def test_the_library_reads_the_file_it_opened(tmp_path):
    # A file renamed over the opened one's path: the library reads the file it opened.
    generated(tmp_path, 120, 4, 3)
    result = flowseries.open(str(tmp_path / 'RESULT.BIN'))
    before = result.series('H', [120])
    subprocess.run([GENERATOR, '--nodes', '60', '--links', '2', '--steps', '5',
                    str(tmp_path / 'OTHER.BIN')], check=True)
    os.replace(tmp_path / 'OTHER.BIN', tmp_path / 'RESULT.BIN')
    after = result.series('H', [120])
    assert after.shape == (3, 1) and numpy.array_equal(before, after) and after[0, 0] != 0


def test_stats_info_and_step_slices_against_numpy(tmp_path):
    """stats() against numpy over every node and link, info(), series() of a slice, and a cut
    file's figures of its complete steps."""
    nodes, links, steps = 30, 12, 9
    data = bytearray(generated(tmp_path, nodes, links, steps))
    header = len(data) - steps * (3 * 8 + 12 + 20 * nodes + 16 * links)
    block = 3 * 8 + 12 + 20 * nodes + 16 * links
    # NaN, an infinity and a tie at the highest value of node 2's p.
    for s, value in ((1, float('nan')), (3, float('inf')), (4, 1e9), (6, 1e9)):
        struct.pack_into('<d', data, header + s * block + 20 + 4 + 20 * 1 + 4, value)
    (tmp_path / 'RESULT.BIN').write_bytes(bytes(data))
    result = flowseries.open(str(tmp_path / 'RESULT.BIN'))
    times = result.times
    for kind, count in (('H', nodes), ('P', nodes), ('Q', nodes), ('va', links), ('vb', links)):
        values = result.series(kind, list(range(1, count + 1)))
        stats = result.stats(kind)
        assert list(stats.index) == list(range(1, count + 1))
        finite = numpy.where(numpy.isnan(values), numpy.inf, values)
        assert numpy.array_equal(stats['min'].to_numpy(), finite.min(axis=0))
        assert numpy.array_equal(stats['time_of_min'].to_numpy(), times[finite.argmin(axis=0)])
        top = numpy.where(numpy.isnan(values), -numpy.inf, values)
        assert numpy.array_equal(stats['time_of_max'].to_numpy(), times[top.argmax(axis=0)])
        assert list(stats['nan']) == list(numpy.isnan(values).sum(axis=0))
        import math
        means = [math.fsum(c[~numpy.isnan(c)]) / (~numpy.isnan(c)).sum() if not numpy.isinf(c).any()
                 else numpy.inf for c in values.T]
        assert numpy.array_equal(stats['mean'].to_numpy(), numpy.array(means))
    assert result.stats('P', [2])['time_of_max'][2] == times[3]  # the infinity
    part = result.stats('Q', [1, 5], steps=slice(2, 5))
    assert list(part['steps']) == [3, 3]
    assert part['max'][5] == result.series('Q', [5])[2:5, 0].max()
    assert numpy.array_equal(result.series('va', [3], steps=slice(1, None, 3)),
                             result.series('va', [3])[1::3])
    info = result.info()
    assert (info['nodes'], info['links'], info['steps'], info['complete']) == (nodes, links, steps, True)
    assert (info['first_time'], info['last_time']) == (times[0], times[-1])
    with pytest.raises(flowseries.Error) as raised:
        result.series('H', [60000])
    assert raised.value.number == 102
    (tmp_path / 'CUT.BIN').write_bytes(bytes(data[:len(data) - 50]))
    cut = flowseries.open(str(tmp_path / 'CUT.BIN'))
    with pytest.warns(UserWarning, match='cut'):
        figures = cut.stats('H', [1])
    assert list(figures['steps']) == [steps - 1]
    assert cut.info()['complete'] is False and cut.info()['steps'] == steps - 1


def test_what_python_code_passes_is_taken(tmp_path):
    """Paths as pathlib.Path, one int, numpy integers and whole floats as points; other points
    refused clearly; the version; the times of a cut file with a warning; links by name or by
    the caller's word."""
    import pathlib
    generated(tmp_path, 20, 6, 4)
    path = tmp_path / 'RESULT.BIN'
    result = flowseries.open(path)
    assert isinstance(flowseries.__version__, str) and flowseries.__version__.count('.') == 2
    one = result.series('H', [5])
    for points in (5, numpy.int64(5), [5.0], numpy.array([5], dtype=numpy.int32), (5,)):
        assert numpy.array_equal(result.series('H', points), one), points
    for points, error in ((5.5, ValueError), (['5'], TypeError), ('5', TypeError), ([None], TypeError)):
        with pytest.raises(error):
            result.series('H', points)
    data = path.read_bytes()
    (tmp_path / 'CUT.BIN').write_bytes(data[:len(data) - 30])
    cut = flowseries.open(pathlib.PurePath(tmp_path / 'CUT.BIN'))
    with pytest.warns(UserWarning, match='3 complete steps'):
        assert len(cut.times) == 3
    run = run_program(tmp_path, point_list(4, [], [], [], [2, 3]))
    assert run.returncode == 0, run.stderr
    for name, links, columns in (('VTIME.csv', None, [(2, 'va'), (2, 'vb'), (3, 'va'), (3, 'vb')]),
                                 ('run1_vtime.csv', None, [(2, 'va'), (2, 'vb'), (3, 'va'), (3, 'vb')]),
                                 ('V.csv', None, [2, 2, 3, 3]),
                                 ('V.csv', True, [(2, 'va'), (2, 'vb'), (3, 'va'), (3, 'vb')]),
                                 ('VTIME.csv', False, [2, 2, 3, 3])):
        (tmp_path / name).write_bytes((tmp_path / 'VTIME.csv').read_bytes())
        _, got, _ = flowseries.read_csv(tmp_path / name, frame=False, links=links)
        assert [tuple(c) if isinstance(c, tuple) else c for c in got] == columns, (name, links)
