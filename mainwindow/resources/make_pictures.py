#!/usr/bin/python3
"""Draws the window's pictures and writes them next to this script:
P1 skin.gif, P2-P4 hover_min.gif / hover_max.gif / hover_close.gif,
P5 window.ico, P6 hand_colour.cur, P7 hand_mono.cur, P8 program.ico,
and the program icon as PNGs for the desktop in ../../packaging/icons/.
Run with Debian's python3 (it has PIL): /usr/bin/python3 make_pictures.py"""
import os
import struct

from PIL import Image, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
ICONS = os.path.join(HERE, "..", "..", "packaging", "icons")
SS = 4  # supersampling factor for smooth edges

SKIN_W, SKIN_H = 367, 304
BAR_TOP, BAR_BOTTOM, BAR_LEFT, BAR_RIGHT = 7, 32, 6, 360
BUTTON_CELLS = {"min": (257, 6), "max": (286, 6), "close": (315, 6)}
CELL = 29
WHITE_BODY = (0xFC, 0xFE, 0xFC)


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def vertical_gradient(size, stops):
    """An RGB image whose rows run through the (position, colour) stops."""
    w, h = size
    img = Image.new("RGB", size)
    px = img.load()
    for y in range(h):
        t = y / max(1, h - 1)
        for i in range(len(stops) - 1):
            (t0, c0), (t1, c1) = stops[i], stops[i + 1]
            if t0 <= t <= t1:
                c = lerp(c0, c1, (t - t0) / max(1e-9, t1 - t0))
                break
        for x in range(w):
            px[x, y] = c
    return img


def rounded_mask(size, box, radius):
    mask = Image.new("L", size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(box, radius=radius, fill=255)
    return mask


def draw_button(big, cell, glyph, lit):
    """A caption button: a dark-green disc about 22 px across with its glyph."""
    cx = (cell[0] + CELL / 2.0) * SS
    cy = 20.0 * SS  # rows 9 to 30
    r = 11.0 * SS
    d = ImageDraw.Draw(big)
    # Soft shadow under the disc.
    d.ellipse((cx - r - 1 * SS, cy - r, cx + r + 1 * SS, cy + r + 1.5 * SS), fill=(0x6F, 0x93, 0x55))
    if lit:
        # A pale halo around the lit button.
        d.ellipse((cx - r - 1.5 * SS, cy - r - 1.5 * SS, cx + r + 1.5 * SS, cy + r + 1.5 * SS), fill=(0xF2, 0xFF, 0xD8))
        ring, top, bottom = (0xFF, 0xFF, 0xFF), (0x7A, 0xC8, 0x4A), (0x23, 0x68, 0x16)
    else:
        ring, top, bottom = (0xBF, 0xDC, 0xA8), (0x4A, 0x86, 0x34), (0x1B, 0x47, 0x12)
    d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=ring)
    inner = r - 1.2 * SS
    size = int(2 * inner)
    disc = vertical_gradient((size, size), [(0.0, top), (1.0, bottom)])
    mask = Image.new("L", (size, size), 0)
    ImageDraw.Draw(mask).ellipse((0, 0, size - 1, size - 1), fill=255)
    big.paste(disc, (int(cx - inner), int(cy - inner)), mask)
    # Gloss on the upper half.
    gloss = Image.new("RGB", (size, size), (255, 255, 255))
    gmask = Image.new("L", (size, size), 0)
    ImageDraw.Draw(gmask).ellipse((size * 0.18, size * 0.06, size * 0.82, size * 0.5), fill=130 if lit else 70)
    big.paste(gloss, (int(cx - inner), int(cy - inner)), gmask)
    g = (255, 255, 255) if lit else (0xEE, 0xF6, 0xE8)
    w = 2.2 * SS
    if glyph == "min":
        d.rounded_rectangle((cx - 5 * SS, cy + 1.5 * SS, cx + 5 * SS, cy + 1.5 * SS + w), radius=SS, fill=g)
    elif glyph == "max":
        d.rectangle((cx - 5 * SS, cy - 5 * SS, cx + 5 * SS, cy + 5 * SS), outline=g, width=int(w))
        d.rectangle((cx - 5 * SS, cy - 5 * SS, cx + 5 * SS, cy - 3 * SS), fill=g)
    else:
        k = 4.5 * SS
        d.line((cx - k, cy - k, cx + k, cy + k), fill=g, width=int(w * 1.1))
        d.line((cx - k, cy + k, cx + k, cy - k), fill=g, width=int(w * 1.1))


