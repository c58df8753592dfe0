/* A plain C host: version, then one failing call reported in the record. */
#include <stdio.h>
#include <zm/zm.h>

int main(void) {
  TErrorRecord error = {0};
  int version = ZM_getVersion();
  ZM_loadMaterial(NULL, NULL, &error);
  if (version != 400 || error.Failed != 1) {
    fprintf(stderr, "version %d, failed %d\n", version, error.Failed);
    return 1;
  }
  return 0;
}
