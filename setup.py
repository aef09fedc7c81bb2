"""Builds the extension module vyrffc with the project's own CMake build.

The module is the one CMake makes (the library compiled into it), so the
package holds exactly what the build tree holds. The CMake build folder is
$VYRFFC_BUILD_DIR, else the Makefile's build/; one that is already built only
relinks what changed, so installing after `make test` takes seconds.
"""
import importlib.machinery
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = pathlib.Path(__file__).resolve().parent


def project_version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(\w+ VERSION ([0-9.]+)", text).group(1)


def base_interpreter():
    """The interpreter a virtual environment was made from: CMake must not keep
    the environment's path, which goes away with it."""
    return os.path.realpath(getattr(sys, "_base_executable", sys.executable))


FOLDER = pathlib.Path(os.environ.get("VYRFFC_BUILD_DIR") or SOURCE / "build").resolve()


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        folder = FOLDER
        if not (folder / "CMakeCache.txt").exists():
            subprocess.check_call(["cmake", "-S", str(SOURCE), "-B", str(folder), "-DCMAKE_BUILD_TYPE=Release",
                                   "-DPython3_EXECUTABLE=" + base_interpreter()])
        jobs = os.environ.get("VYRFFC_BUILD_JOBS") or str(os.cpu_count() or 2)
        subprocess.check_call(["cmake", "--build", str(folder), "--target", "vyrffc", "-j", jobs])
        suffixes = importlib.machinery.EXTENSION_SUFFIXES
        built = [p for p in (folder / "python").glob("vyrffc*") if any(p.name == "vyrffc" + s for s in suffixes)]
        if not built:
            sys.exit(f"{folder} holds no module vyrffc for this interpreter ({sys.version.split()[0]}); "
                     "give another build folder in VYRFFC_BUILD_DIR")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


FOLDER.mkdir(parents=True, exist_ok=True)
setup(
    version=project_version(),
    ext_modules=[Extension("vyrffc", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # setuptools' own work files go into the build folder, not the sources.
    options={"build": {"build_base": str(FOLDER / "python-package")}, "egg_info": {"egg_base": str(FOLDER)}},
    zip_safe=False,
)
