#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Seeds are small valid files of every format (the 3 x 2 and 40 x 1 examples,
empty maps, odd widths so row padding shows) plus a few that stop short, so
the fuzzer starts next to every boundary. The files are checked in; run this
again only to change them:

    python3 fuzz/make_corpus.py
"""

import os
import shutil
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def le32(v):
    return struct.pack("<i", v) if v < 0 else struct.pack("<I", v)


# ---- the compressed formats, written as the engine writes them


def runs(pixels, longest):
    out = []
    i = 0
    while i < len(pixels):
        v = min(pixels[i], 31)
        n = 1
        while n < longest and i + n < len(pixels) and min(pixels[i + n], 31) == v:
            n += 1
        out.append((v, n - 1))
        i += n
    return out


def schm(width, height, pixels):
    r = runs(pixels, 8)
    return le32(width) + le32(height) + le32(len(r)) + bytes(v | l << 5 for v, l in r)


def scmhm(width, height, pixels):
    out = bytearray(le32(width) + le32(height))
    r = runs(pixels, 32)
    for g in range(0, len(r), 4):
        group = r[g:g + 4]
        ext = 0
        for k, (v, l) in enumerate(group):
            out.append(v | (l & 7) << 5)
            ext |= (l >> 3 & 3) << (2 * k)
        out += bytes(4 - len(group))
        out.append(ext)
    return bytes(out)


# ---- bitmaps, rows padded to four bytes


def bmp(width, height, bpp, pixel_bytes, top_down=False, core=False, palette=None):
    """pixel_bytes(x, y) gives the bytes of pixel (x, y), y = 0 the top row."""
    stride = (width * bpp + 31) // 32 * 4
    rows = []
    for y in range(height):
        row = bytearray()
        if bpp >= 8:
            for x in range(width):
                row += pixel_bytes(x, y)
        else:  # packed indices, high bits first
            bits = 0
            count = 0
            for x in range(width):
                bits = bits << bpp | pixel_bytes(x, y)[0]
                count += bpp
                if count == 8:
                    row.append(bits)
                    bits = count = 0
            if count:
                row.append(bits << (8 - count))
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    if not top_down:
        rows.reverse()
    if palette is None and bpp <= 8:
        palette = [(i * 255 // ((1 << bpp) - 1),) * 3 for i in range(1 << bpp)]
    if core:
        info = struct.pack("<IHHHH", 12, width, height, 1, bpp)
        pal = b"".join(bytes((b, g, r)) for r, g, b in (palette or []))
    else:
        info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bpp, 0,
                           stride * height, 2835, 2835, len(palette or []), 0)
        pal = b"".join(bytes((b, g, r, 0)) for r, g, b in (palette or []))
    offset = 14 + len(info) + len(pal)
    data = b"".join(rows)
    head = b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset)
    return head + info + pal + data


def depth_pixels(width, height):
    """An asymmetric map: no two rows or columns alike, values 0..31."""
    return [(x * 7 + y * 11 + x * y) % 32 for y in range(height) for x in range(width)]


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data.encode("latin-1") if isinstance(data, str) else data)


def text_seeds():
    t = "text_depth"
    write(t, "example_3x2.txt", "3 2\n112\n333\n")
    write(t, "example_3x2_crlf.txt", "3 2\r\n112\r\n333\r\n")
    write(t, "empty.txt", "0 0\n")
    write(t, "zero_width.txt", "0 3\n\n\n\n")
    write(t, "run_40x1.txt", "40 1\n" + "5" * 40 + "\n")
    write(t, "every_digit.txt", "12 2 rest of the header line is ignored\n1234567890 A\nUTabcz~\t!0 \n")
    write(t, "split_line.txt", "2 3\n123456789\nAB\n")
    write(t, "short_rows.txt", "6 4\n1\n\n12")
    write(t, "signs.txt", "  +3\n\t-0 x\nA0\n")
    write(t, "negative.txt", "-1 2\n")
    write(t, "no_height.txt", "7")
    write(t, "lone_cr.txt", "4 2\rABCD\r\nEFGH\r\r\n")


def compressed_seeds():
    example = [1, 1, 2, 3, 3, 3]
    for target, encode in (("schm", schm), ("scmhm", scmhm)):
        ext = "." + target
        write(target, "example_3x2" + ext, encode(3, 2, example))
        write(target, "run_40x1" + ext, encode(40, 1, [5] * 40))
        write(target, "empty" + ext, encode(0, 0, []))
        write(target, "zero_height" + ext, encode(9, 0, []))
        write(target, "one_run_2x2" + ext, encode(2, 2, [7] * 4))
        write(target, "run_32_then_33" + ext, encode(65, 1, [4] * 32 + [9] * 33))
        write(target, "odd_7x5" + ext, encode(7, 5, depth_pixels(7, 5)))
        write(target, "truncated" + ext, encode(3, 2, example)[:-1])
        write(target, "header_only" + ext, le32(3) + le32(2))
    # A run count beyond the bytes present, and runs past the map.
    write("schm", "count_too_large.schm", le32(3) + le32(2) + le32(4) + bytes([0x21, 0x02, 0x43]))
    write("schm", "runs_past_map.schm", le32(2) + le32(1) + le32(1) + bytes([0xE5]))
    write("scmhm", "runs_past_map.scmhm", le32(2) + le32(1) + bytes([0xE5, 0, 0, 0, 3]))


def bitmap_list():
    w, h = 5, 3
    d = depth_pixels(w, h)
    grey = lambda x, y: bytes([d[y * w + x] << 3])
    return [
        ("grey8_5x3.bmp", bmp(w, h, 8, grey)),
        ("bgr24_5x3.bmp", bmp(w, h, 24, lambda x, y: bytes([d[y * w + x] << 3, 200, 100]))),
        ("bgra32_5x3.bmp", bmp(w, h, 32, lambda x, y: bytes([d[y * w + x] << 3, 1, 2, 255]))),
        ("top_down24_5x3.bmp", bmp(w, h, 24, lambda x, y: bytes([d[y * w + x] << 3, 0, 0]), top_down=True)),
        ("core8_5x3.bmp", bmp(w, h, 8, grey, core=True)),
        ("indexed4_5x3.bmp", bmp(w, h, 4, lambda x, y: bytes([(x + y) % 16]))),
        ("mono1_9x2.bmp", bmp(9, 2, 1, lambda x, y: bytes([(x ^ y) & 1]))),
        ("empty_0x0.bmp", bmp(0, 0, 24, grey)),
    ]


def bitmap_seeds():
    for name, data in bitmap_list():
        write("bitmap", name, data)
    write("bitmap", "truncated.bmp", bitmap_list()[1][1][:-7])
    # Found by fuzzing: a core header in a file of 22 to 25 bytes has its
    # 65535 x 65535 size read by SDL without the reader's size check, and SDL
    # asks for a 4 GiB surface.
    write("bitmap", "core_header_25_bytes.bmp",
          b"BM" + bytes(8) + le32(0) + struct.pack("<IHHH", 12, 65535, 65535, 1) + b"\x08")


def extension_seeds():
    # First byte: file name (low four bits), convert too (top bit). Names:
    # 0 d.bmp, 1 d.schm, 2 d.scmhm, 3 d.txt, 4 a.bmp.schm, 5 x.txt.txt,
    # 7 HILL.BMP, 9 m.scmhm.txt, 11 t.txt.bmp.
    example = [1, 1, 2, 3, 3, 3]
    bitmap = dict(bitmap_list())["grey8_5x3.bmp"]
    t = "load_by_extension"
    write(t, "bmp", bytes([0x00]) + bitmap)
    write(t, "bmp_convert", bytes([0x80]) + bitmap)
    write(t, "schm_convert", bytes([0x81]) + schm(3, 2, example))
    write(t, "scmhm_convert", bytes([0x82]) + scmhm(40, 1, [5] * 40))
    write(t, "txt_convert", bytes([0x83]) + b"3 2\n1UZ\n333\n")
    write(t, "bmp_schm_name", bytes([0x84]) + schm(2, 2, [3] * 4))
    write(t, "txt_txt_name", bytes([0x85]) + b"2 1\nAB\n")
    write(t, "upper_case_name", bytes([0x87]) + bitmap)
    write(t, "scmhm_txt_name", bytes([0x89]) + scmhm(0, 0, []))
    write(t, "txt_bmp_name", bytes([0x8b]) + bitmap)
    write(t, "broken_convert", bytes([0x81]) + schm(3, 2, example)[:-2])
    # SDL makes no bitmap 16384 pixels wide: this conversion must fail cleanly.
    write(t, "too_wide_for_bitmap", bytes([0x82]) + scmhm(16384, 0, []))


WORLDS = {
    "full.xml": """<World>
  <image type="scene" name="sky" file="h.scmhm" />
  <image type="scene" name="hill" file="a.txt" />
  <image type="sprite" name="bird" file="s.schm" sizex="16" sizey="16" />
  <element type="scene" imagename="sky" x="-20" y="-10" />
  <element type="scene" imagename="hill" x="100" y="300" />
  <element type="ani" imagename="bird" x="320" y="240" fps="8" startframe="1.5" />
  <element type="char" imagename="bird" x="0" y="0" fps="-3" startframe="0" />
