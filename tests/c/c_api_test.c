/* The public header used from plain C, linked against the shared library. */
#include <stdio.h>
#include <string.h>

#include "typerecovery.h"

static uint32_t found(uintptr_t user, uint32_t folder, uint32_t* counter, const char16_t* ext,
                      uint64_t start, uint64_t size, uint32_t complete,
                      const tag_PictureInfo* picture) {
  (void)user; (void)counter; (void)ext; (void)start; (void)size; (void)complete; (void)picture;
  return folder;
}

int main(void) {
  static const char16_t kJpg[] = {'j', 'p', 'g', 0};
  uint8_t zeros[64];
  uint32_t error = 0;
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(7, found, NULL);
  if (m == NULL) { puts("create failed"); return 1; }
  TypeRecovery_AddType(m, 513, 1048576);
  TypeRecovery_SetRestrictedSize(m, 1000);
  memset(zeros, 0, sizeof zeros);
  if (TypeRecovery_Analyse(m, 0, zeros, 48, 16, &error) != 0) { puts("analyse"); return 1; }
  if (TypeRecovery_Flush(m) != 0) { puts("flush"); return 1; }
  if (TypeRecovery_SaveProgress(m, TYPERECOVERY_INVALID_FILE) != 1) { puts("save"); return 1; }
  TypeRecovery_CloseManager(m);
  TypeRecovery_CloseManager(NULL);
  if (TypeRecovery_CreateManager(0, found, NULL) != NULL) { puts("null expected"); return 1; }
  if (TypeRecovery_IsFileHeaderMatched(zeros, sizeof zeros, kJpg) == 1) { puts("jpg"); return 1; }
  if (sizeof(tag_PictureInfo) != 456 || sizeof(tag_FileTypeProperty) != 280) { puts("size"); return 1; }
  /* The line a runner looks for: a program that never started prints nothing. */
  printf("c_api_test: passed, %u-bit\n", (unsigned)(sizeof(void*) * 8));
  return 0;
}
