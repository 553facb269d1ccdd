"""TypeRecovery from Python: find files in raw storage by their content.

    import typerecovery

    for found in typerecovery.scan("disk.img", types=["jpg", "pdf"]):
        print(found.offset, found.size, found.extension, found.complete)

    for written in typerecovery.carve("disk.img", "recovered", types=["photos"]):
        print(written.path, written.offset, written.size)

`scan` reports what it finds and writes nothing; `carve` writes the files
below a folder, one folder per extension, as the command-line tool does.
Both read the source (a path or a binary file object) in blocks of 512
bytes, so a file is found where it starts on a block boundary.

A scan can be stopped and resumed: give `state="run.state"`; leaving the
loop early (`break`, an exception, Ctrl-C) saves the state there, and the
same call later continues after the last block read, yielding only what it
had not yielded yet. The file is removed when a run ends normally.

The library is found through TYPERECOVERY_LIBRARY, next to this package, or
where `cmake --install` puts it.
"""
import ctypes
import dataclasses
import datetime
import json
import os
from typing import Dict, Iterable, Iterator, List, Optional, Union

from . import _native

__all__ = ["FileType", "Picture", "Found", "Carved", "StateError", "types", "check", "scan", "carve"]
__version__ = "0.1.0"

GROUPS = ["documents", "photos", "audio", "video", "internet", "graphics", "archives", "mail",
          "other"]


class StateError(Exception):
    """A state file that does not belong to this run or is damaged."""


@dataclasses.dataclass(frozen=True)
class FileType:
    code: int
    group: str
    family: int            # first code of the family that serves this code
    extensions: List[str]  # of the family, without dots
    default_max_size: Optional[int]


@dataclasses.dataclass(frozen=True)
class Picture:
    width: int
    height: int
    make: Optional[str] = None
    model: Optional[str] = None
    software: Optional[str] = None
    exif_version: Optional[str] = None
    date_original: Optional[str] = None  # ISO 8601, as the camera wrote it
    date_modified: Optional[str] = None
    gps: Optional[dict] = None


@dataclasses.dataclass(frozen=True)
class Found:
    offset: int    # of the file's first byte in the source
    size: int
    type_code: int
    extension: str
    complete: bool  # False when the file was cut short
    picture: Optional[Picture] = None

    def to_dict(self):
        return dataclasses.asdict(self)

    @staticmethod
    def from_dict(data):
        picture = data.get("picture")
        return Found(**{**data, "picture": Picture(**picture) if picture else None})


# BMP, GIF and PNG are pictures people look for with the photos.
_PICTURES_IN_PHOTOS = {1537, 1538, 1539}


@dataclasses.dataclass(frozen=True)
class Carved:
    """A file `carve` wrote: its path below the output folder and its size
    on disk; after a zero-filled lead-in of `lead_in` bytes that the source
    does not hold, its bytes are the source's from `offset` on."""
    path: str
    offset: int
    size: int
    type_code: int
    extension: str
    complete: bool
    lead_in: int = 0
    picture: Optional[Picture] = None


def _group_name(code):
    group = 2 if code in _PICTURES_IN_PHOTOS else code >> 8
    return GROUPS[group - 1] if 1 <= group <= len(GROUPS) else "unknown"


def _report_manager(callback):
    manager = _native.lib().TypeRecovery_CreateManager(1, callback, None)
    if not manager:
        raise MemoryError("the library could not create a manager")
    return manager


def _ignore(*_):
    return 0


_IGNORE = _native.FoundFileFn(_ignore)


def types() -> List[FileType]:
    """Every type code the library supports, in the library's order."""
    lib = _native.lib()
    manager = _report_manager(_IGNORE)
    try:
        out = []
        family_code, family_extensions = 0, []
        record = _native.FileTypeProperty()
        index = 0
        while lib.TypeRecovery_GetSupportedFileType(manager, index, ctypes.byref(record)):
            listed = _native.from_utf16(record.extensions)
            if listed:
                family_code = record.typeCode
                family_extensions = [e.lstrip(".").lower() for e in listed.split(";") if e]
            out.append(FileType(record.typeCode, _group_name(record.typeCode), family_code,
                                list(family_extensions),
                                record.defaultMaxFileSize if record.typePropertyFlag else None))
            index += 1
        return out
    finally:
        lib.TypeRecovery_CloseManager(manager)


