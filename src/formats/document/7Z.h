// CTypeRecovery7Z: 7-Zip archives, copied whole by the size their start
// header states (the next header lies at its offset after the 32-byte start
// header and is the archive's last part). One extension, no maximum, base
// close and progress record.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_7Z_H
#define TYPERECOVERY_FORMATS_DOCUMENT_7Z_H

#include "framework/cycles/DeclaredSizeRow.h"

// class, type code, extension, the bytes the header test needs.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecovery7Z, 1795, u"7z", 37)

#endif
