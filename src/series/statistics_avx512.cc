// The statistics' 512-bit kernel: sixteen points of a step at a time (statistics_kernel.cc asks
// whether the processor has it). The same operations as one at a time, lane by lane, with masks
// where those take branches, so the figures are the same bit for bit.
#include "series/statistics_kernel.h"

#include <cmath>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// GCC 12 warns inside its own 512-bit intrinsics (their placeholder "undefined" vectors).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop

namespace series::kernel {
namespace {

struct Half {
  __m512d lowest, highest, hi, mid, lo;
};

// Eight points of the sixteen: the doubles' part. The lanes' masks come back for the int32
// columns, which the caller takes sixteen at a time.
[[gnu::target("avx512f"), gnu::always_inline]] inline void take_eight(
    __m512d x, Half& h, __mmask8& nan, __mmask8& lower, __mmask8& higher, __mmask8& pos_inf,
    __mmask8& neg_inf) {
  nan = _mm512_cmp_pd_mask(x, x, _CMP_UNORD_Q);
  const __m512d magnitude = _mm512_abs_pd(x);
  const __mmask8 inf = _mm512_cmp_pd_mask(magnitude, _mm512_set1_pd(HUGE_VAL), _CMP_EQ_OQ);
  pos_inf = _mm512_mask_cmp_pd_mask(inf, x, _mm512_setzero_pd(), _CMP_GT_OQ);
  neg_inf = _mm512_mask_cmp_pd_mask(inf, x, _mm512_setzero_pd(), _CMP_LT_OQ);
  lower = _mm512_cmp_pd_mask(x, h.lowest, _CMP_LT_OQ);
  higher = _mm512_cmp_pd_mask(x, h.highest, _CMP_GT_OQ);
  // Values that take part in the sum: neither NaN nor infinite (others add an exact zero).
  const __mmask8 summed = static_cast<__mmask8>(~(nan | inf));
  const __m512d added = _mm512_maskz_mov_pd(summed, x);
  // Two-sum of hi and the value, then of mid and its error; lo takes the last error.
  const __m512d sum = _mm512_add_pd(h.hi, added);
  const __m512d b_virtual = _mm512_sub_pd(sum, h.hi);
  const __m512d error = _mm512_add_pd(_mm512_sub_pd(h.hi, _mm512_sub_pd(sum, b_virtual)),
                                      _mm512_sub_pd(added, b_virtual));
  h.hi = sum;
  const __m512d sum2 = _mm512_add_pd(h.mid, error);
  const __m512d b_virtual2 = _mm512_sub_pd(sum2, h.mid);
  const __m512d carry = _mm512_add_pd(_mm512_sub_pd(h.mid, _mm512_sub_pd(sum2, b_virtual2)),
                                      _mm512_sub_pd(error, b_virtual2));
  h.mid = sum2;
  h.lo = _mm512_add_pd(h.lo, carry);
}

// The masks of two halves of eight as one of sixteen.
[[gnu::target("avx512f"), gnu::always_inline]] inline __mmask16 both(const __mmask8 m[2]) {
  return static_cast<__mmask16>(m[0] | (static_cast<unsigned>(m[1]) << 8));
}

// Adds one to the sixteen counts where the mask is set.
[[gnu::target("avx512f"), gnu::always_inline]] inline void add_where(std::int32_t* column,
                                                                     __mmask16 m, __m512i one) {
  if (m != 0)
    _mm512_storeu_si512(column, _mm512_mask_add_epi32(_mm512_loadu_si512(column), m,
                                                      _mm512_loadu_si512(column), one));
}

[[gnu::target("avx512f")]] void take_run_sixteen(const double* row, const double* base,
                                                 std::int32_t s, std::size_t count,
                                                 const Columns& c) {
  const __m512i step = _mm512_set1_epi32(s);
  const __m512i one = _mm512_set1_epi32(1);
  std::size_t k = 0;
  for (; k + 16 <= count; k += 16) {
    __m512d x[2];
    for (int h = 0; h < 2; ++h) {
      x[h] = _mm512_loadu_pd(row + k + 8 * h);
      if (base != nullptr) x[h] = _mm512_add_pd(x[h], _mm512_loadu_pd(base + k + 8 * h));
    }
    const __m512i step_min = _mm512_loadu_si512(c.step_min + k);
    const __m512i step_max = _mm512_loadu_si512(c.step_max + k);
    Half halves[2];
    __mmask8 nan[2], lower[2], higher[2], pos_inf[2], neg_inf[2];
    for (int h = 0; h < 2; ++h) {
      halves[h] = {_mm512_loadu_pd(c.lowest + k + 8 * h), _mm512_loadu_pd(c.highest + k + 8 * h),
                   _mm512_loadu_pd(c.hi + k + 8 * h), _mm512_loadu_pd(c.mid + k + 8 * h),
                   _mm512_loadu_pd(c.lo + k + 8 * h)};
      take_eight(x[h], halves[h], nan[h], lower[h], higher[h], pos_inf[h], neg_inf[h]);
    }
    // Ties at an extreme go to the earlier step.
    __mmask16 equal_min = 0, equal_max = 0;
    for (int h = 0; h < 2; ++h) {
      equal_min |= static_cast<__mmask16>(
          static_cast<unsigned>(_mm512_cmp_pd_mask(x[h], halves[h].lowest, _CMP_EQ_OQ)) << (8 * h));
      equal_max |= static_cast<__mmask16>(
          static_cast<unsigned>(_mm512_cmp_pd_mask(x[h], halves[h].highest, _CMP_EQ_OQ))
          << (8 * h));
    }
    const __mmask16 lower16 = both(lower) | _mm512_mask_cmplt_epi32_mask(equal_min, step, step_min);
    const __mmask16 higher16 =
        both(higher) | _mm512_mask_cmplt_epi32_mask(equal_max, step, step_max);
    for (int h = 0; h < 2; ++h) {
      const auto l = static_cast<__mmask8>(lower16 >> (8 * h));
      const auto g = static_cast<__mmask8>(higher16 >> (8 * h));
      _mm512_storeu_pd(c.lowest + k + 8 * h, _mm512_mask_blend_pd(l, halves[h].lowest, x[h]));
      _mm512_storeu_pd(c.highest + k + 8 * h, _mm512_mask_blend_pd(g, halves[h].highest, x[h]));
      _mm512_storeu_pd(c.hi + k + 8 * h, halves[h].hi);
      _mm512_storeu_pd(c.mid + k + 8 * h, halves[h].mid);
      _mm512_storeu_pd(c.lo + k + 8 * h, halves[h].lo);
    }
    _mm512_storeu_si512(c.step_min + k, _mm512_mask_blend_epi32(lower16, step_min, step));
    _mm512_storeu_si512(c.step_max + k, _mm512_mask_blend_epi32(higher16, step_max, step));
    add_where(c.nan + k, both(nan), one);
    add_where(c.pos_inf + k, both(pos_inf), one);
    add_where(c.neg_inf + k, both(neg_inf), one);
  }
  if (k < count) {
    const Columns rest{c.lowest + k,   c.highest + k,  c.hi + k,  c.mid + k,     c.lo + k,
                       c.step_min + k, c.step_max + k, c.nan + k, c.pos_inf + k, c.neg_inf + k};
    take_run_one_by_one(row + k, base != nullptr ? base + k : nullptr, s, count - k, rest);
  }
}

}  // namespace

const TakeRun kTakeRunSixteen = take_run_sixteen;

}  // namespace series::kernel

#else

namespace series::kernel {
const TakeRun kTakeRunSixteen = nullptr;
}  // namespace series::kernel

#endif
