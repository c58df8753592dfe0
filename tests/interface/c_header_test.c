/* The public header compiled as C11, so that its layout asserts hold for a
 * C compiler too, and a caller written in C. */
#include <string.h>

#include "zm/zm.h"

static void ZM_CALLBACK CountProgress(int32_t done, int32_t total, void* userData) {
  (void)done;
  (void)total;
  ++*(int*)userData;
}

TProgressCallback ZmCProgressCallback(void) {
  return CountProgress;
}

/* ZM_saveMaterial from C with a null file name: its Failed byte, and the
 * message copied to `message` (ZM_MESSAGE_LENGTH bytes). */
int ZmCSaveMaterialWithoutName(char* message) {
  TErrorRecord error;
  TMaterialEntry material;
  memset(&error, 0, sizeof error);
  memset(&material, 0, sizeof material);
  ZM_saveMaterial(NULL, &material, &error);
  memcpy(message, error.Message, sizeof error.Message);
  return error.Failed;
}
