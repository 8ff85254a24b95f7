#!/usr/bin/env python3
"""Draws every image of the skin into the folder given as the first argument
(default: this folder). Run by the build; nothing here is hand-edited."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from imagekit import Canvas, hexrgb, mix, text_width, write_gif, write_jpeg, write_pam  # noqa: E402

INK = hexrgb('3a332d')
CHROME = hexrgb('2b2622')
CHROME2 = hexrgb('4a4039')
ACCENT = hexrgb('c46128')
ACCENT2 = hexrgb('e08a4f')
OLIVE = hexrgb('adab22')
CREAM = hexrgb('f7f3ee')
PAPER = hexrgb('f2f0ed')
LINE = hexrgb('dbd4cc')
MUTED = hexrgb('8a7d71')
WHITE = (255, 255, 255)

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))


def save(name, canvas, **kw):
    write_gif(os.path.join(OUT, name), canvas, **kw)


# ------------------------------------------------------------ wallpapers
# Fourteen tiles; each is a quiet pattern in two to four colours.
def wallpapers():
    themes = [
        ('e9e1d6', 'e2d8cb', 'stripes'), ('d9e3e6', 'cfdade', 'dots'),
        ('e6dfd0', 'ddd4c0', 'checks'), ('2f2a27', '38322e', 'stripes'),
        ('e8d9d3', 'e0cdc5', 'waves'), ('dfe5d5', 'd4dcc8', 'dots'),
        ('e4e4e4', 'dadada', 'grid'), ('263238', '2e3c43', 'dots'),
        ('efe6c8', 'e6daB4', 'waves'), ('e5dbe8', 'dbcfe0', 'checks'),
        ('d7e2dc', 'cad8d0', 'grid'), ('3a2e2a', '45372f', 'waves'),
        ('f1ece4', 'e9e1d5', 'diamonds'), ('c9d4dc', 'bdcad4', 'diamonds'),
    ]
    for n, (a, b, kind) in enumerate(themes, 1):
        base, alt = hexrgb(a), hexrgb(b)
        c = Canvas(48, 48, base)
        if kind == 'stripes':
            for k in range(-48, 48, 12):
                c.line(k, 48, k + 48, 0, 4, alt)
        elif kind == 'dots':
            for y in (6, 30):
                for x in (6, 30):
                    c.circle(x + (12 if y == 30 else 0), y, 3, alt)
        elif kind == 'checks':
            for y in range(0, 48, 12):
                for x in range(0, 48, 12):
                    if (x // 12 + y // 12) % 2:
                        c.rect(x, y, 12, 12, alt)
        elif kind == 'grid':
            for k in range(0, 48, 8):
                c.rect(k, 0, 1, 48, alt)
                c.rect(0, k, 48, 1, alt)
        elif kind == 'waves':
            import math
            for row in range(0, 48, 12):
                for x in range(48):
                    y = row + 6 + 3 * math.sin(x / 48 * 2 * math.pi)
                    c.rect(x, int(y), 1, 2, alt)
        elif kind == 'diamonds':
            for y in (0, 24, 48):
                for x in (0, 24, 48):
                    c.polygon([(x, y - 9), (x + 9, y), (x, y + 9), (x - 9, y)], alt)
                    c.polygon([(x + 12, y + 12 - 9), (x + 21, y + 12), (x + 12, y + 21),
                               (x + 3, y + 12)], alt)
        save('background%d.gif' % n, c)


# ------------------------------------------------------------ tag-type icons
ICONS = {
    'genre': [  # a pair of notes
        '................', '......#######...', '......#######...', '......#.....#...',
        '......#.....#...', '......#.....#...', '......#.....#...', '......#.....#...',
        '......#.....#...', '......#.....#...', '...###.....#...', '..####...###....',
        '..####..####....', '...##...####....', '.........##.....', '................'],
    'album': [  # a disc
        '................', '.....######.....', '...##oooooo##...', '..#oooooooooo#..',
        '.#ooooooooooo#..', '.#oooo###oooo#..', '#oooo#...#oooo#.', '#oooo#...#oooo#.',
        '#oooo#...#oooo#.', '.#oooo###oooo#..', '.#ooooooooooo#..', '..#oooooooooo#..',
        '...##oooooo##...', '.....######.....', '................', '................'],
    'artist': [  # a person
        '................', '......####......', '.....######.....', '.....######.....',
        '.....######.....', '......####......', '.......##.......', '....########....',
        '...##########...', '..############..', '..############..', '..############..',
        '..############..', '................', '................', '................'],
    'mix': [  # three stacked bars
        '................', '................', '..############..', '..#oooooooooo#..',
        '..############..', '................', '....##########..', '....#oooooooo#..',
        '....##########..', '................', '..############..', '..#oooooooooo#..',
        '..############..', '................', '................', '................'],
    'zorva': [  # a Z in a disc
        '................', '.....######.....', '...##########...', '..############..',
        '.###ooooooo####.', '.#########oo###.', '#########oo#####', '########oo######',
        '#######oo#######', '######oo########', '.###ooooooo####.', '..############..',
        '...##########...', '.....######.....', '................', '................'],
    'playlist': [  # lines with a note
        '................', '................', '.#########......', '................',
        '.#########......', '................', '.#######....##..', '............###.',
        '.#######....#.##', '............#...', '.#####...####...', '........#####...',
        '.........###....', '................', '................', '................'],
    'track': [  # one note
        '................', '.......##.......', '.......###......', '.......####.....',
        '.......##.##....', '.......##..##...', '.......##...#...', '.......##.......',
        '.......##.......', '.......##.......', '....#####.......', '...######.......',
        '...######.......', '....####........', '................', '................'],
}
ICON_COLOURS = {
    'genre': hexrgb('6b8e23'), 'album': hexrgb('3f6e9a'), 'artist': hexrgb('9a4f8c'),
    'mix': ACCENT, 'zorva': ACCENT, 'playlist': hexrgb('2f7f7a'), 'track': INK,
}


def icons():
    for name, rows in ICONS.items():
        colour = ICON_COLOURS[name]
        small = Canvas(16, 16)
        small.ascii(0, 0, rows, {'#': colour, 'o': mix(colour, WHITE, 0.55)})
        save('%s_icon.gif' % name, small)
        big = Canvas(32, 32)
        big.ascii(0, 0, rows, {'#': colour, 'o': mix(colour, WHITE, 0.55)}, scale=2)
        save('%s_bigicon.gif' % name, big)


# ------------------------------------------------------------ timer digits
SEGMENTS = {'0': 'abcdef', '1': 'bc', '2': 'abged', '3': 'abgcd', '4': 'fgbc', '5': 'afgcd',
            '6': 'afgedc', '7': 'abc', '8': 'abcdefg', '9': 'abcdfg'}


def digits():
    w, h = 16, 26
    on, off = hexrgb('f29a55'), hexrgb('3b332e')
    for d in '0123456789':
        c = Canvas(w, h, CHROME)
        lit = SEGMENTS[d]
        for seg in 'abcdefg':
            colour = on if seg in lit else off
            horizontal = {'a': 2, 'g': 12, 'd': 22}
            vertical = {'f': (2, 3), 'b': (12, 3), 'e': (2, 13), 'c': (12, 13)}
            if seg in horizontal:
                y = horizontal[seg]
                c.polygon([(4, y + 1), (5, y), (11, y), (12, y + 1), (11, y + 2), (5, y + 2)], colour)
            else:
                x, y = vertical[seg]
                c.polygon([(x + 1, y + 1), (x + 2, y + 2), (x + 2, y + 8), (x + 1, y + 9),
                           (x, y + 8), (x, y + 2)], colour)
        save('%s.gif' % d, c)
    c = Canvas(8, h, CHROME)
    c.circle(4, 9, 1.6, on)
    c.circle(4, 17, 1.6, on)
    save('colon.gif', c)


# ------------------------------------------------------------ three-part buttons
def buttons():
    for suffix, top, bottom, edge in (('', hexrgb('fbf8f4'), hexrgb('e6ddd2'), hexrgb('b9ab9c')),
                                      ('_over', ACCENT2, ACCENT, hexrgb('9c4a1c'))):
        h = 24
        full = Canvas(40, h)
        full.round_rect(0, 0, 40, h, 8, edge)
        inner = Canvas(40, h)
        inner.vgradient(0, 0, 40, h, top, bottom)
        for y in range(h):
            for x in range(40):
                if full.px[y][x] is not None and 1 <= x <= 38 and 1 <= y <= h - 2:
                    full.px[y][x] = inner.px[y][x] if full.px[y][x] == edge else full.px[y][x]
        mask = Canvas(40, h)
        mask.round_rect(1, 1, 38, h - 2, 7, WHITE)
        for y in range(h):
            for x in range(40):
                if mask.px[y][x] is not None:
                    full.px[y][x] = inner.px[y][x]
        left, middle, right = Canvas(10, h), Canvas(4, h), Canvas(10, h)
        for y in range(h):
            left.px[y] = full.px[y][0:10]
            middle.px[y] = full.px[y][18:22]
            right.px[y] = full.px[y][30:40]
        save('addtagleft%s.gif' % suffix, left)
        save('tagmiddle%s.gif' % suffix, middle)
        save('addtagright%s.gif' % suffix, right)


def tag_caps():
    """Ends of the Lab's tag holders: a go arrow on the left, a remove cross on the right."""
    for suffix, fill, mark in (('', hexrgb('e9e2d8'), MUTED), ('_over', ACCENT, WHITE)):
        left = Canvas(20, 22)
        left.round_rect(0, 0, 26, 22, 9, fill)
        left.polygon([(7, 6), (13, 11), (7, 16)], mark)
        save('tagleft%s.gif' % suffix, left)
        right = Canvas(20, 22)
        right.round_rect(-8, 0, 28, 22, 9, fill)
        right.line(6, 7, 12, 15, 2, mark)
        right.line(12, 7, 6, 15, 2, mark)
        save('tagright%s.gif' % suffix, right)


