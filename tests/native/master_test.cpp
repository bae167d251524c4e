// Master list: the body check, the merge into the table and the joining of the received reads.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "master/master.h"

namespace {

void ClearTable() {
  memset(records, 0, sizeof records);
  serverCount = 0;
}

// The text in a heap block of exactly its length, without a terminator, so a read past the
// given length leaves the block.
void MergeExact(const std::string &text) {
  char *copy = (char *)malloc(text.size() ? text.size() : 1);
  ASSERT_NE(nullptr, copy);
  if (!text.empty()) memcpy(copy, text.data(), text.size());
  MergeMasterList(copy, (int32_t)text.size());
  free(copy);
}

void AddRecord(const char *address, uint16_t port, int32_t fromMasterList) {
  ServerRecord *r = &records[serverCount++];
  memset(r, 0, sizeof *r);
  strcpy(r->address, address);
  r->port = port;
  r->fromMasterList = fromMasterList;
}

bool AllZero(const ServerRecord &r) {
  const unsigned char *p = (const unsigned char *)&r;
  for (size_t i = 0; i < sizeof r; i++)
    if (p[i] != 0) return false;
  return true;
}

TEST(MasterListBody, FirstByteMustBeADecimalDigit) {
  struct Case {
    const char *text;
    int32_t length;
    bool accepted;
  } cases[] = {
      {"0", 1, true},
      {"9.1.1.1:27910\n", 14, true},
      {"192.0.2.7:910", 13, true},
      {"/", 1, false},  // 0x2F, just below '0'
      {":", 1, false},  // 0x3A, just above '9'
      {"<html>", 6, false},
      {" 1.2.3.4:5", 10, false},
      {"host.example:27910", 18, false},  // a host name is fine on later lines only
      {"\xEF\xBB\xBF"
       "1.2.3.4:5",
       12, false},      // byte order mark
      {"1", 0, false},  // nothing received
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.accepted, IsMasterListBody(c.text, c.length));
  }
}

TEST(MasterListMerge, AddressUpToFirstColonAndPortAsLow16Bits) {
  struct Case {
    const char *line;
    const char *address;
    uint16_t port;
  } cases[] = {
      {"192.0.2.7:910\r\n", "192.0.2.7", 910},  // CR after the digits is ignored
      {"192.0.2.7\n", "192.0.2.7", 0},          // no colon: whole line, port 0
      {"192.0.2.7\r\n", "192.0.2.7\r", 0},      // ...and the CR stays in the address
      {"192.0.2.7:\n", "192.0.2.7", 0},         // nothing after the colon
      {"10.0.0.1:65536\n", "10.0.0.1", 0},      // modulo 65536
      {"10.0.0.1:65537\n", "10.0.0.1", 1},
      {"10.0.0.1:4294967297\n", "10.0.0.1", 1},  // beyond 32 bits: still the low 16 bits
      {"10.0.0.1:-1\n", "10.0.0.1", 65535},
      {"10.0.0.1: 910x\n", "10.0.0.1", 910},  // leading space skipped, digits up to the letter
      {"10.0.0.1:+27\n", "10.0.0.1", 27},
      {"10.0.0.1:abc\n", "10.0.0.1", 0},
      {"host:1:2\n", "host", 1},
      {" spaced host :27910\n", " spaced host ", 27910},  // no trimming
      {":27910\n", "", 27910},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    ClearTable();
    MergeExact(std::string("1.1.1.1:1\n") + c.line);
    ASSERT_EQ(2, serverCount);
    EXPECT_STREQ(c.address, records[1].address);
    EXPECT_EQ(1, records[1].fromMasterList);
    EXPECT_EQ(c.port, records[1].port);
  }
}

// 10^23 mod 65536, computed step by step so the expectation does not come from ReadPort.
TEST(MasterListMerge, HugePortIsTheValueModulo65536) {
  uint32_t expected = 0;
  std::string digits = "99999999999999999999999";
  for (char d : digits) expected = (expected * 10 + (uint32_t)(d - '0')) % 65536;
  ClearTable();
  MergeExact("1.2.3.4:" + digits + "\n");
  ASSERT_EQ(1, serverCount);
  EXPECT_EQ(expected, records[0].port);
}

TEST(MasterListMerge, EveryLineIsARecordEmptyAndGarbageIncluded) {
  ClearTable();
  MergeExact("10.0.0.1:27910\n\n%%garbage%%\n\n:\nlast:5");  // last line has no line feed
  ASSERT_EQ(6, serverCount);
  const char *addresses[] = {"10.0.0.1", "", "%%garbage%%", "", "", "last"};
  const uint16_t ports[] = {27910, 0, 0, 0, 0, 5};
  for (int i = 0; i < 6; i++) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(addresses[i], records[i].address);
    EXPECT_EQ(ports[i], records[i].port);
    EXPECT_EQ(1, records[i].fromMasterList);
  }
  EXPECT_TRUE(AllZero(records[6]));
}

