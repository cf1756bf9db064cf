"""The library's extended interface as ctypes sees it: the options record,
field for field as include/folimark.h declares it, and the functions."""
import ctypes
import ctypes.util
import os
import sys

KIND_TEXT, KIND_DATETIME, KIND_PICTURE = 0, 1, 2

OK = 0
ERROR_ARGUMENT = 1
ERROR_READ = 2
ERROR_DAMAGED = 3
ERROR_ENCRYPTED = 4
ERROR_UNSUPPORTED = 5
ERROR_WRITE = 6
ERROR_MEMORY = 7
ERROR_PASSWORD = 8
ERROR_PERMISSION = 9


class Options(ctypes.Structure):
    """folimark_options: only grows, at its end."""

    _fields_ = [
        ("size", ctypes.c_uint32),
        ("kind", ctypes.c_int32),
        ("input_path", ctypes.c_char_p),
        ("input_data", ctypes.c_void_p),
        ("input_size", ctypes.c_size_t),
        ("output_path", ctypes.c_char_p),
        ("text", ctypes.c_char_p),
        ("picture_path", ctypes.c_char_p),
        ("picture_data", ctypes.c_void_p),
        ("picture_size", ctypes.c_size_t),
        ("pages", ctypes.c_char_p),
        ("x", ctypes.c_double),
        ("y", ctypes.c_double),
        ("font_size", ctypes.c_double),
        ("opacity", ctypes.c_double),
        ("rotation", ctypes.c_double),
        ("scale", ctypes.c_double),
        ("width", ctypes.c_double),
        ("height", ctypes.c_double),
        ("red", ctypes.c_int32),
        ("green", ctypes.c_int32),
        ("blue", ctypes.c_int32),
        ("anchor", ctypes.c_int32),
        ("align", ctypes.c_int32),
        ("layer", ctypes.c_int32),
        ("space", ctypes.c_int32),
        ("font_path", ctypes.c_char_p),
        ("font_data", ctypes.c_void_p),
        ("font_data_size", ctypes.c_size_t),
        ("font_index", ctypes.c_int32),
        ("password", ctypes.c_char_p),
    ]


def _library_names():
    if sys.platform == "win32":
        return ["tarvello-folimark.dll"]
    if sys.platform == "darwin":
        return ["libtarvello-folimark.dylib"]
    return ["libtarvello-folimark.so", "libtarvello-folimark.so.0"]


def _candidates():
    """Where the library may be: the environment variable, beside this
    module, then the system's search path."""
    given = os.environ.get("FOLIMARK_LIBRARY")
    if given:
        return [given]
    here = os.path.dirname(os.path.abspath(__file__))
    found = [os.path.join(here, name) for name in _library_names()
             if os.path.exists(os.path.join(here, name))]
    system = ctypes.util.find_library("tarvello-folimark")
    return found + ([system] if system else []) + _library_names()


def load():
    """Returns the library with its functions' types declared."""
    errors = []
    for candidate in _candidates():
        try:
            lib = ctypes.CDLL(candidate)
            break
        except OSError as e:
            errors.append("%s: %s" % (candidate, e))
    else:
        raise OSError("cannot load the folimark library (set FOLIMARK_LIBRARY to its path): "
                      + "; ".join(errors))
    lib.folimark_options_init.argtypes = [ctypes.POINTER(Options), ctypes.c_size_t]
    lib.folimark_options_init.restype = ctypes.c_int
    lib.folimark_stamp.argtypes = [ctypes.POINTER(Options), ctypes.POINTER(ctypes.c_void_p),
                                   ctypes.POINTER(ctypes.c_size_t)]
    lib.folimark_stamp.restype = ctypes.c_int
    lib.folimark_free.argtypes = [ctypes.c_void_p]
    lib.folimark_free.restype = None
    lib.folimark_error_code.restype = ctypes.c_int
    lib.folimark_error_message.restype = ctypes.c_char_p
    lib.folimark_version.argtypes = [ctypes.POINTER(ctypes.c_int)] * 3
    lib.folimark_version.restype = ctypes.c_char_p
    return lib
