// The Python module flowseries: the result file and the series files as numpy arrays (and pandas
// frames where pandas is installed), read with the program's own reader.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "flowseries/flowseries.h"

namespace py = pybind11;

namespace {

flowseries::Quantity quantity_of(const std::string& kind) {
  if (kind == "H" || kind == "h") return flowseries::Quantity::kH;
  if (kind == "P" || kind == "p") return flowseries::Quantity::kP;
  if (kind == "Q" || kind == "q") return flowseries::Quantity::kQ;
  if (kind == "va" || kind == "VA" || kind == "Va") return flowseries::Quantity::kVa;
  if (kind == "vb" || kind == "VB" || kind == "Vb") return flowseries::Quantity::kVb;
  throw py::value_error("kind is one of 'H', 'P', 'Q', 'va', 'vb', not '" + kind + "'");
}

py::array_t<double> matrix(const flowseries::Series& s) {
  const auto steps = static_cast<py::ssize_t>(s.times.size());
  const auto columns = static_cast<py::ssize_t>(s.points.size());
  py::array_t<double> out({steps, columns});
  if (!s.values.empty())
    std::memcpy(out.mutable_data(), s.values.data(), s.values.size() * sizeof(double));
  return out;
}

py::array_t<double> vector_of(const std::vector<double>& v) {
  py::array_t<double> out(static_cast<py::ssize_t>(v.size()));
  if (!v.empty()) std::memcpy(out.mutable_data(), v.data(), v.size() * sizeof(double));
  return out;
}

// A pandas DataFrame indexed by time, or None where pandas is not installed.
py::object frame(const py::array_t<double>& values, const py::array_t<double>& times,
                 const py::object& columns) {
  py::object pandas;
  try {
    pandas = py::module_::import("pandas");
  } catch (const py::error_already_set&) {
    return py::none();
  }
  py::object index = pandas.attr("Index")(times, py::arg("name") = "time");
  return pandas.attr("DataFrame")(values, py::arg("index") = index, py::arg("columns") = columns);
}

// A path as Python code holds it: a str, or any os.PathLike (pathlib.Path).
std::string path_of(const py::object& path) {
  py::object text = py::module_::import("os").attr("fspath")(path);
  if (py::isinstance<py::bytes>(text)) return text.cast<std::string>();
  if (!py::isinstance<py::str>(text)) throw py::type_error("a path is a str or os.PathLike");
  return text.cast<std::string>();
}

// Point numbers as Python code holds them: one int, or a sequence of ints (numpy integers too);
// a float with a whole value counts as that integer, any other is refused.
std::vector<std::int32_t> points_of(const py::object& points) {
  const py::object index = py::module_::import("operator").attr("index");
  const auto one = [&](const py::handle& item) -> std::int32_t {
    py::object number;
    try {
      number = index(item);
    } catch (const py::error_already_set&) {
      if (py::isinstance<py::str>(item) || py::isinstance<py::bytes>(item))
        throw py::type_error("a point is a node or link number, not the text " +
                             py::repr(item).cast<std::string>());
      const py::object as_float = py::module_::import("builtins").attr("float");
      double v = 0;
      try {
        v = as_float(item).cast<double>();
      } catch (const py::error_already_set&) {
        throw py::type_error("a point is an integer node or link number, not " +
                             py::repr(item).cast<std::string>());
      }
      if (!(v == std::trunc(v)) || v < -2147483648.0 || v > 2147483647.0)
        throw py::value_error("a point is a whole node or link number, not " +
                              py::repr(item).cast<std::string>());
      return static_cast<std::int32_t>(v);
    }
    const long long v = number.cast<long long>();
    if (v < INT32_MIN || v > INT32_MAX)
      throw py::value_error("point " + std::to_string(v) + " is beyond 32 bits");
    return static_cast<std::int32_t>(v);
  };
  std::vector<std::int32_t> out;
  if (py::isinstance<py::str>(points) || py::isinstance<py::bytes>(points))
    throw py::type_error("points are numbers, not text");
  if (!py::hasattr(points, "__iter__")) {
    out.push_back(one(points));
    return out;
  }
  for (const py::handle item : points) out.push_back(one(item));
  return out;
}

// A Python slice of the steps (0-based, end exclusive) as the library's 1-based inclusive range.
struct StepSlice {
  std::int64_t first = 1, last = -1, stride = 1;
};

StepSlice step_slice(const py::object& steps, std::int64_t max_steps, bool strides) {
  StepSlice range;
  if (max_steps >= 0) range.last = max_steps;
  if (steps.is_none()) return range;
  if (!py::isinstance<py::slice>(steps))
    throw py::type_error(
        "steps is a slice of step indices, as slice(0, 100) or slice(10, None, 5)");
  const auto part = [&](const char* name) -> std::optional<std::int64_t> {
    const py::object v = steps.attr(name);
    if (v.is_none()) return std::nullopt;
    const std::int64_t n = v.cast<std::int64_t>();
    if (n < 0)
      throw py::value_error("steps: negative indices are not taken (the end is not known)");
    return n;
  };
  if (const auto start = part("start")) range.first = *start + 1;
  if (const auto stop = part("stop"))
    range.last = max_steps >= 0 ? std::min(*stop, max_steps) : *stop;
  if (const auto step = part("step")) {
    if (*step == 0) throw py::value_error("steps: the slice step cannot be zero");
    if (*step != 1 && !strides)
      throw py::value_error("steps: statistics take every step of the slice");
    range.stride = *step;
  }
  if (range.last >= 0 && range.last < range.first) range.last = 0;
  return range;
}

class PyResultFile {
 public:
  explicit PyResultFile(flowseries::ResultFile file) : file_(std::move(file)) {}

