// CTypeRecovery: the abstract base of every per-format recognizer.
//
// One object holds the state of at most one file being carved. It plays one
// of two roles: a prototype sits in the manager's prototype list, answers the
// header test and is the model for clones, and never opens a file; an active
// recognizer is a clone that follows one file across strips.
//
// The base owns the output-path buffer (root plus the latest folder and file
// name), the open output file and the held blocks. It supplies everything
// that is the same for all formats: output naming, closing, renaming and
// discarding (OutputFiles.cpp), reporting a found file to the host, ending a
// file on flush, the base progress record and the copying of state from a
// prototype into a clone. A format class supplies the header test and the
// per-strip analysis; its Clone is the one its format line defines
// (registry/RecognizerFactory.h).
//
// The destructor neither reports, closes nor deletes a file in progress
// (files end only through FinishFile); it releases an output handle that is
// still open and frees the held blocks. What an active recognizer learnt that
// outlives it goes back to its prototype by HandBackToPrototype, which the
// manager calls before it destroys it.
#ifndef TYPERECOVERY_FRAMEWORK_TYPERECOVERY_H
#define TYPERECOVERY_FRAMEWORK_TYPERECOVERY_H

#include <cstdint>
#include <new>

#include "framework/Bytes.h"
#include "framework/OutputBuffer.h"
#include "framework/ProgressRecord.h"
#include "typerecovery.h"

class CTypeRecoveryManager;

class CTypeRecovery {
 public:
  static constexpr uint32_t kPathUnits = 32768;
  static constexpr uint32_t kExtensionUnits = 8;
  static constexpr uint64_t kNoLimit = ~uint64_t{0};

  CTypeRecovery(uint32_t typeCode, CTypeRecoveryManager* host, const char16_t* outputRoot);
  virtual ~CTypeRecovery();
  CTypeRecovery(const CTypeRecovery&) = delete;
  CTypeRecovery& operator=(const CTypeRecovery&) = delete;

