#!/usr/bin/python3
"""Draws Pixorta's own pictures: the program icon in the sizes a desktop asks for, the eight task
icons, the two rotate icons, the two cursors, the completion dialog's two icons and the banner.
The PNG files are committed; run this again only to change the artwork:

    /usr/bin/python3 resources/draw_resources.py      (needs python3-pil and fonts-dejavu-core)

Everything is drawn eight times larger and scaled down, which smooths the edges."""
import math
import os

from PIL import Image, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 8  # supersampling factor
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

BLUE = (38, 104, 196, 255)
DARK_BLUE = (22, 60, 120, 255)
TEAL = (24, 160, 160, 255)
ORANGE = (240, 140, 30, 255)
GREEN = (60, 160, 70, 255)
WHITE = (255, 255, 255, 255)
BLACK = (0, 0, 0, 255)
GREY = (110, 110, 110, 255)


def canvas(size):
    return Image.new("RGBA", (size * SS, size * SS), (0, 0, 0, 0))


def finish(img, size):
    return img.resize((size, size), Image.LANCZOS)


def save(img, *parts):
    path = os.path.join(HERE, *parts)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    img.save(path, optimize=True)


def s(v):
    """Design units (of a 16-, 20- or 32-unit grid) to supersampled pixels."""
    return int(round(v * SS))


def arc_arrow(d, box, start, end, width, colour):
    """A clockwise arc from start to end degrees (PIL angles: clockwise from 3 o'clock) with an
    arrow head at its end; mirror the picture for a counter-clockwise arrow."""
    cx = (box[0] + box[2]) / 2
    cy = (box[1] + box[3]) / 2
    r = (box[2] - box[0]) / 2 - width / 2
    head = width * 2.0
    # The arc stops short of the tip so that the head covers its end.
    stop = end - math.degrees(head * 0.8 / r)
    d.arc(box, start, stop, fill=colour, width=width)
    a = math.radians(end)
    tx, ty = cx + r * math.cos(a), cy + r * math.sin(a)
    direction = a + math.pi / 2
    ux, uy = math.cos(direction), math.sin(direction)
    nx, ny = -uy, ux
    bx, by = tx - head * 1.2 * ux, ty - head * 1.2 * uy
    d.polygon([(tx, ty), (bx + nx * head, by + ny * head), (bx - nx * head, by - ny * head)],
              fill=colour)