# ------------------------------------------------------------ logos
def logos():
    frames = []
    heights = [(4, 10, 6, 14), (10, 16, 12, 8), (16, 8, 18, 12), (12, 18, 10, 16),
               (18, 12, 16, 10), (14, 20, 12, 18), (20, 14, 18, 14), (16, 18, 20, 16)]
    for hs in heights:
        c = Canvas(40, 40)
        c.circle(20, 20, 19.5, CHROME2)
        c.ring(20, 20, 19.5, 2, ACCENT)
        for i, bar in enumerate(hs):
            x = 9 + i * 6
            c.rect(x, 29 - bar, 4, bar, mix(ACCENT2, WHITE, 0.15 * i))
        frames.append(c)
    save('logo.gif', frames, delay_cs=9)
    still = frames[-1].copy()
    save('logo_still.gif', still)
    # The programs' icon on the desktop (the system tray draws it itself).
    write_pam(os.path.join(OUT, 'logo_icon.pam'), still)
    word = 'ZORVA'
    c = Canvas(120, 28, CHROME)
    c.vgradient(0, 0, 120, 28, CHROME2, CHROME)
    x = (120 - text_width(word, 3, 2)) // 2
    c.shadow_text(x, 4, word, hexrgb('f4ede4'), hexrgb('15110e'), scale=3, spacing=2)
    c.rect(x, 26, text_width(word, 3, 2), 1, ACCENT)
    write_jpeg(os.path.join(OUT, 'zorva_text.jpg'), c)


