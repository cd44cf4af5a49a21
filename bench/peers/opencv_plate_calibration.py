"""OpenCV's calibrateCamera on findCirclesGrid centres of our plate images.

Usage: opencv_plate_calibration.py OURS_DIR TRUE_SETUP [SAME_DIR OURS_SAME_DIR [RUNS_FILE]]
       opencv_plate_calibration.py --summary RUNS_FILE
OURS_DIR: the output of `tarvelin calibrate --target plate --plain-copies`
(images/ with plate.xml and plain/plate_viewK_camera0.png, report.json); TRUE_SETUP: the rig's
hardware-setup file (the true camera). Prints f and principal-point errors
of both against the truth.

With SAME_DIR the views whose grid OpenCV found are linked into SAME_DIR
(plate.xml and their plate_viewK_camera0.png, the rest left out) and the
script stops; the caller runs `tarvelin calibrate --images SAME_DIR` into
OURS_SAME_DIR and calls again with both, which adds the row of ours on the
same views (scored from OURS_SAME_DIR/setup.tarvelinsetup). With RUNS_FILE
the run's errors are appended to it as one JSON line; --summary prints the
RMS of the errors over the runs of such a file (several noise seeds or
view counts) and the ratio ours/OpenCV on the same views.
"""
import os
import glob
import json
import sys
import time
import xml.etree.ElementTree as ET

import numpy as np


def summary(path):
    runs = [json.loads(line) for line in open(path) if line.strip()]
    by_views = {}
    for r in runs:
        by_views.setdefault(r["views"], []).append(r)
    print("| views | runs | OpenCV found (mean) | f error % ours (all) / ours (same) / OpenCV "
          "| principal point px ours (all) / ours (same) / OpenCV | ratio same/OpenCV f, pp |")
    print("|---|---|---|---|---|---|")
    for views, rs in sorted(by_views.items()):
        def rms(key):
            return float(np.sqrt(np.mean([r[key] ** 2 for r in rs])))
        print(f"| {views} | {len(rs)} | {np.mean([r['found'] for r in rs]):.1f} "
              f"| {rms('ours_f'):.4f} / {rms('same_f'):.4f} / {rms('cv_f'):.4f} "
              f"| {rms('ours_pp'):.3f} / {rms('same_pp'):.3f} / {rms('cv_pp'):.3f} "
              f"| {rms('same_f') / rms('cv_f'):.2f}, {rms('same_pp') / rms('cv_pp'):.2f} |")
    for r in runs:
        print(f"  views {r['views']} seed {r['seed']}: OpenCV found {r['found']}; pp ours(same) "
              f"{r['same_pp']:.3f} (cx {r['same_cx']:+.3f}, cy {r['same_cy']:+.3f}), OpenCV {r['cv_pp']:.3f} "
              f"(cx {r['cv_cx']:+.3f}, cy {r['cv_cy']:+.3f})")


if sys.argv[1] == "--summary":
    summary(sys.argv[2])
    sys.exit(0)

import cv2  # noqa: E402

ours_dir, setup_path = sys.argv[1], sys.argv[2]
same_dir = sys.argv[3] if len(sys.argv) > 3 else None
ours_same_dir = sys.argv[4] if len(sys.argv) > 4 else None
runs_file = sys.argv[5] if len(sys.argv) > 5 else None


def camera0(path):
    intr = ET.parse(path).getroot().find("cameras/camera/cameraModel/intrinsics")
    return tuple(float(intr.get(k)) for k in ("f", "cx", "cy"))


true_f, true_cx, true_cy = camera0(setup_path)
grid = ET.parse(f"{ours_dir}/images/plate.xml").getroot().find("grid")
nx, ny, spacing = int(grid.get("countX")), int(grid.get("countY")), float(grid.get("spacing"))

