/*
 * TypeRecovery: recovery of files from raw storage by their content.
 *
 * The host reads a disk, partition or image itself and hands the library the
 * data as a sequence of strips, in source order. The library recognises where
 * a file of one of its types begins, follows that format across strips and
 * either writes each found file below an output root (folder mode) or reports
 * it through a callback (report mode).
 *
 * Contract: every function taking a manager is a no-op answering 0 for a null
 * manager. A manager and its recognizers are used by one thread at a time;
 * several managers may coexist and share only the folder-ID callback.
 * TypeRecovery_IsFileHeaderMatched touches no shared state and may be called
 * from any thread. Texts are zero-terminated UTF-16; integers little-endian.
 */
#ifndef TYPERECOVERY_H
#define TYPERECOVERY_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#include <cstddef>
#else
#include <uchar.h>
#endif

#if defined(_WIN32)
#if defined(TYPERECOVERY_BUILDING) || defined(TYPERECOVERY_STATIC)
/* The DLL's exports are listed in its module-definition file. */
#define TYPERECOVERY_API
#else
#define TYPERECOVERY_API __declspec(dllimport)
#endif
#define TYPERECOVERY_CALL __cdecl
#else
#define TYPERECOVERY_API __attribute__((visibility("default")))
#define TYPERECOVERY_CALL
#endif

/* A file handle of the host: on Windows the HANDLE itself, on POSIX it
 * carries a file descriptor. */
typedef void* TypeRecoveryFile;
#define TYPERECOVERY_INVALID_FILE ((TypeRecoveryFile)(intptr_t)-1)
#if defined(_WIN32)
#include <io.h>
#define TYPERECOVERY_FILE_FROM_FD(fd) ((TypeRecoveryFile)_get_osfhandle(fd))
#else
#define TYPERECOVERY_FILE_FROM_FD(fd) ((TypeRecoveryFile)(intptr_t)(fd))
#endif

/* One record per supported type code, 280 bytes. */
typedef struct tag_FileTypeProperty {
  uint32_t typeCode;
  uint32_t typePropertyFlag;  /* 1 when the class has a default maximum size */
  uint32_t reserved;          /* always 0 */
  uint32_t alwaysOne;         /* always 1 */
  uint64_t defaultMaxFileSize; /* all ones when the class has none */
  char16_t extensions[128];   /* ".jpg;.jpe;.jpeg", empty for further codes */
} tag_FileTypeProperty;

/* Picture metadata handed to the found-file callback in report mode,
 * 456 bytes. Texts are zero-terminated and hold at most one unit less than
 * their capacity; fields stay zero when the file has no such data. */
typedef struct tag_PictureInfo {
  uint32_t size;              /* always 456 */
  uint32_t typeCode;
  uint32_t width;
  uint32_t height;
  char16_t software[64];      /* EXIF 0x0131 */
  char16_t exifVersion[5];    /* EXIF 0x9000 */
  char16_t make[32];          /* EXIF 0x010F */
  char16_t model[40];         /* EXIF 0x0110 */
  char16_t dateTimeOriginal[20]; /* EXIF 0x9003 */
  char16_t dateTime[20];      /* EXIF 0x0132 */
  char16_t gpsLatitudeRef[4]; /* GPS 1: N or S */
  uint8_t reserved1[6];
  double gpsLatitude;         /* degrees */
  char16_t gpsLongitudeRef[4]; /* GPS 3: E or W */
  double gpsLongitude;        /* degrees */
  char16_t gpsAltitudeRef[16]; /* GPS 5, its bytes taken as text */
  float gpsAltitude;
  uint8_t reserved2[4];
} tag_PictureInfo;

