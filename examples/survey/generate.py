#!/usr/bin/env python3
"""Generates the bundled survey example from a known camera.

Writes camera.cam, table.txt, image.crd and scene.crd (Windows-1251, CR LF, '.' as the decimal
separator) and truth.json with the camera that made them. Run it from anywhere; it writes next
to itself. The output is deterministic (fixed random seed).

Camera model (scene point (X, Y) relative to the sighting point, scene units; angles a, b, c the
stand angles in radians, L the distance from the projection centre to the sighting point, F the
focal length in pixels):
    D = sin a * X + L - cos a * sin b * Y
    x = F * (cos a * cos c * X + (sin a * sin b * cos c - cos b * sin c) * Y) / D
    y = F * (cos a * sin c * X + (cos b * cos c + sin a * sin b * sin c) * Y) / D
(x, y) are corrected image coordinates in pixels: origin at the image centre, y up. The raw
coordinates in image.crd are what the correction table turns back into (x, y).
"""

import json
import math
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))

# The camera.
IMAGE_WIDTH, IMAGE_HEIGHT = 1600.0, 1200.0
CENTRE_X, CENTRE_Y = 812.4, 587.6  # raw pixels, x right, y down
FOCAL = 1850.0
STAND_DEG = (14.0, -8.0, 6.0)  # a, b, c
DISTANCE = 2400.0
SIGHTING = (5230.0, 3170.0)  # the sighting point in the scene file's frame
NOISE_PX = 1.5
POINT_COUNT = 24
SEED = 20240611

# The correction table: s, then two bands. The first band covers the upper left quarter of the
# image (raw x 0..800, raw y 0..600) and wins there; the second covers the whole image.
S = 1.0005
BANDS = [
    # x1, y1, x2, y2, x coefficients (a, b), y coefficients (c, d)
    (0, 0, 800, 600, ([0.35, 1.0012, -1.5e-7], []), ([0.6, 0.9985, 2e-7], [])),
    (0, 0, 1600, 1200, ([-0.4, 1.0009], [0.5]), ([-0.2, 0.999], [])),
]

CAMERA_COMMENTS = [
    " ; Координата X центра изображения",
    " ; Координата Y центра изображения",
    " ; Таблица коррекции",
    " ; Фокусное расстояние",
    " ; Размер изображения по горизонтали",
    " ; Размер изображения по вертикали",
    " ; Координата X главной точки",
    " ; Координата Y главной точки",
]


def polynomial(coefficients, v):
    positive, negative = coefficients
    total = 0.0
    for k, a in enumerate(positive):
        total = total + a * math.pow(v, k)
    for k, b in enumerate(negative, start=1):
        total = total + b * math.pow(v, -k)
    return total


def derivative(coefficients, v):
    positive, negative = coefficients
    total = 0.0
    for k, a in enumerate(positive):
        if k > 0:
            total += k * a * math.pow(v, k - 1)
    for k, b in enumerate(negative, start=1):
        total += -k * b * math.pow(v, -k - 1)
    return total


def invert(target, axis):
    """The raw coordinate whose band polynomial gives `target` (axis 0: x, 1: y)."""
    for index, band in enumerate(BANDS):
        low, high = (band[0], band[2]) if axis == 0 else (band[1], band[3])
        coefficients = band[4 + axis]
        raw = target
        for _ in range(50):
            raw -= (polynomial(coefficients, raw) - target) / derivative(coefficients, raw)
        if not low <= raw <= high:
            continue
        earlier = BANDS[:index]
        if any((b[0] <= raw <= b[2]) if axis == 0 else (b[1] <= raw <= b[3]) for b in earlier):
            continue  # an earlier band would take this raw value
        return raw
    raise ValueError("no band gives %r" % target)


def project(X, Y):
    a, b, c = (math.radians(v) for v in STAND_DEG)
    D = math.sin(a) * X + DISTANCE - math.cos(a) * math.sin(b) * Y
    x = FOCAL * (math.cos(a) * math.cos(c) * X
                 + (math.sin(a) * math.sin(b) * math.cos(c) - math.cos(b) * math.sin(c)) * Y) / D
    y = FOCAL * (math.cos(a) * math.sin(c) * X
                 + (math.cos(b) * math.cos(c) + math.sin(a) * math.sin(b) * math.sin(c)) * Y) / D
    return x, y


def number(v):
    text = "%.3f" % v
    return text.rstrip("0").rstrip(".") if "." in text else text


def coefficient_text(coefficients):
    return " ".join(repr(c).upper().replace("E-0", "E-") for c in coefficients)


def write_lines(name, lines):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("cp1251"))


def main():
    rng = random.Random(SEED)
    image_lines, scene_lines = [], []
    while len(image_lines) < POINT_COUNT:
        X, Y = rng.uniform(-900, 900), rng.uniform(-700, 700)
        x, y = project(X, Y)
        x += rng.gauss(0, NOISE_PX)
        y += rng.gauss(0, NOISE_PX)
        raw_x = invert(x + CENTRE_X, 0)
        raw_y = invert(CENTRE_Y - S * y, 1)
        if not (20 <= raw_x <= IMAGE_WIDTH - 20 and 20 <= raw_y <= IMAGE_HEIGHT - 20):
            continue
        image_lines.append(number(raw_x) + " ; " + number(raw_y))
        scene_lines.append(number(X + SIGHTING[0]) + " ; " + number(Y + SIGHTING[1]))

    table = [repr(S)]
    for x1, y1, x2, y2, xc, yc in BANDS:
        table.append("%d %d %d %d X %s - %s Y %s - %s ; " % (
            x1, y1, x2, y2, coefficient_text(xc[0]), coefficient_text(xc[1]),
            coefficient_text(yc[0]), coefficient_text(yc[1])))
    table = [line.replace("  ", " ") for line in table]

    values = [number(CENTRE_X), number(CENTRE_Y), "table.txt", number(FOCAL), number(IMAGE_WIDTH),
              number(IMAGE_HEIGHT), number(CENTRE_X), number(CENTRE_Y)]
    write_lines("camera.cam", [v + c for v, c in zip(values, CAMERA_COMMENTS)])
    write_lines("table.txt", table)
    write_lines("image.crd", image_lines)
    write_lines("scene.crd", scene_lines)

    a, b = math.radians(STAND_DEG[0]), math.radians(STAND_DEG[1])
    # The projection centre lies at distance L from the sighting point along the optical axis.
    centre = [SIGHTING[0] - DISTANCE * math.sin(a),
              SIGHTING[1] + DISTANCE * math.cos(a) * math.sin(b),
              DISTANCE * math.cos(a) * math.cos(b)]
    truth = {
        "stand_deg": list(STAND_DEG),
        "L": DISTANCE,
        "F": FOCAL,
        "image_centre": [CENTRE_X, CENTRE_Y],
        "S": list(SIGHTING),
        "PC": centre,
        "noise_px": NOISE_PX,
        "points": POINT_COUNT,
        "seed": SEED,
    }
    with open(os.path.join(HERE, "truth.json"), "w") as f:
        json.dump(truth, f, indent=1)
        f.write("\n")


if __name__ == "__main__":
    main()
