"""Builds the wheel of orbrix_cqg with CMake (see pyproject.toml).

The extension orbrix_cqg._core is built by the project's CMake build and
installed into a staging prefix; the package folder (the module, its stubs,
py.typed) and the shared libraries the module loads are copied into the
wheel's package, where the module's RPATH ($ORIGIN) and the libraries' own
find them. ORBRIX_CMAKE_BUILD_DIR names a configured build tree to reuse
(so CI does not build the project twice); by default the wheel gets a tree
of its own under build/wheel.
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(orbrix VERSION ([0-9.]+)", text).group(1)


def run(*command):
    print("setup.py:", " ".join(map(str, command)), flush=True)
    subprocess.run([str(c) for c in command], check=True)


def needed_system_libraries(module):
    """Libraries the module loads that Debian ships only in a -dev package
    (libdate-tz), which a wheel must therefore carry."""
    out = subprocess.run(["ldd", str(module)], check=True, capture_output=True, text=True).stdout
    found = []
    for line in out.splitlines():
        m = re.match(r"\s*(libdate-tz\.so\.\d+) => (\S+)", line)
        if m:
            found.append(Path(m.group(2)))
    return found


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = Path(os.environ.get("ORBRIX_CMAKE_BUILD_DIR")
                         or ROOT / "build" / "wheel" / "cmake")
        if not (build_dir / "CMakeCache.txt").exists():
            run("cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
                "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_COMPILER=g++",
                "-DORBRIX_BUILD_TESTS=OFF", "-DORBRIX_BUILD_BENCHMARKS=OFF",
                "-DORBRIX_MODULES=common;core;automation;gateways;plugins",
                f"-DPython3_EXECUTABLE={sys.executable}")
        run("cmake", "--build", build_dir, "--target", "orbrix_cqg")
        stage = Path(self.build_temp) / "stage"
        shutil.rmtree(stage, ignore_errors=True)
        run("cmake", "--install", build_dir, "--prefix", stage.resolve(), "--strip")
        installed = next(stage.glob("lib/python3/dist-packages/orbrix_cqg"))
        package = Path(self.get_ext_fullpath(ext.name)).parent
        shutil.rmtree(package, ignore_errors=True)
        shutil.copytree(installed, package)
        # The project's libraries under their SONAMEs (the names the module
        # asks for), as files, not links.
        # (lib/, lib64/ or Debian's multiarch lib/<triplet>/; not the Python folder)
        for lib in sorted(stage.glob("lib*/**/lib*.so.*")):
            if not lib.is_symlink() and "python3" not in lib.parts:
                shutil.copy2(lib, package / soname_of(lib))
        module = Path(self.get_ext_fullpath(ext.name))
        for lib in needed_system_libraries(module):
            shutil.copy2(lib, package / lib.name)


def soname_of(library):
    out = subprocess.run(["objdump", "-p", str(library)], check=True, capture_output=True,
                         text=True).stdout
    return re.search(r"^\s*SONAME\s+(\S+)", out, re.M).group(1)


(ROOT / "build" / "wheel").mkdir(parents=True, exist_ok=True)
setup(
    version=project_version(),
    packages=["orbrix_cqg"],
    package_dir={"": "python/package"},
    ext_modules=[Extension("orbrix_cqg._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
    options={"build": {"build_base": "build/wheel"},
             "egg_info": {"egg_base": "build/wheel"}},
)
