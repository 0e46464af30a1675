"""The result file of a network flow simulation and the series files of flowseries, read with
the program's own reader through its C library (libflowseries, flowseries.dll on Windows).

    import flowseries
    result = flowseries.open('RESULT.BIN')
    h = result.series('H', [5, 17])                   # numpy array, steps x points
    frame = result.series('H', [5, 17], frame=True)   # pandas, indexed by time
    peaks = result.stats('H')                         # every node's lowest, highest, mean
    table = flowseries.read_csv('HTIME.CSV')
    flowseries.extract('RESULT.BIN', 'POINTS.LST', 'out')
    ds = flowseries.open_dataset('RESULT.BIN')        # xarray, lazy with dask
    runs = flowseries.open_many(['run1.bin', 'run2.bin'])

Failures raise flowseries.Error, whose .number is the failure flowseries ends with (24 end of
file, 29 not found, 39 read error, 67 a record shorter than its content) and whose .path is the
file.
"""
from ._api import Error, ResultFile, __version__, extract, open, read_csv
from .ensembles import open_dataset, open_many

__all__ = ['Error', 'ResultFile', '__version__', 'extract', 'open', 'read_csv', 'open_dataset',
           'open_many']
