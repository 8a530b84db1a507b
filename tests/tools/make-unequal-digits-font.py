#!/usr/bin/python3
# Writes tests/support/unequal-digits.ttf: a tiny font whose digits differ in width (six the
# widest, one the narrowest), for the tests of rules that must find the widest digit; every
# installed font the tests can rely on has digits of one width. Needs python3-fonttools; the
# font is kept in the repository, so only changing it needs the script. The same digits under
# another family name with a line gap (the font's leading), positive or negative, are the fonts
# for the rule that finds where each line of a label is drawn:
#
#   tests/tools/make-unequal-digits-font.py tests/support/unequal-digits.ttf
#   tests/tools/make-unequal-digits-font.py tests/support/gapped-digits.ttf "Gapped Digits" 150
#   tests/tools/make-unequal-digits-font.py tests/support/overlapping-digits.ttf \
#       "Overlapping Digits" -150
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen

ADVANCES = {
    "zero": 560, "one": 300, "two": 520, "three": 540, "four": 610,
    "five": 530, "six": 700, "seven": 480, "eight": 560, "nine": 590,
    "colon": 250, "hyphen": 350, "space": 250, ".notdef": 500,
}
CODES = {ord(str(n)): name for n, name in enumerate(
    ["zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine"])}
CODES.update({ord(":"): "colon", ord("-"): "hyphen", ord(" "): "space"})


def box(width):
    # A filled block with a side bearing of 40 units: ink as wide as the advance allows.
    pen = TTGlyphPen(None)
    if width > 100:
        pen.moveTo((40, 0))
        pen.lineTo((40, 700))
        pen.lineTo((width - 40, 700))
        pen.lineTo((width - 40, 0))
        pen.closePath()
    return pen.glyph()


order = [".notdef"] + sorted(name for name in ADVANCES if name != ".notdef")
builder = FontBuilder(1000, isTTF=True)
builder.setupGlyphOrder(order)
builder.setupCharacterMap(CODES)
builder.setupGlyf({name: (box(ADVANCES[name]) if name != "space" else box(0)) for name in order})
builder.setupHorizontalMetrics({name: (ADVANCES[name], 40) for name in order})
family = sys.argv[2] if len(sys.argv) > 2 else "Unequal Digits"
line_gap = int(sys.argv[3]) if len(sys.argv) > 3 else 0
builder.setupHorizontalHeader(ascent=800, descent=-200, lineGap=line_gap)
builder.setupNameTable({"familyName": family, "styleName": "Regular"})
builder.setupOS2(sTypoAscender=800, sTypoDescender=-200, sTypoLineGap=line_gap, usWinAscent=800,
                 usWinDescent=200)
builder.setupPost()
builder.save(sys.argv[1])
