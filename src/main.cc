// The program's entry: runs the dialogue and reports the failure that ended it, if any.
#include <csignal>
#include <new>

#include "driver/command_line.h"
#include "driver/run.h"
#include "records/failure.h"
#include "records/interrupt.h"

int main(int argc, char** argv) {
  // Options are answered before anything of the run happens.
  if (const auto status = driver::handle_command_line(argc, argv)) return *status;
  records::install_interrupt_handler();
  // A closed standard output must surface as a write failure, not kill the process silently.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    records::Console console = records::open_console();
    driver::run(console);
    return records::end_run();
  } catch (const records::Failure& failure) {
    records::report_failure(failure, 2);
    return failure.number();
  } catch (const std::bad_alloc&) {
    // Memory that a table or buffer could not get is the out-of-memory failure.
    try {
      records::raise_failure(records::kNoMemory);
    } catch (const records::Failure& failure) {
      records::report_failure(failure, 2);
      return failure.number();
    }
  }
}