def check(data: bytes, extension: str) -> Optional[bool]:
    """Whether `data` begins like a file of the type `extension` names: True,
    False, or None when the library does not know the extension."""
    name = _native.utf16(extension.lstrip("."))
    buffer = ctypes.create_string_buffer(bytes(data), len(data))
    answer = _native.lib().TypeRecovery_IsFileHeaderMatched(buffer, len(data), name)
    return True if answer == 1 else False if answer == -1 else None


def _resolve(selection, max_sizes):
    """The types to add, as the tool adds them: {"add_all": bool, "add":
    [(code, maximum size), ...]}. "add_all" lets the library add its own
    list first; "add" follows in the library's order."""
    if isinstance(selection, (str, int)):
        selection = [selection]
    names = [str(t).lower() for t in selection] if selection is not None else ["all"]
    if not max_sizes and names and all(n in ("all", "library-default") for n in names):
        if "library-default" in names:
            return {"add_all": True, "add": []}
        # Every type: the library's list, then every family's own kinds
        # (the library leaves the generic compound-document and executable
        # kinds out of its list).
        catalog = types()
        heads = [t for t in catalog if t.code == t.family and
                 sum(1 for m in catalog if m.family == t.code) > 1]
        return {"add_all": True,
                "add": [(t.code, t.default_max_size if t.default_max_size is not None
                         else (1 << 64) - 1) for t in heads]}
    catalog = types()
    if isinstance(selection, (str, int)):
        selection = [selection]
    chosen = set()
    for token in selection if selection is not None else ["all"]:
        if str(token).lower() == "library-default":
            token = "all"
        if isinstance(token, int):
            if not any(t.code == token for t in catalog):
                raise ValueError("the library has no type with code %d" % token)
            chosen.add(token)
            continue
        name = str(token).lower().lstrip(".")
        if name == "all":
            chosen.update(t.code for t in catalog)
        elif name in GROUPS:
            chosen.update(t.code for t in catalog if t.group == name)
        else:
            codes = [t.code for t in catalog if name in t.extensions]
            if not codes:
                raise ValueError("unknown type %r: not an extension, type code or group" % token)
            chosen.update(codes)
    limits = {}
    for key, size in (max_sizes or {}).items():
        if not isinstance(size, int) or size <= 0:
            raise ValueError("a maximum size must be a positive number of bytes: %r" % (size,))
        codes = ([key] if isinstance(key, int) else
                 [t.code for t in catalog if str(key).lower().lstrip(".") in t.extensions])
        if not codes:
            raise ValueError("unknown type in max_sizes: %r" % (key,))
        for code in codes:
            limits[code] = size
    return {"add_all": False,
            "add": [(t.code, limits.get(t.code, t.default_max_size if t.default_max_size is not None
                                         else (1 << 64) - 1))
                    for t in catalog if t.code in chosen]}


_catalog = None


def _code_for_extension(extension):
    """The code a found file of this extension is reported under: the type
    whose own extension it is (in families that list one extension per
    code), else the first family that lists it."""
    global _catalog
    if _catalog is None:
        _catalog = types()
    families = {}
    for t in _catalog:
        families.setdefault(t.family, []).append(t.code)
    for family, codes in families.items():
        extensions = next(t.extensions for t in _catalog if t.code == family)
        if len(extensions) == len(codes) > 1 and extension in extensions:
            return codes[extensions.index(extension)]
    for t in _catalog:
        if t.code == t.family and extension in t.extensions:
            return t.code
    return 0


def _picture(info):
    if not info:
        return None
    p = info.contents
    text = lambda units: _native.from_utf16(units) or None

    def iso(value):
        # ISO 8601, as the tool's reports give it; None for blank, all-zero
        # ("unknown") or impossible dates.
        value = text(value)
        if not value:
            return None
        for layout in ("%Y:%m:%d %H:%M:%S", "%Y-%m-%d %H:%M:%S", "%Y/%m/%d %H:%M:%S"):
            try:
                return datetime.datetime.strptime(value[:19], layout).isoformat()
            except ValueError:
                pass
        return None

    gps = None
    latitude_ref, longitude_ref = text(p.gpsLatitudeRef), text(p.gpsLongitudeRef)
    if latitude_ref or longitude_ref:
        gps = {"latitude_ref": latitude_ref, "latitude": p.gpsLatitude,
               "longitude_ref": longitude_ref, "longitude": p.gpsLongitude,
               "altitude_ref": text(p.gpsAltitudeRef), "altitude": p.gpsAltitude}
    return Picture(p.width, p.height, text(p.make), text(p.model), text(p.software),
                   text(p.exifVersion), iso(p.dateTimeOriginal), iso(p.dateTime), gps)


