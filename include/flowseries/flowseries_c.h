/* flowseries from C and from any language that calls C (Python's ctypes, Excel VBA, MATLAB, R,
 * C#): the result file of a network flow simulation and the series files of flowseries, read
 * with the program's own reader.
 *
 *   flowseries_file* file = NULL;
 *   if (flowseries_open("RESULT.BIN", &file) != 0) {
 *     fprintf(stderr, "%s\n", flowseries_last_error());
 *     return 1;
 *   }
 *   int32_t points[] = {5, 17};
 *   flowseries_series s;
 *   if (flowseries_read_series(file, FLOWSERIES_H, points, 2, 1, -1, 1, &s) == 0) {
 *     printf("%lld steps, node 5 at the first: %g\n", (long long)s.steps, s.values[0]);
 *     flowseries_free_series(&s);
 *   }
 *   flowseries_close(file);
 *
 * Every call returns 0, or the failure number flowseries itself would end with (29 not found,
 * 24 end of file, 39 read error, 67 a record shorter than its content, 102 a point outside the
 * tables, ...); flowseries_last_error() then gives flowseries' report line. No call ever ends the
 * process or lets a C++ exception through. Paths are UTF-8 on every system (on Windows they are
 * opened with the wide-character calls, so any name works).
 *
 * Memory: the caller passes the buffers of fixed size (sized by the counts); the series and
 * statistics, whose size only the reading knows, are allocated by the library and released
 * with their flowseries_free_ call. Nothing else crosses the interface.
 *
 * Threads: different files may be read from different threads at once. One file may be shared
 * by threads when the caller serialises the calls on it (a lock of its own); the error text is
 * kept per thread.
 */
#ifndef FLOWSERIES_FLOWSERIES_C_H
#define FLOWSERIES_FLOWSERIES_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(FLOWSERIES_BUILDING_SHARED)
#define FLOWSERIES_API __declspec(dllexport)
#else
#define FLOWSERIES_API __declspec(dllimport)
#endif
#else
#define FLOWSERIES_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What a series holds per node (H = base + p, P = p, Q = q) or per link (va, vb). */
enum flowseries_kind {
  FLOWSERIES_H = 0,
  FLOWSERIES_P = 1,
  FLOWSERIES_Q = 2,
  FLOWSERIES_VA = 3,
  FLOWSERIES_VB = 4
};

typedef struct flowseries_file flowseries_file;

/* Values of steps by points: values[s * points + c] is point c at step s. */
typedef struct flowseries_series {
  int64_t steps;
  int32_t points;
  double* times;          /* steps entries */
  double* values;         /* steps * points entries */
  int32_t* point_numbers; /* points entries: as asked, or a series file's header */
  int32_t links;          /* a series file of links: its columns are va, vb of each link */
  int32_t cut;            /* read with partial: the file is damaged after these rows */
} flowseries_series;

/* Per point: the steps read, the NaN values among them, the lowest and highest value (NaN left
 * out) with the time of the first step holding it, the mean of the values that are not NaN;
 * the figures are NaN where every value is NaN. */
typedef struct flowseries_statistics {
  int32_t points;
  int32_t cut; /* the file ends inside a step: the figures are those of the steps before it */
  int32_t* point_numbers;
  int64_t* steps;
  int64_t* nan;
  double* min;
  double* time_of_min;
  double* max;
  double* time_of_max;
  double* mean;
} flowseries_statistics;

/* What a file holds, from one pass over its step heads. */
typedef struct flowseries_info {
  char title[81]; /* the 80 bytes of the title record (code page 932 text) and a NUL */
  int32_t nodes, links;
  int64_t steps;                       /* complete steps */
  double first_time, last_time;        /* NaN without steps */
  double min_time_step, max_time_step; /* NaN with fewer than two steps */
  int64_t times_not_increasing;
  int32_t complete;
  char cut[200];           /* where and how the file is cut; empty when complete */
  int64_t continued_steps; /* steps with a record in pieces */
} flowseries_info;

