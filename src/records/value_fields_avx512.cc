// The 512-bit kernels of a row's value fields: the only code built for processor features the
// program does not require; it runs only where the processor has them (value_fields.cc asks).
#include <cstring>

#include "records/number_parts.h"
#include "records/number_tables.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// GCC 12 warns inside its own 512-bit intrinsics (their placeholder "undefined" vectors).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop

namespace records::number_parts {
namespace {

using namespace number_tables;

// The texts of eight value fields, rounded together.
struct EightFields {
  __mmask8 ok;       // the lanes done here; the others are left to write_value_field
  __m512i middle;    // per lane the eight bytes after the two blanks: sign, "D.DD", "DDD"
  __m256i exponent;  // per lane the four bytes of the exponent part
};

#define FLOWSERIES_VECTOR_BASE "avx512f,avx512dq"

// Each value is scaled into [10^5, 10^6) by one multiplication with 10^k as a double: the
// product's error is below 2^-32, so away from a rounding tie (2^-20) its nearest integer is the
// correctly rounded digit string, the one the scalar path finds (see round_field). Lanes within
// that margin, zeros, NaN, infinities, subnormals and magnitudes beyond 1e+/-270 are not done
// here.
[[gnu::target(FLOWSERIES_VECTOR_BASE), gnu::always_inline]] inline EightFields round_eight(
    const double* values) {
  const __m512i bits = _mm512_castpd_si512(_mm512_loadu_pd(values));
  const __m512i magnitude = _mm512_and_si512(bits, _mm512_set1_epi64(0x7FFFFFFFFFFFFFFF));
  const __m512i biased = _mm512_srli_epi64(magnitude, 52);
  // 1e-270 to 1e+270, normal: the scaled products stay far from overflow and underflow, and the
  // table indices below within the tables.
  __mmask8 ok = _mm512_cmple_epu64_mask(_mm512_sub_epi64(biased, _mm512_set1_epi64(1023 - 896)),
                                        _mm512_set1_epi64(2 * 896));
  // floor(log10(a)) as decimal_exponent finds it: an estimate from the binary exponent, raised by
  // one where a reaches the next power.
  const __m512i e = _mm512_sub_epi64(biased, _mm512_set1_epi64(1023));
  const __m512i estimate = _mm512_srai_epi64(_mm512_mullo_epi64(e, _mm512_set1_epi64(78913)), 18);
  const auto* powers = reinterpret_cast<const long long*>(kDoublePowerBits.data());
  const __m512i next = _mm512_mask_i64gather_epi64(
      _mm512_setzero_si512(), ok,
      _mm512_add_epi64(estimate, _mm512_set1_epi64(1 - kMinDoublePower)), powers, 8);
  const __m512i exponent = _mm512_mask_add_epi64(estimate, _mm512_cmpge_epu64_mask(magnitude, next),
                                                 estimate, _mm512_set1_epi64(1));
  const __m512d power = _mm512_castsi512_pd(_mm512_mask_i64gather_epi64(
      _mm512_setzero_si512(), ok,
      _mm512_sub_epi64(_mm512_set1_epi64(5 - kMinDoublePower), exponent), powers, 8));
  const __m512d y = _mm512_mul_pd(_mm512_castsi512_pd(magnitude), power);
  // y in [10^5, 10^6), near no tie, rounded by adding 2^52, all as round_field does it.
  ok &= _mm512_cmplt_epu64_mask(
      _mm512_sub_epi64(_mm512_castpd_si512(y), _mm512_set1_epi64(std::bit_cast<std::int64_t>(1e5))),
      _mm512_set1_epi64(std::bit_cast<std::int64_t>(1e6) - std::bit_cast<std::int64_t>(1e5)));
  const __m512d rounder = _mm512_set1_pd(0x1p52);
  const __m512d sum = _mm512_add_pd(y, rounder);
  constexpr double kMargin = 1.0 / (1 << 20);
  ok &= _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(y, _mm512_sub_pd(sum, rounder))),
                           _mm512_set1_pd(0.5 - kMargin), _CMP_LT_OQ);
  // A carry into 10^6 is 100000 with the next exponent.
  __m512i digits = _mm512_sub_epi64(_mm512_castpd_si512(sum), _mm512_castpd_si512(rounder));
  const __mmask8 carry = _mm512_cmpeq_epi64_mask(digits, _mm512_set1_epi64(1000000));
  digits = _mm512_mask_mov_epi64(digits, carry, _mm512_set1_epi64(100000));
  const __m512i shown = _mm512_mask_add_epi64(exponent, carry, exponent, _mm512_set1_epi64(1));
  // digits / 1000 by multiplication (exact below 2^32), and the remainder.
  const __m512i high =
      _mm512_srli_epi64(_mm512_mul_epu32(digits, _mm512_set1_epi64(274877907)), 38);
  const __m512i low = _mm512_sub_epi64(digits, _mm512_mullo_epi64(high, _mm512_set1_epi64(1000)));
  // "D.DD" from the scalar way's leading texts (the four bytes after blanks and sign), "DDD"
  // with its spare byte, which the shift below drops.
  const auto* lead = reinterpret_cast<const int*>(&kLeadingTexts.value[0][0][3]);
  const auto* tail = reinterpret_cast<const int*>(kThreeDigits.text);
  const auto* exponents = reinterpret_cast<const int*>(kExponentTexts.text);
  const __m512i lead_text =
      _mm512_cvtepu32_epi64(_mm512_mask_i64gather_epi32(_mm256_setzero_si256(), ok, high, lead, 8));
  const __m512i tail_text =
      _mm512_cvtepu32_epi64(_mm512_mask_i64gather_epi32(_mm256_setzero_si256(), ok, low, tail, 4));
  const __m512i sign = _mm512_mask_blend_epi64(_mm512_movepi64_mask(bits), _mm512_set1_epi64(' '),
                                               _mm512_set1_epi64('-'));
  return {ok,
          _mm512_or_si512(sign, _mm512_or_si512(_mm512_slli_epi64(lead_text, 8),
                                                _mm512_slli_epi64(tail_text, 40))),
          _mm512_mask_i64gather_epi32(
              _mm256_setzero_si256(), ok,
              _mm512_add_epi64(shown, _mm512_set1_epi64(kExponentTextLimit)), exponents, 4)};
}