TEST(MasterListMerge, HundredLinesGiveTheFirst64InFileOrder) {
  ClearTable();
  std::string text;
  for (int i = 0; i < 100; i++)
    text += "10.1.0." + std::to_string(i) + ":" + std::to_string(27000 + i) + "\n";
  MergeExact(text);
  ASSERT_EQ(MAX_SERVERS, serverCount);
  for (int i = 0; i < MAX_SERVERS; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ("10.1.0." + std::to_string(i), std::string(records[i].address));
    EXPECT_EQ(27000 + i, records[i].port);
  }
}

TEST(MasterListMerge, NonMasterRecordsKeepTheirOrderAtTheFront) {
  ClearTable();
  for (int i = 0; i < 10; i++) {
    bool cached = (i == 3 || i == 7);
    AddRecord(cached ? (i == 3 ? "cached.three" : "cached.seven") : "old.master", (uint16_t)(100 + i),
              cached ? 0 : 1);
  }
  strcpy(records[3].hostName, "Three's host");
  records[7].ping = 77;
  std::string text;
  for (int i = 0; i < 70; i++) text += "10.2.0." + std::to_string(i) + ":" + std::to_string(i + 1) + "\n";
  MergeExact(text);

  ASSERT_EQ(MAX_SERVERS, serverCount);
  EXPECT_STREQ("cached.three", records[0].address);
  EXPECT_EQ(103, records[0].port);
  EXPECT_EQ(0, records[0].fromMasterList);
  EXPECT_STREQ("Three's host", records[0].hostName);  // moved whole, not rebuilt
  EXPECT_STREQ("cached.seven", records[1].address);
  EXPECT_EQ(77, records[1].ping);
  for (int i = 2; i < MAX_SERVERS; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ("10.2.0." + std::to_string(i - 2), std::string(records[i].address));
    EXPECT_EQ(1, records[i].fromMasterList);
    EXPECT_FALSE(AllZero(records[i]));
  }
}

TEST(MasterListMerge, FreedSlotsAreZeroedWhenTheNewListIsShorter) {
  ClearTable();
  for (int i = 0; i < 8; i++) AddRecord("old.master", (uint16_t)i, i == 5 ? 0 : 1);
  MergeExact("10.3.0.1:1\n");
  ASSERT_EQ(2, serverCount);
  EXPECT_STREQ("old.master", records[0].address);
  EXPECT_EQ(5, records[0].port);
  EXPECT_STREQ("10.3.0.1", records[1].address);
  for (int i = 2; i < 8; i++) EXPECT_TRUE(AllZero(records[i])) << i;
}

TEST(MasterListMerge, FullTableOfCachedRecordsTakesNoLine) {
  ClearTable();
  for (int i = 0; i < MAX_SERVERS; i++) AddRecord("cached", (uint16_t)i, 0);
  ServerRecord before[MAX_SERVERS];
  memcpy(before, records, sizeof records);
  MergeExact("10.4.0.1:1\n10.4.0.2:2\n");
  EXPECT_EQ(MAX_SERVERS, serverCount);
  EXPECT_EQ(0, memcmp(before, records, sizeof records));
}

TEST(MasterListMerge, LongAddressIsCutTo255AndTerminated) {
  ClearTable();
  std::string longName(300, 'h');
  MergeExact(longName + ":27910\n" + std::string(255, 'x') + ":1\n");
  ASSERT_EQ(2, serverCount);
  EXPECT_EQ(longName.substr(0, 255), std::string(records[0].address));
  EXPECT_EQ(27910, records[0].port);  // the port still comes from after the colon
  EXPECT_EQ(std::string(255, 'x'), std::string(records[1].address));
}

TEST(MasterListMerge, ReadsNoFurtherThanTheLength) {
  ClearTable();
  const char text[] = "1.2.3.4:5\n6.7.8.9:10\n";
  MergeMasterList(text, 9);  // only "1.2.3.4:5"
  ASSERT_EQ(1, serverCount);
  EXPECT_STREQ("1.2.3.4", records[0].address);
  EXPECT_EQ(5, records[0].port);
  ClearTable();
  MergeMasterList(text, 8);  // the port digit is beyond the length
  ASSERT_EQ(1, serverCount);
  EXPECT_EQ(0, records[0].port);
}

TEST(MasterListMerge, EmptyTextStillDropsTheEarlierList) {
  ClearTable();
  AddRecord("old.master", 1, 1);
  AddRecord("cached", 2, 0);
  MergeExact("");
  ASSERT_EQ(1, serverCount);
  EXPECT_STREQ("cached", records[0].address);
  EXPECT_TRUE(AllZero(records[1]));
}

