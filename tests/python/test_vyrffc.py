import pathlib
import pickle
import re
import shutil
import struct
import sys
import threading
import time

import numpy as np
import pytest

import vyrffc

WIDTH = 384
RUNS = {
    "current": {},
    "previous": {},
    # The segmented run fits only the listed columns; a few keep it quick.
    "segmented": {"reference_columns": list(range(40, 56))},
}
ARRAYS = ("reference_columns", "tables", "quad", "cubic", "dark_flags", "dark_ranges", "seg_quad",
          "seg_cubic", "seg_quad_breaks", "seg_cubic_breaks", "incomplete_columns")
MODES = (0, 1, 4, 5, 6, 7)
SERVED = {  # per run and generation, the modes that do not give a constant image
    ("current", "current"): [0, 1, 4, 5, 6, 7], ("current", "previous"): [0, 1, 4],
    ("previous", "current"): [0, 1, 4], ("previous", "previous"): [0, 1, 4, 5, 6, 7],
    ("segmented", "current"): [0, 1], ("segmented", "previous"): [0, 1],
}


def modes(run, generation=None):
    return SERVED[run, generation or ("previous" if run == "previous" else "current")]


def read_bmp(path):
    """An 8-bit palette BMP as written by the simulator (gray palette, bottom-up rows)."""
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width + 3) & ~3
    rows = np.frombuffer(data, np.uint8, stride * abs(height), offset).reshape(abs(height), stride)
    return np.ascontiguousarray(rows[::-1 if height > 0 else 1, :width])


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    root = tmp_path_factory.mktemp("calib")
    paths, heldout = vyrffc.simulate(root / "calib", width=WIDTH, height=8, chips=3, dark_columns=4, heldout=4)
    return {"path": root / "calib", "images": [read_bmp(p) for p in paths],
            "heldout": np.vstack([read_bmp(p) for p in heldout] * 8)}


@pytest.fixture(scope="module")
def calibrations(folder):
    return {run: vyrffc.calibrate(folder["path"], run=run, **kw) for run, kw in RUNS.items()}


def assert_same(a, b):
    assert (a.run, a.generation, a.digits, a.width, a.height) == (b.run, b.generation, b.digits, b.width, b.height)
    assert a.gains == b.gains and a.fit_range == b.fit_range
    assert all(np.array_equal(x, y) for x, y in zip(a.groups, b.groups)) and len(a.groups) == len(b.groups)
    for name in ARRAYS:
        x, y = getattr(a, name), getattr(b, name)
        assert x.dtype == y.dtype and x.shape == y.shape and np.array_equal(x, y), name


def test_results_have_documented_shapes_and_types(calibrations):
    lowhigh, segmented = calibrations["current"], calibrations["segmented"]
    assert lowhigh.tables.shape == (WIDTH, 256) and lowhigh.tables.dtype == np.int32
    assert lowhigh.quad.shape == (WIDTH, 3) and lowhigh.cubic.shape == (WIDTH, 4) and lowhigh.cubic.dtype == np.float32
    assert lowhigh.dark_flags.dtype == bool and lowhigh.dark_flags.sum() == 4
    assert lowhigh.dark_ranges.shape == (WIDTH, 2) and not lowhigh.dark_ranges[~lowhigh.dark_flags].any()
    assert lowhigh.seg_quad.shape == (0, 2, 3) and segmented.tables.shape == (0, 256)
    assert segmented.seg_cubic.shape == (WIDTH, 2, 4) and segmented.seg_quad_breaks.dtype == np.int32
    assert list(segmented.reference_columns) == RUNS["segmented"]["reference_columns"]
    assert sum(len(g) for g in lowhigh.groups) == WIDTH // 64 * 64
    with pytest.raises(ValueError):
        lowhigh.tables[0, 0] = 1  # shared, read-only
    # ... and no caller can make them writable, through the array or a view.
    for name in ARRAYS:
        for array in (getattr(lowhigh, name), getattr(lowhigh, name)[:]):
            with pytest.raises(ValueError):
                array.setflags(write=True)
    assert not any(group.flags.writeable for group in lowhigh.groups)


