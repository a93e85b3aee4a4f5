#!/usr/bin/python3
"""Draws the launcher's icon and writes resources/launcher.ico, the icon group MAINICON.

Nine images, in this order: 32x32 and 16x16 at 4 bits per pixel, 48x48, 32x32 and 16x16 at 8 bits,
256x256 stored as PNG, and 48x48, 32x32 and 16x16 at 32 bits (BGRA with alpha). The palette images
have their own adaptive palettes and an AND mask; the 32-bit ones carry a mask too, for old shells.

Pillow draws, resamples, quantizes, packs the pixel rows and encodes the PNG. What Pillow cannot write
is the container: an .ico holding several depths of one size, and palette images of 4 bits. That part,
headers and row order, is assembled here.

Run with Debian's python (python3-pil): /usr/bin/python3 resources/make_icon.py
The .ico is committed; the build does not run this script.
"""
import io
import os
import struct

from PIL import Image, ImageDraw

BLUE = (30, 90, 168, 255)
DARK_BLUE = (16, 52, 104, 255)
WHITE = (255, 255, 255, 255)

# (width, bits per pixel, stored as PNG)
IMAGES = [(32, 4, False), (16, 4, False), (48, 8, False), (32, 8, False), (16, 8, False),
          (256, 32, True), (48, 32, False), (32, 32, False), (16, 32, False)]


def draw(size):
    """A bold "install" glyph: a white arrow down into a tray, on a rounded blue tile."""
    scale = 4  # drawn large and reduced, for clean edges at every size
    s = size * scale
    image = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    pen = ImageDraw.Draw(image)
    u = lambda v: round(v * s)  # noqa: E731 - unit square to pixels
    pen.rounded_rectangle([u(0.03), u(0.03), u(0.97), u(0.97)], radius=u(0.2), fill=DARK_BLUE)
    pen.rounded_rectangle([u(0.08), u(0.08), u(0.92), u(0.92)], radius=u(0.16), fill=BLUE)
    pen.rectangle([u(0.41), u(0.16), u(0.59), u(0.50)], fill=WHITE)
    pen.polygon([(u(0.22), u(0.44)), (u(0.78), u(0.44)), (u(0.50), u(0.72))], fill=WHITE)
    pen.rectangle([u(0.20), u(0.78), u(0.80), u(0.87)], fill=WHITE)
    return image.resize((size, size), Image.Resampling.LANCZOS)


def bottom_up(data, row_bytes, height):
    """Rows padded to 4 bytes and stored bottom-up, as a DIB wants them."""
    padded = (row_bytes + 3) // 4 * 4
    rows = [data[i * row_bytes:(i + 1) * row_bytes].ljust(padded, b"\0") for i in range(height)]
    return b"".join(reversed(rows))


def and_mask(image):
    """1 where the pixel is transparent; Pillow packs the bits."""
    size = image.width
    mask = image.getchannel("A").point(lambda a: 255 if a < 128 else 0).convert("1")
    return bottom_up(mask.tobytes(), (size + 7) // 8, size)


def palette_pixels(image, bits):
    """Adaptive palette with black at index 0 for the masked pixels (their XOR colour must be 0)."""
    size = image.width
    opaque = image.getchannel("A").point(lambda a: 255 if a >= 128 else 0)
    rgb = Image.new("RGB", image.size, (0, 0, 0))
    rgb.paste(image.convert("RGB"), mask=opaque)
    quantized = rgb.quantize(colors=(1 << bits) - 1, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    shifted = quantized.point(lambda i: i + 1)
    indexed = Image.new("P", image.size, 0)
    indexed.paste(shifted, mask=opaque)
    colours = [(0, 0, 0)] + [tuple(quantized.getpalette()[i * 3:i * 3 + 3]) for i in range((1 << bits) - 1)]
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    rawmode = "P;4" if bits == 4 else "P"
    return palette, bottom_up(indexed.tobytes("raw", rawmode), (size * bits + 7) // 8, size)


def dib(image, bits):
    size = image.width
    if bits == 32:
        palette, pixels = b"", bottom_up(image.tobytes("raw", "BGRA"), size * 4, size)
    else:
        palette, pixels = palette_pixels(image, bits)
    mask = and_mask(image)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + palette + pixels + mask


def png(image):
    out = io.BytesIO()
    image.save(out, "PNG", optimize=True)
    return out.getvalue()


def main():
    entries, blobs = [], []
    for size, bits, as_png in IMAGES:
        image = draw(size)
        blob = png(image) if as_png else dib(image, bits)
        colours = 16 if bits == 4 else 0
        entries.append((size % 256, size % 256, colours, bits, blob))
        blobs.append(blob)
    offset = 6 + 16 * len(entries)
    out = struct.pack("<HHH", 0, 1, len(entries))
    for width, height, colours, bits, blob in entries:
        out += struct.pack("<BBBBHHII", width, height, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    out += b"".join(blobs)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "launcher.ico")
    with open(path, "wb") as f:
        f.write(out)
    print(f"wrote {path}: {len(entries)} images, {len(out)} bytes")


if __name__ == "__main__":
    main()
