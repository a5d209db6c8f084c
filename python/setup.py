"""Builds the extension with the project's CMake (the engine's sources are
the repository's own, one directory up) and packages it with the Python
code."""

import os
import pathlib
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent.parent


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        if not (ROOT / "CMakeLists.txt").exists():
            sys.exit(f"the project's CMakeLists.txt is not in {ROOT}")
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve()
        build = pathlib.Path(os.environ.get("SELQUANT_PYTHON_BUILD", ROOT / "build-python"))
        jobs = str(os.cpu_count() or 1)
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                        "-DSELQUANT_PYTHON=ON", "-DBUILD_TESTING=OFF", "-DSELQUANT_BENCH=OFF",
                        f"-DPython_EXECUTABLE={sys.executable}",
                        f"-DSELQUANT_PYTHON_OUTPUT={target.parent}"], check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", str(build), "-j", jobs, "--target", "_selquant"],
                       check=True)
        if not target.exists():
            sys.exit(f"the build did not make {target}")


setup(ext_modules=[CMakeExtension("selquant._selquant")], cmdclass={"build_ext": CMakeBuild})
