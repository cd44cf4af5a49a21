#!/usr/bin/python3
"""Makes the viewer's bitmap font (a BMFont text descriptor and its RGBA page)
from a TrueType font of Debian.

    apt-get install python3-pil fonts-dejavu-core
    /usr/bin/python3 scripts/make-bmfont.py [FONT.ttf] [SIZE] [OUT-STEM]

Defaults: DejaVu Sans at 20 pixels, share/fonts/DejaVuSans-20. The page is
white with the glyph coverage in alpha, so that the text takes the colour it
is drawn with.
"""
import sys
from PIL import Image, ImageDraw, ImageFont

font_path = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
size = int(sys.argv[2]) if len(sys.argv) > 2 else 20
stem = sys.argv[3] if len(sys.argv) > 3 else f"share/fonts/DejaVuSans-{size}"

font = ImageFont.truetype(font_path, size)
ascent, descent = font.getmetrics()
line_height = ascent + descent
codes = list(range(32, 127)) + [0xB0, 0xB1, 0xB5]  # printable ASCII, degree, plus-minus, micro
page_w, pad = 256, 1

glyphs, x, y, row_h = [], pad, pad, 0
for code in codes:
    ch = chr(code)
    left, top, right, bottom = font.getbbox(ch)
    w, h = max(right - left, 0), max(bottom - top, 0)
    if x + w + pad > page_w:
        x, y, row_h = pad, y + row_h + pad, 0
    glyphs.append((code, ch, x, y, w, h, left, top, round(font.getlength(ch))))
    x += w + pad
    row_h = max(row_h, h)
page_h = 1
while page_h < y + row_h + pad:
    page_h *= 2

coverage = Image.new("L", (page_w, page_h), 0)
draw = ImageDraw.Draw(coverage)
for code, ch, gx, gy, w, h, left, top, advance in glyphs:
    if w and h:
        draw.text((gx - left, gy - top), ch, font=font, fill=255)
page = Image.new("RGBA", (page_w, page_h), (255, 255, 255, 0))
page.putalpha(coverage)
page_file = stem.split("/")[-1] + ".png"
page.save(stem + ".png")

name = font.getname()[0]
with open(stem + ".fnt", "w", encoding="ascii") as out:
    out.write(f'info face="{name}" size={size} bold=0 italic=0 charset="" unicode=1 stretchH=100 '
              f'smooth=1 aa=1 padding=0,0,0,0 spacing={pad},{pad}\n')
    out.write(f"common lineHeight={line_height} base={ascent} scaleW={page_w} scaleH={page_h} pages=1 packed=0\n")
    out.write(f'page id=0 file="{page_file}"\n')
    out.write(f"chars count={len(glyphs)}\n")
    for code, ch, gx, gy, w, h, left, top, advance in glyphs:
        out.write(f"char id={code} x={gx} y={gy} width={w} height={h} xoffset={left} yoffset={top} "
                  f"xadvance={advance} page=0 chnl=15\n")
