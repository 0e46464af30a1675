// The program's entry: runs the dialogue and reports the failure that ended it, if any.
#include <new>
#include <string>

#include "driver/command_line.h"
#include "driver/run.h"
#include "platform/platform.h"
#include "records/channel.h"
#include "records/failure.h"
#include "records/interrupt.h"
#include "tuning/ways.h"

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
  platform::prepare_process();
  // Options are answered before anything of the run happens.
  if (const auto status = driver::handle_command_line(argc, argv)) return *status;
  // Read once, before anything of the run: a value not known is said once and changes nothing.
  if (const std::string note = tuning::read_ways_setting(); !note.empty()) {
    const std::string line = note + "\r\n";
    platform::write_some(platform::standard_stream(platform::StandardStream::kError), line.data(),
                         line.size());
  }
  records::install_interrupt_handler();
  try {
    records::Console console = records::open_console();
    driver::run(console);
    records::claim_end_of_run(false);
    if (const std::string ways = tuning::ways_taken_line(); !ways.empty()) {
      const std::string line = ways + "\r\n";
      platform::write_some(platform::standard_stream(platform::StandardStream::kError), line.data(),
                           line.size());
    }
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
