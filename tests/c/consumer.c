/* A C program over the C interface alone: every entry, its failures and its memory, on the
 * files that tests/c/run_consumer.py prepares in FOLDER (RESULT.BIN with N nodes, its copy under
 * a name of non-ASCII letters, the program's HTIME.CSV of nodes 1 and N, POINTS.LST).
 *
 *   flowseries_c_consumer FOLDER N
 *
 * Prints what it checked; exit status 0 when every check held. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "flowseries/flowseries_c.h"

static int failures = 0;

#define CHECK(condition)                                                                    \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      fprintf(stderr, "line %d: %s (%s)\n", __LINE__, #condition, flowseries_last_error()); \
      ++failures;                                                                           \
    }                                                                                       \
  } while (0)

static void join(char* out, size_t size, const char* folder, const char* name) {
  snprintf(out, size, "%s/%s", folder, name);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: flowseries_c_consumer FOLDER N\n");
    return 2;
  }
  const char* folder = argv[1];
  const int32_t n = (int32_t)atoi(argv[2]);
  char path[4096], other[4096];
  join(path, sizeof path, folder, "RESULT.BIN");

  /* Failures come back as the program's numbers, with its report line. */
  flowseries_file* file = NULL;
  join(other, sizeof other, folder, "NONE.BIN");
  CHECK(flowseries_open(other, &file) == 29 && file == NULL);
  CHECK(strstr(flowseries_last_error(), "file not found") != NULL);
  CHECK(flowseries_open(NULL, &file) != 0);
  CHECK(flowseries_node_count(NULL) == -1);

  CHECK(flowseries_open(path, &file) == 0 && file != NULL);
  CHECK(strcmp(flowseries_last_error(), "") == 0);
  CHECK(flowseries_node_count(file) == n);
  const int32_t m = flowseries_link_count(file);
  char title[81];
  CHECK(flowseries_title(file, title) == 0 && strlen(title) == 80);
  double* a = malloc(sizeof(double) * (size_t)n);
  double* base = malloc(sizeof(double) * (size_t)n);
  int32_t* k = malloc(sizeof(int32_t) * 5 * (size_t)(m > 0 ? m : 1));
  CHECK(flowseries_node_table(file, a, base) == 0 && a[0] == 0.5);
  CHECK(flowseries_link_table(file, k) == 0 && (m == 0 || k[0] == 1));

  int64_t steps = 0;
  int32_t cut = -1;
  CHECK(flowseries_step_count(file, &steps, &cut) == 0 && steps > 2 && cut == 0);
  double* times = malloc(sizeof(double) * (size_t)steps);
  int64_t count = 0;
  CHECK(flowseries_times(file, times, steps, &count) == 0 && count == steps);

  /* H of the first and last node at every step, and every second step from the second. */
  const int32_t points[] = {1, n};
  flowseries_series all, part;
  CHECK(flowseries_read_series(file, FLOWSERIES_H, points, 2, 1, -1, 1, &all) == 0);
  CHECK(all.steps == steps && all.points == 2 && all.times[1] == times[1]);
  CHECK(flowseries_read_series(file, FLOWSERIES_H, points, 2, 2, -1, 2, &part) == 0);
  CHECK(part.steps == (steps - 1 + 1) / 2);
  for (int64_t s = 0; s < part.steps; ++s)
    CHECK(part.values[2 * s + 1] == all.values[2 * (1 + 2 * s) + 1]);
  flowseries_free_series(&part);
  CHECK(part.values == NULL);

  /* The statistics agree with the series they come from. */
  flowseries_statistics st;
  CHECK(flowseries_read_statistics(file, FLOWSERIES_H, points, 2, 1, -1, &st) == 0);
  double highest = -HUGE_VAL;
  for (int64_t s = 0; s < all.steps; ++s)
    if (all.values[2 * s] > highest) highest = all.values[2 * s];
  CHECK(st.points == 2 && st.max[0] == highest && st.steps[0] == steps && st.cut == 0);
  flowseries_free_statistics(&st);
  CHECK(flowseries_read_statistics(file, FLOWSERIES_VB, NULL, 0, 1, -1, &st) == 0);
  CHECK(st.points == m);
  flowseries_free_statistics(&st);

  flowseries_info info;
  CHECK(flowseries_read_info(file, &info) == 0);
  CHECK(info.steps == steps && info.complete == 1 && info.nodes == n &&
        info.last_time == times[steps - 1]);

  /* Every entry refuses what it cannot take with a number and a text, never a crash. */
  {
    int64_t n64 = 0;
    flowseries_series none;
    flowseries_statistics no_figures;
    char text[81];
    const struct {
      const char* what;
      int status;
    } refusals[] = {
        {"title of no file", flowseries_title(NULL, text)},
        {"path of no file", flowseries_path(NULL, text, sizeof text, NULL)},
        {"node table of no file", flowseries_node_table(NULL, a, base)},
        {"link table into nothing", flowseries_link_table(file, NULL)},
        {"step count into nothing", flowseries_step_count(file, NULL, NULL)},
        {"times of no file", flowseries_times(NULL, times, 1, &n64)},
        {"series of a negative count",
         flowseries_read_series(file, FLOWSERIES_H, points, -1, 1, -1, 1, &none)},
        {"statistics of no kind", flowseries_read_statistics(file, 9, NULL, 0, 1, -1, &no_figures)},
        {"info into nothing", flowseries_read_info(file, NULL)},
        {"series file of no name", flowseries_read_series_file(NULL, 0, &none)},
        {"extract of no folder", flowseries_extract(path, path, NULL)},
    };
    for (size_t i = 0; i < sizeof refusals / sizeof refusals[0]; ++i) {
      if (refusals[i].status == 0 || strlen(flowseries_last_error()) == 0) {
        fprintf(stderr, "not refused: %s\n", refusals[i].what);
        ++failures;
      }
    }
    join(other, sizeof other, folder, "NONE.LST");
    CHECK(flowseries_extract(path, other, folder) == 29);
  }

  /* A point beyond the tables, and a kind that is none. */
  const int32_t beyond[] = {60000};
  CHECK(flowseries_read_series(file, FLOWSERIES_P, beyond, 1, 1, -1, 1, &part) == 102);
  CHECK(strstr(flowseries_last_error(), "(102)") != NULL);
  CHECK(flowseries_read_series(file, 7, points, 2, 1, -1, 1, &part) == 2);

  /* The program's series file, read back, holds the program's rounding of the same values. */
  join(other, sizeof other, folder, "HTIME.CSV");
  flowseries_series csv;
  CHECK(flowseries_read_series_file(other, 0, &csv) == 0);
  CHECK(csv.steps == steps && csv.points == 2 && csv.point_numbers[1] == n && !csv.links);
  for (int64_t i = 0; i < 2 * steps; ++i) {
    char text[32];
    snprintf(text, sizeof text, "%.5E", all.values[i]);
    CHECK(csv.values[i] == atof(text));
  }
  flowseries_free_series(&csv);
  join(other, sizeof other, folder, "POINTS.LST");
  CHECK(flowseries_read_series_file(other, 0, &csv) == 39);
  flowseries_free_series(&all);

  /* extract writes the program's files into a folder. */
  char out[4096];
  join(out, sizeof out, folder, "out");
  CHECK(flowseries_extract(path, other, out) == 0);
  flowseries_close(file);

  /* A name of non-ASCII letters, as UTF-8 (written here: a command line comes in the system's
   * code page on Windows). */
  join(other, sizeof other, folder,
       "\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf_S\xc3\xb6"
       "derhamn.bin");
  CHECK(flowseries_open(other, &file) == 0);
  CHECK(flowseries_node_count(file) == n);
  flowseries_close(file);

  free(a);
  free(base);
  free(k);
  free(times);
  printf("%s: %d failed checks (flowseries %s)\n", failures ? "FAILED" : "ok", failures,
         flowseries_version());
  return failures ? 1 : 0;
}
