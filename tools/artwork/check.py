#!/usr/bin/env python3
"""Checks the artwork in res/ the way the program will read it.

    python3 tools/artwork/check.py [RES_DIR]

Every skin must be a plain BMP (14-byte file header, 40-byte info header, pixels at offset 54,
24 bits, BI_RGB, bottom-up, rows padded to four bytes) of its exact size; the title bar's
buttons and the user menu's gaps must keep to their click areas; every icon must be a PNG of
its size with alpha; res.qrc must name existing files under the aliases the program asks for;
the SVG and the help page must stand alone. Standard library only.
"""

import html.parser
import os
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zlib

SKINS = {
    "skin/kivvo_skin_title.bmp": (225, 20),
    "skin/kivvo_skin_usermenu.bmp": (150, 20),
    "skin/kivvo_skin_mainmenu.bmp": (224, 24),
    "skin/kivvo_skin_side.bmp": (40, 170),
}

# qrc alias under /icons -> (file, size)
ICONS = {
    "SMALLICON": ("icons/smallicon.png", (16, 16)),
    "KIVVOICON": ("icons/kivvoicon.png", (32, 32)),
    "CHATWNDICON": ("icons/chat.png", (16, 16)),
    "CONTACT": ("icons/contact.png", (16, 16)),
    "NOCONTACTS": ("icons/nocontacts.png", (16, 16)),
    "SMALLCRYPTO": ("icons/crypto.png", (16, 16)),
    "MICROPHONE": ("icons/microphone.png", (32, 32)),
    "FONTSTYLE": ("icons/fontstyle.png", (16, 16)),
    "FONTCOLOR": ("icons/fontcolor.png", (16, 16)),
    "MENUSIZE": ("icons/menusize.png", (16, 24)),
}

APP_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

# Inclusive x ranges of the user menu's buttons; everything between them must stay plain.
USER_BUTTONS = ((6, 33), (36, 60), (63, 83), (86, 115), (119, 144))
# The title bar's click areas, inclusive: (x0, x1, y0, y1).
TITLE_BUTTONS = ((196, 209, 6, 14), (211, 221, 6, 14))
MENU_WIDTHS = (37, 30, 21, 39, 28)

failures = []


def fail(message):
    failures.append(message)
    print("FAIL", message)


def read_bmp(path, size):
    """Checks the headers; returns rows top-down as lists of (r, g, b), or None."""
    with open(path, "rb") as handle:
        data = handle.read()
    name = os.path.basename(path)
    if len(data) < 54 or data[:2] != b"BM":
        fail(f"{name}: not a BMP")
        return None
    file_size, reserved1, reserved2, offset = struct.unpack_from("<IHHI", data, 2)
    (header_size, width, height, planes, bpp, compression, image_size) = struct.unpack_from(
        "<IiiHHII", data, 14)
    row_bytes = (width * 3 + 3) & ~3
    expected = {
        "file size field": (file_size, len(data)),
        "reserved": ((reserved1, reserved2), (0, 0)),
        "pixel offset": (offset, 54),
        "info header size": (header_size, 40),
        "width": (width, size[0]),
        "height (positive: bottom-up)": (height, size[1]),
        "planes": (planes, 1),
        "bits per pixel": (bpp, 24),
        "compression": (compression, 0),
        "file length": (len(data), 54 + row_bytes * abs(height)),
    }
    ok = True
    for field, (got, want) in expected.items():
        if got != want:
            fail(f"{name}: {field} is {got}, expected {want}")
            ok = False
    if image_size not in (0, row_bytes * abs(height)):
        fail(f"{name}: image size field {image_size}")
        ok = False
    if not ok:
        return None
    rows = []
    for y in range(height):
        start = 54 + (height - 1 - y) * row_bytes
        row = data[start:start + row_bytes]
        if any(row[width * 3:]):
            fail(f"{name}: row {y} has non-zero padding")
        rows.append([(row[3 * x + 2], row[3 * x + 1], row[3 * x]) for x in range(width)])
    print(f"ok   {name}: {width}x{height}, 24-bit BI_RGB, bottom-up, {len(data)} bytes")
    return rows


