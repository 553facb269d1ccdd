// CTypeRecoveryCAB: cabinet files, copied whole by the cabinet size of their
// header. One extension, no maximum, base close and progress record.
#ifndef TYPERECOVERY_FORMATS_DOCUMENT_CAB_H
#define TYPERECOVERY_FORMATS_DOCUMENT_CAB_H

#include "framework/cycles/DeclaredSizeRow.h"

// class, type code, extension, the bytes the header test needs.
TYPERECOVERY_DECLARED_SIZE_ROW(CTypeRecoveryCAB, 1797, u"cab", 17)

#endif