  // One strip: buffer holds length bytes of the strip and lookahead further
  // readable bytes that belong to the next strip. Returns the number of files
  // ended during the call (0, 1 or 2).
  virtual uint32_t Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,
                           uint32_t lookahead, uint32_t headerTypeCode, uint32_t* errorFlag) = 0;
  // The type code of the format found at the buffer's start, or 0.
  virtual uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length,
                                   uint32_t verification) = 0;
  virtual uint32_t FinishFile();
  virtual uint32_t CreateOutputFile(uint32_t* counter);
  virtual void CloseOutputFile();
  // The progress record: the base fields, then the class's own list
  // (ProgressFields), written and read by the same code.
  virtual uint32_t SaveProgress(TypeRecoveryFile file);
  virtual uint32_t LoadProgress(TypeRecoveryFile file);
  virtual void DiscardOutputFile();
  virtual void CopyStateFrom(const CTypeRecovery* prototype);
  // The reverse of CopyStateFrom at an active recognizer's end: its file
  // counter (when larger) and type-folder value go to its prototype.
  virtual void HandBackToPrototype();
  virtual CTypeRecovery* Clone() = 0;

  // The registry's door into multi-format classes: enable the sub-type of
  // this code and give it the size argument of TypeRecovery_AddType. Classes
  // without sub-types answer false.
  virtual bool EnableSubType(uint32_t code, uint64_t maxFileSize);
  // TypeRecovery_AddAllTypes: every flag on except that of exceptCode.
  virtual void EnableAllSubTypes(uint32_t exceptCode);

  // Resume: takes a host-opened handle of this recognizer's output file in
  // progress, whose path below the output root is relativePath. False (the
  // handle not taken) when no file is in progress, one is open already, or
  // the path does not fit.
  bool AdoptOutputFile(TypeRecoveryFile file, const char16_t* relativePath);

  // Removes the folders of this type's numbers that hold nothing (emptied
  // by moves and discards); called on prototypes, at saves and at the end.
  void RemoveEmptyFolders();

  // The renaming close of the multi-format classes, which call it from
  // their CloseOutputFile.
  void CloseAndRenameOutputFile();
  // Writes the output file's buffered bytes; false when that failed.
  bool FlushOutput();

  static uint32_t ReverseBytes(uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
  }

  // Read access for the manager, the registry and tests.
  uint32_t GetTypeCode() const { return m_typeCode; }
  const char16_t* GetExtension() const { return m_extension; }
  const char16_t* GetOutputPath() const { return m_outputPath; }
  uint32_t GetRootLength() const { return m_rootLength; }
  bool HasOpenOutputFile() const { return m_outputFile != TYPERECOVERY_INVALID_FILE; }
  TypeRecoveryFile GetOutputFile() const { return m_outputFile; }
  bool IsFileInProgress() const { return m_fileInProgress != 0; }
  // Idle: no file in progress and no output file open; the driver retires it.
  bool IsIdle() const { return m_fileInProgress == 0 && !HasOpenOutputFile(); }
  uint64_t GetFileStart() const { return m_fileStart; }
  // Bytes the recognizer writes at the start of its output file that are
  // not the source's (a zero-filled area its format's rules put in front).
  virtual uint64_t LeadInBytes() const { return 0; }
  uint64_t GetExpectedSize() const { return m_expectedSize; }
  uint64_t GetBytesWritten() const { return m_bytesWritten; }
  uint64_t GetMaxFileSize() const { return m_maxFileSize; }
  void SetMaxFileSize(uint64_t size) { m_maxFileSize = size; }
  uint32_t GetTypePropertyFlag() const { return m_typePropertyFlag; }
  uint32_t GetFileCounter() const { return m_fileCounter; }
  void SetFileCounter(uint32_t counter) { m_fileCounter = counter; }
  uint32_t GetTypeFolderValue() const { return m_typeFolderValue; }
  void SetTypeFolderValue(uint32_t value) { m_typeFolderValue = value; }
  CTypeRecoveryManager* GetHost() const { return m_host; }
  const CTypeRecovery* GetPrototype() const { return m_prototype; }

 protected:
  // True in report mode: a host context and no output path.
  bool IsReportMode() const { return m_host != nullptr && m_outputPath == nullptr; }
  // True in folder mode: an output path with a root in it.
  bool HasOutputPath() const { return m_outputPath != nullptr && m_outputPath[0] != 0; }
  void SetExtension(const char16_t* extension);

  // The shared steps of a strip cycle.
  //
  // BeginFile: a header at the strip's first byte starts a file: file in
  // progress, file start at the strip position, nothing written, expected
  // size 0; in folder mode the output file is created, and a failure sets
  // the error flag (the file is still followed).
  void BeginFile(uint64_t stripPosition, uint32_t* errorFlag);
  // TakeBytes: count bytes of the strip as the file's and write them to the
  // output file when one is open; a failed or short write sets the error flag.
  void TakeBytes(const uint8_t* data, uint32_t count, uint32_t* errorFlag);
  // WriteOutput: write to the open output file only (no counting).
  void WriteOutput(const uint8_t* data, uint32_t count, uint32_t* errorFlag);
  // ReportFile: in report mode, hand the file to the host (file start and
  // expected size) and keep the answer as the type-folder value. With
  // anyMode the file goes to a host in folder mode too (formats reported
  // whatever the mode), there without a picture record.
  void ReportFile(uint32_t complete, const tag_PictureInfo* picture = nullptr,
                  bool anyMode = false) {
    ReportFileTo(&m_typeFolderValue, complete, picture, anyMode);
  }
  // ReportFileTo: the same with the type-folder value of a sub-type (*folder
  // is handed to the host and takes its answer).
  void ReportFileTo(uint32_t* folder, uint32_t complete, const tag_PictureInfo* picture = nullptr,
                    bool anyMode = false);
  // The file-closed record of folder mode. NoteFileEnd keeps the complete
  // flag, the expected size and a copy of the picture record of the file
  // being ended (ReportFileTo does this itself); the next close or removal
  // of the output file hands them to the host. A file closed without a
  // note is told as cut (complete 0).
  bool WantsClosedFileRecord() const;
  void NoteFileEnd(uint32_t complete, const tag_PictureInfo* picture);

  // The two questions a recognizer asks its host, so that format classes
  // need not know the manager. AskFolderValue: the value the host's
  // folder-ID callback gives for an extension, stored in *value; false
  // (*value untouched) without a host or a callback. ReportToHost: hands the
  // host the file in progress (start and expected size) with a type-folder
  // value and answers the host's new one; a host is required.
  bool AskFolderValue(const char16_t* extension, uint32_t* value) const;
  uint32_t ReportToHost(uint32_t folder, uint32_t complete, const tag_PictureInfo* picture);

  // EndFile: the report-then-close end of a file. Reports a file in
  // progress (as ReportFile), clears file in progress and closes the output
  // file. Returns 1 when a file was in progress, else 0.
  uint32_t EndFile(uint32_t complete, const tag_PictureInfo* picture = nullptr,
                   bool anyMode = false);
  // EndOfStrip: the end decision after a strip was taken. A file whose
  // bytes taken reached the maximum file size ends here, cut (its size the
  // bytes taken, complete 0); otherwise a file the walk ended ends with the
  // walk's complete flag. Returns the files ended (0 or 1).
  uint32_t EndOfStrip(bool ended, uint32_t complete);
  // CutAtNewHeader: a new header of this class cuts the file in progress:
  // its size becomes the bytes taken so far and it ends with the complete
  // flag given (0 for most formats). Returns the files ended (0 or 1).
  uint32_t CutAtNewHeader(uint32_t complete = 0);

  // Held blocks: heap copies of strip data (report mode). A failed
  // allocation is tolerated: the block is simply not held.
  void HoldBlock(const uint8_t* data, uint32_t length);
  void FreeHeldBlocks();

  // The fields a class adds to the progress record, listed once in record
  // order for both halves (ProgressRecord.h): those kept whatever the state
  // first, then, after record.FileFields(), those of the file in progress.
  // Runs after the base record was saved or loaded; work a load needs
  // besides (clearing a carry, asking folder values anew) goes under
  // record.Loading(). The base adds nothing.
  virtual void ProgressFields(typerecovery::ProgressRecord& record) { (void)record; }

  // Progress-record fields, little-endian at the handle's position.
  static bool WriteU32(TypeRecoveryFile file, uint32_t value);
  static bool WriteU64(TypeRecoveryFile file, uint64_t value);
  static bool ReadU32(TypeRecoveryFile file, uint32_t* value);
  static bool ReadU64(TypeRecoveryFile file, uint64_t* value);

  // Base state, in the order the design lists it.
  uint32_t m_typeCode;
  char16_t m_extension[kExtensionUnits];
  CTypeRecoveryManager* m_host;
  char16_t* m_outputPath;
  uint32_t m_rootLength;
  TypeRecoveryFile m_outputFile;
  uint64_t m_fileStart;
  uint64_t m_expectedSize;
  uint64_t m_maxFileSize;
  uint64_t m_bytesWritten;
  uint32_t m_fileInProgress;
  uint32_t m_typePropertyFlag;
  uint32_t m_fileCounter;
  uint32_t m_typeFolderValue;
  CTypeRecovery* m_prototype;
  CDynArray<tag_RAMData> m_heldBlocks;
  typerecovery::OutputBuffer m_outputBuffer;  // of the open output file
  uint64_t m_outputBase = 0;  // its size when opened: 0, or what a resume found

 private:
  // Output naming helpers (OutputFiles.cpp).
  uint32_t WriteFolderName(char16_t* path, uint32_t at, uint32_t number) const;
  uint32_t WriteFileName(char16_t* path, uint32_t at, uint32_t number) const;
  // The open output file's buffered bytes written, the buffer given back
  // and the handle closed; answers the file's size (its size at opening
  // plus the bytes written).
  uint64_t CloseOutputHandle();
  // A closed file over the restricted size is deleted and reported so;
  // false when it is kept.
  bool DropIfOversize(uint64_t size);
  // Hands the host the record of the output file just closed or removed;
  // path is its final full path.
  void TellFileClosed(uint32_t disposition, const char16_t* path, uint64_t size);

  uint32_t m_endComplete = 0;
  uint64_t m_endExpectedSize = 0;
  bool m_endNoted = false;
  bool m_endHasPicture = false;
  uint64_t m_endUnwritten = 0;
  tag_PictureInfo m_endPicture{};
};