@pytest.mark.parametrize("run", RUNS)
def test_memory_calibrations_equal_folder_calibration(folder, calibrations, run):
    images = folder["images"]
    assert_same(vyrffc.calibrate_images(images, run=run, **RUNS[run]), calibrations[run])
    # A 3-D stack, and views whose rows are not contiguous, give the same bits.
    assert_same(vyrffc.calibrate_images(np.stack(images), run=run, **RUNS[run]), calibrations[run])
    strided = [np.repeat(image, 2, axis=1)[:, ::2] for image in images]
    assert_same(vyrffc.calibrate_images(strided, run=run, **RUNS[run]), calibrations[run])


def test_skipped_files_warn_and_leave_results_as_they_were(folder, calibrations, tmp_path):
    copy = shutil.copytree(folder["path"], tmp_path / "calib")
    (copy / "notes.bmp").write_text("not an image")
    with pytest.warns(vyrffc.SkippedFileWarning, match="notes.bmp"):
        calibration = vyrffc.calibrate(str(copy))
    assert_same(calibration, calibrations["current"])


@pytest.mark.parametrize("run", RUNS)
def test_saved_loaded_and_pickled_calibrations_correct_alike(folder, calibrations, run, tmp_path):
    original = calibrations[run]
    original.save(tmp_path / "module.ffcal")
    copies = [vyrffc.load(tmp_path / "module.ffcal"), vyrffc.Calibration.from_bytes(original.to_bytes()),
              pickle.loads(pickle.dumps(original))]
    image = folder["heldout"]
    for copy in copies:
        assert_same(copy, original)
        with pytest.raises(TypeError, match="immutable"):
            copy.__setstate__(b"anything")  # a live calibration is never remade
        assert_same(copy, original)
        for mode in modes(run):
            assert np.array_equal(copy.correct(image, mode), original.correct(image, mode))


@pytest.mark.parametrize("run", RUNS)
def test_correction_is_the_same_on_any_thread_count_and_layout(folder, calibrations, run):
    calibration, image = calibrations[run], folder["heldout"]
    before = image.copy()
    for generation in ("current", "previous"):
        assert calibration.modes(generation) == modes(run, generation)
        for mode in set(MODES) - set(modes(run, generation)):
            with pytest.raises(vyrffc.Error, match="serves modes") as raised:
                calibration.correct(image, mode, generation)
            assert raised.value.reason == "mode unavailable"
        for mode in modes(run, generation):
            one = calibration.correct(image, mode, generation, threads=1)
            assert np.array_equal(one, calibration.correct(image, mode, generation, threads=10**12))
            assert one.dtype == np.uint8 and one.shape == image.shape and one.flags.c_contiguous
            assert np.array_equal(one, calibration.correct(image, mode, generation, threads=4))
            assert np.array_equal(calibration.correct(image[::2], mode, generation),
                                  calibration.correct(np.ascontiguousarray(image[::2]), mode, generation))
            fortran = np.asfortranarray(image)
            assert np.array_equal(one, calibration.correct(fortran, mode, generation, threads=2))
    assert np.array_equal(image, before)


def test_mode_5_of_the_previous_run_is_the_table_times_the_range_gain(folder, calibrations):
    calibration, image = calibrations["previous"], folder["heldout"]
    assert image.min() > 0  # no dark pixels to fill
    expected = calibration.tables[np.arange(WIDTH), image].astype(np.float32) * np.float32(calibration.gains["range_gain"])
    expected = np.clip(expected, 0, 255).astype(np.uint8)
    regular = ~calibration.dark_flags
    assert np.array_equal(calibration.correct(image, mode=5)[:, regular], expected[:, regular])