  py::object series(const std::string& kind, const py::object& point_numbers,
                    std::int64_t max_steps, bool as_frame, const py::object& steps) {
    const flowseries::Quantity q = quantity_of(kind);
    const std::vector<std::int32_t> points = points_of(point_numbers);
    const StepSlice range = step_slice(steps, max_steps, true);
    flowseries::Series s;
    {
      py::gil_scoped_release unlocked;
      s = file_.series(q, points, range.first, range.last, range.stride);
    }
    py::array_t<double> values = matrix(s);
    if (!as_frame) return values;
    py::object table = frame(values, vector_of(s.times), py::cast(s.points));
    if (table.is_none()) throw py::value_error("frame=True needs pandas, which is not installed");
    return table;
  }

  // The statistics of one kind: a DataFrame indexed by point, or a dict of numpy arrays.
  py::object stats(const std::string& kind, const py::object& points, const py::object& steps) {
    const flowseries::Quantity q = quantity_of(kind);
    const StepSlice range = step_slice(steps, -1, false);
    const std::vector<std::int32_t> asked =
        points.is_none() ? std::vector<std::int32_t>{} : points_of(points);
    flowseries::Statistics st;
    {
      py::gil_scoped_release unlocked;
      st = file_.statistics(q, asked, range.first, range.last);
    }
    if (st.status != "complete")
      py::module_::import("warnings")
          .attr("warn")(file_.path() +
                            ": the file is cut; the figures are those of the complete "
                            "steps before the cut",
                        py::arg("stacklevel") = 2);
    py::dict columns;
    const auto counts = [](const std::vector<std::int64_t>& v) {
      py::array_t<std::int64_t> out(static_cast<py::ssize_t>(v.size()));
      if (!v.empty()) std::memcpy(out.mutable_data(), v.data(), v.size() * sizeof(std::int64_t));
      return out;
    };
    columns["steps"] = counts(st.steps);
    columns["nan"] = counts(st.nan);
    columns["min"] = vector_of(st.min);
    columns["time_of_min"] = vector_of(st.time_of_min);
    columns["max"] = vector_of(st.max);
    columns["time_of_max"] = vector_of(st.time_of_max);
    columns["mean"] = vector_of(st.mean);
    py::array_t<std::int32_t> index(static_cast<py::ssize_t>(st.points.size()));
    if (!st.points.empty())
      std::memcpy(index.mutable_data(), st.points.data(), st.points.size() * sizeof(std::int32_t));
    try {
      py::object pandas = py::module_::import("pandas");
      return pandas.attr("DataFrame")(
          columns, py::arg("index") = pandas.attr("Index")(index, py::arg("name") = "point"));
    } catch (const py::error_already_set&) {
      columns["point"] = index;
      return columns;
    }
  }

