// The program's entry: runs the dialogue and reports the failure that ended it, if any.
#include <new>

#include "driver/command_line.h"
#include "driver/run.h"
#include "records/channel.h"
#include "records/failure.h"
#include "records/interrupt.h"
#include "records/platform.h"

namespace {

int report(const records::Failure& failure) {
  // The interrupt key also ends the programs that feed this one, so a pipe's end or a broken
  // read may be the event's doing and arrive before it.
  records::claim_end_of_run(failure.number() == records::kEndOfFile ||
                            failure.number() == records::kReadError);
  records::report_failure(failure);
  return failure.number();
}

}  // namespace

int main(int argc, char** argv) {
  records::platform::prepare_process();
  // Options are answered before anything of the run happens.
  if (const auto status = driver::handle_command_line(argc, argv)) return *status;
  records::install_interrupt_handler();
  try {
    records::Console console = records::open_console();
    driver::run(console);
    records::claim_end_of_run(false);
    return records::end_run();
  } catch (const records::Failure& failure) {
    return report(failure);
  } catch (const std::bad_alloc&) {
    // Memory that a table or buffer could not get is the out-of-memory failure.
    try {
      records::raise_failure(records::kNoMemory);
    } catch (const records::Failure& failure) {
      return report(failure);
    }
  }
}