def test_failures_raise_with_their_reasons(folder, calibrations, tmp_path):
    current, image = calibrations["current"], folder["heldout"]
    (tmp_path / "empty").mkdir()
    (tmp_path / "short.ffcal").write_bytes(current.to_bytes()[:100])
    cases = [
        (lambda: vyrffc.calibrate(tmp_path / "missing"), vyrffc.FileError, "folder missing"),
        (lambda: vyrffc.calibrate(tmp_path / "empty"), vyrffc.FileError, "no image files"),
        (lambda: vyrffc.calibrate(folder["path"], reference_columns=[WIDTH]), vyrffc.Error, "column outside the image"),
        (lambda: vyrffc.calibrate(folder["path"], run="latest"), vyrffc.Error, "invalid settings"),
        (lambda: vyrffc.calibrate_images(folder["images"][:2]), vyrffc.Error, "too few images"),
        (lambda: vyrffc.load(tmp_path / "missing.ffcal"), vyrffc.FileError, "file unreadable"),
        (lambda: vyrffc.load(tmp_path / "short.ffcal"), vyrffc.Error, "file corrupt"),
        (lambda: current.correct(image.astype(np.uint16)), vyrffc.Error, "image unusable"),
        (lambda: current.correct(np.dstack([image] * 3)), vyrffc.Error, "image unusable"),
        (lambda: current.correct(image[:, 1:]), vyrffc.Error, "image unusable"),
        (lambda: vyrffc.calibrate_images([image.astype(float)]), vyrffc.Error, "image unusable"),
        (lambda: calibrations["segmented"].correct(image, mode=4), vyrffc.Error, "mode unavailable"),
        (lambda: current.correct(image, threads=-1), vyrffc.Error, "invalid settings"),
        # Beyond 32-bit rows or columns, without a byte behind it to read.
        (lambda: current.correct(np.lib.stride_tricks.as_strided(image, (1, 2**32 + WIDTH), (0, 0))),
         vyrffc.Error, "image unusable"),
        (lambda: vyrffc.calibrate_images(np.lib.stride_tricks.as_strided(image, (4, 2**31, WIDTH), (0, 0, 1))),
         vyrffc.Error, "image unusable"),
    ]
    for call, kind, reason in cases:
        with pytest.raises(kind) as raised:
            call()
        assert raised.value.reason == reason and reason in vyrffc.REASONS
    assert issubclass(vyrffc.FileError, OSError) and issubclass(vyrffc.Error, ValueError)
    with pytest.raises(TypeError):
        current.correct(image.tolist())


def test_correction_lets_other_python_threads_run(calibrations):
    calibration = calibrations["current"]
    image = np.random.default_rng(1).integers(30, 220, (200000, WIDTH), dtype=np.uint8)

    def count_until(done):
        begin, count = time.perf_counter(), 0
        while not done:
            count += 1
        return count, time.perf_counter() - begin

    timer_done = []
    threading.Timer(0.1, timer_done.append, [True]).start()
    count, seconds = count_until(timer_done)
    rate = count / seconds

    corrected, started = [], threading.Event()

    def correct():
        started.set()
        begin = time.perf_counter()
        calibration.correct(image, mode=1, threads=1)
        corrected.append(time.perf_counter() - begin)

    # A short switch interval keeps the loop's turn before the call short.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(0.0005)
    try:
        worker = threading.Thread(target=correct)
        worker.start()
        started.wait()
        count, _ = count_until(corrected)
        worker.join()
    finally:
        sys.setswitchinterval(interval)
    # Had the call kept the lock, the loop would hardly have run before it
    # returned; released, it runs at a good part of its own pace even on a busy
    # machine.
    assert count > 0.25 * rate * corrected[0], (count, rate, corrected)


def test_correct_writes_into_out_and_takes_single_lines(folder, calibrations):
    image = folder["heldout"]
    for run, calibration in calibrations.items():
        for mode in modes(run):
            expected = calibration.correct(image, mode)
            out = np.empty_like(image)
            assert calibration.correct(image, mode, out=out) is out and np.array_equal(out, expected)
            # Every other column of a wider array: written there and nowhere else.
            wide = np.zeros((image.shape[0], 2 * WIDTH), np.uint8)
            calibration.correct(image, mode, out=wide[:, ::2])
            assert np.array_equal(wide[:, ::2], expected) and not wide[:, 1::2].any()
            in_place = image.copy()
            calibration.correct(in_place, mode, out=in_place)
            assert np.array_equal(in_place, expected), (run, mode)
            # A line is corrected as the row it would be in a frame.
            line = np.empty(WIDTH, np.uint8)
            for row in (0, 5, image.shape[0] - 1):
                assert np.array_equal(calibration.correct(image[row], mode), expected[row])
                calibration.correct(image[row], mode, out=line)
                assert np.array_equal(line, expected[row])


