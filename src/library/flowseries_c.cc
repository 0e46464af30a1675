// The C interface over the C++ one: every entry catches, and a failure comes back as its number
// with the report line kept per thread.
#include "flowseries/flowseries_c.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "flowseries/flowseries.h"
#include "platform/platform.h"

struct flowseries_file {
  flowseries::ResultFile file;
};

namespace {

thread_local std::string last_error;
thread_local std::string last_error_path;

// Runs `work`; 0, or the failure's number with its report line kept.
template <typename Work>
int guarded(Work work) noexcept {
  try {
    // Callers of the C interface name files in UTF-8 on every system.
    static const bool utf8 = (platform::use_utf8_names(), true);
    (void)utf8;
    last_error.clear();
    last_error_path.clear();
    work();
    return 0;
  } catch (const flowseries::Error& e) {
    last_error = e.what();
    last_error_path = e.path();
    return e.number() != 0 ? e.number() : 39;
  } catch (const std::bad_alloc&) {
    last_error = "flowseries: severe (41): insufficient virtual memory";
    return 41;
  } catch (const std::exception& e) {
    last_error = std::string("flowseries: ") + e.what();
    return 39;
  } catch (...) {
    last_error = "flowseries: an unknown failure";
    return 39;
  }
}

int refuse(const char* what) {
  last_error = std::string("flowseries: ") + what;
  return 2;
}

template <typename T>
T* copied(const std::vector<T>& v) {
  T* out = static_cast<T*>(std::malloc(std::max<std::size_t>(v.size(), 1) * sizeof(T)));
  if (out == nullptr) throw std::bad_alloc();
  if (!v.empty()) std::memcpy(out, v.data(), v.size() * sizeof(T));
  return out;
}

bool valid_kind(int kind) {
  return kind >= FLOWSERIES_H && kind <= FLOWSERIES_VB;
}

flowseries_series series_of(const flowseries::Series& s) {
  flowseries_series out{};
  try {
    out.steps = static_cast<int64_t>(s.times.size());
    out.points = static_cast<int32_t>(s.points.size());
    out.times = copied(s.times);
    out.values = copied(s.values);
    out.point_numbers = copied(s.points);
    out.links = s.links ? 1 : 0;
    out.cut = s.damage.empty() ? 0 : 1;
  } catch (...) {
    flowseries_free_series(&out);
    throw;
  }
  return out;
}

}  // namespace

