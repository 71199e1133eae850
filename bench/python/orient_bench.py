"""Speed of the Python module: COUNT orientations of 64 points (a grid of 8 x 8 on a planar
target, a pinhole camera, image noise of up to 0.3 px) from a Python loop, pinned to one core,
beside the same orientations in one C++ loop (zelv_orient_loop): the difference per call is what
the module adds (arguments, arrays, the result object). The target: 10 000 orientations at the
fast level in under 2 s.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/orient_bench.py build/zelv_orient_loop
"""
import argparse
import os
import subprocess
import tempfile
import time

import numpy as np

import zelv


def scene():
    """The camera list and the 64 point pairs: a camera 2000 units above the target (on the
    side of its +Z axis), tilted 25 degrees about x and 10 about y."""
    XY = np.array([[100.0 * i, 100.0 * j] for j in range(8) for i in range(8)])
    a, b = np.radians(180.0 + 25.0), np.radians(10.0)
    rx = np.array([[1, 0, 0], [0, np.cos(a), -np.sin(a)], [0, np.sin(a), np.cos(a)]])
    ry = np.array([[np.cos(b), 0, np.sin(b)], [0, 1, 0], [-np.sin(b), 0, np.cos(b)]])
    R = rx @ ry
    t = np.array([-350.0, 350.0, 2000.0])
    cam = (R @ np.column_stack([XY, np.zeros(len(XY))]).T).T + t
    f, cx, cy = 1000.0, 512.0, 384.0
    xy = np.column_stack([f * cam[:, 0] / cam[:, 2] + cx, f * cam[:, 1] / cam[:, 2] + cy])
    xy += np.random.default_rng(7).uniform(-0.3, 0.3, xy.shape)
    return "1 PINHOLE 1024 768 1000 1000 512 384\n", xy, XY


def per_call(run, count):
    """Seconds of CPU per call, and the wall-clock seconds of all of them (CPU time: a shared
    machine's other work does not count)."""
    run()
    cpu, wall = time.process_time(), time.perf_counter()
    for _ in range(count):
        run()
    return (time.process_time() - cpu) / count, time.perf_counter() - wall


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("loop", help="the zelv_orient_loop program")
    parser.add_argument("--count", type=int, default=10000)
    parser.add_argument("--level", type=int, default=0)
    args = parser.parse_args()
    if hasattr(os, "sched_setaffinity"):
        os.sched_setaffinity(0, {sorted(os.sched_getaffinity(0))[0]})
    camera_text, xy, XY = scene()
    with tempfile.TemporaryDirectory() as folder:
        camera = os.path.join(folder, "cameras.txt")
        image = os.path.join(folder, "image.csv")
        points = os.path.join(folder, "scene.csv")
        with open(camera, "w") as f:
            f.write("# ZELV benchmark camera\n" + camera_text)
        for name, values in ((image, xy), (points, XY)):
            with open(name, "w") as f:
                f.write("".join(f"{p[0]!r}, {p[1]!r}\n" for p in values))

        options = dict(level=args.level, threads=1)
        first = zelv.orient(camera, xy, XY, **options)
        same = zelv.orient(camera, image, points, **options).values.tolist() == first.values.tolist()
        arrays, wall = per_call(lambda: zelv.orient(camera, xy, XY, **options), args.count)
        files, _ = per_call(lambda: zelv.orient(camera, image, points, **options),
                            max(1, args.count // 10))
        loop = subprocess.run([args.loop, camera, image, points, str(args.count), str(args.level)],
                              capture_output=True, text=True, check=True)
        core, core_wall = (float(v) * 1e-6 for v in loop.stdout.split()[:2])
        touched, _ = per_call(lambda: (first.values, first.pose.R, first.residuals.ex),
                              args.count)

    us = 1e6
    print(f"level {first.level_name}, {len(xy)} points, {args.count} orientations, one core")
    print(f"  Python, arrays:       {arrays * us:8.1f} us per call, {arrays * args.count:.2f} s CPU"
          f" ({wall:.2f} s wall) for {args.count}; 10 000 in {arrays * 1e4:.2f} s CPU, target"
          f" under 2 s: {'met' if arrays * 1e4 < 2 else 'NOT met'}")
    print(f"  Python, files:        {files * us:8.1f} us per call (same result as arrays: {same})")
    print(f"  C++ loop over Orient: {core * us:8.1f} us per call ({core_wall * us:.1f} us wall)")
    print(f"  the module adds:      {(arrays - core) * us:8.1f} us per call "
          f"({(arrays - core) / core * 100:.0f} % of the core's time)")
    print(f"  reading values, pose and residuals of a result: {touched * us:.1f} us")


if __name__ == "__main__":
    main()