# ------------------------------------------------------------ panels of the player
def panels():
    def panel(name, w, h, top, bottom, border):
        c = Canvas(w, h)
        c.vgradient(0, 0, w, h, top, bottom)
        c.rect(0, 0, w, 1, border)
        c.rect(0, h - 1, w, 1, mix(border, bottom, 0.5))
        save(name, c)
    panel('upnextitem.gif', 420, 26, WHITE, PAPER, LINE)
    panel('upnextitem_hi.gif', 420, 26, hexrgb('fff4e9'), hexrgb('f7dcc6'), ACCENT2)
    panel('trackwin.gif', 420, 80, hexrgb('fbf9f6'), hexrgb('ece5dc'), LINE)
    panel('trackwin_over.gif', 420, 80, hexrgb('fff7ef'), hexrgb('f5e1cf'), ACCENT2)
    panel('mixwin.gif', 420, 52, hexrgb('fbf9f6'), hexrgb('ece5dc'), LINE)
    panel('mixwin_over.gif', 420, 52, hexrgb('fff7ef'), hexrgb('f5e1cf'), ACCENT2)
    panel('scheduleitem_title.gif', 300, 24, hexrgb('efe8df'), hexrgb('ddd2c5'), LINE)
    panel('scheduleitem_title_current.gif', 300, 24, ACCENT2, ACCENT, hexrgb('9c4a1c'))
    panel('scheduleitem_bottom.gif', 300, 8, hexrgb('e9a06c'), ACCENT, ACCENT)
    panel('scheduleitem_resize.gif', 300, 8, hexrgb('ece5dc'), hexrgb('ddd2c5'), LINE)
    panel('schedulemenutitle.gif', 172, 22, hexrgb('faf6f1'), hexrgb('ebe3d8'), LINE)
    panel('schedulemenutitle_selected.gif', 172, 22, ACCENT2, ACCENT, hexrgb('9c4a1c'))
    panel('schedulemenutitle_over.gif', 172, 22, hexrgb('cfcd4a'), OLIVE, hexrgb('87851a'))
    c = Canvas(24, 6)
    for x in range(4, 20, 3):
        c.rect(x, 1, 1, 1, MUTED)
        c.rect(x + 1, 3, 1, 1, MUTED)
    save('resize.gif', c)


