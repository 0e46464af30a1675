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

}  // namespace tuning
