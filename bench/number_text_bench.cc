// Exponent-field formatting speed, in nanoseconds per value, for the two fields the series files
// use: the time field E16.7 and the value field 1PE14.5, on three kinds of data:
//   decades:  a few decades around 1, both signs, some exact zeros;
//   wide:     the values of the wide benchmark case (H of 200 nodes over many steps, times of a
//             60 s step), as they reach the formatter row by row;
//   mix:      random signs and magnitudes from subnormals to 1e300.
// The general entry point, which any width and digit count takes, and the exact path are timed
// for comparison.
#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "records/number_text.h"

namespace {

constexpr std::size_t kSampleSize = 1 << 16;

std::vector<double> decade_values() {
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> decade(-6, 6);
  std::vector<double> values(kSampleSize);
  for (double& v : values) v = mantissa(random) * std::pow(10.0, decade(random));
  for (std::size_t i = 0; i < values.size(); i += 97) values[i] = 0.0;
  return values;
}

// H = p + base of the generator's nodes 1..250 spread over 200 points, step after step.
std::vector<double> wide_case_values() {
  std::vector<double> values;
  values.reserve(kSampleSize);
  for (std::int64_t s = 0; values.size() < kSampleSize; ++s) {
    const double wave = std::sin(0.05 * static_cast<double>(s));
    for (int k = 0; k < 200 && values.size() < kSampleSize; ++k) {
      const std::int64_t i = 1 + (k * 249) / 199;
      const double x = static_cast<double>(i);
      const double p = 2.0 + 0.01 * static_cast<double>(i % 1000) + wave * (1.0 + 0.001 * x);
      values.push_back(p + (100.0 + 0.25 * static_cast<double>(i % 400)));
    }
  }
  return values;
}

std::vector<double> wide_case_times() {
  std::vector<double> values(kSampleSize);
  for (std::size_t s = 0; s < values.size(); ++s)
    values[s] = 60.0 * static_cast<double>(s * 97 % 99999);
  return values;
}

// Any finite double: random bits with the exponent field drawn over the whole range but the top,
// so subnormals (exponent field 0) and values to about 1e300 all come up.
std::vector<double> mixed_values() {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<std::uint64_t> exponent(0, 2020);
  std::vector<double> values(kSampleSize);
  for (double& v : values) {
    const std::uint64_t bits = (random() & 0x800FFFFFFFFFFFFFULL) | (exponent(random) << 52);
    v = std::bit_cast<double>(bits);
  }
  return values;
}

void count_values(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations());
  state.counters["ns/value"] =
      benchmark::Counter(static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Through the series files' own entry points, as the rows are written.
template <void (*kWrite)(char*, double)>
void format_field(benchmark::State& state, const std::vector<double>& values) {
  char field[32];
  std::size_t i = 0;
  for (auto _ : state) {
    kWrite(field, values[i++ & (kSampleSize - 1)]);
    benchmark::DoNotOptimize(field);
  }
  count_values(state);
}

void BM_TimeField_E16_7_decades(benchmark::State& state) {
  format_field<records::write_time_field>(state, decade_values());
}
void BM_TimeField_E16_7_wide(benchmark::State& state) {
  format_field<records::write_time_field>(state, wide_case_times());
}
void BM_TimeField_E16_7_mix(benchmark::State& state) {
  format_field<records::write_time_field>(state, mixed_values());
}
void BM_ValueField_1PE14_5_decades(benchmark::State& state) {
  format_field<records::write_value_field>(state, decade_values());
}
void BM_ValueField_1PE14_5_wide(benchmark::State& state) {
  format_field<records::write_value_field>(state, wide_case_values());
}
void BM_ValueField_1PE14_5_mix(benchmark::State& state) {
  format_field<records::write_value_field>(state, mixed_values());
}
BENCHMARK(BM_TimeField_E16_7_decades);
BENCHMARK(BM_TimeField_E16_7_wide);
BENCHMARK(BM_TimeField_E16_7_mix);
BENCHMARK(BM_ValueField_1PE14_5_decades);
BENCHMARK(BM_ValueField_1PE14_5_wide);
BENCHMARK(BM_ValueField_1PE14_5_mix);

// A row's value fields written together, as the series files write rows of one value per point.
void format_row(benchmark::State& state, const std::vector<double>& values) {
  constexpr std::size_t kRow = 200;
  std::vector<char> text(15 * kRow);
  std::size_t first = 0;
  for (auto _ : state) {
    records::write_value_fields(text.data(), values.data() + first, kRow);
    benchmark::DoNotOptimize(text.data());
    first = (first + kRow) % (kSampleSize - kRow);
  }
  state.SetItemsProcessed(state.iterations() * kRow);
  state.counters["ns/value"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kRow),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ValueFields_row_decades(benchmark::State& state) {
  format_row(state, decade_values());
}
void BM_ValueFields_row_wide(benchmark::State& state) {
  format_row(state, wide_case_values());
}
void BM_ValueFields_row_mix(benchmark::State& state) {
  format_row(state, mixed_values());
}
BENCHMARK(BM_ValueFields_row_decades);
BENCHMARK(BM_ValueFields_row_wide);
BENCHMARK(BM_ValueFields_row_mix);

void BM_AnyField_14_5_1_mix(benchmark::State& state) {
  const std::vector<double> values = mixed_values();
  char field[32];
  std::size_t i = 0;
  for (auto _ : state) {
    records::write_exponent_field(field, values[i++ & (kSampleSize - 1)], 14, 5, 1);
    benchmark::DoNotOptimize(field);
  }
  count_values(state);
}
BENCHMARK(BM_AnyField_14_5_1_mix);

void BM_ExactDigits_6(benchmark::State& state) {
  const std::vector<double> values = decade_values();
  std::size_t i = 0;
  for (auto _ : state) {
    double v = values[i++ & (kSampleSize - 1)];
    if (v == 0) v = 1;
    benchmark::DoNotOptimize(records::round_to_digits_exact(v, 6));
  }
  count_values(state);
}
BENCHMARK(BM_ExactDigits_6);

}  // namespace

BENCHMARK_MAIN();