# ------------------------------------------------------------ round buttons and toolbar
def glyph(c, name, colour, cx, cy, s):
    """Small symbols for buttons, drawn around (cx, cy) at scale s (1 = 24 px button)."""
    if name == 'play':
        c.polygon([(cx - 4 * s, cy - 6 * s), (cx + 6 * s, cy), (cx - 4 * s, cy + 6 * s)], colour)
    elif name == 'pause':
        c.rect(int(cx - 5 * s), int(cy - 6 * s), int(3.5 * s), int(12 * s), colour)
        c.rect(int(cx + 1.5 * s), int(cy - 6 * s), int(3.5 * s), int(12 * s), colour)
    elif name in ('next', 'prev'):
        d = 1 if name == 'next' else -1
        c.polygon([(cx - 6 * s * d, cy - 5 * s), (cx, cy), (cx - 6 * s * d, cy + 5 * s)], colour)
        c.polygon([(cx, cy - 5 * s), (cx + 6 * s * d, cy), (cx, cy + 5 * s)], colour)
        c.rect(int(cx + 6 * s * d - (1 if d > 0 else 1)), int(cy - 5 * s), int(2 * s), int(10 * s), colour)
    elif name == 'automator':  # a clock
        c.ring(cx, cy, 7 * s, 1.8 * s, colour)
        c.line(cx, cy, cx, cy - 5 * s, 1.6 * s, colour)
        c.line(cx, cy, cx + 3.5 * s, cy + 1.5 * s, 1.6 * s, colour)
    elif name == 'generator':  # a playlist with a plus
        for k in range(3):
            c.rect(int(cx - 7 * s), int(cy - 6 * s + k * 5 * s), int(9 * s), int(2 * s), colour)
        c.rect(int(cx + 3 * s), int(cy + 1 * s), int(2 * s), int(7 * s), colour)
        c.rect(int(cx + 0.5 * s), int(cy + 3.5 * s), int(7 * s), int(2 * s), colour)
    elif name == 'lab':  # a flask
        c.polygon([(cx - 2 * s, cy - 7 * s), (cx + 2 * s, cy - 7 * s), (cx + 2 * s, cy - 2 * s),
                   (cx + 7 * s, cy + 7 * s), (cx - 7 * s, cy + 7 * s), (cx - 2 * s, cy - 2 * s)], colour)
    elif name == 'settings':  # a cog
        import math
        for k in range(8):
            a = k * math.pi / 4
            c.line(cx, cy, cx + 7.5 * s * math.cos(a), cy + 7.5 * s * math.sin(a), 2.6 * s, colour)
        c.circle(cx, cy, 5 * s, colour)
    elif name == 'help':
        c.text(int(cx - 5 * s), int(cy - 7 * s), '?', colour, scale=max(1, int(2 * s)))
    elif name == 'close':
        c.line(cx - 4 * s, cy - 4 * s, cx + 4 * s, cy + 4 * s, 2 * s, colour)
        c.line(cx + 4 * s, cy - 4 * s, cx - 4 * s, cy + 4 * s, 2 * s, colour)
    elif name == 'min':
        c.rect(int(cx - 5 * s), int(cy + 2 * s), int(10 * s), int(2 * s), colour)
    elif name == 'selector':  # three tag dots
        for k, dy in enumerate((-5, 0, 5)):
            c.circle(cx - 5 * s, cy + dy * s, 1.6 * s, colour)
            c.rect(int(cx - 2 * s), int(cy + (dy - 1) * s), int(8 * s), int(2 * s), colour)
    elif name == 'mix':  # a down arrow over a bar
        c.polygon([(cx - 6 * s, cy - 3 * s), (cx + 6 * s, cy - 3 * s), (cx, cy + 4 * s)], colour)
        c.rect(int(cx - 6 * s), int(cy + 5 * s), int(12 * s), int(2 * s), colour)
    elif name == 'back' or name == 'forward':
        d = -1 if name == 'back' else 1
        c.polygon([(cx + 5 * s * d, cy), (cx - 2 * s * d, cy - 7 * s), (cx - 2 * s * d, cy - 3 * s),
                   (cx - 7 * s * d, cy - 3 * s), (cx - 7 * s * d, cy + 3 * s), (cx - 2 * s * d, cy + 3 * s),
                   (cx - 2 * s * d, cy + 7 * s)], colour)


