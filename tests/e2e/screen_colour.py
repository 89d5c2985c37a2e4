"""Looks for a colour in a region of a screenshot.

ImageMagick crops the region and hands it over as binary PPM, which the
standard library reads directly.

    screen_colour.py FILE R G B X Y WIDTH HEIGHT [TOLERANCE]

exits 0 when a pixel of that colour lies in the region, 1 when none does,
2 on an error; it prints how many pixels matched.
"""
import subprocess
import sys


def read_ppm(data):
    """Returns (width, height, pixel bytes) of a binary 8-bit PPM (P6)."""
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise ValueError("not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:pos + 1 + width * height * 3]
    if len(pixels) != width * height * 3:
        raise ValueError("truncated PPM")
    return width, height, pixels


def count_colour(path, rgb, region, tolerance=0):
    """Number of pixels within tolerance of rgb in region (x, y, width, height)."""
    x, y, width, height = region
    crop = "%dx%d+%d+%d" % (width, height, x, y)
    data = subprocess.run(
        ["convert", path, "-crop", crop, "+repage", "-depth", "8", "ppm:-"],
        check=True, stdout=subprocess.PIPE).stdout
    _, _, pixels = read_ppm(data)
    count = 0
    for i in range(0, len(pixels), 3):
        if all(abs(pixels[i + c] - rgb[c]) <= tolerance for c in range(3)):
            count += 1
    return count


def colour_in_region(path, rgb, region, tolerance=0):
    return count_colour(path, rgb, region, tolerance) > 0


def main(argv):
    if len(argv) not in (9, 10):
        print(__doc__, file=sys.stderr)
        return 2
    try:
        numbers = [int(a) for a in argv[2:]]
        tolerance = numbers[7] if len(numbers) == 8 else 0
        count = count_colour(argv[1], numbers[0:3], numbers[3:7], tolerance)
    except (ValueError, subprocess.CalledProcessError) as error:
        print("screen_colour: %s" % error, file=sys.stderr)
        return 2
    print("%d pixels of rgb(%d,%d,%d)" % (count, *numbers[0:3]))
    return 0 if count > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
