#!/usr/bin/python3
"""Frame rate of Open3D's visualizer on a mesh file, measured like
ViewerFrameRate: the first frame (mesh added, drawn, swapped) and steady
orbiting (the view turns 2 degrees per frame), in a window of the given size.

    open3d_visualizer.py MESH [WIDTH HEIGHT FRAMES]
"""
import sys
import time

import open3d as o3d

path = sys.argv[1]
width, height, frames = (int(v) for v in (sys.argv[2:5] if len(sys.argv) >= 5 else (1280, 960, 120)))

mesh = o3d.io.read_triangle_mesh(path, True)
if not mesh.has_vertex_normals():
    mesh.compute_vertex_normals()
vis = o3d.visualization.Visualizer()
if not vis.create_window(window_name="open3d", width=width, height=height, visible=True):
    sys.exit("Open3D could not open a window")
print("mesh: %s, %d triangles, textures %d" % (path, len(mesh.triangles), len(mesh.textures)))

start = time.perf_counter()
vis.add_geometry(mesh)
vis.poll_events()
vis.update_renderer()
first = time.perf_counter() - start

control = vis.get_view_control()
# ViewControl.rotate takes pixels; Open3D turns 0.2 degrees per pixel.
step = 2.0 / 0.2
start = time.perf_counter()
for _ in range(frames):
    control.rotate(step, 0.0)
    vis.poll_events()
    vis.update_renderer()
orbit = time.perf_counter() - start
vis.destroy_window()
print("first frame: %.3f s (%.2f frames per second)" % (first, 1.0 / first))
print("steady orbiting: %.2f frames per second (%d frames in %.2f s)" % (frames / orbit, frames, orbit))
