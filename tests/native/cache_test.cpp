// The server cache file: whole records only, at most 64, byte for byte, repaired on load.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "settings/settings.h"

namespace {

const size_t RECORD = sizeof(ServerRecord);

void ClearTable() {
  memset(records, 0, sizeof records);
  serverCount = 0;
}

std::string TempPath(const char *name) { return testing::TempDir() + "varnet_cache_test_" + name; }

void WriteFile(const std::string &path, const std::vector<unsigned char> &bytes) {
  FILE *file = fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, file);
  if (!bytes.empty()) {
    EXPECT_EQ(1u, fwrite(bytes.data(), bytes.size(), 1, file));
  }
  fclose(file);
}

std::vector<unsigned char> ReadFile(const std::string &path) {
  std::vector<unsigned char> bytes;
  FILE *file = fopen(path.c_str(), "rb");
  if (file == NULL) return bytes;
  int c;
  while ((c = fgetc(file)) != EOF) bytes.push_back((unsigned char)c);
  fclose(file);
  return bytes;
}

// A plausible record as a refresh leaves it: every text terminated, a few players.
ServerRecord SampleRecord(int n) {
  ServerRecord r;
  memset(&r, 0, sizeof r);
  snprintf(r.address, sizeof r.address, "10.0.%d.%d", n / 256, n % 256);
  r.port = (uint16_t)(27910 + n);
  snprintf(r.hostName, sizeof r.hostName, "Host %d", n);
  snprintf(r.mapName, sizeof r.mapName, "q2dm%d", n % 8 + 1);
  r.reserved[0] = 0x5A;  // the gap is part of the image too
  r.playerCount = n % 5;
  r.maxClients = 16;
  r.queryStartTime = 0xC0FFEE00u + (uint32_t)n;
  r.ping = 40 + n;
  for (int p = 0; p < r.playerCount; p++) {
    snprintf(r.players[p].name, sizeof r.players[p].name, "player%d", p);
    r.players[p].ping = 30 + p;
    r.players[p].score = -p;
  }
  r.fromMasterList = n % 2;
  return r;
}

std::vector<unsigned char> ImageOf(int count) {
  std::vector<unsigned char> bytes;
  for (int i = 0; i < count; i++) {
    ServerRecord r = SampleRecord(i);
    const unsigned char *p = (const unsigned char *)&r;
    bytes.insert(bytes.end(), p, p + RECORD);
  }
  return bytes;
}

TEST(CacheLoad, WholeRecordsOnlyTrailingPieceIgnored) {
  std::string path = TempPath("trailing");
  std::vector<unsigned char> bytes = ImageOf(4);
  bytes.resize(3 * RECORD + 100);  // the fourth record is cut short
  WriteFile(path, bytes);
  ClearTable();
  LoadServerCache(path.c_str());
  ASSERT_EQ(3, serverCount);
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    ServerRecord expected = SampleRecord(i);
    EXPECT_EQ(0, memcmp(&expected, &records[i], RECORD));
  }
  // The piece never reaches the table, not even the unused slot after the last record.
  const unsigned char *spare = (const unsigned char *)&records[3];
  for (size_t i = 0; i < RECORD; i++) ASSERT_EQ(0, spare[i]) << i;
  remove(path.c_str());
}

TEST(CacheLoad, SeventyRecordsLoadTheFirst64) {
  std::string path = TempPath("seventy");
  std::vector<unsigned char> bytes = ImageOf(70);
  bytes.insert(bytes.begin() + 10 * RECORD, RECORD, 0);  // all zeros, no address: not a server
  WriteFile(path, bytes);
  ClearTable();
  LoadServerCache(path.c_str());
  ASSERT_EQ(MAX_SERVERS, serverCount);
  ServerRecord last = SampleRecord(63);
  EXPECT_EQ(0, memcmp(&last, &records[63], RECORD));
  remove(path.c_str());
}

TEST(CacheLoad, EmptyOrMissingFileGivesEmptyTable) {
  std::string path = TempPath("empty");
  WriteFile(path, std::vector<unsigned char>());
  ClearTable();
  LoadServerCache(path.c_str());
  EXPECT_EQ(0, serverCount);
  remove(path.c_str());

  ClearTable();
  LoadServerCache(TempPath("never_written").c_str());
  EXPECT_EQ(0, serverCount);

  std::string shortOnly = TempPath("short");  // less than one record
  WriteFile(shortOnly, std::vector<unsigned char>(RECORD - 1, 0x31));
  ClearTable();
  LoadServerCache(shortOnly.c_str());
  EXPECT_EQ(0, serverCount);
  remove(shortOnly.c_str());
}

