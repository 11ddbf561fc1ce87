"""Checks of the release files that scripts/check_dist.sh runs; each prints what is wrong.

    check_dist.py sdist SDIST    the sdist holds only what building and installing need, and LICENSE
    check_dist.py tag WHEEL      auditwheel show confirms the wheel's portable platform tag
    check_dist.py installed      run by the interpreter of the environment the wheel is installed in:
                                 every extension module of zorp_miner needs the copies of the C++
                                 runtime in zorp_miner.libs (readelf -d), finds them through its
                                 RUNPATH, and loads them, not the system's (LD_DEBUG=libs)

Exit status 0 when everything holds, 1 otherwise. The installed check uses the standard library
only, so it runs in an environment that holds nothing but the wheel and the test requirements.
"""

from __future__ import annotations

import importlib.machinery
import importlib.metadata
import json
import os
import re
import subprocess
import sys
import tarfile
import tempfile
from pathlib import Path

# The sdist's top-level entries: sources, build files, the python/ folder, README, licence and
# changelog; PKG-INFO is written by the build backend.
SDIST_ENTRIES = frozenset(
    {
        "CHANGELOG.md",
        "CMakeLists.txt",
        "LICENSE",
        "PKG-INFO",
        "README.md",
        "pyproject.toml",
        "python",
        "src",
    }
)
LIBS_DIR = "zorp_miner.libs"
# The C++ runtime, under its system names and under the names the wheel gives its copies.
SYSTEM_RUNTIME = re.compile(r"(libstdc\+\+|libgcc_s)\.so(\.\d+)*")
RUNTIME = re.compile(r"(libstdc\+\+|libgcc_s)[-.].*")
BUNDLED = {
    "libstdc++": re.compile(r"libstdc\+\+-[0-9a-f]{8}\.so\.6(\.\d+)*"),
    "libgcc_s": re.compile(r"libgcc_s-[0-9a-f]{8}\.so\.1"),
}


def check_sdist(sdist: Path) -> list[str]:
    """Problems with the sdist's contents."""
    with tarfile.open(sdist) as archive:
        names = archive.getnames()
    roots = {name.split("/")[0] for name in names}
    if len(roots) != 1:
        return [f"{sdist.name}: expected one top-level folder, found {sorted(roots)}"]
    entries = {name.split("/")[1] for name in names if name.count("/") >= 1}
    problems = [
        f"{sdist.name}: {entry} does not belong in the sdist"
        for entry in sorted(entries - SDIST_ENTRIES)
    ]
    problems += [
        f"{sdist.name}: {entry} is missing"
        for entry in ("LICENSE", "CMakeLists.txt", "src")
        if entry not in entries
    ]
    return problems


def check_tag(wheel: Path) -> list[str]:
    """Problems with the wheel's platform tag, as auditwheel show sees its contents."""
    from packaging.utils import parse_wheel_filename

    shown = subprocess.run(
        [sys.executable, "-m", "auditwheel", "show", "--json", str(wheel)],
        check=True,
        capture_output=True,
        text=True,
    )
    confirmed = json.loads(shown.stdout).get("overall_tag")
    platforms = {tag.platform for tag in parse_wheel_filename(wheel.name)[3]}
    problems = [
        f"{wheel.name}: tagged {platform}, which no package index accepts"
        for platform in sorted(platforms)
        if platform.startswith("linux_")
    ]
    if confirmed not in platforms:
        problems.append(
            f"{wheel.name}: auditwheel show finds it consistent with {confirmed}, "
            f"not with its tags {sorted(platforms)}"
        )
    return problems


def dynamic_section(path: Path) -> list[tuple[str, str]]:
    """The (tag, value) pairs of an ELF file's dynamic section, as readelf -d prints them."""
    shown = subprocess.run(
        ["readelf", "-d", str(path)],
        check=True,
        capture_output=True,
        text=True,
        env={**os.environ, "LC_ALL": "C"},
    )
    entries = re.findall(
        r"^\s*0x[0-9a-f]+\s+\((\w+)\)\s+.*?\[(.*)\]\s*$", shown.stdout, flags=re.MULTILINE
    )
    return [(tag, value) for tag, value in entries]


def check_links(path: Path, libs_dir: Path) -> list[str]:
    """Problems with how one ELF file of the wheel finds the C++ runtime."""
    entries = dynamic_section(path)
    needed = [value for tag, value in entries if tag == "NEEDED"]
    runpaths = [value for tag, value in entries if tag == "RUNPATH"]
    runtime = [name for name in needed if RUNTIME.fullmatch(name)]
    problems = [
        f"{path.name}: has a DT_RPATH; the search path belongs in DT_RUNPATH"
        for tag, _ in entries
        if tag == "RPATH"
    ]
    for name in runtime:
        if SYSTEM_RUNTIME.fullmatch(name):
            problems.append(f"{path.name}: needs the system's {name}, not a bundled copy")
        elif not (libs_dir / name).is_file():
            problems.append(f"{path.name}: needs {name}, which is not in {LIBS_DIR}")
    expected = "$ORIGIN/" + os.path.relpath(libs_dir, path.parent)
    if path.parent == libs_dir:
        expected = "$ORIGIN"
    if runtime and runpaths != [expected]:
        problems.append(f"{path.name}: RUNPATH is {runpaths}, expected [{expected!r}]")
    return problems


