// The run driver: the console dialogue, the opening of the inputs, the work area and the
// hand-over to the extraction.
#pragma once

#include <string_view>

#include "inputs/result_file.h"
#include "records/channel.h"
#include "records/console.h"

namespace driver {

// The run after its dialogue: the limits line of the open point-list file, the work area, the
// extraction and the series files (in the current directory, or in `folder`). The program and
// the library's extract() end their runs here alike.
void finish_run(records::Channel& result, const inputs::ResultHeader& header,
                records::Channel& point_list, std::string_view folder = {});

// One whole run on the given console, in the current directory. Ends by returning (the normal
// end) or by throwing records::Failure.
void run(records::Console& console);

}  // namespace driver
