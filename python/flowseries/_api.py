"""The result file and the series files, over the C interface."""
import ctypes
import operator
import os
import sys
import warnings

import numpy

from . import _c

__version__ = _c.version().decode()

_KINDS = {'H': 0, 'h': 0, 'P': 1, 'p': 1, 'Q': 2, 'q': 2, 'va': 3, 'VA': 3, 'Va': 3, 'vb': 4,
          'VB': 4, 'Vb': 4}


class Error(Exception):
    """A failure: .number is the failure flowseries would end with (24 end of file, 29 not found,
    39 read error, 67 a record shorter than its content, 102 a point outside the tables, ...),
    .path the file, and the text is flowseries' report line."""

    def __init__(self, message, number=0, path=''):
        super().__init__(message)
        self.number = number
        self.path = path


def _text(raw):
    return raw.decode('utf-8', errors='replace') if raw else ''


def _check(status):
    if status != 0:
        raise Error(_text(_c.last_error()), status, _text(_c.last_error_path()))


def _name(path):
    """A path for the library: a str or os.PathLike as UTF-8 (the bytes it stands for on POSIX)."""
    path = os.fspath(path)
    if isinstance(path, bytes):
        return path
    if sys.platform == 'win32':
        return path.encode('utf-8')
    return os.fsencode(path)


def _kind(kind):
    try:
        return _KINDS[kind]
    except (KeyError, TypeError):
        raise ValueError("kind is one of 'H', 'P', 'Q', 'va', 'vb', not %r" % (kind,)) from None


def _points(points):
    """One int, or a sequence of them (numpy integers too); a float with a whole value counts as
    that integer; anything else is refused."""
    def one(item):
        if isinstance(item, (str, bytes)):
            raise TypeError('a point is a node or link number, not the text %r' % (item,))
        try:
            value = operator.index(item)
        except TypeError:
            try:
                number = float(item)
            except (TypeError, ValueError):
                raise TypeError('a point is an integer node or link number, not %r' % (item,)) from None
            if not number.is_integer():
                raise ValueError('a point is a whole node or link number, not %r' % (item,))
            value = int(number)
        if not -2 ** 31 <= value < 2 ** 31:
            raise ValueError('point %d is beyond 32 bits' % value)
        return value
    if isinstance(points, (str, bytes)):
        raise TypeError('points are numbers, not text')
    if not hasattr(points, '__iter__'):
        return [one(points)]
    return [one(p) for p in points]


def _array_of(points):
    array = (ctypes.c_int32 * max(len(points), 1))(*points)
    return array, len(points)


def _steps(steps, max_steps=-1, strides=True):
    """A Python slice of the steps (0-based, end exclusive) as the library's 1-based inclusive
    range (first, last, stride)."""
    first, last, stride = 1, max_steps if max_steps >= 0 else -1, 1
    if steps is None:
        return first, last, stride
    if not isinstance(steps, slice):
        raise TypeError('steps is a slice of step indices, as slice(0, 100) or slice(10, None, 5)')
    for part in (steps.start, steps.stop):
        if part is not None and operator.index(part) < 0:
            raise ValueError('steps: negative indices are not taken (the end is not known)')
    if steps.start is not None:
        first = operator.index(steps.start) + 1
    if steps.stop is not None:
        stop = operator.index(steps.stop)
        last = min(stop, max_steps) if max_steps >= 0 else stop
    if steps.step is not None:
        stride = operator.index(steps.step)
        if stride == 0:
            raise ValueError('steps: the slice step cannot be zero')
        if stride < 0:
            raise ValueError('steps: the slice step cannot be negative')
        if stride != 1 and not strides:
            raise ValueError('steps: statistics take every step of the slice')
    if last >= 0 and last < first:
        last = 0
    return first, last, stride


def _copy(pointer, shape, dtype):
    count = int(numpy.prod(shape))
    if count == 0 or not pointer:
        return numpy.zeros(shape, dtype=dtype)
    return numpy.ctypeslib.as_array(pointer, shape=(count,)).astype(dtype, copy=True).reshape(shape)


def _pandas():
    try:
        import pandas
    except ImportError:
        return None
    return pandas


def _frame(values, times, columns):
    pandas = _pandas()
    if pandas is None:
        return None
    return pandas.DataFrame(values, index=pandas.Index(times, name='time'), columns=columns)


