// Master list checking and merging: portable.
#pragma once
#include "table/table.h"

// The reads stop at MASTER_BODY_LIMIT bytes. Only the first 64 lines are used, but they bound
// nothing: a line can be of any length, so only a byte limit bounds the body.
enum { MASTER_READ_SIZE = 8000, MASTER_BODY_LIMIT = 1024 * 1024 };

// The body must start with an ASCII decimal digit; that is what rejects an error page.
bool IsMasterListBody(const char *text, int32_t length);
// Drops the earlier master list's records and appends one record per line, up to 64.
void MergeMasterList(const char *text, int32_t length);

// The received body, joined read by read. The text is always terminated within its buffer;
// total counts every byte received, also those a NUL byte kept out of the text.
struct MasterText {
  char *text;        // null until the first non-empty read
  int32_t length;    // characters in text
  int32_t capacity;  // bytes obtained for text
  int32_t total;     // bytes received
};

// Joins one read of count bytes as a character string: the part from the chunk's first NUL
// on is dropped. The buffer grows geometrically and never beyond MASTER_BODY_LIMIT + 1 bytes,
// so a long body costs few copies. False when memory ran out; the text so far stays valid.
bool AppendMasterChunk(MasterText *body, const char *chunk, int32_t count);
// How many more bytes may be read before the body reaches MASTER_BODY_LIMIT.
int32_t MasterReadAllowance(const MasterText *body);
void ReleaseMasterText(MasterText *body);

// The length of the terminated text, but no more than length: the length a caller gives may
// count bytes that were dropped from the text, and nothing past the terminator is read.
int32_t UsableTextLength(const char *text, int32_t length);