#ifdef __cplusplus
static_assert(sizeof(tag_FileTypeProperty) == 280, "tag_FileTypeProperty is 280 bytes");
static_assert(offsetof(tag_FileTypeProperty, defaultMaxFileSize) == 16, "max size at 16");
static_assert(offsetof(tag_FileTypeProperty, extensions) == 24, "extensions at 24");
static_assert(sizeof(tag_PictureInfo) == 456, "tag_PictureInfo is 456 bytes");
static_assert(offsetof(tag_PictureInfo, software) == 16, "software at 16");
static_assert(offsetof(tag_PictureInfo, exifVersion) == 144, "exif version at 144");
static_assert(offsetof(tag_PictureInfo, make) == 154, "make at 154");
static_assert(offsetof(tag_PictureInfo, model) == 218, "model at 218");
static_assert(offsetof(tag_PictureInfo, dateTimeOriginal) == 298, "original date at 298");
static_assert(offsetof(tag_PictureInfo, dateTime) == 338, "date at 338");
static_assert(offsetof(tag_PictureInfo, gpsLatitudeRef) == 378, "latitude ref at 378");
static_assert(offsetof(tag_PictureInfo, gpsLatitude) == 392, "latitude at 392");
static_assert(offsetof(tag_PictureInfo, gpsLongitudeRef) == 400, "longitude ref at 400");
static_assert(offsetof(tag_PictureInfo, gpsLongitude) == 408, "longitude at 408");
static_assert(offsetof(tag_PictureInfo, gpsAltitudeRef) == 416, "altitude ref at 416");
static_assert(offsetof(tag_PictureInfo, gpsAltitude) == 448, "altitude at 448");

/* A held copy of strip data owned by a recognizer. */
struct tag_RAMData {
  unsigned char* data;
  uint32_t length;
};

/* One image strip or tile of a TIFF file: offset and byte count. */
struct tag_StripToAnalyse {
  uint32_t offset;
  uint32_t count;
};
static_assert(sizeof(tag_StripToAnalyse) == 8, "tag_StripToAnalyse is 8 bytes");

/* Untyped array of fixed-size items stored back to back in one block. The
 * item size comes from the virtual GetItemSize of the typed layer. Copying
 * an array copies its state words as they are: the copy shares the item
 * block, and exactly one of the two may be destroyed. */
class TYPERECOVERY_API CBaseArray {
 public:
  CBaseArray();
  CBaseArray(const CBaseArray& other) = default;
  CBaseArray& operator=(const CBaseArray& other) = default;
  virtual ~CBaseArray();
  virtual long GetItemSize() const = 0;

  long GetCount() const { return m_count; }
  long AddItem(void* item);
  long GetItemAt(long index, void* item) const;
  long InsertItemAt(long index, void* item);
  long RemoveAt(long index);
  void RemoveAll();
  void* GetData() const { return m_data; }

 private:
  bool Reserve(long count);

  unsigned char* m_data;
  long m_count;
  long m_capacity;
};

/* Typed layer over CBaseArray. */
template <class T>
class CDynArray : public CBaseArray {
 public:
  CDynArray() : CBaseArray() {}
  CDynArray(const CDynArray& other) : CBaseArray(other) {}
  CDynArray& operator=(const CDynArray& other) {
    CBaseArray::operator=(other);
    return *this;
  }
  ~CDynArray() override {}
  long GetItemSize() const override { return static_cast<long>(sizeof(T)); }
  long Add(T item) { return AddItem(&item); }
  T GetAt(long index) const {
    T item;
    GetItemAt(index, &item);
    return item;
  }
  long InsertAt(long index, T item) { return InsertItemAt(index, &item); }
};

class CTypeRecovery;
class CTypeRecoveryManager;
typedef CDynArray<tag_FileTypeProperty> TypeRecoveryFileTypeArray;