class ResultFile:
    """An open result file: its header, and its series read on demand. The file opened is kept
    until the object goes: a file renamed over its path later is another file."""

    def __init__(self, handle):
        self._handle = handle
        self._times = None
        self._times_cut = False

    def __del__(self):
        self.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        handle, self._handle = getattr(self, '_handle', None), None
        if handle:
            _c.close(handle)

    def _live(self):
        if not self._handle:
            raise ValueError('the result file is closed')
        return self._handle

    @property
    def path(self):
        """The file, resolved."""
        length = ctypes.c_size_t(0)
        _check(_c.path(self._live(), None, 0, ctypes.byref(length)))
        buffer = ctypes.create_string_buffer(length.value + 1)
        _check(_c.path(self._live(), buffer, len(buffer), None))
        return buffer.value.decode('utf-8', errors='surrogateescape')

    @property
    def title(self):
        """The 80 bytes of the title record, as written (code page 932 text)."""
        buffer = ctypes.create_string_buffer(81)
        _check(_c.title(self._live(), buffer))
        return buffer.raw[:80]

    @property
    def nodes(self):
        """N as written."""
        return _c.node_count(self._live())

    @property
    def links(self):
        """M as written."""
        return _c.link_count(self._live())

    @property
    def node_table(self):
        """The node table: arrays a and base, one entry per node."""
        n = max(self.nodes, 0)
        a, base = numpy.zeros(n), numpy.zeros(n)
        _check(_c.node_table(self._live(), a.ctypes.data_as(_c.c_double_p),
                             base.ctypes.data_as(_c.c_double_p)))
        return a, base

    @property
    def link_table(self):
        """The link table: arrays k1 to k5, one entry per link."""
        m = max(self.links, 0)
        k = numpy.zeros((max(m, 1), 5), dtype=numpy.int32)
        _check(_c.link_table(self._live(), k.ctypes.data_as(_c.c_int32_p)))
        return [k[:m, t].copy() for t in range(5)]

    @property
    def times(self):
        """The times of every step (one pass over the step heads, then kept); of a cut file the
        complete steps' times, with a warning."""
        if self._times is None:
            steps, cut = ctypes.c_int64(0), ctypes.c_int32(0)
            _check(_c.step_count(self._live(), ctypes.byref(steps), ctypes.byref(cut)))
            times = numpy.zeros(steps.value)
            count = ctypes.c_int64(0)
            _check(_c.times(self._live(), times.ctypes.data_as(_c.c_double_p), steps.value,
                            ctypes.byref(count)))
            self._times, self._times_cut = times, bool(cut.value)
        if self._times_cut:
            warnings.warn('%s: the file is cut; these are the times of its %d complete steps'
                          % (self.path, len(self._times)), stacklevel=2)
        return self._times.copy()

    def series(self, kind, points, max_steps=-1, frame=False, steps=None):
        """The series of the listed points at every step (or the first max_steps): kind 'H'
        (base + p), 'P', 'Q' for node numbers, 'va', 'vb' for link numbers. A numpy array of
        steps x points, or with frame=True a pandas DataFrame indexed by time with a column per
        point. One pass over the file, reading only the values asked for; a point of 0 or less
        or above N or M gives zeros, as in the program's files. steps=slice(a, b, k) takes steps
        a, a + k, ... before b (0-based) and reads only their values."""
        code = _kind(kind)
        asked = _points(points)
        first, last, stride = _steps(steps, max_steps)
        array, count = _array_of(asked)
        out = _c.Series()
        _check(_c.read_series(self._live(), code, array, count, first, last, stride,
                              ctypes.byref(out)))
        try:
            values = _copy(out.values, (out.steps, len(asked)), float)
            times = _copy(out.times, (out.steps,), float)
        finally:
            _c.free_series(ctypes.byref(out))
        if not frame:
            return values
        table = _frame(values, times, asked)
        if table is None:
            raise ValueError('frame=True needs pandas, which is not installed')
        return table

    def stats(self, kind, points=None, steps=None):
        """The statistics of kind 'H', 'P', 'Q' (nodes) or 'va', 'vb' (links) at the listed
        points (None: every node or link) over the steps of a slice (None: all), in one pass:
        a pandas DataFrame indexed by point with the columns steps, nan, min, time_of_min, max,
        time_of_max, mean (NaN where every value is NaN); without pandas a dict of numpy arrays
        with 'point'. A cut file gives the figures of its complete steps, with a warning."""
        code = _kind(kind)
        asked = [] if points is None else _points(points)
        first, last, _ = _steps(steps, strides=False)
        array, count = _array_of(asked)
        out = _c.Statistics()
        _check(_c.read_statistics(self._live(), code, array, count, first, last,
                                  ctypes.byref(out)))
        try:
            n = out.points
            columns = {'steps': _copy(out.steps, (n,), numpy.int64),
                       'nan': _copy(out.nan, (n,), numpy.int64),
                       'min': _copy(out.min, (n,), float),
                       'time_of_min': _copy(out.time_of_min, (n,), float),
                       'max': _copy(out.max, (n,), float),
                       'time_of_max': _copy(out.time_of_max, (n,), float),
                       'mean': _copy(out.mean, (n,), float)}
            index = _copy(out.point_numbers, (n,), numpy.int32)
            cut = bool(out.cut)
        finally:
            _c.free_statistics(ctypes.byref(out))
        if cut:
            warnings.warn('%s: the file is cut; the figures are those of the complete steps '
                          'before the cut' % self.path, stacklevel=2)
        pandas = _pandas()
        if pandas is None:
            columns['point'] = index
            return columns
        return pandas.DataFrame(columns, index=pandas.Index(index, name='point'))

    def info(self):
        """What the file holds: title, nodes, links, steps, complete, cut, first_time,
        last_time, min_time_step, max_time_step, times_not_increasing."""
        out = _c.Info()
        _check(_c.read_info(self._live(), ctypes.byref(out)))
        return {'title': out.title[:80], 'nodes': out.nodes, 'links': out.links,
                'steps': out.steps, 'complete': bool(out.complete),
                'cut': None if out.complete else out.cut.decode('utf-8', errors='replace'),
                'first_time': out.first_time, 'last_time': out.last_time,
                'min_time_step': out.min_time_step, 'max_time_step': out.max_time_step,
                'times_not_increasing': out.times_not_increasing,
                'continued_steps': out.continued_steps}


