// Arbitrary bytes as standard input: the free-form answer, then the two names read through the
// name layout, as the dialogue reads them.
#include <array>
#include <cstdint>
#include <string>

#include "records/channel.h"
#include "records/console.h"
#include "records/failure.h"
#include "records/text_layout.h"
#include "testing/test_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    records::Channel input = testing_support::channel_over_fuzz_input(
        data, size, records::ChannelKind::kText, records::kConsoleInputChannel);
    std::int32_t answer = 0;
    records::read_free_integer(input, answer);
    std::array<char, 20> name{};
    const records::InputTarget target[] = {records::InputTarget::of(name.data(), name.size())};
    records::read_formatted(input, records::kNameLayout, target);
    records::read_formatted(input, records::kNameLayout, target);
    (void)records::resolve_name(std::string_view(name.data(), name.size()));
  } catch (const records::Failure&) {
  }
  return 0;
}