</World>
""",
    "every_file.xml": """<World>
<image type="scene" name="a" file="a.txt" /><image type="scene" name="b" file="b.schm" />
<image type="scene" name="c" file="c.scmhm" /><image type="scene" name="d" file="d.bmp" />
<image type="scene" name="e" file="e.txt" /><image type="sprite" name="s" file="d.bmp" sizex="2" sizey="3" />
<element type="scene" imagename="a" x="636" y="470" /><element type="scene" imagename="b" x="-2" y="-1" />
<element type="scene" imagename="c" x="600" y="479" /><element type="scene" imagename="d" x="5" y="5" />
<element type="scene" imagename="e" x="1" y="1" /><element type="ani" imagename="s" x="639" y="480" fps="1" startframe="-1" />
</World>""",
    "nested_and_forward.xml": """<scene><World>
<element type="ani" imagename="later" x="10" y="20" fps="2" startframe="0" />
<group><image type="sprite" name="later" file="s.schm" sizex="33" sizey="48" /></group>
<image type="sprite" name="later" file="a.txt" sizex="1" sizey="1" />
<image type="other" name="x" file="a.txt" />
</World></scene>""",
    "faults.xml": """<World>
<image type="sprite" name="zero" file="s.schm" sizex="0" sizey="16" />
<image type="sprite" name="huge" file="s.schm" sizex="99999" sizey="-4" />
<image type="scene" name="gone" file="nowhere.txt" />
<image type="scene" name="noext" file="a" />
<image type="sprite" name="nomap" />
<element type="ani" imagename="zero" x="1" y="1" fps="1e400" startframe="3" />
<element type="char" imagename="gone" x="1" y="1" fps="5" startframe="2" />
<element type="ani" imagename="nothing" />
<element type="scene" />
<element type="scene" imagename="gone" x="2147483647" y="-2147483648" />
<element type="blob" imagename="zero" />
</World>""",
    "markup_edges.xml": """<World a="q\\"uote\\n\\r" b=-5 c= d="<>= " e=bare/>