TEST(UsableText, StopsAtTerminatorOrLength) {
  EXPECT_EQ(3, UsableTextLength("abc\0def", 7));
  EXPECT_EQ(2, UsableTextLength("abc", 2));
  EXPECT_EQ(0, UsableTextLength("", 5000));  // a length beyond the buffer is not followed
  EXPECT_EQ(0, UsableTextLength("abc", 0));
}

std::string Body(const MasterText &body) { return std::string(body.text, (size_t)body.length); }

TEST(MasterTextJoin, ExactlyOneReadOf8000Bytes) {
  MasterText body = {};
  std::string chunk(MASTER_READ_SIZE, '7');
  ASSERT_TRUE(AppendMasterChunk(&body, chunk.data(), (int32_t)chunk.size()));
  ASSERT_TRUE(AppendMasterChunk(&body, "", 0));  // the final empty read changes nothing
  EXPECT_EQ(8000, body.total);
  EXPECT_EQ(8000, body.length);
  EXPECT_EQ(8001, body.capacity);
  EXPECT_EQ(0, body.text[8000]);
  EXPECT_EQ(chunk, Body(body));
  ReleaseMasterText(&body);
  EXPECT_EQ(NULL, body.text);
}

TEST(MasterTextJoin, ThreeReadsOf20000Bytes) {
  MasterText body = {};
  std::string all;
  const int32_t sizes[] = {8000, 8000, 4000};
  for (int i = 0; i < 3; i++) {
    std::string chunk((size_t)sizes[i], (char)('a' + i));
    all += chunk;
    ASSERT_TRUE(AppendMasterChunk(&body, chunk.data(), sizes[i]));
  }
  EXPECT_EQ(20000, body.total);
  EXPECT_EQ(all, Body(body));
  EXPECT_GE(body.capacity, 20001);
  ReleaseMasterText(&body);
}

TEST(MasterTextJoin, NulBytesEndEachChunkButCount) {
  MasterText body = {};
  const char first[] = {'1', '.', '2', 0, 'x', 'y'};
  const char second[] = {':', '5', '\n'};
  const char zeros[] = {0, 0, 0, 0};
  ASSERT_TRUE(AppendMasterChunk(&body, first, 6));
  ASSERT_TRUE(AppendMasterChunk(&body, zeros, 4));
  ASSERT_TRUE(AppendMasterChunk(&body, second, 3));
  EXPECT_EQ("1.2:5\n", Body(body));
  EXPECT_EQ(13, body.total);
  EXPECT_EQ(6, UsableTextLength(body.text, body.total));
  ReleaseMasterText(&body);
}

TEST(MasterTextJoin, AllNulFirstReadGivesAnEmptyText) {
  MasterText body = {};
  const char zeros[8] = {};
  ASSERT_TRUE(AppendMasterChunk(&body, zeros, 8));
  ASSERT_NE(nullptr, body.text);
  EXPECT_STREQ("", body.text);
  EXPECT_EQ(8, body.total);
  EXPECT_FALSE(IsMasterListBody(body.text, UsableTextLength(body.text, body.total)));
  ReleaseMasterText(&body);
}

// Reading at most the allowance each time stops at exactly 1 MiB; the buffer is reallocated
// only a logarithmic number of times and never exceeds the limit and its terminator.
TEST(MasterTextJoin, StopsAtTheLimitWithGeometricGrowth) {
  MasterText body = {};
  std::string chunk(MASTER_READ_SIZE, 'z');
  int reads = 0, growths = 0;
  int32_t allowance;
  while ((allowance = MasterReadAllowance(&body)) > 0) {
    int32_t before = body.capacity;
    ASSERT_LE(allowance, MASTER_READ_SIZE);
    ASSERT_TRUE(AppendMasterChunk(&body, chunk.data(), allowance));
    if (body.capacity != before) growths++;
    ASSERT_LE(body.capacity, MASTER_BODY_LIMIT + 1);
    ASSERT_LT(reads++, 1000);
  }
  EXPECT_EQ(MASTER_BODY_LIMIT, body.total);
  EXPECT_EQ(MASTER_BODY_LIMIT, body.length);
  EXPECT_EQ(0, body.text[MASTER_BODY_LIMIT]);
  EXPECT_EQ((MASTER_BODY_LIMIT + MASTER_READ_SIZE - 1) / MASTER_READ_SIZE, reads);
  EXPECT_LE(growths, 10);
  ReleaseMasterText(&body);
}

TEST(MasterTextJoin, TextNeverPassesTheLimitEvenIfOverfed) {
  MasterText body = {};
  std::string chunk(MASTER_READ_SIZE, 'q');
  for (int i = 0; i < 140; i++) ASSERT_TRUE(AppendMasterChunk(&body, chunk.data(), MASTER_READ_SIZE));
  EXPECT_EQ(MASTER_BODY_LIMIT, body.length);
  EXPECT_LE(body.capacity, MASTER_BODY_LIMIT + 1);
  ReleaseMasterText(&body);
}

}  // namespace
