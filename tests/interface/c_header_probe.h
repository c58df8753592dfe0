/* What the C translation unit reports to the C++ tests. */
#ifndef ZM_TESTS_C_HEADER_PROBE_H
#define ZM_TESTS_C_HEADER_PROBE_H

#include <stddef.h>

#include "zm/zm.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One record (field "") or field: its size and offset. */
typedef struct ZmLayoutEntry {
  const char* record;
  const char* field;
  size_t size;
  size_t offset;
} ZmLayoutEntry;

extern const ZmLayoutEntry zmCLayout[];
extern const size_t zmCLayoutCount;

int ZmCGetVersion(void);
/* A callback defined in C with the header's calling convention; it counts
 * its calls in the int that userData points to. */
TProgressCallback ZmCProgressCallback(void);
/* ZM_saveMaterial with a null file name; copies the message (cut to fit,
 * terminated) and returns Failed. */
int ZmCSaveMaterialWithoutName(char* message, size_t messageSize);

#ifdef __cplusplus
}
#endif

#endif