extern "C" {

int flowseries_open(const char* path, flowseries_file** file) {
  if (path == nullptr || file == nullptr) return refuse("flowseries_open: a null argument");
  *file = nullptr;
  return guarded([&] { *file = new flowseries_file{flowseries::ResultFile::open(path)}; });
}

void flowseries_close(flowseries_file* file) {
  delete file;
}

int flowseries_path(const flowseries_file* file, char* buffer, size_t size, size_t* length) {
  if (file == nullptr || (buffer == nullptr && size > 0))
    return refuse("flowseries_path: a null argument");
  const std::string& path = file->file.path();
  if (length != nullptr) *length = path.size();
  if (size > 0) {
    const std::size_t n = std::min(path.size(), size - 1);
    std::memcpy(buffer, path.data(), n);
    buffer[n] = '\0';
  }
  return 0;
}

int32_t flowseries_node_count(const flowseries_file* file) {
  return file == nullptr ? -1 : file->file.node_count();
}

int32_t flowseries_link_count(const flowseries_file* file) {
  return file == nullptr ? -1 : file->file.link_count();
}

int flowseries_title(const flowseries_file* file, char* title) {
  if (file == nullptr || title == nullptr) return refuse("flowseries_title: a null argument");
  const std::string& t = file->file.title();
  std::memcpy(title, t.data(), std::min<std::size_t>(t.size(), 80));
  title[std::min<std::size_t>(t.size(), 80)] = '\0';
  return 0;
}

int flowseries_node_table(const flowseries_file* file, double* a, double* base) {
  if (file == nullptr) return refuse("flowseries_node_table: a null file");
  return guarded([&] {
    if (a != nullptr) {
      const std::vector<double> v = file->file.node_a();
      std::copy(v.begin(), v.end(), a);
    }
    if (base != nullptr) {
      const std::vector<double> v = file->file.node_base();
      std::copy(v.begin(), v.end(), base);
    }
  });
}

int flowseries_link_table(const flowseries_file* file, int32_t* k) {
  if (file == nullptr || k == nullptr) return refuse("flowseries_link_table: a null argument");
  return guarded([&] {
    for (int t = 0; t < 5; ++t) {
      const std::vector<std::int32_t> v = file->file.link_k(t);
      for (std::size_t j = 0; j < v.size(); ++j) k[5 * j + static_cast<std::size_t>(t)] = v[j];
    }
  });
}

int flowseries_step_count(flowseries_file* file, int64_t* steps, int32_t* cut) {
  if (file == nullptr || steps == nullptr) return refuse("flowseries_step_count: a null argument");
  return guarded([&] {
    *steps = static_cast<int64_t>(file->file.times().size());
    if (cut != nullptr) *cut = file->file.times_cut() ? 1 : 0;
  });
}

int flowseries_times(flowseries_file* file, double* times, int64_t capacity, int64_t* count) {
  if (file == nullptr || count == nullptr) return refuse("flowseries_times: a null argument");
  return guarded([&] {
    const std::vector<double>& t = file->file.times();
    *count = static_cast<int64_t>(t.size());
    if (times != nullptr)
      std::copy_n(
          t.begin(),
          std::min<std::size_t>(t.size(), static_cast<std::size_t>(std::max<int64_t>(capacity, 0))),
          times);
  });
}

int flowseries_read_series(flowseries_file* file, int kind, const int32_t* points, int32_t count,
                           int64_t first, int64_t last, int64_t stride, flowseries_series* out) {
  if (file == nullptr || out == nullptr || (points == nullptr && count > 0) || count < 0)
    return refuse("flowseries_read_series: a null or negative argument");
  if (!valid_kind(kind)) return refuse("flowseries_read_series: kind is 0 to 4 (H, P, Q, va, vb)");
  *out = flowseries_series{};
  return guarded([&] {
    const std::vector<std::int32_t> asked(points, points + count);
    *out = series_of(
        file->file.series(static_cast<flowseries::Quantity>(kind), asked, first, last, stride));
  });
}

void flowseries_free_series(flowseries_series* series) {
  if (series == nullptr) return;
  std::free(series->times);
  std::free(series->values);
  std::free(series->point_numbers);
  *series = flowseries_series{};
}

int flowseries_read_statistics(flowseries_file* file, int kind, const int32_t* points,
                               int32_t count, int64_t first, int64_t last,
                               flowseries_statistics* out) {
  if (file == nullptr || out == nullptr || (points == nullptr && count > 0) || count < 0)
    return refuse("flowseries_read_statistics: a null or negative argument");
  if (!valid_kind(kind))
    return refuse("flowseries_read_statistics: kind is 0 to 4 (H, P, Q, va, vb)");
  *out = flowseries_statistics{};
  return guarded([&] {
    const std::vector<std::int32_t> asked(points, points + count);
    const flowseries::Statistics s =
        file->file.statistics(static_cast<flowseries::Quantity>(kind), asked, first, last);
    try {
      out->points = static_cast<int32_t>(s.points.size());
      out->cut = s.status == "complete" ? 0 : 1;
      out->point_numbers = copied(s.points);
      out->steps = copied(s.steps);
      out->nan = copied(s.nan);
      out->min = copied(s.min);
      out->time_of_min = copied(s.time_of_min);
      out->max = copied(s.max);
      out->time_of_max = copied(s.time_of_max);
      out->mean = copied(s.mean);
    } catch (...) {
      flowseries_free_statistics(out);
      throw;
    }
  });
}

void flowseries_free_statistics(flowseries_statistics* s) {
  if (s == nullptr) return;
  for (void* p : {static_cast<void*>(s->point_numbers), static_cast<void*>(s->steps),
                  static_cast<void*>(s->nan), static_cast<void*>(s->min),
                  static_cast<void*>(s->time_of_min), static_cast<void*>(s->max),
                  static_cast<void*>(s->time_of_max), static_cast<void*>(s->mean)})
    std::free(p);
  *s = flowseries_statistics{};
}

int flowseries_read_info(flowseries_file* file, flowseries_info* out) {
  if (file == nullptr || out == nullptr) return refuse("flowseries_read_info: a null argument");
  return guarded([&] {
    const flowseries::Info i = file->file.info();
    *out = flowseries_info{};
    std::memcpy(out->title, i.title.data(), std::min<std::size_t>(i.title.size(), 80));
    out->nodes = i.nodes;
    out->links = i.links;
    out->steps = i.steps;
    out->first_time = i.first_time;
    out->last_time = i.last_time;
    out->min_time_step = i.min_time_step;
    out->max_time_step = i.max_time_step;
    out->times_not_increasing = i.times_not_increasing;
    out->complete = i.complete ? 1 : 0;
    out->continued_steps = i.continued_steps;
    std::strncpy(out->cut, i.cut.c_str(), sizeof out->cut - 1);
  });
}

int flowseries_read_series_file(const char* path, int partial, flowseries_series* out) {
  if (path == nullptr || out == nullptr)
    return refuse("flowseries_read_series_file: a null argument");
  *out = flowseries_series{};
  return guarded([&] {
    const flowseries::Series s = flowseries::read_series_file(path, partial != 0);
    *out = series_of(s);
    if (!s.damage.empty()) last_error = s.damage;
  });
}

int flowseries_extract(const char* result, const char* points_file, const char* folder) {
  if (result == nullptr || points_file == nullptr || folder == nullptr)
    return refuse("flowseries_extract: a null argument");
  return guarded([&] { flowseries::extract(result, points_file, folder); });
}

void flowseries_free(void* pointer) {
  std::free(pointer);
}

const char* flowseries_last_error(void) {
  return last_error.c_str();
}

const char* flowseries_last_error_path(void) {
  return last_error_path.c_str();
}

const char* flowseries_version(void) {
  return FLOWSERIES_VERSION;
}

}  // extern "C"
