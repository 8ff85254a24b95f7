"""A tiny raster kit for the skin's images: a canvas with a few drawing
operations, a 5x7 bitmap font, and GIF (animated too) and baseline JPEG
writers. Standard library only, so the build needs nothing but Python 3."""

import math
import struct


def hexrgb(text):
    text = text.lstrip('#')
    return (int(text[0:2], 16), int(text[2:4], 16), int(text[4:6], 16))


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


class Canvas:
    """Pixels are RGB tuples, or None where the image is transparent."""

    def __init__(self, width, height, fill=None):
        self.w = width
        self.h = height
        self.px = [[fill] * width for _ in range(height)]

    def copy(self):
        c = Canvas(self.w, self.h)
        c.px = [row[:] for row in self.px]
        return c

    def set(self, x, y, color, alpha=1.0):
        if 0 <= x < self.w and 0 <= y < self.h:
            if alpha >= 1.0:
                self.px[y][x] = color
            elif alpha > 0:
                under = self.px[y][x]
                if under is None:
                    if alpha >= 0.5:
                        self.px[y][x] = color
                else:
                    self.px[y][x] = mix(under, color, alpha)

    def get(self, x, y):
        return self.px[y][x]

    def rect(self, x, y, w, h, color):
        for yy in range(max(0, y), min(self.h, y + h)):
            for xx in range(max(0, x), min(self.w, x + w)):
                self.px[yy][xx] = color

    def vgradient(self, x, y, w, h, top, bottom):
        for i in range(h):
            t = i / max(1, h - 1)
            self.rect(x, y + i, w, 1, mix(top, bottom, t))

    def hgradient(self, x, y, w, h, left, right):
        for i in range(w):
            t = i / max(1, w - 1)
            self.rect(x + i, y, 1, h, mix(left, right, t))

    def coverage_shape(self, inside, x0, y0, x1, y1, color):
        """Fills where inside(px, py) holds, with 4x4 supersampled edges."""
        for y in range(max(0, int(y0)), min(self.h, int(math.ceil(y1)))):
            for x in range(max(0, int(x0)), min(self.w, int(math.ceil(x1)))):
                hits = 0
                for sy in range(4):
                    for sx in range(4):
                        if inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4):
                            hits += 1
                if hits:
                    self.set(x, y, color, hits / 16)

    def circle(self, cx, cy, r, color):
        self.coverage_shape(lambda px, py: (px - cx) ** 2 + (py - cy) ** 2 <= r * r,
                            cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1, color)

    def ring(self, cx, cy, r, width, color):
        inner = r - width
        self.coverage_shape(
            lambda px, py: inner * inner <= (px - cx) ** 2 + (py - cy) ** 2 <= r * r,
            cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1, color)

    def round_rect(self, x, y, w, h, r, color):
        def inside(px, py):
            if px < x or px > x + w or py < y or py > y + h:
                return False
            cx = min(max(px, x + r), x + w - r)
            cy = min(max(py, y + r), y + h - r)
            return (px - cx) ** 2 + (py - cy) ** 2 <= r * r
        self.coverage_shape(inside, x, y, x + w, y + h, color)

    def polygon(self, points, color):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]

        def inside(px, py):
            hit = False
            j = len(points) - 1
            for i in range(len(points)):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
                    hit = not hit
                j = i
            return hit
        self.coverage_shape(inside, min(xs), min(ys), max(xs), max(ys), color)

    def line(self, x0, y0, x1, y1, width, color):
        length = math.hypot(x1 - x0, y1 - y0) or 1
        nx = -(y1 - y0) / length * width / 2
        ny = (x1 - x0) / length * width / 2
        self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)],
                     color)

    def ascii(self, x, y, rows, colors, scale=1):
        """Draws pixel art: each character of rows maps through colors ('.' = nothing)."""
        for j, row in enumerate(rows):
            for i, ch in enumerate(row):
                if ch in colors:
                    self.rect(x + i * scale, y + j * scale, scale, scale, colors[ch])

    def text(self, x, y, text, color, scale=1, spacing=1):
        for ch in text:
            glyph = FONT.get(ch.upper(), FONT['?'])
            for j, bits in enumerate(glyph):
                for i in range(5):
                    if bits & (0x10 >> i):
                        self.rect(x + i * scale, y + j * scale, scale, scale, color)
            x += (5 + spacing) * scale

    def shadow_text(self, x, y, text, color, shade, scale=1, spacing=1):
        self.text(x + 1, y + 1, text, shade, scale, spacing)
        self.text(x, y, text, color, scale, spacing)


