// Inline reach of the items of a CDynArray for the library's hot paths. The
// exported accessors (GetAt, GetItemAt) copy each item through an
// out-of-line call and a virtual item size; inside the library the items
// are read where they lie. The pointer is valid until the array changes.
#ifndef TYPERECOVERY_CONTAINERS_ITEMS_H
#define TYPERECOVERY_CONTAINERS_ITEMS_H

#include "typerecovery.h"

namespace typerecovery {

template <class T>
inline T* ItemsOf(const CDynArray<T>& array) {
  return static_cast<T*>(array.GetData());
}

}  // namespace typerecovery

#endif
