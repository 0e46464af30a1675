"""Result files as xarray Datasets: one run (open_dataset) or many stacked along a member
dimension (open_many), read lazily through dask when it is installed.

Each chunk of steps is read by a call that opens the file by its path, reads only that range of
steps through the library, and closes it again: nothing in a task holds an open file, so the
tasks run on the worker processes of a dask.distributed cluster as well as in this process.
"""

import numpy

from . import _api as _native

_KINDS = ('H', 'P', 'Q', 'va', 'vb')
_NODE_KINDS = ('H', 'P', 'Q')
# Steps per chunk: about this many values per chunk and kind.
_CHUNK_VALUES = 4_000_000


def _xarray():
    try:
        import xarray
    except ImportError as missing:
        raise ImportError('open_dataset and open_many need xarray '
                          '(Debian: apt-get install python3-xarray)') from missing
    return xarray


def _dask_array():
    try:
        import dask.array
        import dask
    except ImportError:
        return None
    return dask


def _points(given, count):
    return list(range(1, count + 1)) if given is None else [int(p) for p in given]


def read_block(path, kind, points, start, stop):
    """Steps start..stop-1 (0-based) of one kind at the points, as a steps x points array; opens
    the file by its path, so that it runs wherever the task is sent."""
    if not points or stop <= start:
        return numpy.zeros((max(stop - start, 0), len(points)))
    return _native.open(path).series(kind, points, steps=slice(start, stop))


def read_times(path, steps):
    """The times of a file's first `steps` steps, NaN beyond the file's own."""
    out = numpy.full(steps, numpy.nan)
    try:
        import warnings
        with warnings.catch_warnings():
            warnings.simplefilter('ignore')
            times = _native.open(path).times
    except _native.Error:
        return out
    n = min(steps, len(times))
    out[:n] = times[:n]
    return out


