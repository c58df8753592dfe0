/* The public header compiled as C11: the layout as a C compiler sees it,
 * and calls through the exports from C. */
#include <stddef.h>
#include <string.h>

#include "c_header_probe.h"
#include "zm/zm.h"

#define ZM_RECORD(type, size) {#type, "", sizeof(type), 0},
#define ZM_FIELD(type, field, offset, size) \
  {#type, #field, sizeof(((type*)0)->field), offsetof(type, field)},
const ZmLayoutEntry zmCLayout[] = {
#include "record_layout.inc"
};
#undef ZM_RECORD
#undef ZM_FIELD
const size_t zmCLayoutCount = sizeof zmCLayout / sizeof zmCLayout[0];

static void ZM_CALLBACK CountProgress(int32_t done, int32_t total, void* userData) {
  (void)done;
  (void)total;
  ++*(int*)userData;
}

int ZmCGetVersion(void) {
  return ZM_getVersion();
}

TProgressCallback ZmCProgressCallback(void) {
  return CountProgress;
}

int ZmCSaveMaterialWithoutName(char* message, size_t messageSize) {
  TErrorRecord error;
  TMaterialEntry material;
  memset(&error, 0, sizeof error);
  memset(&material, 0, sizeof material);
  ZM_saveMaterial(NULL, &material, &error);
  if (messageSize > 0) {
    size_t n = messageSize - 1 < sizeof error.Message ? messageSize - 1 : sizeof error.Message;
    memcpy(message, error.Message, n);
    message[n] = '\0';
  }
  return error.Failed;
}