class _HeldInterrupts:
    """Holds Ctrl-C back while blocks are analysed and delivers it at the next
    safe point, so that a saved state never has a block analysed but not
    counted. While the caller has control (between two records) Ctrl-C comes
    as usual. Only the main thread can hold signals; elsewhere nothing is
    held."""

    def __init__(self):
        import threading
        self.main = threading.current_thread() is threading.main_thread()
        self.previous = None
        self.caught = False

    def _hold(self, _signal, _frame):
        self.caught = True

    def hold(self):
        import signal
        if self.main and self.previous is None:
            self.previous = signal.signal(signal.SIGINT, self._hold)

    def release(self):
        import signal
        if self.previous is not None:
            signal.signal(signal.SIGINT, self.previous)
            self.previous = None

    def deliver(self):
        if self.caught:
            self.caught = False
            raise KeyboardInterrupt


class _Run:
    """One manager over one source, fed block by block."""

    MAGIC = b"typerecovery-python-state 1\n"

    def __init__(self, source, output, selection, max_sizes, block_size, lookahead, state):
        if block_size <= 0 or lookahead < 0:
            raise ValueError("block_size must be positive and lookahead not negative")
        self.lib = _native.lib()
        self.block = block_size
        self.lookahead = lookahead
        self.chunk = max(block_size, (4 << 20) // block_size * block_size)
        self.state = state
        self.pending: List[Found] = []
        self.position = 0
        self.error = ctypes.c_uint32(0)
        self.additions = _resolve(selection, max_sizes)
        self.callback = _native.FoundFileFn(self._found)
        if output is None:
            self.manager = _report_manager(self.callback)
        else:
            os.makedirs(output, exist_ok=True)
            self._root = _native.utf16(os.path.abspath(output))
            self.manager = self.lib.TypeRecovery_CreateManager(0, _IGNORE, self._root)
            if not self.manager:
                raise MemoryError("the library could not create a manager")
            self.carved: List[Carved] = []
            self.closed = _native.FileClosedFn(self._closed)
            self.lib.TypeRecovery_SetFileClosedCallback(self.manager, self.closed, 0)
        if self.additions["add_all"]:
            self.lib.TypeRecovery_AddAllTypes(self.manager)
        for code, limit in self.additions["add"]:
            self.lib.TypeRecovery_AddType(self.manager, code, limit)
        self.owns_file = isinstance(source, (str, bytes, os.PathLike))
        self.file = open(source, "rb") if self.owns_file else source
        try:
            self.total = os.fstat(self.file.fileno()).st_size or None
        except (AttributeError, OSError, ValueError):
            self.total = None
        self.kind = "carve" if output is not None else "scan"
        if state and os.path.exists(state):
            self._load(state)

    def _found(self, _user, folder, _counter, extension, start, size, complete, picture):
        # Spelt as the library names the files (camera raw in upper case).
        name = _native.from_utf16_pointer(extension)
        self.pending.append(Found(start, size, _code_for_extension(name.lower()), name, bool(complete),
                                  _picture(picture)))
        return folder

    def _closed(self, _user, info):
        info = info.contents
        if info.disposition != _native.FILE_KEPT:
            return
        extension = _native.from_utf16_pointer(info.extension)
        path = _native.from_utf16_pointer(info.path).replace("\\", "/")
        self.carved.append(Carved(path, info.fileStart, info.bytesWritten,
                                  _code_for_extension(extension.lower()), extension, bool(info.complete),
                                  info.leadIn, _picture(info.picture)))

    def _identity(self):
        return {"kind": self.kind, "source_size": self.total, "block_size": self.block,
                "types": self.additions}

    def _load(self, path):
        with open(path, "rb") as f:
            data = f.read()
        if not data.startswith(self.MAGIC):
            raise StateError("%s is not a state file of this package" % path)
        end = data.find(b"\n", len(self.MAGIC))
        try:
            header = json.loads(data[len(self.MAGIC):end].decode("utf-8"))
            identity = header["run"]
            position = int(header["position"])
            pending = [Found.from_dict(d) for d in header["pending"]]
        except (ValueError, KeyError, TypeError) as error:
            raise StateError("damaged state file %s: %s" % (path, error))
        if json.loads(json.dumps(self._identity())) != identity:
            raise StateError("state file %s belongs to another run (source size, block size, "
                             "types or kind differ)" % path)
        fd = os.open(path, os.O_RDONLY | getattr(os, "O_BINARY", 0))
        try:
            os.lseek(fd, end + 1, os.SEEK_SET)
            with os.fdopen(fd, "rb", buffering=0, closefd=False) as f:
                if not self.lib.TypeRecovery_LoadProgress(self.manager, _native.file_handle(f)):
                    raise StateError("damaged state file %s: the library refused its progress"
                                     % path)
        finally:
            os.close(fd)
        self.file.seek(position)
        self.position = position
        self.pending = pending

    def save(self):
        header = json.dumps({"run": self._identity(), "position": self.position,
                             "pending": [p.to_dict() for p in self.pending]})
        temporary = self.state + ".tmp"
        with open(temporary, "wb", buffering=0) as f:
            f.write(self.MAGIC + header.encode("utf-8") + b"\n")
            if not self.lib.TypeRecovery_SaveProgress(self.manager, _native.file_handle(f)):
                raise OSError("the library could not save its progress to %s" % temporary)
            os.fsync(f.fileno())
        os.replace(temporary, self.state)

    def close(self):
        if self.manager:
            self.lib.TypeRecovery_CloseManager(self.manager)
            self.manager = None
        if self.owns_file:
            self.file.close()

    def strips(self, progress):
        """Feeds the source to the library; yields after every block that
        made the library report something."""
        held = _HeldInterrupts()
        held.hold()
        try:
            for _ in self._strips(progress, held):
                held.release()
                yield
                held.hold()
        finally:
            held.release()

    def _strips(self, progress, held):
        tail = b""
        want = self.chunk + self.lookahead
        while True:
            data = tail + self.file.read(want - len(tail))
            at_end = len(data) < want
            usable = len(data) if at_end else self.chunk
            buffer = bytearray(data)
            array = (ctypes.c_uint8 * max(1, len(buffer))).from_buffer(
                buffer if buffer else bytearray(1))
            base = ctypes.addressof(array)
            offset = 0
            while offset < usable:
                length = min(self.block, usable - offset)
                ahead = min(self.lookahead, len(data) - offset - length)
                self.lib.TypeRecovery_Analyse(self.manager, self.position, base + offset,
                                              length, ahead, ctypes.byref(self.error))
                offset += length
                self.position += length
                held.deliver()
                if self.error.value:
                    raise OSError("the library could not create or write an output file")
                if self.pending:
                    yield
            del array
            if progress is not None:
                progress(self.position, self.total)
            if at_end:
                break
            tail = data[usable:]
        self.lib.TypeRecovery_Flush(self.manager)
        yield


def _drive(run, progress, show):
    finished = False
    try:
        for _ in run.strips(progress):
            while run.pending:
                # Taken off before it is handed out: a caller that stops here
                # has it, and a resumed run must not give it again.
                found = run.pending.pop(0)
                if show:
                    yield found
        finished = True
    finally:
        try:
            if run.state:
                if finished:
                    if os.path.exists(run.state):
                        os.remove(run.state)
                else:
                    run.save()
        finally:
            run.close()


def scan(source: Union[str, os.PathLike, "io.BufferedReader"],
         types: Optional[Union[str, int, Iterable[Union[str, int]]]] = None,
         max_sizes: Optional[Dict[Union[str, int], int]] = None,
         block_size: int = 512, lookahead: int = 65536, state: Optional[str] = None,
         progress=None) -> Iterator[Found]:
    """Yields a `Found` for every file found in `source`, in the order the
    files end. `types`: extensions, type codes, group names, "all" (the
    default: every type) or "library-default" (the library's own list). `max_sizes`: {extension or code:
    bytes}. `progress(done, total)` is called after every 4 MiB read."""
    run = _Run(source, None, types, max_sizes, block_size, lookahead, state)
    return _drive(run, progress, True)


def carve(source, output: str, types=None, max_sizes=None, block_size: int = 512,
          lookahead: int = 65536, progress=None) -> List["Carved"]:
    """Writes every file found in `source` below the folder `output` (one
    folder per extension, numbered names) and answers what it wrote, one
    `Carved` per file in the order the files were closed. The options are
    those of `scan`; a stopped carve is not resumed from Python (the
    command-line tool's `carve --resume` does that)."""
    run = _Run(source, output, types, max_sizes, block_size, lookahead, None)
    for _ in _drive(run, progress, False):
        pass
    return run.carved
