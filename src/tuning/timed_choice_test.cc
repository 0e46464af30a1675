#include "tuning/timed_choice.h"

#include <gtest/gtest.h>

#include <vector>

namespace tuning {
namespace {

using std::chrono::nanoseconds;

enum class Way { kFirst, kSecond };
using TimedChoice = tuning::TimedChoice<Way>;

// Runs jobs through the choice, each way taking the times given in turn, until it settles;
// returns the way kept and how many jobs each way had.
struct Outcome {
  Way kept;
  int first_jobs;
  int second_jobs;
};

Outcome run(const std::vector<long>& first_times, const std::vector<long>& second_times) {
  TimedChoice choice;
  int jobs[2] = {0, 0};
  while (!choice.settled()) {
    const Way way = choice.way();
    const auto& times = way == Way::kFirst ? first_times : second_times;
    const int n = jobs[static_cast<int>(way)]++;
    choice.note(way, nanoseconds(times[static_cast<std::size_t>(n) % times.size()]));
  }
  return {choice.way(), jobs[0], jobs[1]};
}

TEST(TimedChoice, KeepsTheWayWithTheSmallerMedian) {
  constexpr int kFull = TimedChoice::kWarmUp + TimedChoice::kTrials;
  constexpr int kClear = TimedChoice::kWarmUp + TimedChoice::kClearTrials;
  struct Case {
    const char* what;
    std::vector<long> first, second;
    Way kept;
    int jobs;  // of each way, tried alike, alternately
  } cases[] = {
      // More than twice as quick every time: decided early.
      {"second far quicker", {100}, {40}, Way::kSecond, kClear},
      {"first far quicker", {40}, {100}, Way::kFirst, kClear},
      {"equal: the first", {70}, {70}, Way::kFirst, kFull},
      {"twice as quick only", {40}, {80}, Way::kFirst, kFull},
      // The warm-up job (mapping, buffers) is not counted, however slow.
      {"slow first job", {100000, 10, 10, 10, 10, 10}, {20}, Way::kFirst, kFull},
      // One or two jobs slowed by something else do not decide.
      {"two outliers", {5, 10, 10, 900, 10, 900}, {20}, Way::kFirst, kFull},
      {"mostly slower", {5, 30, 30, 30, 1, 1}, {20}, Way::kSecond, kFull},
      {"one quick job", {5, 10, 60, 100, 100, 100}, {50}, Way::kSecond, kFull},
  };
  for (const Case& c : cases) {
    const Outcome o = run(c.first, c.second);
    EXPECT_EQ(o.kept, c.kept) << c.what;
    EXPECT_EQ(o.first_jobs, c.jobs) << c.what;
    EXPECT_EQ(o.second_jobs, c.jobs) << c.what;
  }
}

TEST(TimedChoice, AlternatesUntilSettledThenKeepsOneWay) {
  TimedChoice choice;
  std::vector<Way> ways;
  while (!choice.settled()) {
    ways.push_back(choice.way());
    choice.note(ways.back(), nanoseconds(ways.back() == Way::kFirst ? 9 : 3));
  }
  for (std::size_t i = 0; i < ways.size(); ++i)
    EXPECT_EQ(ways[i], i % 2 == 0 ? Way::kFirst : Way::kSecond) << i;
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(choice.way(), Way::kSecond);
    choice.note(Way::kSecond, nanoseconds(1000000));  // no longer weighed
  }
}

TEST(TimedChoice, AWayRuledOutLeavesTheOther) {
  for (const Way out : {Way::kFirst, Way::kSecond}) {
    TimedChoice choice;
    choice.note(Way::kFirst, nanoseconds(1));
    choice.rule_out(out);
    EXPECT_TRUE(choice.settled());
    EXPECT_NE(choice.way(), out);
  }
}

// Once settled, jobs of the kept way are weighed against the other way's median: three in a row
// at more than twice it give the kept way up, for good.
TEST(TimedChoice, AKeptWayThatTurnsSlowIsGivenUp) {
  struct Case {
    const char* what;
    std::vector<long> kept_times;  // after the choice of the first way (10 against 20)
    bool given_up;
  } cases[] = {
      {"as quick as in the trials", {10, 10, 10, 10}, false},
      {"slower, not twice the other", {39, 40, 40, 40, 40}, false},
      {"two slow jobs, then a quick one", {50, 50, 10, 50, 50, 10}, false},
      {"three slow jobs in a row", {10, 50, 50, 50}, true},
  };
  for (const Case& c : cases) {
    TimedChoice choice;
    while (!choice.settled()) {
      const Way way = choice.way();
      choice.note(way, nanoseconds(way == Way::kFirst ? 10 : 20));
    }
    ASSERT_EQ(choice.way(), Way::kFirst) << c.what;
    for (const long t : c.kept_times) choice.note_kept(nanoseconds(t));
    EXPECT_EQ(choice.way(), c.given_up ? Way::kSecond : Way::kFirst) << c.what;
    if (c.given_up) {
      // The way taken instead is kept whatever it costs from then on.
      for (int i = 0; i < 5; ++i) choice.note_kept(nanoseconds(1000));
      EXPECT_EQ(choice.way(), Way::kSecond) << c.what;
    }
  }
}

TEST(TimedChoice, AWayRuledOutIsNeverGivenUp) {
  TimedChoice choice;
  choice.rule_out(Way::kFirst);
  for (int i = 0; i < 5; ++i) choice.note_kept(nanoseconds(1000000));
  EXPECT_EQ(choice.way(), Way::kSecond);
}

}  // namespace
}  // namespace tuning
