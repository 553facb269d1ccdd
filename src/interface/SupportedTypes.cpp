// TypeRecovery_GetSupportedFileType: the supported-type list one record at a
// time, for hosts that cannot hand the library a CDynArray.
#include <new>

#include "typerecovery.h"

extern "C" {

TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_GetSupportedFileType(
    CTypeRecoveryManager* m, uint32_t index, tag_FileTypeProperty* record) {
  if (m == nullptr || record == nullptr) return 0;
  try {
    // The list is built anew on each call: it is short (142 records) and a
    // host reads it once, so nothing is cached in the manager.
    CDynArray<tag_FileTypeProperty> all;
    const uint32_t count = TypeRecovery_GetAllSupportedFileTypes(m, &all);
    if (index >= count) return 0;
    *record = all.GetAt(static_cast<long>(index));
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