def photo(d, box, outline):
    """A small landscape photograph: sky, sun, hills, white border."""
    x0, y0, x1, y1 = box
    w, h = x1 - x0, y1 - y0
    border = max(1, int(w * 0.07))
    d.rectangle(box, fill=WHITE, outline=outline, width=max(1, border // 2))
    ix0, iy0, ix1, iy1 = x0 + border, y0 + border, x1 - border, y1 - border
    d.rectangle((ix0, iy0, ix1, iy1), fill=(150, 200, 250, 255))
    sun = w * 0.12
    d.ellipse((ix1 - sun * 2.6, iy0 + sun * 0.6, ix1 - sun * 0.6, iy0 + sun * 2.6), fill=ORANGE)
    iw, ih = ix1 - ix0, iy1 - iy0
    d.polygon([(ix0, iy1), (ix0 + iw * 0.38, iy0 + ih * 0.35), (ix0 + iw * 0.7, iy1)],
              fill=GREEN)
    d.polygon([(ix0 + iw * 0.45, iy1), (ix0 + iw * 0.75, iy0 + ih * 0.55), (ix1, iy0 + ih * 0.8),
               (ix1, iy1)], fill=(40, 120, 50, 255))


def program_icon(size):
    img = canvas(256)
    d = ImageDraw.Draw(img)
    # A rounded tile with a top-to-bottom gradient.
    tile = Image.new("RGBA", img.size, (0, 0, 0, 0))
    td = ImageDraw.Draw(tile)
    for y in range(img.size[1]):
        t = y / img.size[1]
        c = tuple(int(BLUE[i] * (1 - t) + TEAL[i] * t) for i in range(3)) + (255,)
        td.line([(0, y), (img.size[0], y)], fill=c)
    mask = Image.new("L", img.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle((s(8), s(8), s(248), s(248)), radius=s(48), fill=255)
    img.paste(tile, (0, 0), mask)
    # Three photographs fanned out: the batch.
    for angle, dx, dy in ((14, 18, -6), (-8, -14, 4), (0, 0, 12)):
        layer = canvas(256)
        ld = ImageDraw.Draw(layer)
        photo(ld, (s(58 + dx), s(62 + dy), s(198 + dx), s(170 + dy)), GREY)
        layer = layer.rotate(angle, resample=Image.BICUBIC, center=(s(128), s(128)))
        img.alpha_composite(layer)
    # The arrow of processing.
    d.polygon([(s(92), s(200)), (s(164), s(200)), (s(164), s(186)), (s(196), s(212)),
               (s(164), s(238)), (s(164), s(224)), (s(92), s(224))], fill=WHITE)
    return img.resize((size, size), Image.LANCZOS)


def task_resize():
    img = canvas(20)
    d = ImageDraw.Draw(img)
    d.rectangle((s(1), s(1), s(18.5), s(18.5)), outline=GREY, width=s(1))
    d.rectangle((s(2), s(9), s(11), s(18)), fill=BLUE)
    d.line((s(8), s(12), s(16.5), s(3.5)), fill=DARK_BLUE, width=s(2))
    d.polygon([(s(18), s(2)), (s(11), s(3)), (s(17), s(9))], fill=DARK_BLUE)
    return finish(img, 20)


def task_background():
    img = canvas(20)
    d = ImageDraw.Draw(img)
    d.rectangle((s(1), s(2), s(19), s(18)), fill=ORANGE, outline=(160, 80, 0, 255), width=s(1))
    photo(d, (s(5), s(6), s(15), s(14)), DARK_BLUE)
    return finish(img, 20)


def task_text():
    img = canvas(20)
    d = ImageDraw.Draw(img)
    d.rectangle((s(1), s(1), s(19), s(19)), fill=(250, 250, 250, 255), outline=GREY, width=s(1))
    font = ImageFont.truetype(FONT_BOLD, s(17))
    d.text((s(10), s(10.5)), "A", font=font, fill=DARK_BLUE, anchor="mm")
    return finish(img, 20)


def task_colours():
    img = canvas(20)
    for colour, (x, y) in (((230, 40, 40, 200), (7, 7)), ((40, 180, 40, 200), (13, 7)),
                           ((40, 80, 230, 200), (10, 12.5))):
        layer = canvas(20)
        ImageDraw.Draw(layer).ellipse((s(x - 5.5), s(y - 5.5), s(x + 5.5), s(y + 5.5)),
                                      fill=colour)
        img.alpha_composite(layer)
    return finish(img, 20)


def task_slideshow():
    img = canvas(20)
    d = ImageDraw.Draw(img)
    d.rectangle((s(1), s(3), s(19), s(17)), fill=(40, 40, 40, 255))
    for x in range(2, 19, 3):
        d.rectangle((s(x), s(4), s(x + 1.5), s(5.5)), fill=WHITE)
        d.rectangle((s(x), s(14.5), s(x + 1.5), s(16)), fill=WHITE)
    d.rectangle((s(3), s(7), s(9), s(13)), fill=(150, 200, 250, 255))
    d.rectangle((s(11), s(7), s(17), s(13)), fill=ORANGE)
    return finish(img, 20)


def task_crop():
    """A photograph between the two corner marks of a crop."""
    img = canvas(20)
    d = ImageDraw.Draw(img)
    photo(d, (s(5), s(5), s(15), s(15)), GREY)
    w = s(1.6)
    d.line((s(5), s(1), s(5), s(15)), fill=DARK_BLUE, width=w)
    d.line((s(5), s(15), s(19), s(15)), fill=DARK_BLUE, width=w)
    d.line((s(1), s(5), s(15), s(5)), fill=DARK_BLUE, width=w)
    d.line((s(15), s(5), s(15), s(19)), fill=DARK_BLUE, width=w)
    return finish(img, 20)


def task_sharpen():
    """A disc, soft on the left and sharp on the right."""
    img = canvas(20)
    d = ImageDraw.Draw(img)
    d.rectangle((s(1), s(1), s(19), s(19)), fill=(250, 250, 250, 255), outline=GREY, width=s(1))
    disc = (s(4), s(4), s(16), s(16))
    soft = canvas(20)
    ImageDraw.Draw(soft).ellipse(disc, fill=BLUE)
    soft = soft.filter(ImageFilter.GaussianBlur(s(1.2)))
    img.alpha_composite(soft.crop((0, 0, s(10), s(20))), (0, 0))
    sharp = canvas(20)
    ImageDraw.Draw(sharp).ellipse(disc, fill=DARK_BLUE)
    img.alpha_composite(sharp.crop((s(10), 0, s(20), s(20))), (s(10), 0))
    d = ImageDraw.Draw(img)
    d.line((s(10), s(3), s(10), s(17)), fill=WHITE, width=s(0.8))
    return finish(img, 20)


def task_watermark():
    """A photograph with a translucent drop laid over its corner."""
    img = canvas(20)
    d = ImageDraw.Draw(img)
    photo(d, (s(1), s(2), s(19), s(18)), GREY)
    # The drop's outline first, a little larger, then the drop itself, both half see-through.
    for grow, colour in ((1.0, (255, 255, 255, 230)), (0.0, (22, 60, 120, 150))):
        drop = canvas(20)
        dd = ImageDraw.Draw(drop)
        dd.ellipse((s(8.6 - grow), s(9.6 - grow), s(17.4 + grow), s(18.4 + grow)), fill=colour)
        dd.polygon([(s(13), s(2.4 - grow * 1.4)), (s(8.9 - grow), s(12.6)), (s(17.1 + grow), s(12.6))],
                   fill=colour)
        img.alpha_composite(drop)
    return finish(img, 20)


def rotate_icon(clockwise):
    img = canvas(16)
    d = ImageDraw.Draw(img)
    d.rectangle((s(5), s(7), s(11), s(13)), fill=(150, 200, 250, 255), outline=GREY, width=s(1))
    arc_arrow(d, (s(1), s(2), s(15), s(16)), 190, 345, s(1.5), DARK_BLUE)
    img = finish(img, 16)
    return img if clockwise else img.transpose(Image.FLIP_LEFT_RIGHT)


def pointer(d):
    """The usual arrow pointer with its tip at (0, 0) of a 32-unit grid."""
    outline = [(1, 1), (1, 18), (5.5, 14), (8.5, 21), (11, 20), (8, 13), (14, 13)]
    d.polygon([(s(x), s(y)) for x, y in outline], fill=WHITE, outline=BLACK, width=s(1))


def refresh_cursor():
    img = canvas(32)
    d = ImageDraw.Draw(img)
    pointer(d)
    d.ellipse((s(14), s(14), s(31), s(31)), fill=WHITE)
    arc_arrow(d, (s(16), s(16), s(29), s(29)), 240, 520, s(2), (0, 0, 200, 255))
    return finish(img, 32)


def preview_cursor():
    img = canvas(32)
    d = ImageDraw.Draw(img)
    d.line((s(17), s(17), s(29), s(29)), fill=BLACK, width=s(5))
    d.line((s(18), s(18), s(28), s(28)), fill=(120, 80, 40, 255), width=s(3))
    d.ellipse((s(1), s(1), s(21), s(21)), fill=(220, 235, 255, 200), outline=BLACK, width=s(2))
    d.line((s(11), s(6), s(11), s(16)), fill=BLACK, width=s(2))
    d.line((s(6), s(11), s(16), s(11)), fill=BLACK, width=s(2))
    return finish(img, 32)


def list_clear_icon():
    img = canvas(16)
    d = ImageDraw.Draw(img)
    for y in (3, 7, 11):
        d.rectangle((s(1), s(y), s(3), s(y + 2)), fill=GREY)
        d.rectangle((s(5), s(y + 0.5), s(10), s(y + 1.5)), fill=GREY)
    d.line((s(9), s(8), s(15), s(14)), fill=(200, 30, 30, 255), width=s(2))
    d.line((s(15), s(8), s(9), s(14)), fill=(200, 30, 30, 255), width=s(2))
    return finish(img, 16)


def tasks_reset_icon():
    img = canvas(16)
    d = ImageDraw.Draw(img)
    arc_arrow(d, (s(1.5), s(1.5), s(14.5), s(14.5)), 300, 600, s(2), GREEN)
    return finish(img, 16).transpose(Image.FLIP_LEFT_RIGHT)


def banner():
    width, height = 900, 58
    img = Image.new("RGB", (width, height), (255, 255, 255))
    icon = program_icon(48)
    title_font = ImageFont.truetype(FONT_BOLD, 30)
    title_width = title_font.getlength("Pixorta")
    left = int((width - (48 + 12 + title_width)) / 2)
    img.paste(icon, (left, 5), icon)
    d = ImageDraw.Draw(img)
    d.text((left + 60, 6), "Pixorta", font=title_font, fill=DARK_BLUE[:3])
    d.text((left + 62, 40), "many pictures, one click", font=ImageFont.truetype(FONT, 11),
           fill=(90, 90, 90))
    return img


def main():
    for size in (16, 32, 48, 64, 128, 256):
        save(program_icon(size), "icons", "pixorta-%d.png" % size)
    save(task_resize(), "icons", "task-resize.png")
    save(task_background(), "icons", "task-background.png")
    save(task_text(), "icons", "task-text.png")
    save(task_colours(), "icons", "task-colors.png")
    save(task_slideshow(), "icons", "task-slideshow.png")
    save(task_crop(), "icons", "task-crop.png")
    save(task_sharpen(), "icons", "task-sharpen.png")
    save(task_watermark(), "icons", "task-watermark.png")
    save(rotate_icon(False), "icons", "rotate-left.png")
    save(rotate_icon(True), "icons", "rotate-right.png")
    save(list_clear_icon(), "icons", "list-clear.png")
    save(tasks_reset_icon(), "icons", "tasks-reset.png")
    save(refresh_cursor(), "cursors", "refresh.png")
    save(preview_cursor(), "cursors", "preview.png")
    save(banner(), "images_internal", "topbanner.png")


if __name__ == "__main__":
    main()
