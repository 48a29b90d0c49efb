"""The compiled part of the package, kcenter._kcenter, built by the suite's
own CMake build (that target alone, Release) and copied where setuptools
packs it; everything else about the package is in pyproject.toml.

CMake, Ninja, pybind11 and the suite's build dependencies must be installed
(scripts/install-deps). The module is built for the Python running pip.
CMAKE_BUILD_PARALLEL_LEVEL sets the build's jobs (default 2).
"""
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.join(os.path.abspath(self.build_temp), "cmake")
        subprocess.run(["cmake", "-S", SOURCE, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                        "-DBUILD_TESTING=OFF", "-DBUILD_BENCHMARKS=OFF", "-DBUILD_PYTHON=ON",
                        "-DPython_EXECUTABLE=" + sys.executable], check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(["cmake", "--build", build, "--target", "_kcenter", "-j", jobs], check=True)
        name = os.path.basename(self.get_ext_filename(ext.name))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(build, "python", "kcenter", name), target)


setup(ext_modules=[Extension("kcenter._kcenter", sources=[])],
      cmdclass={"build_ext": CMakeBuild},
      # Apart from the CMake build folder (build/) of the source tree.
      options={"build": {"build_base": "build-pip"}})
