"""The Python package against the freshly built library (FOLIMARK_LIBRARY
names it): paths and bytes, each stamp kind, errors with their codes."""
import pathlib
import shutil
import subprocess

import pytest

import folimark
from pictures import png_bytes

SAMPLE = pathlib.Path(__file__).resolve().parents[3] / "examples" / "sample.pdf"


def page_text(path):
    if shutil.which("pdftotext") is None:
        pytest.skip("pdftotext not found")
    return subprocess.run(["pdftotext", "-f", "1", "-l", "1", str(path), "-"], check=True,
                          capture_output=True).stdout.decode("utf-8")


def test_text_from_paths_and_from_bytes_is_the_same(tmp_path):
    out = tmp_path / "Příliš žluťoučký.pdf"
    assert folimark.stamp_text(SAMPLE, out, "PAID\nwith thanks", anchor="top-right", x=36, y=36,
                               color=(200, 0, 0), pages="1", align="right") is None
    in_memory = folimark.stamp_text(SAMPLE.read_bytes(), None, "PAID\nwith thanks",
                                    anchor="top-right", x=36, y=36, color=(200, 0, 0), pages="1",
                                    align="right")
    assert in_memory == out.read_bytes()
    assert "PAID" in page_text(out)


def test_datetime_and_picture(tmp_path):
    dated = folimark.stamp_datetime(SAMPLE, None, "'RECEIVED' YYYY", anchor="bottom", y=20, size=10)
    (tmp_path / "dated.pdf").write_bytes(dated)
    assert "RECEIVED 20" in page_text(tmp_path / "dated.pdf")
    picture = folimark.stamp_picture(SAMPLE, None, png_bytes(40, 20), width=144, layer="under",
                                     anchor="center", opacity=0.5)
    assert picture.startswith(b"%PDF-") and len(picture) > SAMPLE.stat().st_size


@pytest.mark.parametrize("call, code, words", [
    (lambda t: folimark.stamp_text(t / "absent.pdf", None, "x"), folimark.ERROR_READ, "cannot open"),
    (lambda t: folimark.stamp_text(b"no PDF here", None, "x"), folimark.ERROR_DAMAGED, "no PDF objects"),
    (lambda t: folimark.stamp_text(SAMPLE, None, "x", size=0), folimark.ERROR_ARGUMENT, "options.font_size"),
    (lambda t: folimark.stamp_text(SAMPLE, None, "x", pages="9"), folimark.ERROR_ARGUMENT, "past the end"),
    (lambda t: folimark.stamp_text(SAMPLE, None, "中"), folimark.ERROR_UNSUPPORTED, "U+4E2D"),
    (lambda t: folimark.stamp_picture(SAMPLE, None, b"GIF89a, not a PNG"), folimark.ERROR_UNSUPPORTED,
     "PNG or JPEG"),
    (lambda t: folimark.stamp_text(SAMPLE, t / "no" / "dir.pdf", "x"), folimark.ERROR_WRITE,
     "cannot open output"),
])
def test_failures_carry_the_code_and_message(tmp_path, call, code, words):
    with pytest.raises(folimark.FolimarkError) as failure:
        call(tmp_path)
    assert failure.value.code == code
    assert words in failure.value.message


def test_encrypted_document_with_its_password(tmp_path):
    if shutil.which("qpdf") is None:
        pytest.skip("qpdf not found")
    locked = tmp_path / "locked.pdf"
    subprocess.run(["qpdf", "--encrypt", "user", "owner", "256", "--", str(SAMPLE), str(locked)],
                   check=True)
    with pytest.raises(folimark.FolimarkError) as refused:
        folimark.stamp_text(locked, None, "x")
    assert refused.value.code == folimark.ERROR_PASSWORD
    out = tmp_path / "out.pdf"
    folimark.stamp_text(locked, out, "PAID", password="user")
    shown = subprocess.run(["qpdf", "--show-encryption", "--password=user", str(out)], check=True,
                           capture_output=True).stdout
    assert b"R = 6" in shown


def test_names_are_checked_before_the_call():
    with pytest.raises(ValueError, match="anchor"):
        folimark.stamp_text(SAMPLE, None, "x", anchor="middle")


def test_version():
    parts = folimark.version().split(".")
    assert len(parts) == 3 and all(p.isdigit() for p in parts)
