"""OpenCV's findCirclesGrid on the plain-grid images of bench/TargetAccuracy
(written with --out DIR), scored against the same truth as our detector, and
both detectors' centre error and time side by side. One thread.

    python3 bench/peers/opencv_circles.py DIR
"""

import json
import math
import os
import sys
import time

import cv2
import numpy as np


def orderings(width, height):
    """Node of the k-th centre for each reading of a symmetric grid OpenCV may return."""
    def node(k, flip):
        x, y = k % width, k // width
        return (width - 1 - x, height - 1 - y) if flip else (x, y)
    return [lambda k, f=f: node(k, f) for f in (False, True)]


def score(centres, truth, width, height):
    marks = {tuple(m["node"]): m["image"] for m in truth["marks"]}
    best = None
    for order in orderings(width, height):
        errors = []
        for k, c in enumerate(centres.reshape(-1, 2)):
            t = marks.get(order(k))
            if t is not None:
                errors.append(math.hypot(c[0] - t[0], c[1] - t[1]))
        if errors and (best is None or np.mean(errors) < np.mean(best)):
            best = errors
    e = np.array(best)
    return math.sqrt(float(np.mean(e * e))), float(e.max()), len(e)


def main():
    folder = sys.argv[1]
    cv2.setNumThreads(1)
    with open(os.path.join(folder, "ours.json")) as f:
        ours = json.load(f)
    print("OpenCV %s findCirclesGrid (symmetric grid, default blob detector), one thread, best of 5" % cv2.__version__)
    print("%-18s %22s %22s %22s %9s %9s" % ("scene", "ours mode 2 rms/max", "ours mode 0 rms/max",
                                           "OpenCV rms/max", "ours ms", "OpenCV ms"))
    ratios_error, ratios_time = [], []
    for entry in ours:
        image = cv2.imread(os.path.join(folder, entry["image"]), cv2.IMREAD_GRAYSCALE)
        with open(os.path.join(folder, entry["image"].replace(".png", ".json"))) as f:
            truth = json.load(f)
        size = (truth["width"], truth["height"])
        seconds, found, centres = 1e9, False, None
        for _ in range(5):
            start = time.perf_counter()
            found, centres = cv2.findCirclesGrid(image, size, flags=cv2.CALIB_CB_SYMMETRIC_GRID)
            seconds = min(seconds, time.perf_counter() - start)
        if found:
            rms, worst, n = score(centres, truth, *size)
            theirs = "%8.4f / %8.4f" % (rms, worst)
            ratios_error.append(entry["rms"] / rms)
        else:
            theirs = "%19s" % "not found"
        ratios_time.append(entry["seconds"] / seconds)
        print("%-18s %10.4f / %8.4f %10.4f / %8.4f %22s %9.1f %9.1f" % (
            entry["scene"], entry["rms"], entry["max"], entry["mode0_rms"], entry["mode0_max"], theirs,
            1e3 * entry["seconds"], 1e3 * seconds))
    if ratios_error:
        print("ours / OpenCV: centre error RMS %.2f (mean over the images OpenCV found)" % np.mean(ratios_error))
    print("ours / OpenCV: time %.2f (mean)" % np.mean(ratios_time))


if __name__ == "__main__":
    main()
