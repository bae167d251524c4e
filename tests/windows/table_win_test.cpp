// The record image and ReadLine as the Windows build lays them out, on many threads at once.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "table/table.h"

namespace {

struct ReaderJob {
  char text[64];
  int lines;
};

DWORD WINAPI CountLines(LPVOID param) {
  ReaderJob *job = (ReaderJob *)param;
  for (int round = 0; round < 2000; round++) {
    char *p = job->text;
    int32_t n = (int32_t)strlen(job->text);
    int count = 0;
    while (char *line = ReadLine(&p, &n)) {
      count++;
      free(line);
    }
    job->lines = count;
  }
  return 0;
}

TEST(TableOnWindows, ReadLineIsIndependentAcrossThreads) {
  ReaderJob jobs[8];
  HANDLE threads[8];
  for (int i = 0; i < 8; i++) {
    memset(jobs[i].text, 0, sizeof jobs[i].text);
    for (int k = 0; k <= i; k++) strcat(jobs[i].text, "line\n");
    jobs[i].lines = -1;
    threads[i] = CreateThread(NULL, 0, CountLines, &jobs[i], 0, NULL);
    ASSERT_NE(nullptr, threads[i]);
  }
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(8, threads, TRUE, 60000));
  for (int i = 0; i < 8; i++) {
    CloseHandle(threads[i]);
    EXPECT_EQ(i + 1, jobs[i].lines);
  }
}

TEST(TableOnWindows, RecordImageMatchesTheCacheLayout) {
  ServerRecord r;
  memset(&r, 0, sizeof r);
  r.port = 910;
  r.fromMasterList = 1;
  const unsigned char *bytes = (const unsigned char *)&r;
  EXPECT_EQ(2328u, sizeof r);
  EXPECT_EQ(910 & 0xFF, bytes[256]);
  EXPECT_EQ(910 >> 8, bytes[257]);
  EXPECT_EQ(1, bytes[2324]);
}

}  // namespace
