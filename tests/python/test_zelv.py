# The Python module against zelv-cli: the same orientation gives the same doubles, arrays give
# what files give, and a failure raises with the window's message. ZELV_CLI names the zelv-cli
# built beside the module, ZELV_SOURCE_DIR the source tree (set by ctest).
import json
import os
import subprocess
import threading

import numpy as np
import pytest

import zelv

SOURCE = os.environ.get("ZELV_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
CLI = os.environ.get("ZELV_CLI", "zelv-cli")
GOLDEN = os.path.join(SOURCE, "tests", "data", "golden")
EXAMPLES = os.path.join(SOURCE, "examples")
GROUPS = [("projection_centre", 3), ("sighting_point", 2), ("distance", 1),
          ("photogrammetric_angles_deg", 3), ("stand_angles_deg", 3), ("direction_cosines", 9)]


def golden(case):
    folder = os.path.join(GOLDEN, case)
    return [os.path.join(folder, name) for name in ("camera.cam", "image.crd", "scene.crd")]


def photograph(camera="calibration.yml"):
    folder = os.path.join(EXAMPLES, "zhang")
    return [os.path.join(folder, name) for name in (camera, "image-raw.crd", "scene.crd")]


def cli_json(files, *options):
    run = subprocess.run([CLI, "orient", *files, "--json", *options], capture_output=True,
                         check=False, env=dict(os.environ, LC_ALL="C.UTF-8"))
    assert run.returncode in (0, 1), run.stderr.decode()
    return json.loads(run.stdout.decode("utf-8"))


def flat(groups):
    out = []
    for key, count in GROUPS:
        out += [groups[key]] if count == 1 else groups[key]
    return out


def same(a, b):
    """Equal bit for bit: floats by value (the JSON's 17 digits read back exactly), None as null."""
    assert a == b, f"{a!r} != {b!r}"


def same_pose(pose, j):
    same(pose.R.ravel().tolist(), j["R"])
    same(pose.t.tolist(), j["t"])
    same(pose.rvec.tolist(), j["rvec"])
    c = j["colmap"]
    same(pose.quaternion.tolist(), [c["qw"], c["qx"], c["qy"], c["qz"]])
    same(pose.omega_phi_kappa_deg.tolist(), j["omega_phi_kappa_deg"])


def same_as_json(r, j):
    same(r.level_name, j["level"])
    same(r.values.tolist(), flat(j))
    same([r.named[name] for name in zelv.VALUE_NAMES], flat(j))
    same(r.warnings, j["warnings"])
    f = j["focal_length"]
    same((r.focal_length.value, r.focal_length.sigma, r.focal_length.estimated),
         (f["value"], f["sigma"], f["estimated"]))
    if "sigma" in j:
        same(r.sigma.tolist(), flat(j["sigma"]))
        same(r.sigma0, j["sigma0_px"])
        same(r.outliers, j["outliers"])
        same(r.t95, j["interval95_t"])
        v = j["verdict"]
        same(r.verdict.quality, j["quality"])
        same((r.verdict.reasons, r.verdict.image_sigma_px, r.verdict.chi_square,
              r.verdict.chi_square_limit, r.verdict.p_value, r.verdict.redundancy),
             (v["reasons"], v["image_sigma_px"], v["chi_square"], v["chi_square_limit"],
              v["p_value"], v["redundancy"]))
        same(r.redundancy, v["redundancy"])
        for part in ("sigma_from_measurement", "sigma_from_calibration"):
            if part in j:
                same(getattr(r, part).tolist(), flat(j[part]))
            else:
                assert getattr(r, part) is None
        if j["alternative"] is None:
            assert r.alternative is None
        else:
            a = j["alternative"]
            same(r.alternative.values.tolist(), flat(a))
            same_pose(r.alternative.pose, a["pose"])
            same((r.alternative.focal_length, r.alternative.sigma0,
                  r.alternative.chi_square_difference, r.alternative.distinguishable),
                 (a["focal_length"], a["sigma0_px"], a["chi_square_difference"],
                  a["distinguishable"]))
    else:
        assert r.sigma is None and r.sigma0 is None and r.verdict is None
    same_pose(r.pose, j["pose"])
    same(r.cost, j["cost"])
    if j["residuals"] is None:
        assert r.residuals is None
        return
    res = r.residuals
    points = j["residuals"]
    same(res.number.tolist(), [p["number"] for p in points])
    for key in ("x", "y", "X", "Y", "ex", "ey", "length"):
        same(getattr(res, key).tolist(), [p[key] for p in points])
    same(res.flagged.tolist(), [p["flagged"] for p in points])
    same(res.ids, [p["id"] for p in points] if "id" in points[0] else None)
    s = j["residual_summary"]
    same((res.summary.cost, res.summary.sigma, res.summary.largest, res.summary.largest_number,
          res.summary.flagged_count, res.summary.sigma_count),
         (s["cost"], s["sigma"], s["largest"], s["largest_number"], s["flagged_count"],
          s["sigma_count"]))


CASES = [(golden(case), level) for case in ("square", "synthetic1", "synthetic2", "synthetic4")
         for level in (0, 1)]
CASES += [(golden("synthetic1"), 3), (golden("square"), 4)]
CASES += [(photograph(), level) for level in (0, 1, 4)]
CASES += [(photograph("cameras.txt"), 0)]
CASES += [([os.path.join(SOURCE, "tests", "data", "calibration_covariance", "calibration.yml")] +
           photograph()[1:], 4)]
CASES += [([os.path.join(EXAMPLES, "survey", n) for n in ("camera.cam", "image.crd", "scene.crd")],
           level) for level in (0, 4)]


@pytest.mark.parametrize("files,level", CASES, ids=lambda v: str(v) if isinstance(v, int) else
                         os.path.basename(os.path.dirname(v[0])) + "/" + os.path.basename(v[0]))
def test_the_result_is_the_command_lines_json_bit_for_bit(files, level):
    expected = cli_json(files, "--level", str(level), "--residuals")
    assert "error" not in expected, expected
    r = zelv.orient(*files, level=level)
    same_as_json(r, expected)
    assert np.isfinite(r.values).all()
    assert len(r.texts) == 21 and all(r.texts)
    assert repr(r).startswith("zelv.Result(level=")
    # The level by name is the same request.
    same(zelv.orient(*files, level=r.level_name).values.tolist(), r.values.tolist())
    if r.covariance is not None:
        n = len(r.covariance.parameters)
        assert r.covariance.matrix.shape == (n, n)
        assert np.isfinite(r.covariance.matrix).all()


@pytest.mark.parametrize("files,level", [(golden("synthetic2"), 1), (photograph(), 4),
                                         (photograph(), 0)])
def test_arrays_give_what_files_give(files, level):
    camera, image, scene = files
    from_files = zelv.orient(camera, image, scene, level=level)
    image_points = zelv.read_points(image, kind="image")
    scene_points = zelv.read_points(scene)
    from_arrays = zelv.orient(camera, image_points.points, scene_points.points, level=level,
                              image_ids=image_points.ids, scene_ids=scene_points.ids)
    same(from_arrays.values.tolist(), from_files.values.tolist())
    same(from_arrays.warnings, from_files.warnings)
    same(from_arrays.residuals.ex.tolist(), from_files.residuals.ex.tolist())
    same(from_arrays.residuals.ids, from_files.residuals.ids)
    # A list of rows and a scene N×3 with Z = 0 are the same points.
    scene3 = np.hstack([scene_points.points, np.zeros((len(scene_points.points), 1))])
    listed = zelv.orient(camera, image_points.points.tolist(), scene3, level=level,
                         image_ids=image_points.ids, scene_ids=scene_points.ids)
    same(listed.values.tolist(), from_files.values.tolist())


def test_identifiers_pair_arrays_in_any_order():
    camera, image, scene = golden("square")
    by_order = zelv.orient(camera, image, scene)
    xy = zelv.read_points(image, kind="image").points
    XY = zelv.read_points(scene).points
    ids = [f"P{i}" for i in range(len(xy))]
    turned = list(reversed(range(len(XY))))
    paired = zelv.orient(camera, xy, XY[turned], image_ids=ids, scene_ids=[ids[i] for i in turned])
    np.testing.assert_allclose(paired.values, by_order.values, rtol=0, atol=1e-9)


def raises_as_cli(files, **options):
    expected = cli_json(files)
    with pytest.raises(zelv.Failure) as raised:
        zelv.orient(*files, **options)
    same(str(raised.value), expected["error"])
    same(raised.value.caption, expected["caption"])
    return raised.value


def test_a_failure_raises_with_the_windows_message(tmp_path):
    camera, image, scene = golden("square")
    # A missing file.
    failure = raises_as_cli([camera, str(tmp_path / "none.crd"), scene])
    assert "не найден" in failure.text
    # Fewer than four points.
    lines = open(image, "rb").read().splitlines()[:3]
    few = tmp_path / "few.crd"
    few.write_bytes(b"\r\n".join(lines) + b"\r\n")
    three = raises_as_cli([camera, str(few), scene])
    with pytest.raises(zelv.Failure) as raised:
        zelv.orient(camera, zelv.read_points(str(few), kind="image").points,
                    zelv.read_points(scene).points)
    same(str(raised.value), three.text)
    # A camera file that is not one.
    raises_as_cli([scene, image, scene])
    with pytest.raises(zelv.Failure):
        zelv.read_camera(str(tmp_path / "none.cam"))
    with pytest.raises(zelv.Failure):
        zelv.read_points(str(tmp_path / "none.crd"))


def test_unsound_arrays_are_refused_before_anything_is_computed():
    camera, image, scene = golden("square")
    xy = zelv.read_points(image, kind="image").points
    XY = zelv.read_points(scene).points
    for wrong in (xy[:, :1], xy.ravel(), np.hstack([xy, xy]), np.zeros((2, 2, 2))):
        with pytest.raises(ValueError):
            zelv.orient(camera, wrong, XY)
    # A scene off the plane Z = 0 is taken, and refused below the rigorous level as from a table.
    with pytest.raises(zelv.Failure):
        zelv.orient(camera, xy, np.hstack([XY, np.ones((len(XY), 1))]))
    with pytest.raises(TypeError):
        zelv.orient(camera, object(), XY)
    with pytest.raises(ValueError):
        zelv.orient(camera, image, XY, image_ids=[str(i) for i in range(len(xy))])
    with pytest.raises(ValueError):
        zelv.orient(camera, xy, XY, level=2)
    with pytest.raises(ValueError):
        zelv.orient(camera, xy, XY, image_sigma=0)
    for bad in (np.nan, np.inf):
        broken = xy.copy()
        broken[1, 0] = bad
        with pytest.raises(zelv.Failure, match="точки 2"):
            zelv.orient(camera, broken, XY)
        broken_scene = XY.copy()
        broken_scene[1, 1] = bad
        with pytest.raises(zelv.Failure, match="Ошибка в точках сцены"):
            zelv.orient(camera, xy, broken_scene)
    ids = [str(i) for i in range(len(xy))]
    for wrong_ids in (ids[:-1], ids[:-1] + ids[:1], ids[:-1] + [""]):
        with pytest.raises(zelv.Failure, match="Ошибка в точках изображения"):
            zelv.orient(camera, xy, XY, image_ids=wrong_ids, scene_ids=ids)


def test_the_camera_reads_as_the_orientation_reads_it():
    cam = zelv.read_camera(golden("square")[0])
    assert cam.format == "cam" and cam.lens is None and cam.image_width > 0
    calibration = zelv.read_camera(photograph()[0])
    assert calibration.format == "opencv" and calibration.lens is not None
    r = zelv.orient(*photograph())
    same(r.focal_length.value, calibration.focal_length)
    same((calibration.centre_x, calibration.centre_y), (calibration.lens.cx, calibration.lens.cy))
    assert zelv.read_camera(photograph("cameras.txt")[0]).format == "colmap"


def test_orientations_in_threads_give_one_result():
    files = photograph()
    expected = zelv.orient(*files, level=1).values.tolist()
    results = [None] * 4

    def run(k):
        results[k] = zelv.orient(*files, level=1).values.tolist()

    threads = [threading.Thread(target=run, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [expected] * 4


SPACE = [os.path.join(EXAMPLES, "space", n) for n in ("camera.cam", "image.csv", "scene.csv")]


def same_adjustment_as_json(r, j):
    """The covariance, the centre's ellipsoid and the check points as the JSON prints them."""
    c = j["covariance"]
    same(r.covariance.parameters, c["parameters"])
    same(r.covariance.matrix.tolist(), c["matrix"])
    same(r.value_covariance.tolist(), j["value_covariance"])
    e = j["centre_ellipsoid_95"]
    same(r.centre_ellipsoid_95.semi_axes.tolist(), e["semi_axes"])
    same(r.centre_ellipsoid_95.axes.tolist(), e["axes"])
    same(r.covariance.centre_semi_axes.tolist(), e["semi_axes"])
    checks = j["check_points"]
    cp = r.check_points
    same(cp.number.tolist(), [p["number"] for p in checks["points"]])
    same(cp.ids, [p["id"] for p in checks["points"]])
    same(cp.image_residuals.tolist(), [p["image_residual"] for p in checks["points"]])
    same(cp.scene_known.tolist(), ["scene_miss" in p for p in checks["points"]])
    same(cp.scene_misses.tolist(), [p.get("scene_miss", [0.0, 0.0]) for p in checks["points"]])
    same((cp.image_rmse, cp.scene_rmse), (checks["image_rmse"], checks["scene_rmse"]))


def space_arrays():
    image = zelv.read_points(SPACE[1], kind="image")
    scene = zelv.read_points(SPACE[2])
    assert image.z is None and image.check is None and scene.sigma is None
    assert scene.z is not None and scene.check.dtype == bool and scene.check.sum() == 4
    return image, scene


def test_a_scene_in_space_with_check_points_is_the_command_lines_json_bit_for_bit():
    expected = cli_json(SPACE, "--level", "4", "--residuals")
    assert "error" not in expected, expected
    r = zelv.orient(*SPACE, level=4)
    same_as_json(r, expected)
    same_adjustment_as_json(r, expected)
    assert r.check_points.ids == ["P05", "P11", "P16", "P18"]
    assert np.isfinite(r.value_covariance).all()


def test_a_scene_in_space_from_arrays_gives_what_the_tables_give():
    expected = cli_json(SPACE, "--level", "4", "--residuals")
    image, scene = space_arrays()
    xyz = np.column_stack([scene.points, scene.z])
    r = zelv.orient(SPACE[0], image.points, xyz, level=4, image_ids=image.ids,
                    scene_ids=scene.ids, check=scene.check)
    same_as_json(r, expected)
    same_adjustment_as_json(r, expected)
    # Without the roles every point is a control point: no check points, a fit of all 18.
    everything = zelv.orient(SPACE[0], image.points, xyz, level=4, image_ids=image.ids,
                             scene_ids=scene.ids)
    assert everything.check_points is None
    assert everything.redundancy > r.redundancy


def test_point_sigmas_from_arrays_give_what_a_tables_sigma_column_gives(tmp_path):
    image, scene = space_arrays()
    n = len(scene.ids)
    image_sigmas = np.where(np.arange(n) % 3 == 0, 0.8, 0.0)  # 0: the whole set's precision
    scene_sigmas = np.where(np.arange(n) % 2 == 0, 0.004, 0.0)
    image_table = tmp_path / "image.csv"
    image_table.write_text("id,x,y,sigma\n" + "".join(
        f"{i},{x!r},{y!r},{repr(s) if s else ''}\n"
        for i, (x, y), s in zip(image.ids, image.points.tolist(), image_sigmas.tolist())))
    scene_table = tmp_path / "scene.csv"
    scene_table.write_text("id,x,y,z,role,sigma\n" + "".join(
        f"{i},{x!r},{y!r},{z!r},{'check' if c else 'control'},{repr(s) if s else ''}\n"
        for i, (x, y), z, c, s in zip(scene.ids, scene.points.tolist(), scene.z.tolist(),
                                      scene.check.tolist(), scene_sigmas.tolist())))
    files = [SPACE[0], str(image_table), str(scene_table)]
    expected = cli_json(files, "--level", "4", "--residuals")
    assert "error" not in expected, expected
    r = zelv.orient(SPACE[0], image.points, np.column_stack([scene.points, scene.z]), level=4,
                    image_ids=image.ids, scene_ids=scene.ids, check=scene.check.tolist(),
                    image_sigmas=image_sigmas, scene_sigmas=scene_sigmas)
    same_as_json(r, expected)
    same_adjustment_as_json(r, expected)
    plain = zelv.orient(*SPACE, level=4)
    assert r.values.tolist() != plain.values.tolist()  # the weights reached the fit


def test_known_values_reach_the_adjustment_as_the_command_lines():
    free = zelv.orient(*SPACE, level=4)
    x, y, z = free.values[:3].tolist()
    fixed = zelv.orient(*SPACE, level=4, known={"centre": (x, y, z)})
    # The parameters' covariance has the fixed centre's rows exactly 0; the values' σ carries
    # their propagation's round-off only.
    assert np.all(fixed.sigma[:3] == 0)
    np.testing.assert_allclose(fixed.values[:3], [x, y, z], rtol=0, atol=1e-12)
    assert np.all(fixed.sigma[3:6] > 0)
    centre = [fixed.covariance.parameters.index(p) for p in ("X0", "Y0", "Z0")]
    assert not fixed.covariance.matrix[centre].any()
    expected = cli_json(SPACE, "--level", "4", "--residuals", "--known",
                        f"centre={x!r},{y!r},{z!r}")
    same_as_json(fixed, expected)
    same_adjustment_as_json(fixed, expected)
    weighted = zelv.orient(*SPACE, level=4, known={"z": (5.0, 0.01), "roll": 3.0,
                                                    "f": (1500.0, 5.0)})
    expected = cli_json(SPACE, "--level", "4", "--residuals", "--known", "z=5:0.01",
                        "--known", "roll=3", "--known", "f=1500:5")
    same_as_json(weighted, expected)
    same_adjustment_as_json(weighted, expected)
    # The centre with one σ is its three coordinates with that σ.
    together = zelv.orient(*SPACE, level=4, known={"centre": ((x, y, z), 0.5)})
    apart = zelv.orient(*SPACE, level=4, known={"x": (x, 0.5), "y": (y, 0.5), "z": (z, 0.5)})
    same(together.values.tolist(), apart.values.tolist())
    same(together.sigma.tolist(), apart.sigma.tolist())


def test_unsound_roles_sigmas_and_known_values_are_refused():
    image, scene = space_arrays()
    xyz = np.column_stack([scene.points, scene.z])
    n = len(scene.ids)

    def orient(points=xyz, **options):
        return zelv.orient(SPACE[0], image.points, points, level=4, image_ids=image.ids,
                           scene_ids=scene.ids, **options)

    for options in (dict(check=scene.check[:-1]), dict(check=np.full(n, 0.5)),
                    dict(check=["check"] * n), dict(scene_sigmas=np.full(n, -1.0)),
                    dict(image_sigmas=np.full(n, np.nan)), dict(image_sigmas=np.ones((n, 2))),
                    dict(known={"centre": (1.0, 2.0)}), dict(known={"omega": 1.0}),
                    dict(known={"f": -3.0}), dict(known={"f": (1500.0, -1.0)}),
                    dict(known={"roll": 400.0}), dict(known={"z": np.nan}),
                    dict(known={"z": "5"}), dict(known={"centre": (1, 2, 3), "z": 3.0}),
                    dict(known=[("f", 1500.0)])):
        with pytest.raises(ValueError):
            orient(**options)
    bad_z = xyz.copy()
    bad_z[2, 2] = np.inf
    with pytest.raises(ValueError, match="точки сцены 3"):
        orient(bad_z)
    # A table brings its own columns.
    with pytest.raises(ValueError):
        zelv.orient(*SPACE, level=4, check=scene.check)
    with pytest.raises(ValueError):
        zelv.orient(*SPACE, level=4, image_sigmas=np.ones(n))
