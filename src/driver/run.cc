// The dialogue of a run.
#include "driver/run.h"

#include <array>
#include <string_view>

#include "driver/work_area.h"
#include "inputs/point_list.h"
#include "inputs/result_file.h"
#include "records/text_layout.h"
#include "series/extraction.h"

namespace driver {
namespace {

using records::Channel;
using records::ChannelKind;
using records::InputTarget;
using records::OpenMode;

// The prompts, as code page 932 bytes, and the same texts in UTF-8 for terminals that show it.
struct Prompt {
  std::string_view cp932;
  std::string_view utf8;
};

constexpr Prompt kAnnounceSettings{
    "---  \x8c\x8b\x89\xca\x83t\x83@\x83"
    "C\x83\x8b\x81i\x90}\x89\xbb\x97p\x81j\x82\xcc\x93\xc7"
    "\x82\xdd\x8d\x9e\x82\xdd\x82\xcc\x90\xdd\x92\xe8 ",
    "---  結果ファイル（図化用）の読み込みの設定 "};
constexpr Prompt kOfferWorkList{"---    WORK.LST\x82\xa9\x82\xe7\x93\xc7\x82\xdd\x8d\x9e\x82\xde/0",
                                "---    WORK.LSTから読み込む/0"};
constexpr Prompt kOfferTypedName{
    "---    \x83t\x83@\x83"
    "C\x83\x8b\x96\xbc\x82\xf0\x93\xfc\x97\xcd\x81@\x81@/1",
    "---    ファイル名を入力　　/1"};
constexpr Prompt kAskResultName{
    "--- \x8c\x8b\x89\xca\x83t\x83@\x83"
    "C\x83\x8b\x96\xbc\x82\xcc\x93\xfc\x97\xcd ",
    "--- 結果ファイル名の入力 "};
constexpr Prompt kAnnounceGraphData{
    "--- \x83O\x83\x89\x83t\x97p\x83"
    "f\x81[\x83^\x82\xcc\x93\xc7\x82\xdd\x8d\x9e\x82\xdd ",
    "--- グラフ用データの読み込み "};
constexpr Prompt kAskPointListName{
    "---   \x81@ \x83"
    "f\x81[\x83^\x83t\x83@\x83"
    "C\x83\x8b\x96\xbc\x82\xcc\x93\xfc\x97\xcd",
    "---   　 データファイル名の入力"};

void prompt(records::Console& console, const Prompt& text) {
  records::write_free(console.output, {console.utf8_prompts ? text.utf8 : text.cp932});
}

constexpr int kWorkListNameLine = 4;

using Name = std::array<char, 20>;

void read_name(Channel& channel, Name& name) {
  const InputTarget target[] = {InputTarget::of(name.data(), name.size())};
  records::read_formatted(channel, records::kNameLayout, target);
}

// The result file's name: typed (answer 1) or the first 20 columns of line 4 of "WORK.LST".
Name result_file_name(records::Console& console, std::int32_t answer) {
  Name name;
  if (answer == 1) {
    prompt(console, kAskResultName);
    read_name(console.input, name);
    return name;
  }
  Channel work_list = records::open_channel(records::kWorkListChannel, "WORK.LST",
                                            ChannelKind::kText, OpenMode::kMustExist);
  for (int line = 1; line <= kWorkListNameLine; ++line) read_name(work_list, name);
  records::close_channel(work_list);
  return name;
}

void echo_header(records::Console& console, const inputs::ResultHeader& header) {
  std::array<records::OutputValue, 20> pieces;
  for (std::size_t i = 0; i < pieces.size(); ++i)
    pieces[i] = records::OutputValue::of(std::string_view(header.title.data() + 4 * i, 4));
  records::write_formatted(console.output, records::kTitleLayout, pieces);
  records::write_free(console.output, {header.node_count, header.link_count});
}

}  // namespace

void run(records::Console& console) {
  prompt(console, kAnnounceSettings);
  prompt(console, kOfferWorkList);
  prompt(console, kOfferTypedName);
  // An answer left unset (a lone comma or slash) counts as 0: the name comes from the work list.
  std::int32_t answer = 0;
  records::read_free_integer(console.input, answer);
  const Name result_name = result_file_name(console, answer);

  Channel result = records::open_channel(records::kResultChannel,
                                         std::string_view(result_name.data(), result_name.size()),
                                         ChannelKind::kBinary, OpenMode::kMustExist);
  const inputs::ResultHeader header = inputs::read_result_header(result);
  echo_header(console, header);

  prompt(console, kAnnounceGraphData);
  prompt(console, kAskPointListName);
  Name point_list_name;
  read_name(console.input, point_list_name);
  Channel point_list = records::open_channel(
      records::kPointListChannel, std::string_view(point_list_name.data(), point_list_name.size()),
      ChannelKind::kText, OpenMode::kCreateIfMissing);
  finish_run(result, header, point_list);
}

void finish_run(records::Channel& result, const inputs::ResultHeader& header,
                records::Channel& point_list, std::string_view folder) {
  inputs::Limits limits = inputs::read_limits_line(point_list);
  WorkArea area = size_work_area(limits, point_list);
  series::extract_series(point_list, result, header, area.tables, folder);
}

}  // namespace driver