objp = np.zeros((nx * ny, 3), np.float32)
objp[:, :2] = np.mgrid[0:nx, 0:ny].T.reshape(-1, 2) * spacing
object_points, image_points, size, found, found_names = [], [], None, 0, []
files = sorted(glob.glob(f"{ours_dir}/images/plain/plate_view*_camera0.png"))
start = time.perf_counter()
for f in files:
    image = cv2.imread(f, cv2.IMREAD_GRAYSCALE)
    size = image.shape[::-1]
    ok, centres = cv2.findCirclesGrid(image, (nx, ny), flags=cv2.CALIB_CB_SYMMETRIC_GRID)
    if ok:
        found += 1
        found_names.append(os.path.basename(f))
        object_points.append(objp)
        image_points.append(centres)
detect_s = time.perf_counter() - start
if found < 3:
    print(f"OpenCV found the grid in {found} of {len(files)} images: too few to calibrate")
    sys.exit(1)
if same_dir and not ours_same_dir:
    os.makedirs(same_dir, exist_ok=True)
    for name in ["plate.xml"] + found_names:
        os.symlink(os.path.abspath(f"{ours_dir}/images/{name}"), f"{same_dir}/{name}")
    print(f"OpenCV found {found} of {len(files)}: " + " ".join(found_names))
    sys.exit(0)
start = time.perf_counter()
rms, K, dist, _, _ = cv2.calibrateCamera(object_points, image_points, size, None, None)
calib_s = time.perf_counter() - start
fx, fy, cx, cy = K[0, 0], K[1, 1], K[0, 2], K[1, 2]

report = json.load(open(f"{ours_dir}/report.json"))
ours = report["cameras"][0]["error"]
cv_f = 100.0 * abs(fy - true_f) / true_f
cv_pp = float(np.hypot(cx - true_cx, cy - true_cy))
print(f"views: {len(files)}, OpenCV found {found}")
print("| | f error % | principal point error px | RMS px | s |")
print("|---|---|---|---|---|")
print(f"| ours | {ours['f_error_percent']:.4f} | {ours['principal_point_error_px']:.3f} | "
      f"{report['rms_px']:.4f} | {report['seconds']['total']:.2f} |")
print(f"| OpenCV | {cv_f:.4f} (fx {100.0 * abs(fx - true_f) / true_f:.4f}) | {cv_pp:.3f} | {rms:.4f} | "
      f"{detect_s + calib_s:.2f} (detect {detect_s:.2f}) |")
if ours_same_dir:
    f, cx, cy = camera0(f"{ours_same_dir}/setup.tarvelinsetup")
    same = json.load(open(f"{ours_same_dir}/report.json"))
    same_f = 100.0 * abs(f - true_f) / true_f
    same_pp = float(np.hypot(cx - true_cx, cy - true_cy))
    print(f"| ours, OpenCV's {same['views_used']} views | {same_f:.4f} | {same_pp:.3f} | {same['rms_px']:.4f} | "
          f"{same['seconds']['total']:.2f} |")
    print(f"ratio ours/OpenCV on the same views: f {same_f / cv_f if cv_f else float('nan'):.2f}, "
          f"principal point {same_pp / cv_pp if cv_pp else float('nan'):.2f}")
    if runs_file:
        with open(runs_file, "a") as out:
            out.write(json.dumps({
                "views": len(files), "seed": int(os.environ.get("SEED", "0")), "found": found,
                "ours_f": ours["f_error_percent"], "ours_pp": ours["principal_point_error_px"],
                "same_f": same_f, "same_pp": same_pp, "same_cx": cx - true_cx, "same_cy": cy - true_cy,
                "cv_f": cv_f, "cv_pp": cv_pp, "cv_cx": float(K[0, 2] - true_cx),
                "cv_cy": float(K[1, 2] - true_cy)}) + "\n")
print(f"ratio ours (all views)/OpenCV: f {ours['f_error_percent'] / cv_f if cv_f else float('nan'):.2f}, "
      f"principal point {ours['principal_point_error_px'] / cv_pp if cv_pp else float('nan'):.2f}")
