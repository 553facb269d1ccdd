"""ctypes binding of the TypeRecovery C interface (typerecovery.h).

Only this module knows the library's calling details: record layouts,
UTF-16 texts, callback types and how a file handle is made from a Python
file. The rest of the package works with Python values.
"""
import ctypes
import ctypes.util
import os
import sys

c_uintptr = ctypes.c_size_t


class FileTypeProperty(ctypes.Structure):
    """One supported type code (280 bytes)."""
    _fields_ = [
        ("typeCode", ctypes.c_uint32),
        ("typePropertyFlag", ctypes.c_uint32),
        ("reserved", ctypes.c_uint32),
        ("alwaysOne", ctypes.c_uint32),
        ("defaultMaxFileSize", ctypes.c_uint64),
        ("extensions", ctypes.c_uint16 * 128),
    ]


class PictureInfo(ctypes.Structure):
    """Picture metadata of a found file (456 bytes)."""
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("typeCode", ctypes.c_uint32),
        ("width", ctypes.c_uint32),
        ("height", ctypes.c_uint32),
        ("software", ctypes.c_uint16 * 64),
        ("exifVersion", ctypes.c_uint16 * 5),
        ("make", ctypes.c_uint16 * 32),
        ("model", ctypes.c_uint16 * 40),
        ("dateTimeOriginal", ctypes.c_uint16 * 20),
        ("dateTime", ctypes.c_uint16 * 20),
        ("gpsLatitudeRef", ctypes.c_uint16 * 4),
        ("reserved1", ctypes.c_uint8 * 6),
        ("gpsLatitude", ctypes.c_double),
        ("gpsLongitudeRef", ctypes.c_uint16 * 4),
        ("gpsLongitude", ctypes.c_double),
        ("gpsAltitudeRef", ctypes.c_uint16 * 16),
        ("gpsAltitude", ctypes.c_float),
        ("reserved2", ctypes.c_uint8 * 4),
    ]


assert ctypes.sizeof(FileTypeProperty) == 280
assert ctypes.sizeof(PictureInfo) == 456

class ClosedFileInfo(ctypes.Structure):
    """One output file the library closed or removed in folder mode."""
    _fields_ = [
        ("size", ctypes.c_uint32),
        ("disposition", ctypes.c_uint32),
        ("path", ctypes.POINTER(ctypes.c_uint16)),
        ("extension", ctypes.POINTER(ctypes.c_uint16)),
        ("typeCode", ctypes.c_uint32),
        ("complete", ctypes.c_uint32),
        ("fileStart", ctypes.c_uint64),
        ("bytesWritten", ctypes.c_uint64),
        ("leadIn", ctypes.c_uint64),
        ("expectedSize", ctypes.c_uint64),
        ("picture", ctypes.POINTER(PictureInfo)),
        ("bytesUnwritten", ctypes.c_uint64),
    ]


FILE_KEPT = 0

# The library's callbacks use the C calling convention on every platform.
FoundFileFn = ctypes.CFUNCTYPE(
    ctypes.c_uint32, c_uintptr, ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint32),
    ctypes.POINTER(ctypes.c_uint16), ctypes.c_uint64, ctypes.c_uint64, ctypes.c_uint32,
    ctypes.POINTER(PictureInfo))


FileClosedFn = ctypes.CFUNCTYPE(None, c_uintptr, ctypes.POINTER(ClosedFileInfo))


def _candidates():
    explicit = os.environ.get("TYPERECOVERY_LIBRARY")
    if explicit:
        yield explicit
        return
    here = os.path.dirname(os.path.abspath(__file__))
    names = (["typerecovery.dll", "libtyperecovery.dll"] if sys.platform == "win32" else
             ["libtyperecovery.dylib"] if sys.platform == "darwin" else
             ["libtyperecovery.so.0", "libtyperecovery.so"])
    for name in names:
        path = os.path.join(here, name)
        if os.path.exists(path):
            yield path
    found = ctypes.util.find_library("typerecovery")
    if found:
        yield found
    for prefix in ("/usr/local/lib", "/usr/lib"):
        for name in names:
            path = os.path.join(prefix, name)
            if os.path.exists(path):
                yield path
    yield from names


def _load():
    errors = []
    for candidate in _candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            errors.append("%s: %s" % (candidate, error))
    raise OSError("the TypeRecovery library was not found (install it with cmake --install, "
                  "or set TYPERECOVERY_LIBRARY to its path); tried: " + "; ".join(errors))


_lib = None


def lib():
    """The loaded library, with argument and result types declared."""
    global _lib
    if _lib is not None:
        return _lib
    handle = _load()
    manager = ctypes.c_void_p
    signatures = {
        "TypeRecovery_CreateManager": (manager, [c_uintptr, FoundFileFn, ctypes.c_void_p]),
        "TypeRecovery_CloseManager": (None, [manager]),
        "TypeRecovery_SetRestrictedSize": (None, [manager, ctypes.c_uint64]),
        "TypeRecovery_AddType": (None, [manager, ctypes.c_uint32, ctypes.c_uint64]),
        "TypeRecovery_AddAllTypes": (None, [manager]),
        "TypeRecovery_Analyse": (ctypes.c_uint32, [manager, ctypes.c_uint64, ctypes.c_void_p,
                                                   ctypes.c_uint32, ctypes.c_uint32,
                                                   ctypes.POINTER(ctypes.c_uint32)]),
        "TypeRecovery_Flush": (ctypes.c_uint32, [manager]),
        "TypeRecovery_SaveProgress": (ctypes.c_uint32, [manager, ctypes.c_void_p]),
        "TypeRecovery_LoadProgress": (ctypes.c_uint32, [manager, ctypes.c_void_p]),
        "TypeRecovery_IsFileHeaderMatched": (ctypes.c_int32, [ctypes.c_void_p, ctypes.c_uint32,
                                                              ctypes.c_void_p]),
        "TypeRecovery_GetSupportedFileType": (ctypes.c_uint32, [manager, ctypes.c_uint32,
                                                                ctypes.POINTER(FileTypeProperty)]),
        "TypeRecovery_SetFileClosedCallback": (None, [manager, FileClosedFn, c_uintptr]),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(handle, name)
        function.restype = result
        function.argtypes = arguments
    _lib = handle
    return _lib


def utf16(text):
    """A zero-terminated UTF-16 buffer for the library (kept alive by the caller)."""
    data = text.encode("utf-16-le") + b"\0\0"
    return ctypes.create_string_buffer(data, len(data))


def from_utf16(units):
    """Text of a zero-terminated UTF-16 array or pointer."""
    out = []
    for unit in units:
        if unit == 0:
            break
        out.append(unit)
    return b"".join(u.to_bytes(2, "little") for u in out).decode("utf-16-le", "replace")


def from_utf16_pointer(pointer, limit=4096):
    units = []
    for i in range(limit):
        unit = pointer[i]
        if unit == 0:
            break
        units.append(unit)
    return from_utf16(units)


def file_handle(fileobj):
    """The library's file handle for an open Python file: the descriptor on
    POSIX, the operating system handle on Windows."""
    fd = fileobj.fileno()
    if sys.platform == "win32":
        import msvcrt
        return ctypes.c_void_p(msvcrt.get_osfhandle(fd))
    return ctypes.c_void_p(fd)
