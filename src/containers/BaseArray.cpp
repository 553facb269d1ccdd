// CBaseArray: the untyped array under every CDynArray<T>. Items of
// GetItemSize() bytes lie back to back in one heap block; RemoveAt keeps the
// order of the items that follow (the analysis driver relies on that).
#include <cstdlib>
#include <cstring>

#include "typerecovery.h"

CBaseArray::CBaseArray() : m_data(nullptr), m_count(0), m_capacity(0) {}

CBaseArray::~CBaseArray() {
  std::free(m_data);
  m_data = nullptr;
  m_count = 0;
  m_capacity = 0;
}

bool CBaseArray::Reserve(long count) {
  if (count <= m_capacity) return true;
  long capacity = m_capacity < 8 ? 8 : m_capacity * 2;
  while (capacity < count) capacity *= 2;
  void* grown = std::realloc(m_data, static_cast<size_t>(capacity) * static_cast<size_t>(GetItemSize()));
  if (grown == nullptr) return false;
  m_data = static_cast<unsigned char*>(grown);
  m_capacity = capacity;
  return true;
}

long CBaseArray::AddItem(void* item) { return InsertItemAt(m_count, item); }

long CBaseArray::GetItemAt(long index, void* item) const {
  if (index < 0 || index >= m_count || item == nullptr) return -1;
  const size_t size = static_cast<size_t>(GetItemSize());
  std::memcpy(item, m_data + static_cast<size_t>(index) * size, size);
  return index;
}

long CBaseArray::InsertItemAt(long index, void* item) {
  if (index < 0 || index > m_count || item == nullptr) return -1;
  if (!Reserve(m_count + 1)) return -1;
  const size_t size = static_cast<size_t>(GetItemSize());
  unsigned char* at = m_data + static_cast<size_t>(index) * size;
  std::memmove(at + size, at, static_cast<size_t>(m_count - index) * size);
  std::memcpy(at, item, size);
  ++m_count;
  return index;
}

long CBaseArray::RemoveAt(long index) {
  if (index < 0 || index >= m_count) return -1;
  const size_t size = static_cast<size_t>(GetItemSize());
  unsigned char* at = m_data + static_cast<size_t>(index) * size;
  std::memmove(at, at + size, static_cast<size_t>(m_count - index - 1) * size);
  --m_count;
  return m_count;
}

void CBaseArray::RemoveAll() { m_count = 0; }

// The five instantiations the library and its hosts use.
template class TYPERECOVERY_API CDynArray<CTypeRecovery*>;
template class TYPERECOVERY_API CDynArray<unsigned int>;
template class TYPERECOVERY_API CDynArray<tag_RAMData>;
template class TYPERECOVERY_API CDynArray<tag_StripToAnalyse>;
template class TYPERECOVERY_API CDynArray<tag_FileTypeProperty>;
