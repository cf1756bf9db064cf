"""A host in Python that reaches the extended interface through ctypes alone,
as a customer's script would: the options record declared field by field,
a document and a picture stamped from memory into memory, a text in a font
held in memory, a host that knows only the record's first version, a result
code and its message, and the version.

    python3 python_host.py LIBRARY SAMPLE_PDF WORKDIR

Exit status 0 when every check held."""
import ctypes
import os
import sys

KIND_TEXT, KIND_DATETIME, KIND_PICTURE = 0, 1, 2
ANCHOR_TOP_RIGHT, ANCHOR_CENTER = 8, 4
OK, ERROR_ARGUMENT, ERROR_READ = 0, 1, 2


# The record as the Python package declares it, field for field, and the
# package tests' pictures.
PYTHON = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bindings", "python")
sys.path[:0] = [os.path.join(PYTHON, "src"), os.path.join(PYTHON, "tests")]
from folimark._native import Options  # noqa: E402
from pictures import png_bytes  # noqa: E402


FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


def main():
    library, sample, work = sys.argv[1:4]
    lib = ctypes.CDLL(library)
    lib.folimark_options_init.argtypes = [ctypes.POINTER(Options), ctypes.c_size_t]
    lib.folimark_stamp.argtypes = [ctypes.POINTER(Options), ctypes.POINTER(ctypes.c_void_p),
                                   ctypes.POINTER(ctypes.c_size_t)]
    lib.folimark_free.argtypes = [ctypes.c_void_p]
    lib.folimark_error_message.restype = ctypes.c_char_p
    lib.folimark_version.restype = ctypes.c_char_p
    lib.folimark_version.argtypes = [ctypes.POINTER(ctypes.c_int)] * 3
    failures = []

    def check(condition, what):
        if not condition:
            failures.append(what + ": " + lib.folimark_error_message().decode())

    with open(sample, "rb") as f:
        pdf = f.read()
    picture = png_bytes(32, 16)
    pdf_buffer = ctypes.create_string_buffer(pdf, len(pdf))
    picture_buffer = ctypes.create_string_buffer(picture, len(picture))

    o = Options()
    check(lib.folimark_options_init(ctypes.byref(o), ctypes.sizeof(Options)) == OK, "init")
    check(o.size == ctypes.sizeof(Options) and o.font_size == 24 and o.opacity == 1,
          "the defaults")
    o.kind = KIND_PICTURE
    o.input_data = ctypes.cast(pdf_buffer, ctypes.c_void_p)
    o.input_size = len(pdf)
    o.picture_data = ctypes.cast(picture_buffer, ctypes.c_void_p)
    o.picture_size = len(picture)
    o.anchor = ANCHOR_CENTER
    o.width = 144
    data, size = ctypes.c_void_p(), ctypes.c_size_t()
    check(lib.folimark_stamp(ctypes.byref(o), ctypes.byref(data), ctypes.byref(size)) == OK,
          "a picture stamp in memory")
    stamped = ctypes.string_at(data, size.value)
    lib.folimark_free(data)
    check(stamped.startswith(b"%PDF-") and len(stamped) > len(pdf), "the stamped bytes")
    with open(os.path.join(work, "python-picture.pdf"), "wb") as f:
        f.write(stamped)

    o.kind = KIND_TEXT
    o.text = "Paid \u2013 \u00e9t\u00e9".encode("utf-8")
    o.anchor = ANCHOR_TOP_RIGHT
    o.x = o.y = 36
    o.red = 200
    o.input_data, o.input_size = None, 0
    o.input_path = sample.encode()
    o.output_path = os.path.join(work, "python-text.pdf").encode()
    check(lib.folimark_stamp(ctypes.byref(o), None, None) == OK, "a text stamp to a file")

    # A host built against the first record passes its smaller size.
    first = Options()
    check(lib.folimark_options_init(ctypes.byref(first), Options.font_path.offset) == OK,
          "init of the first record")
    first.kind, first.text = KIND_TEXT, b"first"
    first.input_path, first.output_path = sample.encode(), os.path.join(work, "first.pdf").encode()
    check(first.size == Options.font_path.offset and
          lib.folimark_stamp(ctypes.byref(first), None, None) == OK, "a first-record host")

    if os.path.exists(FONT):
        with open(FONT, "rb") as f:
            font = f.read()
        font_buffer = ctypes.create_string_buffer(font, len(font))
        o.text = "Київ Αθήνα".encode("utf-8")
        o.font_data = ctypes.cast(font_buffer, ctypes.c_void_p)
        o.font_data_size = len(font)
        check(lib.folimark_stamp(ctypes.byref(o), None, None) == OK, "a text in a font in memory")
        o.font_data, o.font_data_size = None, 0
        o.text = b"Paid"

    o.input_path = os.path.join(work, "absent.pdf").encode()
    check(lib.folimark_stamp(ctypes.byref(o), None, None) == ERROR_READ, "a missing input's code")
    check(lib.folimark_error_message().startswith(b"cannot open "), "its message")
    o.font_size = -2
    check(lib.folimark_stamp(ctypes.byref(o), None, None) == ERROR_ARGUMENT, "a bad size's code")

    major, minor, patch = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
    version = lib.folimark_version(ctypes.byref(major), ctypes.byref(minor), ctypes.byref(patch))
    check(version.decode() == "%d.%d.%d" % (major.value, minor.value, patch.value), "the version")

    for what in failures:
        print("FAILED:", what, file=sys.stderr)
    if not failures:
        print("all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
