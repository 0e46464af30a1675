"""The C interface of libflowseries (flowseries.dll on Windows) through ctypes: the library is
found beside this file (as a wheel installs it), at FLOWSERIES_LIBRARY, or where the system keeps
its libraries. ctypes lets go of the interpreter lock during every call, so reads of different
files run side by side in threads."""
import ctypes
import ctypes.util
import os
import sys

_HERE = os.path.dirname(os.path.abspath(__file__))


def _candidates():
    explicit = os.environ.get('FLOWSERIES_LIBRARY')
    if explicit:
        yield explicit
    if sys.platform == 'win32':
        yield os.path.join(_HERE, 'flowseries.dll')
    elif sys.platform == 'darwin':
        yield os.path.join(_HERE, 'libflowseries.1.dylib')
    else:
        yield os.path.join(_HERE, 'libflowseries.so.1')
        yield 'libflowseries.so.1'  # the system's, where the loader looks
    found = ctypes.util.find_library('flowseries')
    if found:
        yield found


def _load():
    tried = []
    for path in _candidates():
        if os.path.sep in path and not os.path.exists(path):
            tried.append(path)
            continue
        try:
            if sys.platform == 'win32':
                return ctypes.CDLL(path, winmode=0)
            return ctypes.CDLL(path)
        except OSError as error:
            tried.append('%s (%s)' % (path, error))
    raise ImportError('the flowseries library was not found: ' + ', '.join(tried) +
                      '; install the wheel (pip install flowseries-*.whl) or set FLOWSERIES_LIBRARY')


lib = _load()

c_int32_p = ctypes.POINTER(ctypes.c_int32)
c_int64_p = ctypes.POINTER(ctypes.c_int64)
c_double_p = ctypes.POINTER(ctypes.c_double)


class Series(ctypes.Structure):
    _fields_ = [('steps', ctypes.c_int64), ('points', ctypes.c_int32), ('times', c_double_p),
                ('values', c_double_p), ('point_numbers', c_int32_p), ('links', ctypes.c_int32),
                ('cut', ctypes.c_int32)]


class Statistics(ctypes.Structure):
    _fields_ = [('points', ctypes.c_int32), ('cut', ctypes.c_int32), ('point_numbers', c_int32_p),
                ('steps', c_int64_p), ('nan', c_int64_p), ('min', c_double_p),
                ('time_of_min', c_double_p), ('max', c_double_p), ('time_of_max', c_double_p),
                ('mean', c_double_p)]


class Info(ctypes.Structure):
    _fields_ = [('title', ctypes.c_char * 81), ('nodes', ctypes.c_int32), ('links', ctypes.c_int32),
                ('steps', ctypes.c_int64), ('first_time', ctypes.c_double),
                ('last_time', ctypes.c_double), ('min_time_step', ctypes.c_double),
                ('max_time_step', ctypes.c_double), ('times_not_increasing', ctypes.c_int64),
                ('complete', ctypes.c_int32), ('cut', ctypes.c_char * 200),
                ('continued_steps', ctypes.c_int64)]


File = ctypes.c_void_p


def _declare(name, result, *arguments):
    function = getattr(lib, name)
    function.restype = result
    function.argtypes = list(arguments)
    return function


open_file = _declare('flowseries_open', ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(File))
close = _declare('flowseries_close', None, File)
path = _declare('flowseries_path', ctypes.c_int, File, ctypes.c_char_p, ctypes.c_size_t,
                ctypes.POINTER(ctypes.c_size_t))
node_count = _declare('flowseries_node_count', ctypes.c_int32, File)
link_count = _declare('flowseries_link_count', ctypes.c_int32, File)
title = _declare('flowseries_title', ctypes.c_int, File, ctypes.c_char_p)
node_table = _declare('flowseries_node_table', ctypes.c_int, File, c_double_p, c_double_p)
link_table = _declare('flowseries_link_table', ctypes.c_int, File, c_int32_p)
step_count = _declare('flowseries_step_count', ctypes.c_int, File, c_int64_p, c_int32_p)
times = _declare('flowseries_times', ctypes.c_int, File, c_double_p, ctypes.c_int64, c_int64_p)
read_series = _declare('flowseries_read_series', ctypes.c_int, File, ctypes.c_int, c_int32_p,
                       ctypes.c_int32, ctypes.c_int64, ctypes.c_int64, ctypes.c_int64,
                       ctypes.POINTER(Series))
free_series = _declare('flowseries_free_series', None, ctypes.POINTER(Series))
read_statistics = _declare('flowseries_read_statistics', ctypes.c_int, File, ctypes.c_int,
                           c_int32_p, ctypes.c_int32, ctypes.c_int64, ctypes.c_int64,
                           ctypes.POINTER(Statistics))
free_statistics = _declare('flowseries_free_statistics', None, ctypes.POINTER(Statistics))
read_info = _declare('flowseries_read_info', ctypes.c_int, File, ctypes.POINTER(Info))
read_series_file = _declare('flowseries_read_series_file', ctypes.c_int, ctypes.c_char_p,
                            ctypes.c_int, ctypes.POINTER(Series))
extract = _declare('flowseries_extract', ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p,
                   ctypes.c_char_p)
last_error = _declare('flowseries_last_error', ctypes.c_char_p)
last_error_path = _declare('flowseries_last_error_path', ctypes.c_char_p)
version = _declare('flowseries_version', ctypes.c_char_p)