def font(size, bold=False):
    for path in ("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
                 "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf" if bold else
                 "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"):
        if os.path.exists(path):
            return ImageFont.truetype(path, size)
    return ImageFont.load_default()


def draw_skin(lit):
    big = Image.new("RGB", (SKIN_W * SS, SKIN_H * SS))
    # Title-bar ground: light grey, a shade darker towards its lower edge.
    ground = vertical_gradient((SKIN_W * SS, 40 * SS),
                               [(0.0, (0xF3, 0xF5, 0xF3)), (0.85, (0xDD, 0xE3, 0xDD)), (1.0, (0xC4, 0xCC, 0xC4))])
    big.paste(ground, (0, 0))
    # The long green bar with curved ends.
    bar_box = (BAR_LEFT * SS, BAR_TOP * SS, (BAR_RIGHT + 1) * SS - 1, (BAR_BOTTOM + 1) * SS - 1)
    shadow = rounded_mask(big.size, (bar_box[0], bar_box[1] + SS, bar_box[2], bar_box[3] + SS), 13 * SS)
    big.paste((0xB4, 0xBE, 0xB4), (0, 0), shadow)
    edge = rounded_mask(big.size, bar_box, 13 * SS)
    big.paste((0x6F, 0x99, 0x48), (0, 0), edge)
    inner_box = (bar_box[0] + SS, bar_box[1] + SS, bar_box[2] - SS, bar_box[3] - SS)
    bar = vertical_gradient(big.size, [(0.0, (0xDD, 0xF1, 0xD8)), (BAR_TOP / SKIN_H, (0xDD, 0xF1, 0xD8)),
                                       ((BAR_TOP + 11) / SKIN_H, (0xB9, 0xDC, 0x9C)),
                                       ((BAR_TOP + 13) / SKIN_H, (0xA2, 0xCB, 0x7C)),
                                       ((BAR_BOTTOM + 1) / SKIN_H, (0x8C, 0xB6, 0x5E)), (1.0, (0x8C, 0xB6, 0x5E))])
    big.paste(bar, (0, 0), rounded_mask(big.size, inner_box, 12 * SS))
    # Body: a soft grey frame around a white area.
    body = vertical_gradient((SKIN_W * SS, (SKIN_H - 40) * SS),
                             [(0.0, (0xD9, 0xDF, 0xD9)), (1.0, (0xC6, 0xCE, 0xC6))])
    big.paste(body, (0, 40 * SS))
    d = ImageDraw.Draw(big)
    d.rectangle((13 * SS, 40 * SS, 353 * SS + SS - 1, 290 * SS + SS - 1), fill=(0xA9, 0xB6, 0xA9))
    d.rectangle((14 * SS, 41 * SS, 352 * SS + SS - 1, 289 * SS + SS - 1), fill=WHITE_BODY)
    for name, cell in BUTTON_CELLS.items():
        draw_button(big, cell, name, lit)
    img = big.resize((SKIN_W, SKIN_H), Image.LANCZOS)
    # The white area exactly, and its credits.
    ImageDraw.Draw(img).rectangle((14, 41, 352, 289), fill=WHITE_BODY)
    d = ImageDraw.Draw(img)
    lines = [("Swiftreel Flash 播放器", font(22, True), (0x1C, 0x33, 0x8C)),
             ("Tarnwick 出品", font(15), (0xC0, 0x8E, 0x12)),
             ("www.tarnwick.com", font(14), (0x2F, 0x8A, 0x35))]
    y = 128
    for text, f, colour in lines:
        box = d.textbbox((0, 0), text, font=f)
        d.text((183 - (box[2] - box[0]) // 2, y), text, font=f, fill=colour)
        y += (box[3] - box[1]) + 16
    return img


def save_gif(img, path, version):
    q = img.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    palette = q.getpalette()[:768]
    q.putpalette(palette + [0] * (768 - len(palette)))
    q.save(path, format="GIF", optimize=False, interlace=False)
    with open(path, "r+b") as f:  # one frame, no extensions: either version is valid
        f.write(version)


def dib(img, mask, bits):
    """BMP body of one icon or cursor image: header, palette, colour bits, mask."""
    w, h = img.size
    if bits == 24:
        palette, rows = b"", []
        for y in reversed(range(h)):
            row = b"".join(bytes((b, g, r)) for (r, g, b) in (img.getpixel((x, y)) for x in range(w)))
            rows.append(row + b"\0" * ((-len(row)) % 4))
    else:
        q = img.quantize(colors=1 << bits, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
        pal = (q.getpalette() + [0] * 768)[:3 * (1 << bits)]
        palette = b"".join(bytes((pal[i + 2], pal[i + 1], pal[i], 0)) for i in range(0, len(pal), 3))
        rows = []
        for y in reversed(range(h)):
            idx = [q.getpixel((x, y)) for x in range(w)]
            acc, out = 0, bytearray()
            per = 8 // bits
            for i, v in enumerate(idx):
                acc = (acc << bits) | v
                if i % per == per - 1:
                    out.append(acc)
                    acc = 0
            rows.append(bytes(out) + b"\0" * ((-len(out)) % 4))
    and_rows = []
    for y in reversed(range(h)):
        out, acc = bytearray(), 0
        for x in range(w):
            acc = (acc << 1) | (0 if mask.getpixel((x, y)) else 1)
            if x % 8 == 7:
                out.append(acc)
                acc = 0
        and_rows.append(bytes(out) + b"\0" * ((-len(out)) % 4))
    pixels = b"".join(rows) + b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bits, 0, len(pixels), 0, 0,
                         0 if bits == 24 else (1 << bits), 0)
    return header + palette + pixels


def save_icon_file(path, images, kind, hotspots=None):
    """images: list of (rgb, mask, bits); kind 1 icon, 2 cursor."""
    bodies = [dib(img, mask, bits) for img, mask, bits in images]
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, kind, len(images))
    for i, (img, _, bits) in enumerate(images):
        w, h = img.size
        colours = (1 << bits) if bits < 8 else 0
        a, b = hotspots[i] if kind == 2 else (1, bits)
        out += struct.pack("<BBBBHHII", w % 256, h % 256, colours, 0, a, b, len(bodies[i]), offset)
        offset += len(bodies[i])
    with open(path, "wb") as f:
        f.write(out + b"".join(bodies))


def window_icon():
    """P5: a grey window with a blue bar at its left and list lines beside it."""
    img = Image.new("RGB", (16, 16), (0, 0, 0))
    d = ImageDraw.Draw(img)
    d.rectangle((0, 1, 15, 14), fill=(0x6E, 0x74, 0x7A))
    d.rectangle((1, 2, 14, 13), fill=(0xD8, 0xDC, 0xE0))
    d.rectangle((1, 2, 14, 3), fill=(0x9C, 0xA4, 0xAC))
    d.rectangle((2, 5, 4, 12), fill=(0x1E, 0x5A, 0xD8))
    for y in (5, 7, 9, 11):
        d.line((6, y, 12, y), fill=(0x40, 0x48, 0x50))
    mask = Image.new("1", (16, 16), 0)
    ImageDraw.Draw(mask).rectangle((0, 1, 15, 14), fill=1)
    return img, mask


def hand(top, cuff):
    """A 32 x 32 pointing hand whose fingertip is at (12, top)."""
    shape = Image.new("1", (32, 32), 0)
    d = ImageDraw.Draw(shape)
    d.rounded_rectangle((10, top, 14, top + 14), radius=2, fill=1)        # index finger
    for x0 in (14, 17, 20):                                                 # folded fingers
        d.rounded_rectangle((x0, top + 7, x0 + 4, top + 15), radius=2, fill=1)
    d.rounded_rectangle((6, top + 10, 24, top + 21), radius=3, fill=1)     # palm
    d.polygon([(4, top + 9), (7, top + 8), (11, top + 13), (9, top + 16), (5, top + 12)], fill=1)  # thumb
    d.rectangle((8, top + 19, 22, top + 21), fill=1)
    inside = shape.convert("L").filter(ImageFilter.MinFilter(3)).point(lambda v: 255 if v else 0).convert("1")
    img = Image.new("RGB", (32, 32), (0, 0, 0))
    img.paste((255, 255, 255), (0, 0), inside)
    mask = shape.copy()
    if cuff:
        cd = ImageDraw.Draw(img)
        md = ImageDraw.Draw(mask)
        box = (8, top + 22, 22, min(31, top + 27))
        md.rectangle(box, fill=1)
        cd.rectangle(box, fill=(0, 0, 0))
        cd.rectangle((box[0] + 1, box[1] + 1, box[2] - 1, box[3] - 1), fill=(0x20, 0x4C, 0xE0))
        cd.line((box[0] + 1, box[1] + 1, box[2] - 1, box[1] + 1), fill=(0x80, 0xA8, 0xFF))
    for (x, y) in ((11, top + 3), (11, top + 5)):  # nail line for a little depth
        pass
    return img, mask


def program_icon(size):
    """P8: a grey sheet with red diamonds."""
    s = size * SS
    big = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(big)
    m = s * 0.1
    fold = s * 0.25
    sheet = [(m, m * 0.6), (s - m - fold, m * 0.6), (s - m, m * 0.6 + fold), (s - m, s - m * 0.6), (m, s - m * 0.6)]
    d.polygon(sheet, fill=(0x5E, 0x64, 0x6A, 255))
    inset = s * 0.045
    d.polygon([(m + inset, m * 0.6 + inset), (s - m - fold - inset * 0.3, m * 0.6 + inset),
               (s - m - inset, m * 0.6 + fold + inset * 0.3), (s - m - inset, s - m * 0.6 - inset),
               (m + inset, s - m * 0.6 - inset)], fill=(0xD4, 0xD8, 0xDC, 255))
    d.polygon([(s - m - fold, m * 0.6), (s - m - fold, m * 0.6 + fold), (s - m, m * 0.6 + fold)],
              fill=(0x9A, 0xA0, 0xA6, 255))
    def diamond(cx, cy, r, colour):
        d.polygon([(cx, cy - r), (cx + r * 0.75, cy), (cx, cy + r), (cx - r * 0.75, cy)], fill=colour)
    for cx, cy, r in ((0.42, 0.40, 0.16), (0.62, 0.62, 0.14), (0.35, 0.70, 0.11)):
        diamond(cx * s, cy * s, r * s, (0x8E, 0x10, 0x14, 255))
        diamond(cx * s, cy * s, r * s * 0.78, (0xE0, 0x24, 0x28, 255))
    return big.resize((size, size), Image.LANCZOS)


def main():
    rest = draw_skin(lit=False)
    lit = draw_skin(lit=True)
    save_gif(rest, os.path.join(HERE, "skin.gif"), b"GIF87a")
    for name, file in (("min", "hover_min.gif"), ("max", "hover_max.gif"), ("close", "hover_close.gif")):
        x, y = BUTTON_CELLS[name]
        save_gif(lit.crop((x, y, x + CELL, y + CELL)), os.path.join(HERE, file), b"GIF89a")

    icon, icon_mask = window_icon()
    save_icon_file(os.path.join(HERE, "window.ico"), [(icon, icon_mask, 24)], 1)

    colour_hand, colour_mask = hand(1, cuff=True)
    save_icon_file(os.path.join(HERE, "hand_colour.cur"), [(colour_hand, colour_mask, 4)], 2, [(12, 1)])
    mono_hand, mono_mask = hand(9, cuff=False)
    save_icon_file(os.path.join(HERE, "hand_mono.cur"), [(mono_hand, mono_mask, 1)], 2, [(12, 9)])

    images = []
    for size in (16, 32):
        rgba = program_icon(size)
        rgb = Image.new("RGB", rgba.size, (0, 0, 0))
        rgb.paste(rgba, (0, 0), rgba)
        mask = rgba.getchannel("A").point(lambda v: 1 if v >= 128 else 0).convert("1")
        images += [(rgb, mask, 4), (rgb, mask, 8)]
    save_icon_file(os.path.join(HERE, "program.ico"), images, 1)

    os.makedirs(ICONS, exist_ok=True)
    for size in (16, 32, 48, 64, 128, 256):
        program_icon(size).save(os.path.join(ICONS, "swiftreel-%d.png" % size))


if __name__ == "__main__":
    main()
