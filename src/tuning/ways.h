// The one switch between the quick program and the plain one. Every way that exists only for
// speed (threads of their own, mapped reads, vector formatting, timed choices) asks here first;
// with FLOWSERIES_WAYS=plain the run takes the plain way everywhere, on one thread. The output
// bytes are the same either way: the plain program is the reference that the quick ways are tested
// against.
#pragma once

#include <string>

namespace tuning {

// Reads FLOWSERIES_WAYS: "plain" for the plain ways, "all" or unset for every way this machine
// can take. Any other value is ignored; the returned text (empty otherwise) says so, for the
// caller to show once.
std::string read_ways_setting();

// Whether this run takes only the plain ways; read from the environment at its first call unless
// read_ways_setting or force_plain_ways came first.
bool plain_ways();

// For tests that run the quick and the plain ways side by side in one process.
void force_plain_ways(bool plain);

// What the run took, so that a test can tell that the switch took effect: the threads of their
// own that were started, the views of files that were mapped, and the way value fields were
// formatted last ("none" before any). Counted as they happen, from any thread.
enum class WayTaken { kThread, kMappedView };
void note_way(WayTaken way);
void note_fields_way(const char* name);  // a string literal
struct WaysTaken {
  int threads = 0;
  int mapped_views = 0;
  const char* fields = "none";
};
WaysTaken ways_taken();
// One line for standard error (no line end) when FLOWSERIES_SHOW_WAYS is set, empty otherwise.
std::string ways_taken_line();

}  // namespace tuning
