// The run driver: the console dialogue, the opening of the inputs, the work area and the
// hand-over to the extraction.
#pragma once

#include "records/console.h"

namespace driver {

// One whole run on the given console, in the current directory. Ends by returning (the normal
// end) or by throwing records::Failure.
void run(records::Console& console);

}  // namespace driver
