# Draws the program's own pictures (status light, splash background, icon) as PNG files.
# Run from this folder: python3 make-pictures.py
import zlib, struct, math
def png(path, w, h, px):
    raw = b''.join(b'\x00' + b''.join(bytes(px(x, y)) for x in range(w)) for y in range(h))
    def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    open(path, 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))
def light(path, fill, rim, inner=None):
    w, h, cx, cy, r = 33, 29, 16, 14, 11
    def px(x, y):
        d = math.hypot(x - cx, y - cy)
        if d > r + 0.5: return (0, 0, 0, 0)
        if d > r - 1.5: return rim + (255,)
        if inner and d < 4: return inner + (255,)
        shade = 1.0 - 0.35 * (d / r)
        return tuple(int(c * shade) for c in fill) + (255,)
    png(path, w, h, px)
light('light1.png', (150, 150, 150), (70, 70, 70))
light('light2.png', (60, 220, 60), (20, 100, 20))
light('light3.png', (60, 100, 230), (20, 40, 110), (255, 255, 255))
light('light4.png', (240, 195, 40), (130, 95, 15), (130, 95, 15))
light('light5.png', (215, 50, 50), (100, 20, 20))
def grad(x, y, w, h):
    t = (x + y) / (w + h)
    a, b = (28, 63, 110), (59, 125, 216)
    return tuple(int(a[i] + (b[i] - a[i]) * t) for i in range(3)) + (255,)
png('splash.png', 312, 206, lambda x, y: grad(x, y, 312, 206))
def icon(size):
    s = size / 64.0
    def px(x, y):
        d = math.hypot((x + 0.5) / s - 32, (y + 0.5) / s - 32)
        if d < 10: return (28, 63, 110, 255)
        if d < 18: return (240, 195, 40, 255)
        if 2 <= (x + 0.5) / s <= 62 and 2 <= (y + 0.5) / s <= 62: return (59, 125, 216, 255)
        return (0, 0, 0, 0)
    return px
def icon64(x, y):
    d = math.hypot(x - 31.5, y - 31.5)
    if d < 10: return (28, 63, 110, 255)
    if d < 18: return (240, 195, 40, 255)
    if 2 <= x <= 61 and 2 <= y <= 61: return (59, 125, 216, 255)
    return (0, 0, 0, 0)
png('icon.png', 64, 64, icon64)
# The desktop icon in the sizes the icon theme asks for (the same drawing as icons/tarvik.svg).
for size in (48, 128, 256):
    png('icons/tarvik-%d.png' % size, size, size, icon(size))
