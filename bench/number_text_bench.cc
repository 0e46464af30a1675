// Exponent-field formatting speed, in values per second, for the two fields the series files
// use: the time field E16.7 and the value field 1PE14.5.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "records/number_text.h"

namespace {

// Values like those of a simulation: a few decades around 1, both signs, some exact zeros.
std::vector<double> sample_values() {
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> decade(-6, 6);
  std::vector<double> values(4096);
  for (double& v : values) v = mantissa(random) * std::pow(10.0, decade(random));
  for (std::size_t i = 0; i < values.size(); i += 97) values[i] = 0.0;
  return values;
}

void format_field(benchmark::State& state, int width, int digits, int scale) {
  const std::vector<double> values = sample_values();
  char field[32];
  std::size_t i = 0;
  for (auto _ : state) {
    records::write_exponent_field(field, values[i++ & 4095], width, digits, scale);
    benchmark::DoNotOptimize(field);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_TimeField_E16_7(benchmark::State& state) {
  format_field(state, 16, 7, 0);
}
void BM_ValueField_1PE14_5(benchmark::State& state) {
  format_field(state, 14, 5, 1);
}
BENCHMARK(BM_TimeField_E16_7);
BENCHMARK(BM_ValueField_1PE14_5);

// The exact path alone, for comparison.
void BM_ExactDigits_6(benchmark::State& state) {
  const std::vector<double> values = sample_values();
  std::size_t i = 0;
  for (auto _ : state) {
    double v = values[i++ & 4095];
    if (v == 0) v = 1;
    benchmark::DoNotOptimize(records::round_to_digits_exact(v, 6));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExactDigits_6);

}  // namespace

BENCHMARK_MAIN();