def read_png_header(path):
    with open(path, "rb") as handle:
        data = handle.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    width, height, depth, colour_type = struct.unpack_from(">IIBB", data, 16)
    # Walk the chunks so a truncated file is caught, and check each CRC.
    position = 8
    while position < len(data):
        length, kind = struct.unpack_from(">I4s", data, position)
        body = data[position + 8:position + 8 + length]
        (crc,) = struct.unpack_from(">I", data, position + 8 + length)
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            return None
        position += 12 + length
        if kind == b"IEND":
            break
    else:
        return None
    return width, height, depth, colour_type


def check_png(path, size, label):
    if not os.path.isfile(path):
        fail(f"{label}: {path} is missing")
        return
    header = read_png_header(path)
    if header is None:
        fail(f"{label}: {path} is not a valid PNG")
        return
    width, height, depth, colour_type = header
    if (width, height) != size:
        fail(f"{label}: {width}x{height}, expected {size[0]}x{size[1]}")
    elif colour_type not in (4, 6):
        fail(f"{label}: PNG colour type {colour_type} has no alpha channel")
    else:
        print(f"ok   {label}: {width}x{height} PNG with alpha")


def check_title(rows):
    # Outside the two click areas, the right end must be the bar's plain gradient, taken from
    # column 190 of the same row (x = 210 included: it belongs to the draggable area).
    for y, row in enumerate(rows):
        for x in range(192, 225):
            inside = any(x0 <= x <= x1 and y0 <= y <= y1 for x0, x1, y0, y1 in TITLE_BUTTONS)
            if not inside and row[x] != row[190]:
                fail(f"title: pixel ({x},{y}) outside the button areas is drawn on")
                return
    for x0, x1, y0, y1 in TITLE_BUTTONS:
        if all(rows[y][x] == rows[y][190] for y in range(y0, y1 + 1) for x in range(x0, x1 + 1)):
            fail(f"title: nothing drawn in the button area x {x0}..{x1}")
    print("ok   title: minimise and close glyphs stay inside their click areas")


def check_user_menu(rows):
    inside = set()
    for x0, x1 in USER_BUTTONS:
        inside.update(range(x0, x1 + 1))
    for y, row in enumerate(rows):
        for x, pixel in enumerate(row):
            if x not in inside and pixel != (255, 255, 255):
                fail(f"user menu: gap pixel ({x},{y}) is {pixel}, expected white")
                return
    print("ok   user menu: the gaps between the five buttons are plain")


def check_main_menu(rows):
    # No ink (a dark pixel) in the first or last column of an item: each label keeps at least
    # one pixel of room on either side.
    x = 0
    for width in MENU_WIDTHS:
        for column in (x, x + width - 1):
            for y, row in enumerate(rows):
                if sum(row[column]) < 3 * 160:
                    fail(f"main menu: ink at ({column},{y}), on the edge of an item")
                    return
        x += width
    print("ok   main menu: every label keeps clear of its item's edges")


class HelpParser(html.parser.HTMLParser):
    VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta",
            "source", "track", "wbr"}

    def __init__(self):
        super().__init__()
        self.stack = []
        self.problems = []
        self.ids = set()
        self.links = []
        self.seen_doctype = False

    def handle_decl(self, decl):
        if decl.lower() == "doctype html":
            self.seen_doctype = True

    def handle_starttag(self, tag, attrs):
        attributes = dict(attrs)
        if tag in ("script", "iframe", "object", "embed", "img", "link"):
            self.problems.append(f"<{tag}> is not allowed")
        for name, value in attrs:
            if name.startswith("on"):
                self.problems.append(f"event handler {name}")
            if name in ("src", "href") and value and not value.startswith("#"):
                self.problems.append(f"external reference {name}={value}")
        if "id" in attributes:
            if attributes["id"] in self.ids:
                self.problems.append(f"duplicate id {attributes['id']}")
            self.ids.add(attributes["id"])
        if tag == "a" and attributes.get("href", "").startswith("#"):
            self.links.append(attributes["href"][1:])
        if tag not in self.VOID:
            self.stack.append(tag)

    def handle_endtag(self, tag):
        if tag in self.VOID:
            return
        # <p> and <li> may be left open in HTML; the page closes them anyway, so demand it.
        if not self.stack or self.stack[-1] != tag:
            self.problems.append(f"</{tag}> does not close <{self.stack[-1] if self.stack else ''}>")
            return
        self.stack.pop()