# Loads one extension module from its file under its full name, without importing the package
# it sits in, and marks the end of that on stderr: the package imports numpy, which loads the
# system's C++ runtime for itself, and only what the module itself loads is checked. Then it
# imports the module the usual way and prints the file the import found.
LOAD_ONE = """
import importlib, importlib.util, sys
spec = importlib.util.spec_from_file_location(sys.argv[1], sys.argv[2])
spec.loader.exec_module(importlib.util.module_from_spec(spec))
sys.stderr.write("check_dist: loaded\\n")
sys.stderr.flush()
print(importlib.import_module(sys.argv[1]).__file__)
"""


def loaded_objects(module: str, path: Path) -> tuple[str, list[Path]]:
    """Load the extension module at path, named module, in a fresh interpreter under
    LD_DEBUG=libs.

    Returns the file that importing module finds, and every shared object whose initialisers
    the dynamic loader ran, in order, while loading the module at path.
    """
    with tempfile.TemporaryDirectory() as scratch:
        run = subprocess.run(
            [sys.executable, "-I", "-c", LOAD_ONE, module, str(path)],
            check=True,
            capture_output=True,
            text=True,
            cwd=scratch,
            env={**os.environ, "LD_DEBUG": "libs"},
        )
    own = run.stderr.split("check_dist: loaded\n", 1)[0]
    inits = re.findall(r"calling init: (.+)$", own, flags=re.MULTILINE)
    return run.stdout.strip(), [Path(path).resolve() for path in inits]


def check_loading(module: str, path: Path, libs_dir: Path) -> list[str]:
    """Problems with what the dynamic loader loads when module is imported."""
    imported, loaded = loaded_objects(module, path)
    problems = []
    if Path(imported).resolve() != path:
        problems.append(f"import {module} loaded {imported}, not {path}")
    needed = [value for tag, value in dynamic_section(path) if tag == "NEEDED"]
    bundled = [
        name for name in needed if RUNTIME.fullmatch(name) and not SYSTEM_RUNTIME.fullmatch(name)
    ]
    for name in bundled:
        if (libs_dir / name).resolve() not in loaded:
            problems.append(f"import {module} did not load {LIBS_DIR}/{name}")
    for other in loaded:
        if SYSTEM_RUNTIME.fullmatch(other.name) or (
            RUNTIME.fullmatch(other.name) and other.parent != libs_dir
        ):
            problems.append(f"import {module} loaded {other}, outside {LIBS_DIR}")
    return problems


def module_name(path: Path, site: Path) -> str:
    """The import name of the extension module at path below site."""
    relative = path.relative_to(site)
    stem = relative.name
    for suffix in importlib.machinery.EXTENSION_SUFFIXES:
        if stem.endswith(suffix):
            stem = stem[: -len(suffix)]
            break
    return ".".join([*relative.parent.parts, stem])


def check_installed() -> list[str]:
    """Problems with the installed zorp_miner's extension modules and their bundled runtime."""
    dist = importlib.metadata.distribution("zorp_miner")
    site = Path(str(dist.locate_file(""))).resolve()
    libs_dir = site / LIBS_DIR
    files = [Path(str(dist.locate_file(file))).resolve() for file in dist.files or []]
    modules = [
        path
        for path in files
        if path.name.endswith(tuple(importlib.machinery.EXTENSION_SUFFIXES))
        and path.parent != libs_dir
    ]
    copies = [path for path in files if path.parent == libs_dir]
    problems = []
    if not modules:
        problems.append("zorp_miner installed no extension module")
    if not any(path.match("*.dist-info/licenses/LICENSE") for path in files):
        problems.append("the wheel's metadata carries no LICENSE")
    for library, pattern in BUNDLED.items():
        if not any(pattern.fullmatch(path.name) for path in copies):
            problems.append(f"{LIBS_DIR} holds no copy of {library}: {[p.name for p in copies]}")
    for path in copies:
        problems += check_links(path, libs_dir)
    for path in modules:
        problems += check_links(path, libs_dir)
        if not any(
            RUNTIME.fullmatch(value) for tag, value in dynamic_section(path) if tag == "NEEDED"
        ):
            problems.append(f"{path.name}: needs no C++ runtime library at all")
        problems += check_loading(module_name(path, site), path, libs_dir)
        print(f"{path.relative_to(site)}: checked", file=sys.stderr)
    return problems


def main(argv: list[str] | None = None) -> int:
    args = sys.argv[1:] if argv is None else argv
    match args:
        case ["sdist", sdist]:
            problems = check_sdist(Path(sdist))
        case ["tag", wheel]:
            problems = check_tag(Path(wheel))
        case ["installed"]:
            problems = check_installed()
        case _:
            print(__doc__, file=sys.stderr)
            return 2
    for problem in problems:
        print(f"check_dist: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
