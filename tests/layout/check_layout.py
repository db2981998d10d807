#!/usr/bin/env python3
"""check_layout.py <project root>: the rules of the source tree that the
compiler cannot see. Each quoted include names its folder from the project
root (the public header keeps its installed name "zelkor.h"); the command-line
program and Parvex include nothing of the library's inside; Parvex's files
include each other without a cycle; the libraries and programs list their
sources by name. Prints every breach and exits 1 if there is one."""
import pathlib
import re
import sys

TOPS = ("reader", "card", "cli", "app", "sim", "capture", "words", "ports", "tests", "bench")
FRONT_ENDS = ("cli", "app")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(root):
    for top in TOPS:
        for path in sorted((root / top).rglob("*")):
            if path.suffix in (".c", ".cpp", ".h", ".inl") and path.is_file():
                yield path


def includes(path):
    return INCLUDE.findall(path.read_text(encoding="utf-8"))


def include_problems(root):
    for path in sources(root):
        where = path.relative_to(root).as_posix()
        for name in includes(path):
            if name == "zelkor.h" or name.endswith(".moc"):
                continue
            if not (root / name).is_file():
                yield f'{where}: "{name}" does not name a file from the project root'
            elif where.split("/")[0] in FRONT_ENDS and name.startswith("reader/"):
                yield f'{where}: "{name}" is inside the library; use zelkor.h or ports/'


def cycle_in(graph):
    state = {}

    def visit(node, trail):
        state[node] = "open"
        for nxt in graph.get(node, ()):
            if state.get(nxt) == "open":
                return trail + [node, nxt]
            if nxt not in state:
                found = visit(nxt, trail + [node])
                if found:
                    return found
        state[node] = "done"
        return None

    for node in sorted(graph):
        if node not in state:
            found = visit(node, [])
            if found:
                return found[found.index(found[-1]):]
    return None


def app_cycle_problems(root):
    # A file and its header are one unit: a window's source that includes a
    # page whose source includes the window is a cycle too.
    graph = {}
    for path in sorted((root / "app").glob("*.*")):
        if path.suffix not in (".cpp", ".h"):
            continue
        used = {pathlib.PurePosixPath(n).stem for n in includes(path) if n.startswith("app/")}
        graph.setdefault(path.stem, set()).update(used - {path.stem})
    cycle = cycle_in({unit: sorted(used) for unit, used in graph.items()})
    if cycle:
        yield "app/: these units include each other in a cycle: " + " -> ".join(cycle)


def glob_problems(root):
    lists = [root / "CMakeLists.txt"]
    for top in TOPS:
        if top != "tests":
            lists += sorted((root / top).rglob("CMakeLists.txt"))
    for path in lists:
        where = path.relative_to(root).as_posix()
        if "file(GLOB" in path.read_text(encoding="utf-8"):
            yield f"{where}: sources gathered with file(GLOB); list them by name"


def main():
    root = pathlib.Path(sys.argv[1]).resolve()
    problems = [*include_problems(root), *app_cycle_problems(root), *glob_problems(root)]
    for problem in problems:
        print(problem)
    print(f"{len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
