// Text lines on channels: a line ends at LF, with an optional CR before it; every line written
// ends with CR LF. Input lines may be of any length; only their first kLineKept bytes are kept.
#pragma once

#include <cstdint>
#include <string_view>

#include "records/channel.h"

namespace records {

// No input line has meaning past its first few hundred columns (names take 20, point lists 70,
// an answer one number). The rest of a longer line is read and dropped as it arrives, so that an
// endless line (a device, a file of zeros, a link to either) costs bounded memory.
inline constexpr std::size_t kLineKept = 8192;
// A line longer than this (one without an end, from a device or a link to one) ends the run with
// the failure of a line buffer that cannot grow, rather than being read for ever.
inline constexpr std::uint64_t kLongestLine = std::uint64_t{1} << 30;

// The next line without its line end (its first kLineKept bytes), valid until the next read on the
// channel; false when no byte is left. A read the operating system refuses ends the run with the
// read failure.
bool read_line(Channel& channel, std::string_view& line);

// Ends an output statement: console output goes out at once, file output once enough gathered.
void finish_output_statement(Channel& channel);

}  // namespace records