TEST(CacheLoad, UnterminatedTextFieldsAreTerminatedWithinThemselves) {
  ServerRecord r;
  memset(&r, 'A', sizeof r);  // no terminator anywhere
  r.playerCount = 7;
  r.maxClients = 0x41414141;
  std::string path = TempPath("unterminated");
  const unsigned char *p = (const unsigned char *)&r;
  WriteFile(path, std::vector<unsigned char>(p, p + RECORD));
  ClearTable();
  LoadServerCache(path.c_str());
  ASSERT_EQ(1, serverCount);
  const ServerRecord &got = records[0];
  EXPECT_EQ(TEXT_FIELD_SIZE - 1u, strnlen(got.address, TEXT_FIELD_SIZE));
  EXPECT_EQ(TEXT_FIELD_SIZE - 1u, strnlen(got.hostName, TEXT_FIELD_SIZE));
  EXPECT_EQ(TEXT_FIELD_SIZE - 1u, strnlen(got.mapName, TEXT_FIELD_SIZE));
  for (int i = 0; i < MAX_PLAYERS; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(PLAYER_NAME_SIZE - 1u, strnlen(got.players[i].name, PLAYER_NAME_SIZE));
  }
  // Everything else is taken as stored.
  EXPECT_EQ(0x4141, got.port);
  EXPECT_EQ(7, got.playerCount);
  EXPECT_EQ(0x41414141, got.maxClients);
  EXPECT_EQ(0x41414141, got.fromMasterList);
  remove(path.c_str());
}

TEST(CacheLoad, PlayerCountOutsideTheSlotsIsClamped) {
  const int32_t stored[] = {-5, 0, 64, 65, 0x7FFFFFFF, -1};
  const int32_t loaded[] = {0, 0, 64, 64, 64, 0};
  std::vector<unsigned char> bytes;
  for (int i = 0; i < 6; i++) {
    ServerRecord r = SampleRecord(i);
    r.playerCount = stored[i];
    const unsigned char *p = (const unsigned char *)&r;
    bytes.insert(bytes.end(), p, p + RECORD);
  }
  std::string path = TempPath("players");
  WriteFile(path, bytes);
  ClearTable();
  LoadServerCache(path.c_str());
  ASSERT_EQ(6, serverCount);
  for (int i = 0; i < 6; i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(loaded[i], records[i].playerCount);
  }
  remove(path.c_str());
}

// The record of the last save decides; last-write times only without a usable record.
TEST(CacheChoice, TheRecordBeforeTheTimes) {
  EXPECT_EQ(LOAD_STARTUP_FILE,
            ChooseCacheFile(true, true, RECORD_NAMES_STARTUP, -1));                  // its time looks older
  EXPECT_EQ(LOAD_USER_FILE, ChooseCacheFile(true, true, RECORD_NAMES_USER, 1));      // a time in the future
  EXPECT_EQ(LOAD_USER_FILE, ChooseCacheFile(false, true, RECORD_NAMES_STARTUP, 0));  // named, but gone
  EXPECT_EQ(LOAD_STARTUP_FILE, ChooseCacheFile(true, false, RECORD_NAMES_USER, 0));
  EXPECT_EQ(LOAD_STARTUP_FILE, ChooseCacheFile(true, true, RECORD_MISSING, 1));
  EXPECT_EQ(LOAD_USER_FILE, ChooseCacheFile(true, true, RECORD_NAMES_OTHER, 0));  // a tie
  EXPECT_TRUE(IsRunningBrowserError(MUTEX_EXISTS_ERROR) && IsRunningBrowserError(MUTEX_DENIED_ERROR));
  EXPECT_FALSE(IsRunningBrowserError(0) || IsRunningBrowserError(6));  // created; or an invalid handle
}

TEST(CacheSave, RecordsInUseByteForByte) {
  ClearTable();
  for (int i = 0; i < 5; i++) records[i] = SampleRecord(i);
  serverCount = 3;  // records 3 and 4 are not in use
  std::string path = TempPath("save");
  ASSERT_TRUE(SaveServerCache(path.c_str()));
  std::vector<unsigned char> bytes = ReadFile(path);
  ASSERT_EQ(3 * RECORD, bytes.size());
  EXPECT_EQ(0, memcmp(records, bytes.data(), bytes.size()));
  // Second record: port low byte first at 256, the master-list flag at 2324.
  EXPECT_EQ((27911 & 0xFF), bytes[RECORD + 256]);
  EXPECT_EQ((27911 >> 8), bytes[RECORD + 257]);
  EXPECT_EQ(1, bytes[RECORD + 2324]);
  remove(path.c_str());
}

TEST(CacheSave, RoundTripIsByteIdentical) {
  ClearTable();
  for (int i = 0; i < 64; i++) records[i] = SampleRecord(i);
  serverCount = 64;
  ServerRecord saved[MAX_SERVERS];
  memcpy(saved, records, sizeof saved);
  std::string path = TempPath("roundtrip");
  ASSERT_TRUE(SaveServerCache(path.c_str()));
  ClearTable();
  LoadServerCache(path.c_str());
  ASSERT_EQ(64, serverCount);
  EXPECT_EQ(0, memcmp(saved, records, sizeof saved));
  remove(path.c_str());
}

TEST(CacheSave, EmptyTableLeavesZeroByteFile) {
  std::string path = TempPath("emptied");
  WriteFile(path, ImageOf(2));
  ClearTable();
  ASSERT_TRUE(SaveServerCache(path.c_str()));
  FILE *file = fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, file);  // still there, now empty
  EXPECT_EQ(EOF, fgetc(file));
  fclose(file);
  remove(path.c_str());
}

TEST(CacheSave, UncreatableFileIsReportedToTheCaller) {
  ClearTable();
  records[0] = SampleRecord(0);
  serverCount = 1;
  std::string path = TempPath("no_such_dir/kestrel.cache");
  EXPECT_FALSE(SaveServerCache(path.c_str()));
  EXPECT_EQ(1, serverCount);
}

}  // namespace