extern "C" {
#else
typedef struct CTypeRecoveryManager CTypeRecoveryManager;
typedef void TypeRecoveryFileTypeArray;
#endif

/* Report mode: one call per found file. The answer becomes the recognizer's
 * new type-folder value. The picture record belongs to the library and is
 * freed right after the call returns. */
typedef uint32_t(TYPERECOVERY_CALL* TypeRecoveryFoundFileFn)(
    uintptr_t userValue, uint32_t typeFolderValue, uint32_t* fileCounter,
    const char16_t* extension, uint64_t fileStart, uint64_t size,
    uint32_t complete, const tag_PictureInfo* picture);

/* Process-wide: the host's value for a type, asked for by extension. */
typedef uint32_t(TYPERECOVERY_CALL* TypeRecoveryFolderIdFn)(uintptr_t userValue,
                                                            const char16_t* extension);

/* Folder mode: what became of one output file. */
#define TYPERECOVERY_FILE_KEPT 0        /* closed and left on disk */
#define TYPERECOVERY_FILE_DISCARDED 1   /* removed: the format's rules do not keep it */
#define TYPERECOVERY_FILE_OVERSIZE 2    /* removed: larger than the restricted size */

/* One output file the library has closed or removed in folder mode. Every
 * pointer belongs to the library and is valid only during the call. */
typedef struct tag_ClosedFileInfo {
  uint32_t size;              /* sizeof(tag_ClosedFileInfo) of the library */
  uint32_t disposition;       /* TYPERECOVERY_FILE_KEPT, _DISCARDED or _OVERSIZE */
  const char16_t* path;       /* final name relative to the output root, "\" separated */
  const char16_t* extension;  /* the file's extension, without the dot */
  uint32_t typeCode;          /* the code of the recognizer class; for classes that
                                 serve several types the extension names the one */
  uint32_t complete;          /* 1 when the format's own end was reached; 0 when the file
                                 was cut by a size limit, the next file or a flush */
  uint64_t fileStart;         /* source offset of the first byte copied from the source */
  uint64_t bytesWritten;      /* the size of the output file */
  uint64_t leadIn;            /* bytes at the start of the output file that do not come
                                 from the source (zero-filled), before fileStart's byte */
  uint64_t expectedSize;      /* the size the format's structure gave, as report mode
                                 would report it; 0 when the file ended without a report */
  const tag_PictureInfo* picture; /* the picture record, or NULL */
  uint64_t bytesUnwritten;    /* bytes that could not reach the disk when the file was
                                 closed (a full disk): the file is that much short */
} tag_ClosedFileInfo;

/* Folder mode: one call per output file closed or removed, after the fact. */
typedef void(TYPERECOVERY_CALL* TypeRecoveryFileClosedFn)(uintptr_t userValue,
                                                          const tag_ClosedFileInfo* info);

TYPERECOVERY_API CTypeRecoveryManager* TYPERECOVERY_CALL TypeRecovery_CreateManager(
    uintptr_t userValue, TypeRecoveryFoundFileFn foundFile, const char16_t* outputRoot);
TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_CloseManager(CTypeRecoveryManager* m);
TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_SetRestrictedSize(CTypeRecoveryManager* m,
                                                                       uint64_t size);
TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_SetFuncGetTypeFolderID(TypeRecoveryFolderIdFn fn);
TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_AddType(CTypeRecoveryManager* m,
                                                             uint32_t typeCode,
                                                             uint64_t maxFileSize);
TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_AddAllTypes(CTypeRecoveryManager* m);
TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_GetAllSupportedFileTypes(
    CTypeRecoveryManager* m, TypeRecoveryFileTypeArray* fileTypes);
TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_Analyse(CTypeRecoveryManager* m,
                                                                 uint64_t stripPosition,
                                                                 const uint8_t* buffer,
                                                                 uint32_t length,
                                                                 uint32_t lookahead,
                                                                 uint32_t* errorFlag);
TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_Flush(CTypeRecoveryManager* m);
TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_SaveProgress(CTypeRecoveryManager* m,
                                                                      TypeRecoveryFile f);
TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_LoadProgress(CTypeRecoveryManager* m,
                                                                      TypeRecoveryFile f);
/* Folder mode, an addition to the designed interface: the library tells the
 * host of every output file it closes (Analyse, Flush) or removes, with the
 * file's name below the output root, its place in the source, its size, its
 * complete flag and, where the format has one, its picture record. Set
 * before the first Analyse; a null fn turns it off. Without it nothing
 * changes; with it, picture formats also build their records in folder mode.
 * Report-mode managers never call it. */
TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_SetFileClosedCallback(
    CTypeRecoveryManager* m, TypeRecoveryFileClosedFn fn, uintptr_t userValue);
/* Addition: the smallest source offset at which a file still being followed
 * begins (in folder mode counting a zero-filled lead-in as the file's). A
 * file that ends later can begin no earlier, so a host can hand on, in source
 * order, every file it learnt of that begins before this. Answers 1 and sets
 * *start when a file is being followed, else 0. */
TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_GetOldestOpenFileStart(
    CTypeRecoveryManager* m, uint64_t* start);
/* Addition: 1 when the manager holds no active recognizer (its progress
 * record is empty), else 0. From such a strip on, the manager analyses as a
 * new manager of the same types and settings would, apart from the file
 * numbers it gives: a host can start a second manager at a later strip and
 * know that both agree from the first strip after which both are at rest. */
TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_IsAtRest(CTypeRecoveryManager* m);
/* Folder mode, additions for a resume that loses nothing.
 *
 * TypeRecovery_GetOpenOutputFiles calls fn once per output file the
 * manager's recognizers hold open: its path below the output root, the
 * recognizer's class code, where the file begins in the source, its size on
 * disk (buffered bytes are written first) and its handle (the host may sync
 * it; it stays the library's). Call it next to TypeRecovery_SaveProgress,
 * with no Analyse between: those sizes are the bytes the saved progress
 * stands for. Answers the number of files.
 *
 * TypeRecovery_ReopenOutputFile hands such a file back after
 * TypeRecovery_LoadProgress: the recognizer of class typeCode following the
 * file that begins at fileStart takes the handle (opened for writing by the
 * host, cut back to the saved size and positioned at its end) and the path,
 * and goes on writing where it stopped; the library closes the handle as
 * its own. Answers 1 when a recognizer took it, else 0 (the host keeps the
 * handle). */
typedef void(TYPERECOVERY_CALL* TypeRecoveryOpenFileFn)(uintptr_t userValue, const char16_t* path,
                                                        uint32_t typeCode, uint64_t fileStart,
                                                        uint64_t size, TypeRecoveryFile file);
TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_GetOpenOutputFiles(
    CTypeRecoveryManager* m, TypeRecoveryOpenFileFn fn, uintptr_t userValue);
TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_ReopenOutputFile(
    CTypeRecoveryManager* m, uint32_t typeCode, uint64_t fileStart, const char16_t* path,
    TypeRecoveryFile file);
/* Folder mode, resume: file numbers are counted per recognizer class and
 * the progress record keeps only those of recognizers following a file.
 * Tells the manager that number (below the output root, under the given
 * extension, without the dot) was used, so that the class serving that
 * extension numbers its next file after it, as an uninterrupted run would.
 * Call after TypeRecovery_LoadProgress, once per file written so far. */
TYPERECOVERY_API void TYPERECOVERY_CALL TypeRecovery_NoteUsedFileNumber(
    CTypeRecoveryManager* m, const char16_t* extension, uint32_t number);
TYPERECOVERY_API int32_t TYPERECOVERY_CALL TypeRecovery_IsFileHeaderMatched(
    const uint8_t* buffer, uint32_t length, const char16_t* extension);

/* Additions to the designed interface. */

/* The supported type at `index` (0-based, in the order of
 * TypeRecovery_GetAllSupportedFileTypes), copied into *record. Answers 1, or
 * 0 when the manager or record is null or the index is past the last type.
 * For hosts that cannot build a CDynArray (C, other languages). */
TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_GetSupportedFileType(
    CTypeRecoveryManager* m, uint32_t index, tag_FileTypeProperty* record);

/* How many recognizer calls failed inside TypeRecovery_Analyse or
 * TypeRecovery_Flush since the manager was created (0 for a null manager).
 * A recognizer that fails loses only the file it was following: that file
 * is neither reported nor kept (in folder mode its output file is removed,
 * told to the file-closed callback as discarded) and the recognizer is
 * retired; every other recognizer goes on with the same strip. A host that
 * sees the count grow should say so in its records. */
TYPERECOVERY_API uint32_t TYPERECOVERY_CALL TypeRecovery_GetFaultCount(CTypeRecoveryManager* m);

#ifdef __cplusplus
}
#endif

#endif /* TYPERECOVERY_H */
