// nolvad's parts that HTTP cannot reach quickly: the throttle's clock, and
// the small parsers every request goes through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nolvad/http.h"
#include "nolvad/records.h"
#include "nolvad/routes.h"
#include "nolvad/throttle.h"

namespace nolvad {
namespace {

using std::chrono::seconds;

struct WaitRow {
  const char* name;
  int failures;
  int wait;
};

void PrintTo(const WaitRow& row, std::ostream* out) {
  *out << row.name;
}

class ThrottleWait : public ::testing::TestWithParam<WaitRow> {};

TEST_P(ThrottleWait, DoublesAfterTheFreeFailuresUpToAMinute) {
  Throttle throttle;
  const Throttle::Clock::time_point start{};
  for (int i = 0; i < GetParam().failures; ++i)
    throttle.Failed("10.0.0.1", start);
  EXPECT_EQ(throttle.WaitSeconds("10.0.0.1", start), GetParam().wait);
  EXPECT_EQ(throttle.WaitSeconds("10.0.0.1", start + seconds(GetParam().wait)), 0);
  EXPECT_EQ(throttle.WaitSeconds("10.0.0.2", start), 0);
}

INSTANTIATE_TEST_SUITE_P(Failures, ThrottleWait,
                         ::testing::Values(WaitRow{"five_are_free", 5, 0},
                                           WaitRow{"sixth_waits_a_second", 6, 1},
                                           WaitRow{"seventh_two", 7, 2},
                                           WaitRow{"eleventh_thirty_two", 11, 32},
                                           WaitRow{"twelfth_a_minute", 12, 60},
                                           WaitRow{"never_more_than_a_minute", 40, 60}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Throttle, PartOfASecondLeftIsAWholeSecond) {
  Throttle throttle;
  const Throttle::Clock::time_point start{};
  for (int i = 0; i < 6; ++i)
    throttle.Failed("c", start);
  EXPECT_EQ(throttle.WaitSeconds("c", start + std::chrono::milliseconds(999)), 1);
}

TEST(Throttle, SuccessClearsTheCount) {
  Throttle throttle;
  const Throttle::Clock::time_point start{};
  for (int i = 0; i < 6; ++i)
    throttle.Failed("c", start);
  throttle.Succeeded("c");
  throttle.Failed("c", start);
  EXPECT_EQ(throttle.WaitSeconds("c", start), 0);
}

TEST(Throttle, AFullTableForgetsTheOldestFailureFirst) {
  Throttle throttle;
  const Throttle::Clock::time_point start{};
  auto failMuch = [&](const std::string& client, Throttle::Clock::time_point when) {
    for (int i = 0; i < 12; ++i)
      throttle.Failed(client, when);
  };
  failMuch("first", start);
  for (int client = 0; client < kThrottledAddresses; ++client)
    failMuch(std::to_string(client), start + seconds(1));
  EXPECT_EQ(throttle.WaitSeconds("first", start + seconds(2)), 0);
  EXPECT_EQ(throttle.WaitSeconds("0", start + seconds(2)), 59);
  EXPECT_EQ(throttle.WaitSeconds("63", start + seconds(2)), 59);
}

struct TextRow {
  const char* name;
  std::string in;
  bool ok;
  std::string out;
};

void PrintTo(const TextRow& row, std::ostream* out) {
  *out << row.name;
}

class Decode : public ::testing::TestWithParam<TextRow> {};

TEST_P(Decode, PercentEscapes) {
  std::string out = "untouched";
  EXPECT_EQ(PercentDecode(GetParam().in, &out), GetParam().ok);
  EXPECT_EQ(out, GetParam().ok ? GetParam().out : "untouched");
}

INSTANTIATE_TEST_SUITE_P(Rows, Decode,
                         ::testing::Values(TextRow{"plain", "bob", true, "bob"},
                                           TextRow{"escapes", "b%C3%a9a%2F", true,
                                                   "b\xC3\xA9"
                                                   "a/"},
                                           TextRow{"percent_at_end", "a%", false, ""},
                                           TextRow{"one_digit", "a%2", false, ""},
                                           TextRow{"not_hex", "%zz", false, ""},
                                           TextRow{"nul", "%00", true, std::string(1, '\0')}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Query, ValueOfANameDecodedOthersIgnored) {
  std::string value;
  EXPECT_TRUE(QueryValue("a=1&force=tr%75e", "force", &value));
  EXPECT_EQ(value, "true");
  EXPECT_FALSE(QueryValue("forced=true&xforce=true", "force", &value));
  EXPECT_TRUE(QueryValue("force", "force", &value));
  EXPECT_EQ(value, "");
}

struct MatchRow {
  const char* name;
  const char* pattern;
  std::string path;
  bool matches;
  std::vector<std::string> names;
};

void PrintTo(const MatchRow& row, std::ostream* out) {
  *out << row.name;
}

class Match : public ::testing::TestWithParam<MatchRow> {};

TEST_P(Match, PathAgainstPattern) {
  std::vector<std::string> names = {"untouched"};
  EXPECT_EQ(Matches(GetParam().pattern, GetParam().path, &names), GetParam().matches);
  if (GetParam().matches) {
    EXPECT_EQ(names, GetParam().names);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Match,
    ::testing::Values(MatchRow{"exact", "/api/network", "/api/network", true, {}},
                      MatchRow{"trailing_slash", "/api/network", "/api/network/", false, {}},
                      MatchRow{"prefix_only", "/api/network", "/api/net", false, {}},
                      MatchRow{"name", "/api/users/{name}", "/api/users/b%2Fob", true, {"b%2Fob"}},
                      MatchRow{"empty_name", "/api/users/{name}", "/api/users/", true, {""}},
                      MatchRow{"name_then_more",
                               "/api/users/{name}/password",
                               "/api/users/bob/password",
                               true,
                               {"bob"}},
                      MatchRow{
                          "name_spans_no_slash", "/api/users/{name}", "/api/users/a/b", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Routes, OnePerPathAndMethod) {
  for (const Route& a : kRoutes)
    for (const Route& b : kRoutes)
      if (&a != &b) {
        EXPECT_FALSE(std::string(a.method) == b.method && std::string(a.path) == b.path)
            << a.method << " " << a.path;
      }
}

struct TagRow {
  const char* name;
  std::string ifMatch;
  bool names;
};

void PrintTo(const TagRow& row, std::ostream* out) {
  *out << row.name;
}

class IfMatch : public ::testing::TestWithParam<TagRow> {};

TEST_P(IfMatch, NamesTheStoredVersion) {
  EXPECT_EQ(IfMatchNames(GetParam().ifMatch, "\"abc\""), GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IfMatch,
    ::testing::Values(TagRow{"same", "\"abc\"", true}, TagRow{"any", "*", true},
                      TagRow{"in_a_list", "\"x\" , \"abc\"", true},
                      TagRow{"other", "\"abd\"", false}, TagRow{"weak_never", "W/\"abc\"", false},
                      TagRow{"unquoted", "abc", false}, TagRow{"empty", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace nolvad