def text_width(text, scale=1, spacing=1):
    return len(text) * (5 + spacing) * scale - spacing * scale


# 5x7 glyphs, one int per row, bit 4 = leftmost column.
FONT = {
    ' ': [0, 0, 0, 0, 0, 0, 0],
    'A': [14, 17, 17, 31, 17, 17, 17], 'B': [30, 17, 17, 30, 17, 17, 30],
    'C': [14, 17, 16, 16, 16, 17, 14], 'D': [30, 17, 17, 17, 17, 17, 30],
    'E': [31, 16, 16, 30, 16, 16, 31], 'F': [31, 16, 16, 30, 16, 16, 16],
    'G': [14, 17, 16, 23, 17, 17, 15], 'H': [17, 17, 17, 31, 17, 17, 17],
    'I': [14, 4, 4, 4, 4, 4, 14], 'J': [7, 2, 2, 2, 2, 18, 12],
    'K': [17, 18, 20, 24, 20, 18, 17], 'L': [16, 16, 16, 16, 16, 16, 31],
    'M': [17, 27, 21, 21, 17, 17, 17], 'N': [17, 17, 25, 21, 19, 17, 17],
    'O': [14, 17, 17, 17, 17, 17, 14], 'P': [30, 17, 17, 30, 16, 16, 16],
    'Q': [14, 17, 17, 17, 21, 18, 13], 'R': [30, 17, 17, 30, 20, 18, 17],
    'S': [15, 16, 16, 14, 1, 1, 30], 'T': [31, 4, 4, 4, 4, 4, 4],
    'U': [17, 17, 17, 17, 17, 17, 14], 'V': [17, 17, 17, 17, 17, 10, 4],
    'W': [17, 17, 17, 21, 21, 21, 10], 'X': [17, 17, 10, 4, 10, 17, 17],
    'Y': [17, 17, 10, 4, 4, 4, 4], 'Z': [31, 1, 2, 4, 8, 16, 31],
    '0': [14, 17, 19, 21, 25, 17, 14], '1': [4, 12, 4, 4, 4, 4, 14],
    '2': [14, 17, 1, 2, 4, 8, 31], '3': [31, 2, 4, 2, 1, 17, 14],
    '4': [2, 6, 10, 18, 31, 2, 2], '5': [31, 16, 30, 1, 1, 17, 14],
    '6': [6, 8, 16, 30, 17, 17, 14], '7': [31, 1, 2, 4, 8, 8, 8],
    '8': [14, 17, 17, 14, 17, 17, 14], '9': [14, 17, 17, 15, 1, 2, 12],
    '.': [0, 0, 0, 0, 0, 12, 12], ':': [0, 12, 12, 0, 12, 12, 0],
    '/': [1, 1, 2, 4, 8, 16, 16], '-': [0, 0, 0, 31, 0, 0, 0],
    '!': [4, 4, 4, 4, 4, 0, 4], '?': [14, 17, 1, 2, 4, 0, 4],
    '&': [12, 18, 20, 8, 21, 18, 13], "'": [4, 4, 8, 0, 0, 0, 0],
}


# ---------------------------------------------------------------- GIF writer

def _palette_of(frames):
    colors = set()
    for frame in frames:
        for row in frame.px:
            colors.update(c for c in row if c is not None)
    shift = 0
    reduced = colors
    while len(reduced) > 255:
        shift += 1
        reduced = {tuple((v >> shift) << shift for v in c) for c in colors}
    return sorted(reduced), shift