/* Opens a result file and reads its header. 0, or the failure number. */
FLOWSERIES_API int flowseries_open(const char* path, flowseries_file** file);
FLOWSERIES_API void flowseries_close(flowseries_file* file);

/* The file's path as resolved (absolute, UTF-8): up to `size` bytes with a NUL; `length` (may be
 * null) the bytes it takes without the NUL, so that a first call with size 0 sizes the buffer. */
FLOWSERIES_API int flowseries_path(const flowseries_file* file, char* buffer, size_t size,
                                   size_t* length);

/* N and M as written (a negative count holds no entries); -1 for a null file. */
FLOWSERIES_API int32_t flowseries_node_count(const flowseries_file* file);
FLOWSERIES_API int32_t flowseries_link_count(const flowseries_file* file);
/* The title: 80 bytes and a NUL into title[81]. */
FLOWSERIES_API int flowseries_title(const flowseries_file* file, char* title);
/* The node table: a and base, max(N, 0) entries each (either may be null). */
FLOWSERIES_API int flowseries_node_table(const flowseries_file* file, double* a, double* base);
/* The link table: k1 to k5 of each link, 5 * max(M, 0) entries, link after link. */
FLOWSERIES_API int flowseries_link_table(const flowseries_file* file, int32_t* k);

/* The number of complete steps (one pass over the step heads, then kept), and whether the file
 * is cut after them (cut may be null). */
FLOWSERIES_API int flowseries_step_count(flowseries_file* file, int64_t* steps, int32_t* cut);
/* The times of the complete steps: `capacity` entries at most; `count` the steps. */
FLOWSERIES_API int flowseries_times(flowseries_file* file, double* times, int64_t capacity,
                                    int64_t* count);

/* The series of `kind` at the listed points (1-based) for steps first, first + stride, ... up
 * to last (1-based, inclusive; last < 0: to the end); only those steps' values are read. A point
 * of 0 or less, or above N or M, gives zeros; one above the tables' capacity is failure 102. */
FLOWSERIES_API int flowseries_read_series(flowseries_file* file, int kind, const int32_t* points,
                                          int32_t count, int64_t first, int64_t last,
                                          int64_t stride, flowseries_series* out);
FLOWSERIES_API void flowseries_free_series(flowseries_series* series);

/* The statistics of `kind` at the listed points (null and 0: every node or link) over steps
 * first to last (1-based, inclusive; last < 0: to the end), in one pass. */
FLOWSERIES_API int flowseries_read_statistics(flowseries_file* file, int kind,
                                              const int32_t* points, int32_t count, int64_t first,
                                              int64_t last, flowseries_statistics* out);
FLOWSERIES_API void flowseries_free_statistics(flowseries_statistics* statistics);

FLOWSERIES_API int flowseries_read_info(flowseries_file* file, flowseries_info* out);

/* A series file that flowseries wrote, read back (continuation lines joined). A file that is not
 * whole is failure 39 with its line and column in the error text, or with `partial` the rows
 * before the damage and out->cut set. */
FLOWSERIES_API int flowseries_read_series_file(const char* path, int partial,
                                               flowseries_series* out);

/* What the program does after its dialogue: the series files of the point-list file, byte for
 * byte, into `folder` (which must exist). */
FLOWSERIES_API int flowseries_extract(const char* result, const char* points_file,
                                      const char* folder);

/* Releases an array the library allocated (the fields of flowseries_series and
 * flowseries_statistics; their flowseries_free_ calls release them all). Null is ignored. */
FLOWSERIES_API void flowseries_free(void* pointer);

/* The report line of this thread's last failure ("" when none). Valid until the next call. */
FLOWSERIES_API const char* flowseries_last_error(void);
/* The file of this thread's last failure, as its report names it ("" when none). */
FLOWSERIES_API const char* flowseries_last_error_path(void);
/* The library's version, as "1.0.0". */
FLOWSERIES_API const char* flowseries_version(void);

#ifdef __cplusplus
}
#endif

#endif
