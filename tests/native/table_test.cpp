// Server record image and table operations.
#include <gtest/gtest.h>
#include <string.h>

#include "table/table.h"

namespace {

void ClearTable() {
  memset(records, 0, sizeof records);
  serverCount = 0;
}

const unsigned char *Bytes(const ServerRecord &r) { return (const unsigned char *)&r; }

TEST(ServerRecordImage, PortLowByteFirstAndFlagAtEnd) {
  ServerRecord r;
  memset(&r, 0, sizeof r);
  r.port = 0x1234;
  r.fromMasterList = 1;
  r.players[0].ping = 48;
  r.players[0].score = 12;
  EXPECT_EQ(0x34, Bytes(r)[256]);
  EXPECT_EQ(0x12, Bytes(r)[257]);
  EXPECT_EQ(1, Bytes(r)[2324]);
  EXPECT_EQ(0, Bytes(r)[2325] | Bytes(r)[2326] | Bytes(r)[2327]);
  EXPECT_EQ(48, Bytes(r)[788 + 16]);  // ping before score
  EXPECT_EQ(12, Bytes(r)[788 + 20]);
}

TEST(ServerTable, ResetKeepsIdentityAndZeroesEverythingElse) {
  ServerRecord r;
  memset(&r, 0xAB, sizeof r);
  memset(r.address, 'a', 255);
  r.address[255] = 0;
  r.port = 27910;
  r.fromMasterList = 1;
  ResetReplyData(&r);

  EXPECT_EQ(255u, strlen(r.address));
  EXPECT_EQ(27910, r.port);
  EXPECT_EQ(1, r.fromMasterList);
  for (size_t i = offsetof(ServerRecord, hostName); i < offsetof(ServerRecord, fromMasterList); i++) {
    SCOPED_TRACE(i);
    ASSERT_EQ(0, Bytes(r)[i]);
  }
}

TEST(ServerTable, ResetZeroesBytesAfterTheAddressTerminator) {
  ServerRecord r;
  memset(&r, 0x55, sizeof r);
  strcpy(r.address, "10.0.0.5");
  ResetReplyData(&r);
  for (size_t i = strlen("10.0.0.5"); i < TEXT_FIELD_SIZE; i++) ASSERT_EQ(0, r.address[i]) << i;
}

TEST(ServerTable, AppendStopsAt64) {
  ClearTable();
  for (int i = 0; i < MAX_SERVERS; i++) ASSERT_TRUE(AppendServer("10.0.0.1", (uint16_t)i));
  ServerRecord before = records[63];
  EXPECT_FALSE(AppendServer("10.0.0.2", 1));
  EXPECT_EQ(64, serverCount);
  EXPECT_EQ(0, memcmp(&before, &records[63], sizeof before));
  EXPECT_EQ(1, records[10].fromMasterList);
  EXPECT_EQ(10, records[10].port);
}

TEST(ServerTable, AppendCutsAnOverlongAddress) {
  ClearTable();
  char longAddress[600];
  memset(longAddress, 'h', sizeof longAddress - 1);
  longAddress[sizeof longAddress - 1] = 0;
  ASSERT_TRUE(AppendServer(longAddress, 910));
  EXPECT_EQ(255u, strlen(records[0].address));
  EXPECT_EQ(910, records[0].port);
}

TEST(ServerTable, RemovalKeepsOtherRecordsInOrderAndZeroesFreedSlots) {
  ClearTable();
  for (int i = 0; i < 10; i++) AppendServer("master", (uint16_t)i);
  records[3].fromMasterList = 0;
  strcpy(records[3].address, "kept-three");
  records[7].fromMasterList = 0;
  strcpy(records[7].address, "kept-seven");

  RemoveMasterListRecords();

  ASSERT_EQ(2, serverCount);
  EXPECT_STREQ("kept-three", records[0].address);
  EXPECT_EQ(3, records[0].port);
  EXPECT_STREQ("kept-seven", records[1].address);
  EXPECT_EQ(7, records[1].port);
  ServerRecord zero;
  memset(&zero, 0, sizeof zero);
  for (int i = 2; i < 10; i++) EXPECT_EQ(0, memcmp(&zero, &records[i], sizeof zero)) << i;
}

TEST(ServerTable, TerminateTextFieldsBoundsEveryField) {
  ServerRecord r;
  memset(&r, 'x', sizeof r);
  TerminateTextFields(&r);
  EXPECT_EQ(255u, strlen(r.address));
  EXPECT_EQ(255u, strlen(r.hostName));
  EXPECT_EQ(255u, strlen(r.mapName));
  for (int i = 0; i < MAX_PLAYERS; i++) EXPECT_EQ(15u, strlen(r.players[i].name)) << i;
}

TEST(TextHelpers, CopyTextCutsAndTerminates) {
  char buffer[4];
  CopyText(buffer, sizeof buffer, "abcdef");
  EXPECT_STREQ("abc", buffer);
  CopyTextN(buffer, sizeof buffer, "abcdef", 2);
  EXPECT_STREQ("ab", buffer);
  CopyText(buffer, sizeof buffer, "");
  EXPECT_STREQ("", buffer);
}

TEST(TextHelpers, ReadInt32ReadsLikeTheStandardConversion) {
  EXPECT_EQ(910, ReadInt32(" 910x"));
  EXPECT_EQ(-12, ReadInt32("\t-12"));
  EXPECT_EQ(7, ReadInt32("+7"));
  EXPECT_EQ(0, ReadInt32("abc"));
  EXPECT_EQ(0, ReadInt32(""));
  EXPECT_EQ(INT32_MAX, ReadInt32("99999999999999999999999"));
  EXPECT_EQ(INT32_MIN, ReadInt32("-99999999999999999999999"));
  EXPECT_EQ(INT32_MIN, ReadInt32("-2147483648"));
  EXPECT_EQ(INT32_MAX, ReadInt32("2147483649"));
}

TEST(TextHelpers, ReadPortKeepsTheLow16Bits) {
  EXPECT_EQ(910, ReadPort("910\r"));
  EXPECT_EQ(910, ReadPort(" 910a"));
  EXPECT_EQ(65535, ReadPort("-1"));
  EXPECT_EQ(70000 % 65536, ReadPort("70000"));
  EXPECT_EQ(4294967297ull % 65536, ReadPort("4294967297"));
  EXPECT_EQ(0, ReadPort(""));
  // 10^30 modulo 65536 is 0: the 2^16 factor divides it.
  EXPECT_EQ(0, ReadPort("1000000000000000000000000000000"));
}

}  // namespace
