"""The package's import map: its back-edges, the imports that close a cycle.

An import of module B by module A is a back-edge when B imports A again, directly or through
other modules. Imports at module level (``if TYPE_CHECKING:`` blocks left out: they never run)
are counted on their own; an import inside a function (lazy) is a back-edge when B reaches A
through any import. The implicit import of a package's ``__init__`` by its submodules is not
an edge, nor is an import of a native module (a ``.pyi`` stub beside the sources).

    .venv/bin/python scripts/import_map.py [PACKAGE_DIR]     # default: python/zorp_miner
"""

from __future__ import annotations

import argparse
import ast
import pathlib
from collections.abc import Iterator

Edges = dict[str, set[str]]


def modules(root: pathlib.Path) -> dict[str, pathlib.Path]:
    """Every module of the package under root, by dotted name."""
    found = {}
    for path in sorted(root.rglob("*.py")):
        parts = list(path.relative_to(root.parent).with_suffix("").parts)
        if parts[-1] == "__init__":
            parts.pop()
        found[".".join(parts)] = path
    return found


def _is_type_checking(node: ast.If) -> bool:
    test = node.test
    return (isinstance(test, ast.Name) and test.id == "TYPE_CHECKING") or (
        isinstance(test, ast.Attribute) and test.attr == "TYPE_CHECKING"
    )


def _imports(body: list[ast.stmt], lazy: bool) -> Iterator[tuple[ast.Import | ast.ImportFrom, bool]]:
    """The import statements of body with whether each runs lazily (inside a function)."""
    for node in body:
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            yield node, lazy
        elif isinstance(node, ast.If) and _is_type_checking(node):
            continue
        elif isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            yield from _imports(node.body, True)
        elif isinstance(node, ast.ClassDef):
            yield from _imports(node.body, lazy)
        else:
            for field in ("body", "orelse", "finalbody", "handlers"):
                inner = getattr(node, field, None)
                if isinstance(inner, list):
                    yield from _imports([n for n in inner if isinstance(n, ast.stmt)], lazy)
                    for handler in inner:
                        if isinstance(handler, ast.ExceptHandler):
                            yield from _imports(handler.body, lazy)


def targets(
    name: str, path: pathlib.Path, node: ast.Import | ast.ImportFrom, known: set[str], native: set[str]
) -> set[str]:
    """The package's modules an import statement of module name loads (native modules, which
    import nothing of the package, left out)."""
    if isinstance(node, ast.Import):
        return {alias.name for alias in node.names if alias.name in known}
    package = name if path.name == "__init__.py" else name.rpartition(".")[0]
    if node.level:
        base = package.split(".")
        base = base[: len(base) - (node.level - 1)]
        origin = ".".join(base + ([node.module] if node.module else []))
    else:
        origin = node.module or ""
    out = set()
    for alias in node.names:
        submodule = f"{origin}.{alias.name}"
        if submodule in known:
            out.add(submodule)
        elif origin in known and submodule not in native:
            out.add(origin)
    return out - {name}


def import_map(root: pathlib.Path) -> tuple[Edges, Edges]:
    """The module-level and the lazy imports between the package's modules."""
    found = modules(root)
    known = set(found)
    # Native modules are described by their stubs (a .pyi beside the sources).
    native = {".".join(stub.relative_to(root.parent).with_suffix("").parts) for stub in root.rglob("*.pyi")}
    eager: Edges = {name: set() for name in found}
    lazy: Edges = {name: set() for name in found}
    for name, path in found.items():
        tree = ast.parse(path.read_text(encoding="utf-8"))
        for node, inside in _imports(tree.body, False):
            (lazy if inside else eager)[name] |= targets(name, path, node, known, native)
    return eager, lazy


def reaches(edges: Edges, start: str, goal: str) -> bool:
    seen, todo = {start}, [start]
    while todo:
        for after in edges.get(todo.pop(), ()):
            if after == goal:
                return True
            if after not in seen:
                seen.add(after)
                todo.append(after)
    return False


def back_edges(eager: Edges, lazy: Edges) -> tuple[list[tuple[str, str]], list[tuple[str, str]]]:
    """The module-level imports on a cycle of module-level imports, and the lazy imports on a
    cycle of any imports."""
    both = {name: eager[name] | lazy[name] for name in eager}
    at_load = [(a, b) for a in sorted(eager) for b in sorted(eager[a]) if reaches(eager, b, a)]
    later = [(a, b) for a in sorted(lazy) for b in sorted(lazy[a]) if reaches(both, b, a)]
    return at_load, later


def main() -> None:
    cli = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    cli.add_argument("package", nargs="?", default="python/zorp_miner", type=pathlib.Path)
    args = cli.parse_args()
    eager, lazy = import_map(args.package)
    at_load, later = back_edges(eager, lazy)
    print(f"{len(eager)} modules, {sum(map(len, eager.values()))} module-level imports, "
          f"{sum(map(len, lazy.values()))} lazy imports")
    print(f"module-level back-edges: {len(at_load)}")
    for a, b in at_load:
        print(f"  {a} -> {b}")
    print(f"lazy back-edges: {len(later)}")
    for a, b in later:
        print(f"  {a} -> {b}")


if __name__ == "__main__":
    main()
