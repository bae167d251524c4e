// Master list checking and merging: portable.
#pragma once
#include "table/table.h"

// Only 64 lines of at most 2047 characters can be used, so the body is bounded.
enum { MASTER_READ_SIZE = 8000, MASTER_BODY_LIMIT = 1024 * 1024 };

// The body must start with an ASCII decimal digit; that is what rejects an error page.
bool IsMasterListBody(const char *text, int32_t length);
// Drops the earlier master list's records and appends one record per line, up to 64.
void MergeMasterList(const char *text, int32_t length);