def test_correct_refuses_unusable_outputs_and_empty_frames(folder, calibrations):
    current, image = calibrations["current"], folder["heldout"]
    read_only = np.empty_like(image)
    read_only.flags.writeable = False
    for out, kind in ((np.empty(image.shape, np.uint16), TypeError), (np.empty_like(image)[1:], ValueError),
                      (np.empty(WIDTH, np.uint8), ValueError), (read_only, ValueError), (image.tolist(), TypeError)):
        with pytest.raises(kind):
            current.correct(image, out=out)
    for empty in (np.empty((0, WIDTH), np.uint8), np.empty(0, np.uint8), np.empty((4, 0), np.uint8)):
        with pytest.raises(vyrffc.Error, match="empty") as raised:
            current.correct(empty)
        assert raised.value.reason == "image unusable"


def colour_bmp(width, height):
    stride = (3 * width + 3) & ~3
    return struct.pack("<2sIHHIIiiHHIIiiII", b"BM", 54 + stride * height, 0, 0, 54, 40, width, height, 1, 24, 0,
                       stride * height, 2835, 2835, 0, 0) + bytes(stride * height)


def test_image_files_read_and_write_8_bit_gray_only(folder, tmp_path):
    levels = sorted(folder["path"].glob("level_*.bmp"))
    assert np.array_equal(vyrffc.read_image(levels[10]), folder["images"][10])
    dark = vyrffc.read_image(folder["path"] / "heldout" / "dark.bmp")
    assert dark.shape == (8, WIDTH) and dark.mean() < folder["heldout"].mean() / 4
    image = folder["heldout"]
    for name in ("out.bmp", "out.png", "out.tif"):
        vyrffc.write_image(tmp_path / name, image[:, ::3])
        assert np.array_equal(vyrffc.read_image(tmp_path / name), image[:, ::3]), name
    (tmp_path / "colour.bmp").write_bytes(colour_bmp(WIDTH, 2))
    cases = [
        (lambda: vyrffc.read_image(tmp_path / "colour.bmp"), vyrffc.Error, "image unusable"),
        (lambda: vyrffc.read_image(tmp_path / "missing.bmp"), vyrffc.FileError, "file unreadable"),
        (lambda: vyrffc.write_image(tmp_path / "wide.png", image.astype(np.uint16)), vyrffc.Error, "image unusable"),
        (lambda: vyrffc.write_image(tmp_path / "no" / "out.png", image), vyrffc.FileError, "file unreadable"),
    ]
    for call, kind, reason in cases:
        with pytest.raises(kind) as raised:
            call()
        assert raised.value.reason == reason
    with pytest.raises(ValueError, match="name it"):
        vyrffc.write_image(tmp_path / "out.jpg", image)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["colour.bmp", "out.bmp", "out.png", "out.tif"]


def readme_reader():
    """The README's plain-numpy reader of calibration files, run as written there."""
    readme = (pathlib.Path(__file__).resolve().parents[2] / "README.md").read_text()
    code = re.search(r"```python\n(import json\n.*?def read_calibration.*?)```", readme, re.S).group(1)
    namespace = {}
    exec(code, namespace)
    return namespace["read_calibration"]


@pytest.mark.parametrize("run", RUNS)
def test_readme_reader_reads_saved_files_and_checks_their_checksum(calibrations, run, tmp_path):
    read_calibration, calibration = readme_reader(), calibrations[run]
    calibration.save(tmp_path / "module.ffcal")
    metadata, tables = read_calibration(tmp_path / "module.ffcal")
    assert metadata["run"] == run and int(metadata["imageWidth"]) == WIDTH
    assert np.array_equal(tables["cubicCoeffs"], calibration.cubic)
    assert np.array_equal(tables["referenceColumns"], calibration.reference_columns)
    if run == "segmented":
        assert np.array_equal(tables["segCubicCoeffs"], calibration.seg_cubic)
    else:
        assert np.array_equal(tables["columnLuts"], calibration.tables)
        assert np.array_equal(tables["columnFlags"] == -1, calibration.dark_flags)
    damaged = bytearray((tmp_path / "module.ffcal").read_bytes())
    damaged[-1] ^= 1
    (tmp_path / "damaged.ffcal").write_bytes(damaged)
    with pytest.raises(ValueError, match="checksum"):
        read_calibration(tmp_path / "damaged.ffcal")