def check_help(path):
    if not os.path.isfile(path):
        fail(f"help: {path} is missing")
        return
    with open(path, encoding="utf-8") as handle:
        text = handle.read()
    parser = HelpParser()
    parser.feed(text)
    parser.close()
    problems = list(parser.problems)
    if not parser.seen_doctype:
        problems.append("no <!DOCTYPE html>")
    if parser.stack:
        problems.append(f"unclosed elements {parser.stack}")
    for target in parser.links:
        if target not in parser.ids:
            problems.append(f"link to missing #{target}")
    # url(#id) points into the page itself (the inline SVG's gradient); anything else is a
    # fetch.
    if re.search(r"url\(\s*['\"]?(?!#)", text):
        problems.append("CSS url() reference")
    for problem in problems:
        fail(f"help: {problem}")
    if not problems:
        print(f"ok   help: well-formed, self-contained, {len(parser.ids)} anchors, "
              f"{len(parser.links)} internal links")


def check_svg(path):
    try:
        tree = ElementTree.parse(path)
    except ElementTree.ParseError as error:
        fail(f"svg: {error}")
        return
    for element in tree.iter():
        for name, value in element.attrib.items():
            if name.endswith("href") and not value.startswith("#"):
                fail(f"svg: external reference {value}")
                return
            if "url(" in value and not value.startswith("url(#"):
                fail(f"svg: external reference {value}")
                return
    print("ok   svg: well-formed, no external references")


def check_qrc(res):
    tree = ElementTree.parse(os.path.join(res, "res.qrc"))
    aliases = {}
    for resource in tree.getroot().iter("qresource"):
        prefix = resource.get("prefix", "/")
        for entry in resource.iter("file"):
            name = entry.get("alias") or entry.text
            aliases[f"{prefix.rstrip('/')}/{name}"] = entry.text
            if not os.path.isfile(os.path.join(res, entry.text)):
                fail(f"res.qrc: {entry.text} does not exist")
    wanted = {f"/icons/{alias}": file for alias, (file, _) in ICONS.items()}
    wanted.update({"/skin/" + os.path.basename(path): path for path in SKINS})
    wanted["/help/kivvo_help.html"] = "help/kivvo_help.html"
    for alias, file in wanted.items():
        if aliases.get(alias) != file:
            fail(f"res.qrc: {alias} should name {file}, names {aliases.get(alias)}")
    print(f"ok   res.qrc: {len(aliases)} entries, every file present")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    res = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "res")
    skins = {}
    for path, size in SKINS.items():
        full = os.path.join(res, path)
        if not os.path.isfile(full):
            fail(f"{path} is missing")
            continue
        skins[path] = read_bmp(full, size)
    if skins.get("skin/kivvo_skin_title.bmp"):
        check_title(skins["skin/kivvo_skin_title.bmp"])
    if skins.get("skin/kivvo_skin_usermenu.bmp"):
        check_user_menu(skins["skin/kivvo_skin_usermenu.bmp"])
    if skins.get("skin/kivvo_skin_mainmenu.bmp"):
        check_main_menu(skins["skin/kivvo_skin_mainmenu.bmp"])
    for alias, (path, size) in ICONS.items():
        check_png(os.path.join(res, path), size, alias)
    for size in APP_SIZES:
        check_png(os.path.join(res, "app", "hicolor", str(size), "kivvo.png"), (size, size),
                  f"app icon {size}")
    check_svg(os.path.join(res, "app", "kivvo.svg"))
    check_help(os.path.join(res, "help", "kivvo_help.html"))
    check_qrc(res)
    if failures:
        print(f"{len(failures)} problem(s)")
        return 1
    print("all artwork checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