def round_button(name, size, fill, edge, symbol, colour, scale):
    c = Canvas(size, size)
    c.circle(size / 2, size / 2, size / 2 - 0.5, edge)
    c.circle(size / 2, size / 2, size / 2 - 1.8, fill)
    glyph(c, symbol, colour, size / 2, size / 2, scale)
    save(name, c)


def controls():
    for sym in ('play', 'pause', 'next', 'prev'):
        round_button('%s.gif' % sym, 32, hexrgb('f4eee7'), hexrgb('b9ab9c'), sym, INK, 1.0)
        round_button('%s_over.gif' % sym, 32, ACCENT, hexrgb('9c4a1c'), sym, WHITE, 1.0)
    for sym in ('automator', 'generator', 'lab', 'settings', 'help', 'close', 'min'):
        round_button('%s.gif' % sym, 24, CHROME2, hexrgb('5c5048'), sym, hexrgb('e9e1d6'), 0.8)
        round_button('%s_over.gif' % sym, 24, ACCENT, hexrgb('e08a4f'), sym, WHITE, 0.8)
    round_button('automator_on.gif', 24, OLIVE, hexrgb('d6d45a'), 'automator', CHROME, 0.8)
    round_button('automator_bar.gif', 24, CHROME2, OLIVE, 'automator', OLIVE, 0.8)
    for sym in ('selector', 'mix'):
        round_button('%s.gif' % sym, 26, hexrgb('f4eee7'), hexrgb('b9ab9c'), sym, INK, 0.85)
        round_button('%s_over.gif' % sym, 26, hexrgb('fff1e4'), ACCENT2, sym, ACCENT, 0.85)
        round_button('%s_on.gif' % sym, 26, ACCENT, hexrgb('9c4a1c'), sym, WHITE, 0.85)
    for sym in ('back', 'forward'):
        round_button('%s.gif' % sym, 26, hexrgb('f4eee7'), hexrgb('b9ab9c'), sym, INK, 0.85)
        round_button('%s_over.gif' % sym, 26, ACCENT, hexrgb('9c4a1c'), sym, WHITE, 0.85)
        round_button('%s_disabled.gif' % sym, 26, hexrgb('ebe6e0'), hexrgb('d6cec5'), sym,
                     hexrgb('c3b9ae'), 0.85)
    for name, sym, colour in (('automator_mix', 'mix', ACCENT), ('automator_selector', 'selector', MUTED)):
        c = Canvas(14, 14)
        glyph(c, sym, colour, 7, 7, 0.6)
        save('%s.gif' % name, c)
        c = Canvas(14, 14)
        glyph(c, sym, OLIVE, 7, 7, 0.6)
        save('%s_over.gif' % name, c)