// Clone helper: a new object of the same class, built with this object's
// host context and output path, that takes this object's base state.
template <class T>
T* CloneRecognizer(const T* self, CTypeRecoveryManager* host, const char16_t* outputPath) {
  T* copy = new (std::nothrow) T(host, outputPath);
  if (copy != nullptr) copy->CopyStateFrom(self);
  return copy;
}

// The members every recognizer class declares alike, written once. In a
// class's public part, TYPERECOVERY_RECOGNIZER(Class, code) declares its type
// code, the constructor the registry's factory calls, its header test and
// its Clone (defined by its format line); TYPERECOVERY_STRIP_ANALYSIS its own
// Analyse; TYPERECOVERY_PROGRESS_FIELDS its list of progress-record fields
// (TYPERECOVERY_PROGRESS_RECORD: the two halves, where a record is written
// by hand).
#define TYPERECOVERY_RECOGNIZER(Class, code)                                                  \
  static constexpr uint32_t kTypeCode = code;                                               \
  Class(CTypeRecoveryManager* host, const char16_t* outputRoot);                            \
  uint32_t IsHeaderMatched(const uint8_t* buffer, uint32_t length, uint32_t verification)   \
      override;                                                                             \
  CTypeRecovery* Clone() override;
#define TYPERECOVERY_STRIP_ANALYSIS                                                           \
  uint32_t Analyse(uint64_t stripPosition, const uint8_t* buffer, uint32_t length,          \
                   uint32_t lookahead, uint32_t headerTypeCode, uint32_t* errorFlag) override;
#define TYPERECOVERY_PROGRESS_FIELDS                                                          \
  void ProgressFields(typerecovery::ProgressRecord& record) override;
#define TYPERECOVERY_PROGRESS_RECORD                                                          \
  uint32_t SaveProgress(TypeRecoveryFile file) override;                                    \
  uint32_t LoadProgress(TypeRecoveryFile file) override;

#endif
