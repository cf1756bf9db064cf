"""Stamp text, the local date and time, or a PNG/JPEG picture onto the pages
of a PDF, through the folimark library's extended interface.

Every stamping function takes the document as a path (str or os.PathLike)
or as bytes, and writes the stamped document to `output` (a path, which may
name the input) or, when `output` is None, returns it as bytes. Lengths are
in points (1/72 inch). Failures raise FolimarkError with the library's code
and message. Calls from several threads at once are safe.
"""
import ctypes
import os
import sys
import threading

from . import _native
from ._native import (ERROR_ARGUMENT, ERROR_DAMAGED, ERROR_ENCRYPTED, ERROR_MEMORY,  # noqa: F401
                      ERROR_PASSWORD, ERROR_PERMISSION, ERROR_READ, ERROR_UNSUPPORTED,
                      ERROR_WRITE)

__all__ = ["stamp_text", "stamp_datetime", "stamp_picture", "version", "FolimarkError",
           "ERROR_ARGUMENT", "ERROR_READ", "ERROR_DAMAGED", "ERROR_ENCRYPTED",
           "ERROR_UNSUPPORTED", "ERROR_WRITE", "ERROR_MEMORY", "ERROR_PASSWORD",
           "ERROR_PERMISSION"]

ANCHORS = {"bottom-left": 0, "bottom": 1, "bottom-right": 2, "left": 3, "center": 4,
           "right": 5, "top-left": 6, "top": 7, "top-right": 8}
ALIGNS = {"left": 0, "center": 1, "right": 2}
LAYERS = {"over": 0, "under": 1}
SPACES = {"displayed": 0, "page": 1}


class FolimarkError(Exception):
    """A stamp that failed: `code` is one of the ERROR_ constants, `message`
    the library's words (which name the file)."""

    def __init__(self, code, message):
        super().__init__(message)
        self.code = code
        self.message = message


_lock = threading.Lock()
_lib = None


def _library():
    global _lib
    with _lock:
        if _lib is None:
            _lib = _native.load()
        return _lib


def version():
    """Returns the library's version, such as "0.2.0"."""
    return _library().folimark_version(None, None, None).decode("ascii")


def _path_bytes(path):
    # The library takes UTF-8 paths everywhere; elsewhere than Windows a path
    # is bytes, given as the file system names it.
    if sys.platform == "win32":
        return os.fspath(path).encode("utf-8")
    return os.fsencode(path)


def _choice(table, value, name):
    if isinstance(value, int):
        return value
    try:
        return table[value]
    except KeyError:
        raise ValueError("%s must be one of %s, not %r" % (name, ", ".join(table), value)) from None


class _Call:
    """One call's options record and the buffers it points into, kept alive
    until the call returns."""

    def __init__(self, kind, document, output):
        self.keep = []
        self.o = _native.Options()
        if _library().folimark_options_init(ctypes.byref(self.o), ctypes.sizeof(self.o)) != 0:
            raise FolimarkError(ERROR_ARGUMENT, "the library does not know this options record")
        self.o.kind = kind
        self.o.input_path, self.o.input_data, self.o.input_size = None, None, 0
        self.source("input_path", "input_data", "input_size", document)
        self.output = output
        if output is not None:
            self.o.output_path = _path_bytes(output)

    def source(self, path_field, data_field, size_field, value):
        if isinstance(value, (bytes, bytearray, memoryview)):
            data = bytes(value)
            buffer = ctypes.create_string_buffer(data, len(data))
            self.keep.append(buffer)
            setattr(self.o, data_field, ctypes.cast(buffer, ctypes.c_void_p))
            setattr(self.o, size_field, len(data))
        else:
            setattr(self.o, path_field, _path_bytes(value))

    def text(self, text):
        if text is not None:
            self.o.text = text.encode("utf-8")

    def common(self, pages, x, y, anchor, space, rotation, opacity, layer, password):
        if password is not None:
            self.o.password = password.encode("utf-8")
        if pages is not None:
            self.o.pages = str(pages).encode("ascii")
        self.o.x, self.o.y = float(x), float(y)
        self.o.anchor = _choice(ANCHORS, anchor, "anchor")
        self.o.space = _choice(SPACES, space, "space")
        self.o.rotation = float(rotation)
        self.o.opacity = float(opacity)
        self.o.layer = _choice(LAYERS, layer, "layer")

    def lettering(self, size, color, align, font, font_index):
        self.o.font_size = float(size)
        self.o.red, self.o.green, self.o.blue = (int(c) for c in color)
        self.o.align = _choice(ALIGNS, align, "align")
        if font is not None:
            self.source("font_path", "font_data", "font_data_size", font)
        self.o.font_index = int(font_index)

    def run(self):
        lib = _library()
        data, size = ctypes.c_void_p(), ctypes.c_size_t()
        code = lib.folimark_stamp(ctypes.byref(self.o), ctypes.byref(data), ctypes.byref(size))
        if code != 0:
            message = lib.folimark_error_message().decode("utf-8", "replace")
            raise FolimarkError(code, message)
        if self.output is not None:
            return None
        try:
            return ctypes.string_at(data, size.value)
        finally:
            lib.folimark_free(data)


