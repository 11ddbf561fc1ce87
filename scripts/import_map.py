"""The package's import map, checked: no import circle, and no layer importing a higher one
unless docs/architecture.md says why.

Every import of one of the package's modules by another counts: at module level, inside a
function (lazy), and under ``if TYPE_CHECKING:``. The implicit import of a package's
``__init__`` by its submodules is not an edge, nor is an import of a native module (a ``.pyi``
stub beside the sources). The layers, from the bottom (LAYERS below), are those of
docs/architecture.md; an import from a lower layer to a higher one is allowed only when it is
in UPWARD and docs/architecture.md names both modules.

    .venv/bin/python scripts/import_map.py [PACKAGE_DIR]     # default: python/zorp_miner

Prints the map's size, every circle and every upward import; exits 1 when there is a circle or
an upward import the architecture page does not explain.
"""

from __future__ import annotations

import argparse
import ast
import pathlib
import sys
from collections.abc import Iterator

Edges = dict[str, set[str]]
ROOT = pathlib.Path(__file__).resolve().parents[1]

# Module name prefixes by layer, the lowest first (the longest matching prefix decides).
LAYERS: list[tuple[str, list[str]]] = [
    ("base", [
        "zorp_miner._types", "zorp_miner._version", "zorp_miner._errors", "zorp_miner._extras",
        "zorp_miner._interface", "zorp_miner.params", "zorp_miner.progress", "zorp_miner.results",
        "zorp_miner._native",
    ]),
    ("compute and io", ["zorp_miner.compute", "zorp_miner.io"]),
    ("cluster", ["zorp_miner.cluster"]),
    ("run", ["zorp_miner.run"]),
    ("modes", ["zorp_miner.robust", "zorp_miner.exact", "zorp_miner.within", "zorp_miner.search", "zorp_miner.discords"]),
    ("entry points", [
        "zorp_miner", "zorp_miner.__main__", "zorp_miner.api", "zorp_miner.plot", "zorp_miner.plot_discords", "zorp_miner.cli",
        "zorp_miner.inputs", "zorp_miner.files", "zorp_miner.matches", "zorp_miner.occurrences",
    ]),
]

# The imports from a lower layer to a higher one that the architecture page explains.
UPWARD = {
    ("zorp_miner.results", "zorp_miner.search.occurrences"),
    ("zorp_miner.results", "zorp_miner.search.matches"),
}


def modules(root: pathlib.Path) -> dict[str, pathlib.Path]:
    """Every module of the package under root, by dotted name."""
    found = {}
    for path in sorted(root.rglob("*.py")):
        parts = list(path.relative_to(root.parent).with_suffix("").parts)
        if parts[-1] == "__init__":
            parts.pop()
        found[".".join(parts)] = path
    return found


def _imports(body: list[ast.stmt]) -> Iterator[ast.Import | ast.ImportFrom]:
    """Every import statement of body, wherever it stands (functions, classes, branches)."""
    for node in ast.walk(ast.Module(body=body, type_ignores=[])):
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            yield node


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


def import_map(root: pathlib.Path) -> Edges:
    """Every import between the package's modules, at any place."""
    found = modules(root)
    known = set(found)
    native = {".".join(stub.relative_to(root.parent).with_suffix("").parts) for stub in root.rglob("*.pyi")}
    edges: Edges = {name: set() for name in found}
    for name, path in found.items():
        for node in _imports(ast.parse(path.read_text(encoding="utf-8")).body):
            edges[name] |= targets(name, path, node, known, native)
    return edges


def circles(edges: Edges) -> list[list[str]]:
    """The strongly connected components of more than one module (Tarjan's algorithm)."""
    index: dict[str, int] = {}
    low: dict[str, int] = {}
    stack: list[str] = []
    on_stack: set[str] = set()
    found: list[list[str]] = []

    def visit(node: str) -> None:
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for after in sorted(edges.get(node, ())):
            if after not in index:
                visit(after)
                low[node] = min(low[node], low[after])
            elif after in on_stack:
                low[node] = min(low[node], index[after])
        if low[node] == index[node]:
            component = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                component.append(top)
                if top == node:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(10_000)
    for node in sorted(edges):
        if node not in index:
            visit(node)
    return found


def layer_of(name: str) -> int:
    """The layer of a module: that of the longest prefix it has in LAYERS."""
    best, chosen = -1, -1
    for number, (_, prefixes) in enumerate(LAYERS):
        for prefix in prefixes:
            if (name == prefix or name.startswith(prefix + ".")) and len(prefix) > best:
                best, chosen = len(prefix), number
    if chosen < 0:
        raise SystemExit(f"import_map: {name} is in no layer: add it to LAYERS and to docs/architecture.md")
    return chosen


def main() -> int:
    cli = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    cli.add_argument("package", nargs="?", default=ROOT / "python" / "zorp_miner", type=pathlib.Path)
    args = cli.parse_args()
    edges = import_map(args.package)
    page = (ROOT / "docs" / "architecture.md").read_text(encoding="utf-8")
    print(f"{len(edges)} modules, {sum(map(len, edges.values()))} imports between them")
    failed = False
    found = circles(edges)
    print(f"circles: {len(found)}")
    for component in found:
        failed = True
        print("  " + " <-> ".join(component))
    upward = [(a, b) for a in sorted(edges) for b in sorted(edges[a]) if layer_of(b) > layer_of(a)]
    print(f"upward imports: {len(upward)}")
    for a, b in upward:
        explained = (a, b) in UPWARD and a in page and b in page
        failed |= not explained
        print(f"  {a} ({LAYERS[layer_of(a)][0]}) -> {b} ({LAYERS[layer_of(b)][0]})"
              f"{'' if explained else ': not explained in docs/architecture.md'}")
    return 1 if failed else 0


if __name__ == "__main__":
    raise SystemExit(main())