def _chunk_steps(points, chunk_steps):
    if chunk_steps is not None:
        if int(chunk_steps) < 1:
            raise ValueError('chunk_steps is a number of steps from 1')
        return int(chunk_steps)
    return max(1, _CHUNK_VALUES // max(len(points), 1))


def _lazy_kind(dask, path, kind, points, steps, total, chunk):
    """One member's values of a kind: its own steps read in chunks, NaN after them up to
    `total` steps (a shorter run is padded, never cut)."""
    import dask.array as da
    parts = []
    for start in range(0, steps, chunk):
        stop = min(steps, start + chunk)
        block = dask.delayed(read_block, pure=True)(path, kind, points, start, stop)
        parts.append(da.from_delayed(block, shape=(stop - start, len(points)), dtype=float))
    if total > steps:
        parts.append(da.full((total - steps, len(points)), numpy.nan, chunks=(chunk, len(points))))
    if not parts:
        return da.zeros((0, len(points)), chunks=(1, max(len(points), 1)))
    return da.concatenate(parts, axis=0)


def _eager_kind(path, kind, points, steps, total):
    out = numpy.full((total, len(points)), numpy.nan)
    if steps > 0 and points:
        out[:steps] = read_block(path, kind, points, 0, steps)
    return out


def _describe(path):
    """What the header and the step heads of a file say, without its values: (info dict or
    None, status text)."""
    try:
        info = _native.open(path).info()
    except _native.Error as failure:
        return None, 'failed %d' % failure.number
    return info, 'complete' if info['complete'] else 'cut'


def _title_text(title):
    return title.decode('cp932', errors='replace').rstrip()


def open_dataset(path, nodes=None, links=None, chunk_steps=None):
    """A result file as an xarray Dataset: H, P, Q on (time, node) and va, vb on (time, link),
    the coordinates time (exact), node and link, the title and counts as attributes. With dask
    installed the values are dask arrays in chunks of steps, each read from the file only when
    computed; without it they are read at once. A cut file gives its complete steps."""
    xarray = _xarray()
    path = str(path) if not isinstance(path, (str, bytes)) else path
    info, status = _describe(path)
    if info is None:
        _native.open(path)  # raises the failure with its number and report line
    node_points = _points(nodes, info['nodes'])
    link_points = _points(links, info['links'])
    steps = int(info['steps'])
    times = read_times(path, steps)
    dask = _dask_array()
    data = {}
    for kind in _KINDS:
        points = node_points if kind in _NODE_KINDS else link_points
        dims = ('time', 'node' if kind in _NODE_KINDS else 'link')
        if dask is not None:
            values = _lazy_kind(dask, path, kind, points, steps, steps,
                                _chunk_steps(points, chunk_steps))
        else:
            values = _eager_kind(path, kind, points, steps, steps)
        data[kind] = (dims, values)
    return xarray.Dataset(
        data, coords={'time': times, 'node': node_points, 'link': link_points},
        attrs={'title': _title_text(info['title']), 'nodes': info['nodes'],
               'links': info['links'], 'steps': steps, 'status': status,
               'source': path})


def open_many(paths, nodes=None, links=None, chunk_steps=None, names=None):
    """Runs stacked along a member dimension: H, P, Q on (member, step, node), va, vb on (member,
    step, link), time on (member, step), and status per member ('complete', 'cut', 'failed NN').
    A run with fewer steps is padded with NaN, never cut; a file that cannot be read keeps its
    place, all NaN, and says why in its status. Opening reads each file's header and step heads
    (to know its steps); the values are read when computed, chunk by chunk, by tasks that open
    the files by path (fit for the workers of a dask.distributed cluster)."""
    xarray = _xarray()
    paths = [str(p) if not isinstance(p, (str, bytes)) else p for p in paths]
    if names is not None and len(names) != len(paths):
        raise ValueError('names: one per path')
    described = [_describe(p) for p in paths]
    readable = [info for info, _ in described if info is not None]
    node_count = max((info['nodes'] for info in readable), default=0)
    link_count = max((info['links'] for info in readable), default=0)
    node_points = _points(nodes, node_count)
    link_points = _points(links, link_count)
    total = max((int(info['steps']) for info in readable), default=0)
    dask = _dask_array()
    data = {}
    for kind in _KINDS:
        points = node_points if kind in _NODE_KINDS else link_points
        chunk = _chunk_steps(points, chunk_steps)
        members = []
        for path, (info, _) in zip(paths, described):
            steps = int(info['steps']) if info is not None else 0
            if dask is not None:
                members.append(_lazy_kind(dask, path, kind, points, steps, total, chunk))
            else:
                members.append(_eager_kind(path, kind, points, steps, total))
        if dask is not None:
            import dask.array as da
            stacked = da.stack(members) if members else da.zeros((0, total, len(points)))
        else:
            stacked = numpy.stack(members) if members else numpy.zeros((0, total, len(points)))
        data[kind] = (('member', 'step', 'node' if kind in _NODE_KINDS else 'link'), stacked)
    if dask is not None:
        import dask.array as da
        times = [da.from_delayed(dask.delayed(read_times, pure=True)(p, total), shape=(total,),
                                 dtype=float) if info is not None else
                 da.full((total,), numpy.nan, chunks=(max(total, 1),))
                 for p, (info, _) in zip(paths, described)]
        time = da.stack(times) if times else da.zeros((0, total))
    else:
        time = numpy.stack([read_times(p, total) for p in paths]) if paths else \
            numpy.zeros((0, total))
    data['time'] = (('member', 'step'), time)
    data['status'] = (('member',), numpy.array([status for _, status in described], dtype=object))
    member = list(names) if names is not None else paths
    return xarray.Dataset(
        data, coords={'member': member, 'step': numpy.arange(total), 'node': node_points,
                      'link': link_points},
        attrs={'members': len(paths),
               'failed': sum(1 for info, _ in described if info is None),
               'cut': sum(1 for _, status in described if status == 'cut')})