// The lanes the vector way left, one by one.
void write_left_lanes(char* out, const double* values, unsigned done) {
  if (done == 0xFF) return;
  for (int i = 0; i < 8; ++i)
    if ((done >> i & 1U) == 0) write_comma_field(out + 15 * i, values[i]);
}

[[gnu::target(FLOWSERIES_VECTOR_BASE)]] void write_eight_value_fields(char* out,
                                                                      const double* values) {
  const EightFields fields = round_eight(values);
  alignas(64) std::uint64_t middles[8];
  alignas(32) std::uint32_t exponent_parts[8];
  _mm512_store_si512(middles, fields.middle);
  _mm256_store_si256(reinterpret_cast<__m256i*>(exponent_parts), fields.exponent);
  for (int i = 0; i < 8; ++i) {
    if ((fields.ok >> i & 1U) == 0) continue;
    char* field = out + 15 * i;
    field[0] = ',';
    field[1] = field[2] = ' ';
    std::memcpy(field + 3, &middles[i], 8);
    std::memcpy(field + 11, &exponent_parts[i], 4);
  }
  write_left_lanes(out, values, fields.ok);
}

// Where bytes can be picked from two registers at once: the 120 bytes of the eight fields in two
// stores. Byte j of a field is a comma (0), a blank (1, 2), a byte of its lane's middle (3 to
// 10) or of its exponent part (11 to 14); indices from 64 pick from the second register, which
// holds the exponent parts, then a comma and a blank.
struct FieldPicks {
  std::uint8_t index[128];
  constexpr FieldPicks() : index{} {
    for (int j = 0; j < 120; ++j) {
      const int lane = j / 15, at = j % 15;
      index[j] = static_cast<std::uint8_t>(at == 0   ? 64 + 32
                                           : at < 3  ? 64 + 33
                                           : at < 11 ? 8 * lane + at - 3
                                                     : 64 + 4 * lane + at - 11);
    }
  }
};

constexpr FieldPicks kFieldPicks;

[[gnu::target(FLOWSERIES_VECTOR_BASE ",avx512bw,avx512vbmi")]] void write_eight_value_fields_picked(
    char* out, const double* values) {
  const EightFields fields = round_eight(values);
  const __m512i second =
      _mm512_inserti64x4(_mm512_castsi256_si512(fields.exponent),
                         _mm256_setr_epi8(',', ' ', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
                         1);
  const __m512i low_picks = _mm512_loadu_si512(kFieldPicks.index);
  const __m512i high_picks = _mm512_loadu_si512(kFieldPicks.index + 64);
  _mm512_storeu_si512(out, _mm512_permutex2var_epi8(fields.middle, low_picks, second));
  _mm512_mask_storeu_epi8(out + 64, (__mmask64{1} << 56) - 1,
                          _mm512_permutex2var_epi8(fields.middle, high_picks, second));
  write_left_lanes(out, values, fields.ok);
}

}  // namespace

const EightFieldsWriter kWriteEightFields = write_eight_value_fields;
const EightFieldsWriter kWriteEightFieldsPermuted = write_eight_value_fields_picked;

}  // namespace records::number_parts

#else

namespace records::number_parts {

const EightFieldsWriter kWriteEightFields = nullptr;
const EightFieldsWriter kWriteEightFieldsPermuted = nullptr;

}  // namespace records::number_parts

#endif