hello   there<child />world
again<a><b></a></b><a/><x y="1"/><z w=2 />text&amp;> < lone
<!-- comment --><?pi?></World>trailing""",
    "truncated.xml": """<World><image type="scene" name="a" file="a.txt" /><element type="scene" imagename="a" x="1" y=""",
}


def world_seeds():
    for name, text in WORLDS.items():
        write("world", name, text)
    sample = os.path.join(HERE, "..", "assets", "world.xml")
    if os.path.exists(sample) and os.path.getsize(sample) <= 8192:
        shutil.copyfile(sample, os.path.join(CORPUS, "world", "sample_world.xml"))


# ---- PNG, written by hand so every colour type and bit depth is there


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(width, height, bit_depth, color_type, samples, palette=None, interlace=0):
    """samples: one list of channel values per row, already packed for
    bit depths below 8 (whole bytes) or split into bytes for 16."""
    raw = b"".join(b"\x00" + bytes(row) for row in samples)
    out = b"\x89PNG\r\n\x1a\n"
    out += png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bit_depth, color_type, 0, 0, interlace))
    if palette is not None:
        out += png_chunk(b"PLTE", bytes(palette))
        out += png_chunk(b"tRNS", bytes([0, 128]))
    out += png_chunk(b"IDAT", zlib.compress(raw))
    return out + png_chunk(b"IEND", b"")


def png_seeds():
    t = "png"
    grey = [[(x * 50 + y * 17) % 256 for x in range(5)] for y in range(3)]
    write(t, "grey8_5x3.png", png(5, 3, 8, 0, grey))
    write(t, "grey16_5x3.png", png(5, 3, 16, 0, [[b for v in row for b in (v, 255 - v)] for row in grey]))
    write(t, "grey1_9x2.png", png(9, 2, 1, 0, [[0xA5, 0x80], [0x5A, 0x00]]))
    write(t, "grey4_3x2.png", png(3, 2, 4, 0, [[0x1F, 0x80], [0xE2, 0x40]]))
    write(t, "grey_alpha8_2x2.png", png(2, 2, 8, 4, [[10, 255, 200, 0], [90, 9, 255, 255]]))
    write(t, "rgb8_3x1.png", png(3, 1, 8, 2, [[255, 0, 0, 0, 255, 0, 0, 0, 255]]))
    write(t, "rgba16_1x2.png", png(1, 2, 16, 6, [[1, 2, 3, 4, 5, 6, 7, 8], [255, 255, 0, 0, 128, 0, 9, 9]]))
    write(t, "palette8_4x1.png", png(4, 1, 8, 3, [[0, 1, 2, 1]], palette=[0, 0, 0, 255, 255, 255, 90, 20, 200]))
    write(t, "empty_idat.png", png(4, 4, 8, 0, []))
    write(t, "truncated.png", png(5, 3, 8, 0, grey)[:-20])


def main():
    for folder in ("text_depth", "schm", "scmhm", "bitmap", "load_by_extension", "world", "png"):
        shutil.rmtree(os.path.join(CORPUS, folder), ignore_errors=True)
    text_seeds()
    compressed_seeds()
    bitmap_seeds()
    extension_seeds()
    world_seeds()
    png_seeds()


if __name__ == "__main__":
    main()
