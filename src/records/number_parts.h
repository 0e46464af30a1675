// What the files of number text share beyond their tables: the general exponent field, the
// series files' two fields on their common path, and the 512-bit kernels of a row's value fields.
#pragma once

#include "records/number_text.h"

namespace records::number_parts {

// Any exponent field, exactly: special values, zero, near-ties and every width and digit count.
FieldStatus write_any_exponent_field(char* field, double x, int width, int digits, int scale);

// The series files' two fields (E16.7 and 1PE14.5) on their common path; false for any other
// field, and for the values that need the general path.
bool write_common_field(char* field, double x, int width, int digits, int scale);

// A comma and the value field: 15 bytes.
void write_comma_field(char* out, double x);

// Eight values' comma and value fields (120 bytes) with 512-bit vector instructions, with byte
// permutes or without; lanes the vector way cannot round exactly go one by one. Null where the
// build has no such kernels.
using EightFieldsWriter = void (*)(char* out, const double* values);
extern const EightFieldsWriter kWriteEightFields;
extern const EightFieldsWriter kWriteEightFieldsPermuted;

}  // namespace records::number_parts