def small_icons():
    specs = {
        'dump': ['................', '.....######.....', '..############..', '................',
                 '...##########...', '...#.#.##.#.#...', '...#.#.##.#.#...', '...#.#.##.#.#...',
                 '...#.#.##.#.#...', '...#.#.##.#.#...', '...#.#.##.#.#...', '...##########...',
                 '................', '................', '................', '................'],
        'release': ['................', '.....#..........', '....##..........', '...##########...',
                    '....##.......#..', '.....#........#.', '..............#.', '..............#.',
                    '.............#..', '...##########...', '................', '................',
                    '................', '................', '................', '................'],
        'golab': ['................', '................', '.....##.........', '......##........',
                  '.......##.......', '........##......', '.........##.....', '........##......',
                  '.......##.......', '......##........', '.....##.........', '................',
                  '................', '................', '................', '................'],
        'del': ['................', '................', '...##......##...', '....##....##....',
                '.....##..##.....', '......####......', '.......##.......', '......####......',
                '.....##..##.....', '....##....##....', '...##......##...', '................',
                '................', '................', '................', '................'],
        'search': ['................', '....#####.......', '...##...##......', '..##.....##.....',
                   '..#.......#.....', '..#.......#.....', '..##.....##.....', '...##...###.....',
                   '....#######.....', '.........###....', '..........###...', '...........###..',
                   '............##..', '................', '................', '................'],
    }
    for name, rows in specs.items():
        for suffix, colour in (('', MUTED), ('_over', ACCENT)):
            c = Canvas(16, 16)
            c.ascii(0, 0, rows, {'#': colour})
            save('%s%s.gif' % (name, suffix), c)
    clear = Canvas(14, 14)
    clear.circle(7, 7, 6.5, hexrgb('c9beb2'))
    clear.line(4.5, 4.5, 9.5, 9.5, 1.6, WHITE)
    clear.line(9.5, 4.5, 4.5, 9.5, 1.6, WHITE)
    save('clear.gif', clear)


# ------------------------------------------------------------ text images
def label(name, text, colour, background=None, height=14, pad=6, scale=1):
    w = text_width(text, scale) + 2 * pad
    c = Canvas(max(w, 1), height, background)
    c.text(pad, (height - 7 * scale) // 2, text, colour, scale)
    save(name, c)


def texts():
    captions = {'automator': 'AUTOMATOR', 'generator': 'GENERATOR', 'lab': 'LAB',
                'settings': 'SETTINGS', 'help': 'HELP', 'ButtonMin': 'MINIMIZE', 'ButtonOK': 'CLOSE'}
    for key, text in captions.items():
        c = Canvas(110, 14)
        c.text(2, 4, text, hexrgb('e9e1d6'))
        save('icon_text_%s.gif' % key, c)
    save('icon_text_none.gif', Canvas(110, 14))
    days = [('alldays', 'ALL DAYS'), ('weekday', 'WEEKDAYS'), ('weekend', 'WEEKEND'),
            ('monday', 'MON'), ('tuesday', 'TUE'), ('wednesday', 'WED'), ('thursday', 'THU'),
            ('friday', 'FRI'), ('saturday', 'SAT'), ('sunday', 'SUN')]
    for name, text in days:
        w = text_width(text) + 16
        for suffix, top, bottom, colour in (('', hexrgb('faf6f1'), hexrgb('e6ddd2'), INK),
                                            ('_selected', ACCENT2, ACCENT, WHITE)):
            c = Canvas(w, 22)
            c.round_rect(0, 0, w, 22, 5, hexrgb('b9ab9c') if not suffix else hexrgb('9c4a1c'))
            grad = Canvas(w, 22)
            grad.vgradient(0, 0, w, 22, top, bottom)
            inner = Canvas(w, 22)
            inner.round_rect(1, 1, w - 2, 20, 4, WHITE)
            for y in range(22):
                for x in range(w):
                    if inner.px[y][x] is not None:
                        c.px[y][x] = grad.px[y][x]
            c.text(8, 8, text, colour)
            save('%s%s.gif' % (name, suffix), c)


def main():
    os.makedirs(OUT, exist_ok=True)
    wallpapers()
    icons()
    digits()
    buttons()
    tag_caps()
    logos()
    panels()
    controls()
    small_icons()
    texts()


if __name__ == '__main__':
    main()
