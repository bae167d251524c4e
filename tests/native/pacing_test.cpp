// The spacing of a pass's query starts: exact on time, never closer than 50 ms after a stall.
#include <gtest/gtest.h>
#include <stdint.h>

#include <vector>

#include "query/reply.h"

namespace {

// The coordinator's loop without threads or a clock: starts[i] is when start i was made, and the
// result is when each start was due.
std::vector<uint32_t> DueTimes(uint32_t first, const std::vector<uint32_t> &starts) {
  std::vector<uint32_t> due = {first};
  for (size_t i = 0; i + 1 < starts.size(); i++) due.push_back(NextQueryStart(due.back(), starts[i]));
  return due;
}

TEST(QueryPacing, StartsOnTimeKeepTheExactSpacingFromTheFirst) {
  std::vector<uint32_t> starts;
  for (uint32_t i = 0; i < 64; i++) starts.push_back(1000 + 50 * i);
  EXPECT_EQ(starts, DueTimes(1000, starts));
  EXPECT_EQ(1000u + 63 * 50, DueTimes(1000, starts).back());  // 3.15 s for a full table
}

// A stall of 400 ms before start 3: the old rule fired the starts that fell behind together.
TEST(QueryPacing, AStalledStartBecomesTheNewBase) {
  std::vector<uint32_t> starts = {0, 50, 100, 550, 600, 650};
  std::vector<uint32_t> expected = {0, 50, 100, 150, 600, 650};
  EXPECT_EQ(expected, DueTimes(0, starts));
}

TEST(QueryPacing, NoStartComesCloserThan50MsToTheOneBefore) {
  struct Case {
    uint32_t due, started;
  } cases[] = {{0, 0},
               {0, 1},
               {0, 30},
               {0, 49},
               {0, 50},
               {0, 51},
               {0, 120},
               {0, 5000},
               {0xFFFFFFF0u, 0xFFFFFFF0u},
               {0xFFFFFFF0u, 0x20u}};  // timeGetTime wraps
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.due << " " << c.started);
    uint32_t next = NextQueryStart(c.due, c.started);
    EXPECT_GE((int32_t)(next - c.started), 50);
    EXPECT_GE((int32_t)(next - c.due), 50);
    if (c.started == c.due) {
      EXPECT_EQ(c.due + 50, next);
    }
  }
  EXPECT_EQ(0x52u, NextQueryStart(0xFFFFFFF0u, 0x20u));  // the late start is the base
}

}  // namespace
