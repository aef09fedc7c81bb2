"""Installs the source tree with pip into a fresh virtual environment in a
temporary folder and runs the Python tests against the installed package.

    run_installed.py SOURCE BUILD_FOLDER

The environment sees the system's packages (numpy, pytest) and installs
without an index, as a user without network access would; BUILD_FOLDER is
the CMake build the package takes its module from.
"""
import os
import pathlib
import subprocess
import sys
import tempfile


def main(source, build):
    with tempfile.TemporaryDirectory(prefix="vyrffc-venv-") as temporary:
        env_folder = pathlib.Path(temporary) / "env"
        subprocess.check_call([sys.executable, "-m", "venv", "--system-site-packages", str(env_folder)])
        python = str(env_folder / "bin" / "python")
        environment = dict(os.environ, VYRFFC_BUILD_DIR=build, PYTHONDONTWRITEBYTECODE="1",
                           PIP_DISABLE_PIP_VERSION_CHECK="1")
        environment.pop("PYTHONPATH", None)
        subprocess.check_call([python, "-m", "pip", "install", "-q", "--no-build-isolation", "--no-index", source],
                              env=environment)
        # Run from the temporary folder, so nothing but the installed module can be imported.
        where = subprocess.check_output([python, "-c", "import vyrffc; print(vyrffc.__file__)"],
                                        env=environment, cwd=temporary, text=True).strip()
        if not where.startswith(str(env_folder)):
            sys.exit(f"vyrffc was imported from {where}, not from the installed package")
        tests = str(pathlib.Path(source) / "tests" / "python")
        return subprocess.call([python, "-m", "pytest", "-q", "-p", "no:cacheprovider", tests],
                               env=environment, cwd=temporary)


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])))
