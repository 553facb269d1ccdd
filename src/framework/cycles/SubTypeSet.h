// SubTypeSet<N>: the sub-types of a recognizer that serves several type
// codes with one prototype (RealMedia, ASF, RIFF, executables, page-layout
// documents, TIFF and raw pictures, compound documents, the ZIP family).
//
// It holds what every such class needs and once wrote for itself: the codes
// in flag order, one enable flag per code (all off until the registry turns
// them on), the type-folder value of each code, the row of the file in
// progress, and the folder-ID loop that asks the host for every row's value
// after a resume. One row, the owner's, keeps its folder value in the
// recognizer's own type-folder field; the set is handed that field where it
// needs it, so reports of the owner's code go through the base as always.
//
// Progress: the flags are one byte each in flag order (SubTypeFlags), the
// current row is its type code (4 bytes, little-endian); a loaded code of no
// row leaves the current row as it was. The code list must outlive the set
// (it is a class constant).
#ifndef TYPERECOVERY_FRAMEWORK_CYCLES_SUBTYPESET_H
#define TYPERECOVERY_FRAMEWORK_CYCLES_SUBTYPESET_H

#include <cstddef>
#include <cstdint>

#include "framework/ProgressRecord.h"
#include "framework/SubTypeFlags.h"
#include "framework/TypeRecovery.h"

namespace typerecovery {

template <size_t N>
class SubTypeSet {
 public:
  // extensions: the folder-ID question of each row, in flag order (the
  // owner's row is never asked through the set).
  SubTypeSet(const uint32_t (&codes)[N], const char16_t* const* extensions, size_t ownRow)
      : m_codes(codes), m_extensions(extensions), m_ownRow(ownRow), current(ownRow) {}

  // The registry's door: enable the flag of code (false: no such row), or
  // every flag but that of exceptCode.
  bool Enable(uint32_t code) { return m_flags.Enable(m_codes, code); }
  void EnableAll(uint32_t exceptCode) { m_flags.EnableAll(m_codes, exceptCode); }

  bool IsOn(size_t row) const { return m_flags.IsOn(row); }
  bool IsCodeOn(uint32_t code) const {
    const int row = RowOf(code);
    return row >= 0 && m_flags.IsOn(static_cast<size_t>(row));
  }
  int RowOf(uint32_t code) const { return SubTypeRow(m_codes, code); }
  uint32_t Code(size_t row) const { return m_codes[row]; }
  uint32_t CurrentCode() const { return m_codes[current]; }

  // The type-folder value of row; own is the recognizer's own field.
  uint32_t& FolderValue(size_t row, uint32_t& own) { return row == m_ownRow ? own : m_folder[row]; }
  uint32_t FolderValue(size_t row, uint32_t own) const { return row == m_ownRow ? own : m_folder[row]; }
  // The value of code's row; 0 for a code of no row.
  uint32_t FolderValueOfCode(uint32_t code, uint32_t own) const {
    const int row = RowOf(code);
    return row < 0 ? 0 : FolderValue(static_cast<size_t>(row), own);
  }

  // A clone takes the prototype's flags (as 0 or 1) and folder values.
  void CopyFrom(const SubTypeSet& prototype) {
    m_flags.CopyFrom(prototype.m_flags);
    for (size_t i = 0; i < N; ++i) m_folder[i] = prototype.m_folder[i];
  }

  // An active recognizer's end: its folder values go back to its prototype's set.
  void HandFolderValuesTo(SubTypeSet& prototype) const {
    for (size_t i = 0; i < N; ++i) prototype.m_folder[i] = m_folder[i];
  }

  // After a load: the host's folder-ID callback gives each row but the
  // owner's its value anew, asked in flag order or in the order given;
  // ask(extension, &value) is the recognizer's AskFolderValue. The first
  // unanswered question ends the loop: without a host or a callback none is
  // answered.
  template <class Ask>
  void RefetchFolderValues(Ask ask) {
    for (size_t row = 0; row < N; ++row) {
      if (row != m_ownRow && !ask(m_extensions[row], &m_folder[row])) return;
    }
  }
  template <size_t M, class Ask>
  void RefetchFolderValues(const uint8_t (&order)[M], Ask ask) {
    for (uint8_t row : order) {
      if (!ask(m_extensions[row], &m_folder[row])) return;
    }
  }

  // The flags as a part of a progress record (one byte each).
  SubTypeFlags<N>& Flags() { return m_flags; }
  // The current row as its type code, a field of a progress record.
  void CurrentCodeField(ProgressRecord& record) {
    uint32_t code = m_codes[current];
    record(code);
    const int row = RowOf(code);
    if (record.Loading() && record.Ok() && row >= 0) current = static_cast<size_t>(row);
  }

 private:
  const uint32_t (&m_codes)[N];
  const char16_t* const* m_extensions;
  size_t m_ownRow;
  SubTypeFlags<N> m_flags;
  uint32_t m_folder[N] = {};

 public:
  size_t current;  // the row of the file in progress
};

}  // namespace typerecovery

// CWithSubTypes<Base, N>: a recognizer on Base whose prototype serves N
// codes through one SubTypeSet. It answers the registry's door (enable one
// code, enable all) and hands a clone the prototype's flags and folder
// values; the class adds only its own use of the set.
template <class Base, size_t N>
class CWithSubTypes : public Base {
 public:
  bool EnableSubType(uint32_t code, uint64_t) override { return m_subTypes.Enable(code); }
  void EnableAllSubTypes(uint32_t exceptCode) override { m_subTypes.EnableAll(exceptCode); }
  void CopyStateFrom(const CTypeRecovery* prototype) override {
    Base::CopyStateFrom(prototype);
    m_subTypes.CopyFrom(static_cast<const CWithSubTypes&>(*prototype).m_subTypes);
  }
  bool IsSubTypeEnabled(uint32_t code) const { return m_subTypes.IsCodeOn(code); }
  uint32_t GetSubTypeFolderValue(uint32_t code) const {
    return m_subTypes.FolderValueOfCode(code, this->m_typeFolderValue);
  }

 protected:
  template <class... BaseArguments>
  CWithSubTypes(const uint32_t (&codes)[N], const char16_t* const* extensions, size_t ownRow,
                BaseArguments&&... arguments)
      : Base(static_cast<BaseArguments&&>(arguments)...), m_subTypes(codes, extensions, ownRow) {}

  // For a class whose rows' folder values outlive an active recognizer: the
  // base's hand-back, then every row's value to the prototype's set.
  void HandBackWithFolderValues() {
    Base::HandBackToPrototype();
    if (this->m_prototype != nullptr) {
      m_subTypes.HandFolderValuesTo(static_cast<CWithSubTypes*>(this->m_prototype)->m_subTypes);
    }
  }

  // The type-folder value of the file in progress's row.
  uint32_t& CurrentFolderValue() { return m_subTypes.FolderValue(m_subTypes.current, this->m_typeFolderValue); }
  // After a load: every row's folder value asked anew (see SubTypeSet).
  void RefetchFolderValues() {
    m_subTypes.RefetchFolderValues(
        [this](const char16_t* extension, uint32_t* value) { return this->AskFolderValue(extension, value); });
  }

  typerecovery::SubTypeSet<N> m_subTypes;
};

#endif