def test_sensor_figures_print_as_the_tool_does():
    rng = np.random.default_rng(3)
    flat = np.rint(120 * (1 + rng.normal(0, 0.01, WIDTH)) + rng.normal(0, 1.0, (64, WIDTH))).astype(np.uint8)
    dark = np.rint(6 + rng.normal(0, 1.0, (64, WIDTH))).astype(np.uint8)
    figures = vyrffc.sensor_figures(flat, dark)
    assert abs(figures.prnu.value - 0.0105) < 0.001 and not figures.prnu.bound  # a 1% gain spread
    assert figures.dsnu.bound and str(figures.dsnu).startswith("< ")  # the dark has no pattern
    assert re.fullmatch(r"PRNU 1\.\d{3}%, DSNU < 0\.\d\d DN, dark noise 1\.0\d DN", str(figures))
    clipped = vyrffc.sensor_figures(flat, np.zeros_like(dark), columns=[0, 5, 9])
    assert clipped.flat.columns == 3 and str(clipped.dsnu).startswith("< ")
    statistics = [vyrffc.measure_line(image) for image in (flat, np.full_like(flat, 255))]
    assert vyrffc.nearest_half_saturation(statistics, figures.dark) == 0
    assert vyrffc.nearest_half_saturation(statistics[1:], figures.dark) is None


def test_assess_tells_a_full_set_from_a_narrow_one(folder, calibrations):
    verdict = vyrffc.assess(calibrations["current"], folder["images"])
    # The fixture's 4 dark columns in 384 are all it warns of.
    assert len(verdict.images) == len(folder["images"]) and verdict.flagged_share == 4 / WIDTH
    assert len(verdict.warnings) == 1 and "respond only above a dark threshold" in verdict.warnings[0]
    narrow = folder["images"][12:20]
    warnings = vyrffc.assess(vyrffc.calibrate_images(narrow), np.stack(narrow)).warnings
    assert any("levels lie inside the fitting range" in w for w in warnings)
    with pytest.raises(TypeError):
        vyrffc.assess("module.ffcal", narrow)


def test_set_residuals_kept_through_the_file(folder, calibrations, tmp_path):
    calibration = calibrations["current"]
    kept = calibration.keep_set_residuals(vyrffc.assess(calibration, folder["images"]))
    kept.save(str(tmp_path / "kept.ffcal"))
    residuals = vyrffc.load(str(tmp_path / "kept.ffcal")).set_residuals
    assert residuals.shape[1] == 2 and len(residuals) > 2 and calibration.set_residuals.shape == (0, 2)
    assert kept.set_residual_at(float(residuals[1][0])) == residuals[1][1]


def test_modes_by_name_the_default_of_each_run_and_the_camera(folder, calibrations):
    image = folder["heldout"]
    # The C++ interface's defaults, which the tool takes too.
    for run, default in (("current", 0), ("previous", 6), ("segmented", 1)):
        calibration = calibrations[run]
        assert calibration.default_mode() == default
        assert np.array_equal(calibration.correct(image), calibration.correct(image, vyrffc.MODES[default]))
    current = calibrations["current"]
    assert np.array_equal(current.correct(image, "default"), current.correct(image, np.int64(7)))
    for slip in (2, 3, -1, 8, "Cubic", 1.0, True):
        with pytest.raises(vyrffc.Error, match="unknown mode") as raised:
            current.correct(image, slip)
        assert raised.value.reason == "invalid settings"

    named = vyrffc.calibrate_images(folder["images"], camera_model="CIS 7296", camera_serial="SN17",
                                    notes={"site": "Line 4", "lens": "A"})
    back = pickle.loads(pickle.dumps(named))
    assert back.camera == {"model": "CIS 7296", "serial": "SN17", "notes": {"lens": "A", "site": "Line 4"}}
    assert current.camera == {"model": None, "serial": None, "notes": {}}
    back.require_camera(serial="SN17", model="CIS 7296")
    for calibration, serial in ((back, "SN18"), (current, "SN17")):
        with pytest.raises(vyrffc.Error) as raised:
            calibration.require_camera(serial=serial)
        assert raised.value.reason == "camera mismatch"
    with pytest.raises(vyrffc.Error, match="twice|control"):
        vyrffc.calibrate_images(folder["images"], notes={"lens": "A\nB"})