def _lzw(indices, min_size):
    clear = 1 << min_size
    end = clear + 1
    out = bytearray()
    bitbuf = 0
    bitcount = 0

    def emit(code, size):
        nonlocal bitbuf, bitcount
        bitbuf |= code << bitcount
        bitcount += size
        while bitcount >= 8:
            out.append(bitbuf & 0xFF)
            bitbuf >>= 8
            bitcount -= 8

    size = min_size + 1
    table = {(i,): i for i in range(clear)}
    next_code = end + 1
    emit(clear, size)
    prefix = ()
    for index in indices:
        candidate = prefix + (index,)
        if candidate in table:
            prefix = candidate
            continue
        emit(table[prefix], size)
        if next_code < 4096:
            table[candidate] = next_code
            if next_code == (1 << size) and size < 12:
                size += 1
            next_code += 1
        else:
            emit(clear, size)
            size = min_size + 1
            table = {(i,): i for i in range(clear)}
            next_code = end + 1
        prefix = (index,)
    if prefix:
        emit(table[prefix], size)
        # The decoder adds one more entry on reading that code and may widen first.
        if next_code == (1 << size) and size < 12:
            size += 1
    emit(end, size)
    if bitcount:
        out.append(bitbuf & 0xFF)
    return bytes(out)


def write_pam(path, canvas):
    """An uncompressed RGBA image (netpbm PAM), for the programs to read themselves."""
    header = 'P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n' % (canvas.w, canvas.h)
    body = bytearray()
    for row in canvas.px:
        for c in row:
            body += bytes((0, 0, 0, 0)) if c is None else bytes((c[0], c[1], c[2], 255))
    with open(path, 'wb') as f:
        f.write(header.encode('ascii') + bytes(body))


def write_gif(path, frames, delay_cs=8, loop=False):
    """Writes one canvas, or several as an animation (played once unless loop)."""
    if isinstance(frames, Canvas):
        frames = [frames]
    w, h = frames[0].w, frames[0].h
    palette, shift = _palette_of(frames)
    transparent = any(c is None for f in frames for row in f.px for c in row)
    entries = list(palette)
    tindex = None
    if transparent:
        tindex = len(entries)
        entries.append((255, 0, 255))
    bits = 1
    while (1 << bits) < max(2, len(entries)):
        bits += 1
    entries += [(0, 0, 0)] * ((1 << bits) - len(entries))
    lookup = {c: i for i, c in enumerate(palette)}
    data = bytearray(b'GIF89a')
    data += struct.pack('<HHBBB', w, h, 0x80 | ((bits - 1) << 4) | (bits - 1), 0, 0)
    for c in entries:
        data += bytes(c)
    if loop and len(frames) > 1:
        data += b'\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00'
    for frame in frames:
        flags = 0x08 if transparent else 0x04  # restore to background / keep
        flags |= 1 if transparent else 0
        data += struct.pack('<BBBBHBB', 0x21, 0xF9, 4, flags, delay_cs, tindex or 0, 0)
        data += struct.pack('<BHHHHB', 0x2C, 0, 0, w, h, 0)
        indices = []
        for row in frame.px:
            for c in row:
                if c is None:
                    indices.append(tindex)
                else:
                    indices.append(lookup[tuple((v >> shift) << shift for v in c)])
        min_size = max(2, bits)
        data.append(min_size)
        coded = _lzw(indices, min_size)
        for i in range(0, len(coded), 255):
            chunk = coded[i:i + 255]
            data.append(len(chunk))
            data += chunk
        data.append(0)
    data.append(0x3B)
    with open(path, 'wb') as f:
        f.write(bytes(data))


# --------------------------------------------------------------- JPEG writer
# Baseline, 4:4:4, one flat quantisation table and one pair of simple
# Huffman tables (every AC symbol 8 bits long, every DC category 4 bits).

def _zigzag():
    order = []
    for s in range(15):
        cells = [(i, s - i) for i in range(8) if 0 <= s - i < 8]
        if s % 2 == 0:
            cells.reverse()
        order.extend(r * 8 + c for r, c in cells)
    return order


_ZIGZAG = _zigzag()
_COS = [[math.cos((2 * x + 1) * u * math.pi / 16) for x in range(8)] for u in range(8)]
_AC_SYMBOLS = [0x00, 0xF0] + [(run << 4) | size for run in range(16) for size in range(1, 11)]
_AC_CODES = {sym: (i, 8) for i, sym in enumerate(_AC_SYMBOLS)}
_DC_CODES = {cat: (cat, 4) for cat in range(12)}