  py::dict info() {
    flowseries::Info i;
    {
      py::gil_scoped_release unlocked;
      i = file_.info();
    }
    py::dict out;
    out["title"] = py::bytes(i.title);
    out["nodes"] = i.nodes;
    out["links"] = i.links;
    out["steps"] = i.steps;
    out["complete"] = i.complete;
    out["cut"] = i.complete ? py::object(py::none()) : py::object(py::str(i.cut));
    out["first_time"] = i.first_time;
    out["last_time"] = i.last_time;
    out["min_time_step"] = i.min_time_step;
    out["max_time_step"] = i.max_time_step;
    out["times_not_increasing"] = i.times_not_increasing;
    return out;
  }

  py::array_t<double> times() {
    const std::vector<double>* t = nullptr;
    bool cut = false;
    {
      py::gil_scoped_release unlocked;
      t = &file_.times();
      cut = file_.times_cut();
    }
    if (cut)
      py::module_::import("warnings")
          .attr("warn")(file_.path() + ": the file is cut; these are the times of its " +
                            std::to_string(t->size()) + " complete steps",
                        py::arg("stacklevel") = 2);
    return vector_of(*t);
  }

  flowseries::ResultFile file_;
};

py::object read_csv(const py::object& path_like, bool as_frame, bool partial,
                    const py::object& links) {
  const std::string path = path_of(path_like);
  flowseries::Series s;
  {
    py::gil_scoped_release unlocked;
    s = flowseries::read_series_file(path, partial);
  }
  if (!links.is_none()) s.links = links.cast<bool>();
  if (s.links && s.points.size() % 2 != 0)
    throw py::value_error(path + ": a file of links names each link twice (va, vb); this one has " +
                          std::to_string(s.points.size()) + " columns");
  if (!s.damage.empty()) {
    const std::string& d = s.damage;
    py::object message = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeUTF8(d.data(), static_cast<py::ssize_t>(d.size()), "replace"));
    py::module_::import("warnings").attr("warn")(message, py::arg("stacklevel") = 2);
  }
  py::array_t<double> values = matrix(s);
  py::array_t<double> times = vector_of(s.times);
  py::object columns = py::cast(s.points);
  if (s.links) {
    py::list pairs;
    for (std::size_t c = 0; c < s.points.size(); ++c)
      pairs.append(py::make_tuple(s.points[c], c % 2 == 0 ? "va" : "vb"));
    columns = pairs;
  }
  if (as_frame) {
    py::object table;
    if (s.links) {
      py::object pandas = py::module_::import("pandas");
      columns =
          pandas.attr("MultiIndex")
              .attr("from_tuples")(columns, py::arg("names") = py::make_tuple("link", "value"));
    }
    table = frame(values, times, columns);
    if (!table.is_none()) return table;
  }
  return py::make_tuple(times, columns, values);
}

}  // namespace

