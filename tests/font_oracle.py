"""What fontTools makes of a font and of the program the library embeds for it.

Usage: font_oracle.py FONT INDEX TEXT PROGRAM

Prints, read from FONT (face INDEX of a collection) by fontTools:
    name <PostScript name>
    upem <units per em>
    glyph <code point> <glyph id> <advance width>    (one per character of TEXT)
and then judges PROGRAM, the font program embedded for TEXT:
    program ok <glyphs compared>
or  program bad <why>          (and exits 1)

A TrueType program must hold every glyph the text uses, and every
component of those, under the same glyph id with the same outline (points,
contours and on-curve flags, components resolved) and the same advance;
every other glyph must be empty; its table checksums and the whole file's
checksum must be right. A CFF program is the face whole: the same glyph
count and the same charstrings.
"""
import sys

from fontTools.ttLib import TTFont


def file_checksum(data):
    padded = data + b"\0" * (-len(data) % 4)
    total = 0
    for i in range(0, len(padded), 4):
        total = (total + int.from_bytes(padded[i:i + 4], "big")) & 0xFFFFFFFF
    return total


def outline(font, gid):
    glyf = font["glyf"]
    glyph = glyf[font.getGlyphName(gid)]
    coords, ends, flags = glyph.getCoordinates(glyf)
    components = []
    if glyph.isComposite():
        components = [(font.getGlyphID(c.glyphName), c.x, c.y) for c in glyph.components]
    return list(coords), list(ends), [f & 1 for f in flags], components


def kept_glyphs(font, gids):
    kept = {0} | set(gids)
    queue = list(kept)
    glyf = font["glyf"]
    while queue:
        glyph = glyf[font.getGlyphName(queue.pop())]
        if glyph.isComposite():
            for c in glyph.components:
                g = font.getGlyphID(c.glyphName)
                if g not in kept:
                    kept.add(g)
                    queue.append(g)
    return kept


def judge_truetype(original, program, data, gids):
    if file_checksum(data) != 0xB1B0AFBA:
        return "the file's checksum is not 0xB1B0AFBA"
    kept = kept_glyphs(original, gids)
    if program["maxp"].numGlyphs <= max(kept):
        return "it holds %d glyphs, fewer than needed" % program["maxp"].numGlyphs
    for g in sorted(kept):
        if outline(original, g) != outline(program, g):
            return "glyph %d differs from the original" % g
        advance = original["hmtx"][original.getGlyphName(g)][0]
        if advance != program["hmtx"][program.getGlyphName(g)][0]:
            return "glyph %d has another advance" % g
    glyf = program["glyf"]
    for g in range(program["maxp"].numGlyphs):
        if g not in kept and glyf[program.getGlyphName(g)].numberOfContours != 0:
            return "glyph %d is not used yet has an outline" % g
    return "ok %d" % len(kept)


def judge_cff(original, program, gids):
    a = original["CFF "].cff.topDictIndex[0].CharStrings
    b = program["CFF "].cff.topDictIndex[0].CharStrings
    if len(a) != len(b):
        return "it holds %d glyphs, the original %d" % (len(b), len(a))
    for g in gids:
        name = original.getGlyphName(g)
        a[name].compile()
        b[program.getGlyphName(g)].compile()
        if a[name].bytecode != b[program.getGlyphName(g)].bytecode:
            return "glyph %d differs from the original" % g
    return "ok %d" % len(gids)


def main():
    path, index, text, program_path = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    original = TTFont(path, fontNumber=index)
    print("name", original["name"].getDebugName(6))
    print("upem", original["head"].unitsPerEm)
    cmap = original.getBestCmap()
    gids = []
    for ch in text:
        if ord(ch) < 0x20:
            continue
        gid = original.getGlyphID(cmap[ord(ch)])
        gids.append(gid)
        print("glyph", ord(ch), gid, original["hmtx"][cmap[ord(ch)]][0])
    data = open(program_path, "rb").read()
    try:
        program = TTFont(program_path, checkChecksums=2)
        program.ensureDecompiled()
        verdict = judge_cff(original, program, gids) if "CFF " in original else \
            judge_truetype(original, program, data, gids)
    except Exception as e:  # a program fontTools cannot read is the verdict itself
        verdict = "unreadable: %r" % e
    print("program", verdict)
    return 0 if verdict.startswith("ok") else 1


if __name__ == "__main__":
    sys.exit(main())
