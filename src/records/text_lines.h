// Text lines on channels: a line ends at LF, with an optional CR before it; every line written
// ends with CR LF. Input lines may be of any length.
#pragma once

#include <string_view>

#include "records/channel.h"

namespace records {

// The next line without its line end, valid until the next read on the channel; false when no
// byte is left. A read the operating system refuses ends the run with the read failure.
bool read_line(Channel& channel, std::string_view& line);

// Ends an output statement: console output goes out at once, file output once enough gathered.
void finish_output_statement(Channel& channel);

}  // namespace records