def stamp_text(document, output, text, *, pages=None, x=0, y=0, anchor="bottom-left",
               space="displayed", rotation=0, opacity=1, layer="over", size=24,
               color=(0, 0, 0), align="left", font=None, font_index=0, password=None):
    """Stamps `text` (lines split at "\\n") on the pages of `document`.

    pages: a selection such as "1", "1,3-5", "z" (the last), "2-z", "odd",
    "1-z:even", "1-10,x5"; None for every page. anchor: one of the nine
    points "bottom-left", "bottom", "bottom-right", "left", "center",
    "right", "top-left", "top", "top-right", with x and y measured inward
    from it. size in points, color as (red, green, blue) 0..255, align
    "left", "center" or "right", font a TrueType/OpenType file (path or
    bytes) embedded as a subset, else the built-in Helvetica. password: an
    encrypted document's user or owner password (None: the empty one); the
    output stays encrypted as the document is.
    Returns the stamped document as bytes when output is None."""
    call = _Call(_native.KIND_TEXT, document, output)
    call.text(text)
    call.common(pages, x, y, anchor, space, rotation, opacity, layer, password)
    call.lettering(size, color, align, font, font_index)
    return call.run()


def stamp_datetime(document, output, format=None, *, pages=None, x=0, y=0,
                   anchor="bottom-left", space="displayed", rotation=0, opacity=1,
                   layer="over", size=24, color=(0, 0, 0), align="left", font=None,
                   font_index=0, password=None):
    """Stamps the current local date and time, as `format` says: a strftime
    format (with %) or a picture of YYYY, YY, MM, DD, HH, mm and ss with
    literal words in single quotes ("'RECEIVED' DD.MM.YYYY"); None gives
    "%Y-%m-%d %H:%M:%S". The other arguments are those of stamp_text."""
    call = _Call(_native.KIND_DATETIME, document, output)
    call.text(format)
    call.common(pages, x, y, anchor, space, rotation, opacity, layer, password)
    call.lettering(size, color, align, font, font_index)
    return call.run()


def stamp_picture(document, output, picture, *, pages=None, x=0, y=0, anchor="bottom-left",
                  space="displayed", rotation=0, opacity=1, layer="over", scale=0, width=0,
                  height=0, password=None):
    """Stamps a PNG or JPEG `picture` (path or bytes). Its size: width and/or
    height in points (one alone keeps the aspect ratio), else scale points
    per pixel, else (scale 0) the picture's stated resolution or one point
    per pixel. The other arguments are those of stamp_text."""
    call = _Call(_native.KIND_PICTURE, document, output)
    call.source("picture_path", "picture_data", "picture_size", picture)
    call.common(pages, x, y, anchor, space, rotation, opacity, layer, password)
    call.o.scale, call.o.width, call.o.height = float(scale), float(width), float(height)
    return call.run()