def _dct(block):
    tmp = [[0.0] * 8 for _ in range(8)]
    for y in range(8):
        row = block[y]
        for u in range(8):
            cu = math.sqrt(0.5) if u == 0 else 1.0
            tmp[y][u] = 0.5 * cu * sum(row[x] * _COS[u][x] for x in range(8))
    out = [0.0] * 64
    for u in range(8):
        for v in range(8):
            cv = math.sqrt(0.5) if v == 0 else 1.0
            out[v * 8 + u] = 0.5 * cv * sum(tmp[y][u] * _COS[v][y] for y in range(8))
    return out


class _Bits:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, code, length):
        for i in range(length - 1, -1, -1):
            self.acc = (self.acc << 1) | ((code >> i) & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                if self.acc == 0xFF:
                    self.out.append(0)
                self.acc = 0
                self.n = 0

    def flush(self):
        while self.n:
            self.put(1, 1)


def _category(value):
    value = abs(value)
    n = 0
    while value:
        n += 1
        value >>= 1
    return n


def write_jpeg(path, canvas, background=(255, 255, 255), quant=6):
    w, h = canvas.w, canvas.h
    pw, ph = (w + 7) // 8 * 8, (h + 7) // 8 * 8

    def pixel(x, y):
        c = canvas.px[min(y, h - 1)][min(x, w - 1)]
        return background if c is None else c

    planes = [[[0.0] * pw for _ in range(ph)] for _ in range(3)]
    for y in range(ph):
        for x in range(pw):
            r, g, b = pixel(x, y)
            planes[0][y][x] = 0.299 * r + 0.587 * g + 0.114 * b - 128
            planes[1][y][x] = -0.168736 * r - 0.331264 * g + 0.5 * b
            planes[2][y][x] = 0.5 * r - 0.418688 * g - 0.081312 * b
    bits = _Bits()
    last_dc = [0, 0, 0]
    for by in range(0, ph, 8):
        for bx in range(0, pw, 8):
            for comp in range(3):
                block = [planes[comp][by + j][bx:bx + 8] for j in range(8)]
                coeffs = _dct(block)
                q = [int(round(coeffs[_ZIGZAG[k]] / quant)) for k in range(64)]
                diff = q[0] - last_dc[comp]
                last_dc[comp] = q[0]
                cat = _category(diff)
                bits.put(*_DC_CODES[cat])
                if cat:
                    bits.put(diff if diff > 0 else diff + (1 << cat) - 1, cat)
                run = 0
                for k in range(1, 64):
                    v = q[k]
                    if v == 0:
                        run += 1
                        continue
                    while run > 15:
                        bits.put(*_AC_CODES[0xF0])
                        run -= 16
                    v = max(-1023, min(1023, v))
                    cat = _category(v)
                    bits.put(*_AC_CODES[(run << 4) | cat])
                    bits.put(v if v > 0 else v + (1 << cat) - 1, cat)
                    run = 0
                if run:
                    bits.put(*_AC_CODES[0x00])
    bits.flush()

    def segment(marker, payload):
        return struct.pack('>BBH', 0xFF, marker, len(payload) + 2) + payload

    data = bytearray(b'\xFF\xD8')
    data += segment(0xE0, b'JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00')
    data += segment(0xDB, b'\x00' + bytes([quant] * 64))
    data += segment(0xC0, struct.pack('>BHHB', 8, h, w, 3) + b'\x01\x11\x00\x02\x11\x00\x03\x11\x00')
    dc_counts = [0] * 16
    dc_counts[3] = 12
    data += segment(0xC4, b'\x00' + bytes(dc_counts) + bytes(range(12)))
    ac_counts = [0] * 16
    ac_counts[7] = len(_AC_SYMBOLS)
    data += segment(0xC4, b'\x10' + bytes(ac_counts) + bytes(_AC_SYMBOLS))
    data += segment(0xDA, b'\x03\x01\x00\x02\x00\x03\x00\x00\x3F\x00')
    data += bits.out
    data += b'\xFF\xD9'
    with open(path, 'wb') as f:
        f.write(bytes(data))