def open(path):
    """Opens a result file and reads its header."""
    handle = _c.File()
    _check(_c.open_file(_name(path), ctypes.byref(handle)))
    return ResultFile(handle)


def read_csv(path, frame=True, partial=False, links=None):
    """Reads a series file (HTIME.CSV, PTIME.CSV, QTIME.csv, VTIME.csv): continuation lines
    joined, the trailing comma dropped, three-digit exponents, NaN and Infinity read as numbers.
    A pandas DataFrame indexed by time with a column per point ((link, 'va'), (link, 'vb') in a
    file of links); without pandas, or with frame=False, a tuple (times, columns, values) of
    numpy arrays. Text not of the form flowseries writes (a value cut short, a stray byte, a last
    line without its line end) raises Error naming its line and column; with partial=True the
    rows before it come back with a warning. A file whose name contains VTIME (any case) holds
    links; links=True or False says so for a file of another name."""
    name = _name(path)
    out = _c.Series()
    _check(_c.read_series_file(name, 1 if partial else 0, ctypes.byref(out)))
    try:
        damage = _text(_c.last_error()) if out.cut else ''
        points = _copy(out.point_numbers, (out.points,), numpy.int32).tolist()
        values = _copy(out.values, (out.steps, out.points), float)
        times = _copy(out.times, (out.steps,), float)
        holds_links = bool(out.links)
    finally:
        _c.free_series(ctypes.byref(out))
    if damage:
        warnings.warn(damage, stacklevel=2)
    if links is not None:
        holds_links = bool(links)
    shown = os.fsdecode(os.fspath(path))
    if holds_links and len(points) % 2:
        raise ValueError('%s: a file of links names each link twice (va, vb); this one has %d '
                         'columns' % (shown, len(points)))
    columns = [(p, 'va' if c % 2 == 0 else 'vb') for c, p in enumerate(points)] if holds_links \
        else points
    if frame:
        pandas = _pandas()
        if pandas is not None:
            if holds_links:
                columns = pandas.MultiIndex.from_tuples(columns, names=('link', 'value'))
            return pandas.DataFrame(values, index=pandas.Index(times, name='time'),
                                    columns=columns)
    return times, columns, values


def extract(result, points_file, folder):
    """Writes the series files of the point-list file into folder, byte for byte as the program
    writes them."""
    _check(_c.extract(_name(result), _name(points_file), _name(folder)))