PYBIND11_MODULE(_native, m) {
  m.doc() =
      "The result file of a network flow simulation and the series files of flowseries.\n\n"
      "    import flowseries\n"
      "    result = flowseries.open('RESULT.BIN')\n"
      "    h = result.series('H', [5, 17])      # numpy array, steps x points\n"
      "    frame = result.series('H', [5, 17], frame=True)   # pandas, indexed by time\n"
      "    table = flowseries.read_csv('HTIME.CSV')\n"
      "    flowseries.extract('RESULT.BIN', 'POINTS.LST', 'out')\n\n"
      "Failures raise flowseries.Error, whose .number is the failure flowseries ends with\n"
      "(24 end of file, 29 not found, 39 read error, 67 a record shorter than its content)\n"
      "and whose .path is the file.";

  static py::exception<flowseries::Error> error(m, "Error");
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const flowseries::Error& e) {
      // Reports and paths are bytes (code page 932 names, damaged files): decoded with
      // replacement, so that every failure arrives as Error and never as a decoding error.
      const auto text = [](const std::string& bytes) {
        return py::reinterpret_steal<py::object>(
            PyUnicode_DecodeUTF8(bytes.data(), static_cast<py::ssize_t>(bytes.size()), "replace"));
      };
      py::object exception = py::reinterpret_borrow<py::object>(error.ptr());
      py::object raised = exception(text(e.what()));
      raised.attr("number") = e.number();
      raised.attr("path") = text(e.path());
      PyErr_SetObject(error.ptr(), raised.ptr());
    }
  });

  py::class_<PyResultFile>(m, "ResultFile",
                           "An open result file: its header, and its series read on demand.")
      .def_property_readonly(
          "path", [](const PyResultFile& r) { return r.file_.path(); }, "The file, resolved.")
      .def_property_readonly(
          "title", [](const PyResultFile& r) { return py::bytes(r.file_.title()); },
          "The 80 bytes of the title record, as written (code page 932 text).")
      .def_property_readonly(
          "nodes", [](const PyResultFile& r) { return r.file_.node_count(); }, "N as written.")
      .def_property_readonly(
          "links", [](const PyResultFile& r) { return r.file_.link_count(); }, "M as written.")
      .def_property_readonly(
          "node_table",
          [](const PyResultFile& r) {
            return py::make_tuple(vector_of(r.file_.node_a()), vector_of(r.file_.node_base()));
          },
          "The node table: arrays a and base, one entry per node.")
      .def_property_readonly(
          "link_table",
          [](const PyResultFile& r) {
            py::list tables;
            for (int t = 0; t < 5; ++t) tables.append(py::array(py::cast(r.file_.link_k(t))));
            return tables;
          },
          "The link table: arrays k1 to k5, one entry per link.")
      .def_property_readonly("times", &PyResultFile::times,
                             "The times of every step (one pass over the file, then kept).")
      .def("stats", &PyResultFile::stats, py::arg("kind"), py::arg("points") = py::none(),
           py::arg("steps") = py::none(),
           "The statistics of kind 'H', 'P', 'Q' (nodes) or 'va', 'vb' (links) at the listed\n"
           "points (None: every node or link) over the steps of a slice (None: all), in one\n"
           "pass: a pandas DataFrame indexed by point with the columns steps, nan, min,\n"
           "time_of_min, max, time_of_max, mean (NaN where every value is NaN); without pandas a\n"
           "dict of numpy arrays with 'point'. A cut file gives the figures of its complete\n"
           "steps, with a warning.")
      .def("info", &PyResultFile::info,
           "What the file holds: title, nodes, links, steps, complete, cut, first_time,\n"
           "last_time, min_time_step, max_time_step, times_not_increasing.")
      .def("series", &PyResultFile::series, py::arg("kind"), py::arg("points"),
           py::arg("max_steps") = -1, py::arg("frame") = false, py::arg("steps") = py::none(),
           "The series of the listed points at every step (or the first max_steps): kind 'H'\n"
           "(base + p), 'P', 'Q' for node numbers, 'va', 'vb' for link numbers. A numpy array\n"
           "of steps x points, or with frame=True a pandas DataFrame indexed by time with a\n"
           "column per point. One pass over the file, reading only the values asked for; a\n"
           "point of 0 or less or above N or M gives zeros, as in the program's files.\n"
           "steps=slice(a, b, k) takes steps a, a + k, ... before b (0-based) and reads only\n"
           "their values.");

  m.attr("__version__") = FLOWSERIES_VERSION;
  m.def(
      "open",
      [](const py::object& path_like) {
        const std::string path = path_of(path_like);
        flowseries::ResultFile file = [&] {
          py::gil_scoped_release unlocked;
          return flowseries::ResultFile::open(path);
        }();
        return PyResultFile(std::move(file));
      },
      py::arg("path"), "Opens a result file and reads its header.");
  m.def("read_csv", &read_csv, py::arg("path"), py::arg("frame") = true, py::arg("partial") = false,
        py::arg("links") = py::none(),
        "Reads a series file (HTIME.CSV, PTIME.CSV, QTIME.csv, VTIME.csv): continuation lines\n"
        "joined, the trailing comma dropped, three-digit exponents, NaN and Infinity read as\n"
        "numbers. A pandas DataFrame indexed by time with a column per point ((link, 'va'),\n"
        "(link, 'vb') in VTIME.csv); without pandas, or with frame=False, a tuple (times,\n"
        "columns, values) of numpy arrays. Text not of the form flowseries writes (a value\n"
        "cut short, a stray byte, a last line without its line end) raises Error naming its\n"
        "line and column; with partial=True the rows before it come back with a warning.\n"
        "A file whose name contains VTIME (any case) holds links; links=True or False says so\n"
        "for a file of another name.");
  m.def(
      "extract",
      [](const py::object& result, const py::object& points, const py::object& folder) {
        const std::string r = path_of(result), p = path_of(points), f = path_of(folder);
        py::gil_scoped_release unlocked;
        flowseries::extract(r, p, f);
      },
      py::arg("result"), py::arg("points_file"), py::arg("folder"),
      "Writes the series files of the point-list file into folder, byte for byte as the\n"
      "program writes them.");
}
