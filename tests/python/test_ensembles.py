"""Result files as xarray Datasets, one run and many: the values of the library and of the
program's series files, padding and status for runs that are short, empty, cut or not result
files at all, computing on a two-process dask.distributed cluster, and writing netCDF.

Run by ctest with the Python tests (PYTHONPATH holding the built package)."""
import os
import subprocess

import numpy
import pytest

import flowseries
from flowseries import ensembles

xarray = pytest.importorskip('xarray')

GENERATOR = os.environ['FLOWSERIES_GEN']
BINARY = os.environ['FLOWSERIES_BINARY']


def generated(path, nodes, links, steps):
    subprocess.run([GENERATOR, '--nodes', str(nodes), '--links', str(links), '--steps', str(steps),
                    str(path)], check=True)
    return path


@pytest.mark.parametrize('lazy', [True, False])
def test_one_run_holds_the_librarys_values(tmp_path, monkeypatch, lazy):
    if not lazy:
        monkeypatch.setattr(ensembles, '_dask_array', lambda: None)
    elif ensembles._dask_array() is None:
        pytest.skip('dask is not installed')
    path = generated(tmp_path / 'r.bin', 30, 7, 11)
    ds = flowseries.open_dataset(path, chunk_steps=4)
    result = flowseries.open(path)
    assert ds.H.dims == ('time', 'node') and ds.va.dims == ('time', 'link')
    assert list(ds.node.values) == list(range(1, 31)) and list(ds.link.values) == list(range(1, 8))
    assert numpy.array_equal(ds.time.values, result.times)
    for kind in ('H', 'P', 'Q'):
        assert numpy.array_equal(ds[kind].values, result.series(kind, list(range(1, 31))))
    for kind in ('va', 'vb'):
        assert numpy.array_equal(ds[kind].values, result.series(kind, list(range(1, 8))))
    assert (ds.attrs['nodes'], ds.attrs['links'], ds.attrs['steps']) == (30, 7, 11)
    # The program's own series file of some nodes, as it rounds them.
    (tmp_path / 'POINTS.LST').write_text('   11    3\n    3\n      1     15     30\n    0\n    0\n    0\n')
    run = subprocess.run([BINARY], cwd=tmp_path, input=b'1\nr.bin\nPOINTS.LST\n', capture_output=True)
    assert run.returncode == 0, run.stderr
    _, _, values = flowseries.read_csv(tmp_path / 'HTIME.CSV', frame=False)
    shown = numpy.vectorize(lambda x: float('%.5E' % x))
    assert numpy.array_equal(values, shown(ds.H.sel(node=[1, 15, 30]).values))
    picked = flowseries.open_dataset(path, nodes=[3, 9], links=[])
    assert picked.H.shape == (11, 2) and picked.va.shape == (11, 0)


def members(tmp_path):
    """A full run, a shorter one, one cut inside a step, one of no steps, one that is no result
    file, and one that is not there."""
    full = generated(tmp_path / 'full.bin', 12, 4, 9)
    short = generated(tmp_path / 'short.bin', 12, 4, 5)
    data = full.read_bytes()
    (tmp_path / 'cut.bin').write_bytes(data[:len(data) - 40])
    generated(tmp_path / 'empty.bin', 12, 4, 0)
    (tmp_path / 'garbage.bin').write_bytes(b'\x07' * 333)
    return [full, short, tmp_path / 'cut.bin', tmp_path / 'empty.bin', tmp_path / 'garbage.bin',
            tmp_path / 'missing.bin']


def test_many_runs_are_padded_never_cut_and_say_what_they_are(tmp_path):
    paths = members(tmp_path)
    ds = flowseries.open_many(paths, chunk_steps=2)
    assert list(ds.status.values) == ['complete', 'complete', 'cut', 'complete', 'failed 24',
                                      'failed 29']
    assert ds.H.dims == ('member', 'step', 'node') and ds.H.shape == (6, 9, 12)
    assert ds.time.shape == (6, 9)
    full = flowseries.open(paths[0])
    h = full.series('H', list(range(1, 13)))
    values = ds.H.values
    assert numpy.array_equal(values[0], h)
    assert numpy.array_equal(values[1, :5], h[:5]) and numpy.isnan(values[1, 5:]).all()
    assert numpy.array_equal(values[2, :8], h[:8]) and numpy.isnan(values[2, 8:]).all()
    assert numpy.isnan(values[3:]).all()
    assert numpy.array_equal(ds.time.values[0], full.times)
    assert numpy.isnan(ds.time.values[1, 5:]).all() and numpy.isnan(ds.time.values[4]).all()
    assert (ds.attrs['failed'], ds.attrs['cut']) == (2, 1)


def test_many_runs_compute_on_a_distributed_cluster(tmp_path):
    distributed = pytest.importorskip('distributed')
    paths = members(tmp_path)
    ds = flowseries.open_many(paths, chunk_steps=3)
    with numpy.errstate(all='ignore'), __import__('warnings').catch_warnings():
        __import__('warnings').simplefilter('ignore', RuntimeWarning)  # all-NaN members
        expected = numpy.nanmax(ds.va.values, axis=1)  # in this process, without a cluster
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        # Nothing that goes to the workers holds an open file: the tasks name paths.
        import warnings
        with warnings.catch_warnings():
            warnings.simplefilter('ignore', RuntimeWarning)  # all-NaN members
            peaks = ds.va.max(dim='step').compute()
        assert client.run(os.getpid).keys()  # the workers ran
    assert numpy.array_equal(peaks.values, expected, equal_nan=True)
    full = flowseries.open(paths[0])
    assert numpy.array_equal(peaks.values[0], full.series('va', [1, 2, 3, 4]).max(axis=0))


def test_datasets_write_netcdf(tmp_path):
    pytest.importorskip('netCDF4')
    paths = members(tmp_path)[:3]
    one = flowseries.open_dataset(paths[0])
    one.to_netcdf(tmp_path / 'one.nc')
    back = xarray.open_dataset(tmp_path / 'one.nc')
    assert numpy.array_equal(back.H.values, one.H.values) and back.attrs['nodes'] == 12
    many = flowseries.open_many(paths)
    many.to_netcdf(tmp_path / 'many.nc')
    back = xarray.open_dataset(tmp_path / 'many.nc')
    assert list(back.status.values) == ['complete', 'complete', 'cut']
    assert numpy.array_equal(back.vb.values, many.vb.values, equal_nan=True)
