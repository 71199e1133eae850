#!/usr/bin/python3
"""Sets this program's calibration of rendered board sets against mrcal's on the same corners.

A measurement to run by hand, not a test. First write the sets and this program's estimates:

    build/zelv_calibration_measure tests/data /tmp/sets

then, with mrcal installed (Debian `mrcal`, `python3-mrcal`):

    /usr/bin/python3 tests/measure/calibration_vs_mrcal.py /tmp/sets

For every set (SETS/views<N>/trial<K>/corners.vnl) it runs mrcal-calibrate-cameras with the
OpenCV model of five coefficients, as the sets were rendered, and prints the RMS error of fx, cx
and cy over the trials for each program. A set mrcal has calibrated before is not run again.
"""
import math
import os
import subprocess
import sys

import mrcal


def mrcal_intrinsics(folder):
    model = os.path.join(folder, "camera-0.cameramodel")
    if not os.path.exists(model):
        with open(os.path.join(folder, "mrcal.log"), "w") as log:
            subprocess.run(
                ["mrcal-calibrate-cameras", "--corners-cache", "corners.vnl",
                 "--lensmodel", "LENSMODEL_OPENCV5", "--focal", "1000",
                 "--object-spacing", "0.03", "--object-width-n", "10",
                 "--object-height-n", "7", "--imagersize", "1280", "960",
                 "--outdir", ".", "*.png"],
                cwd=folder, stdout=log, stderr=subprocess.STDOUT, check=False)
    if not os.path.exists(model):
        return None
    return mrcal.cameramodel(model).intrinsics()[1]


def main():
    sets = sys.argv[1] if len(sys.argv) > 1 else "/tmp/sets"
    print("views | trials | RMS error ours: fx cx cy | mrcal: fx cx cy | ours / mrcal")
    for views in sorted(os.listdir(sets), key=lambda name: int(name[5:])):
        folder = os.path.join(sets, views)
        ours = [0.0, 0.0, 0.0]
        theirs = [0.0, 0.0, 0.0]
        trials = 0
        for trial in sorted(os.listdir(folder)):
            path = os.path.join(folder, trial)
            with open(os.path.join(path, "zelv.txt")) as text:
                truth, estimate = [[float(v) for v in line.split()] for line in text][:2]
            intrinsics = mrcal_intrinsics(path)
            if intrinsics is None:
                print(f"{views}/{trial}: mrcal did not calibrate (see mrcal.log)")
                continue
            trials += 1
            for k, index in enumerate((0, 2, 3)):
                ours[k] += (estimate[index] - truth[index]) ** 2
                theirs[k] += (intrinsics[index] - truth[index]) ** 2
        if trials == 0:
            continue
        ours = [math.sqrt(v / trials) for v in ours]
        theirs = [math.sqrt(v / trials) for v in theirs]
        ratio = [a / b for a, b in zip(ours, theirs)]
        print(f"{views[5:]:>5} | {trials:6} | {ours[0]:6.3f} {ours[1]:6.3f} {ours[2]:6.3f} | "
              f"{theirs[0]:6.3f} {theirs[1]:6.3f} {theirs[2]:6.3f} | "
              f"{ratio[0]:5.2f} {ratio[1]:5.2f} {ratio[2]:5.2f}", flush=True)


if __name__ == "__main__":
    main()
