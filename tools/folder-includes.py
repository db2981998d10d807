#!/usr/bin/env python3
"""Rewrites the project's quoted includes to name their folder from the
project root ("cli/program.h", "reader/platform/serial_port.h"), resolving
each as the compiler did: beside the including file first, then in the
folders that used to be on the include path. The public header keeps its
installed name "zelkor.h". Prints what it could not resolve; changes files
in place; running it twice changes nothing."""
import pathlib
import re
import sys

ROOT = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
TOPS = ("reader", "card", "cli", "app", "sim", "capture", "words", "ports", "tests", "bench")
OLD_PATH = ["reader", "reader/include", "sim", "app", "cli", "tests/support", "tests/app/support",
            "tests/windows", "tests/cli"]
INCLUDE = re.compile(r'^(\s*#\s*include\s+)"([^"]+)"', re.M)


def resolve(source, name):
    if name == "zelkor.h" or name.startswith(tuple(t + "/" for t in TOPS)):
        return name
    beside = source.parent / name
    if beside.is_file():
        return beside.resolve().relative_to(ROOT).as_posix()
    if name.endswith(".moc"):  # made by the build beside the test
        return name
    found = [d for d in OLD_PATH if (ROOT / d / name).is_file()]
    # The folder a test folder tests is the one its targets put first.
    tested = source.relative_to(ROOT).parts[1] if source.relative_to(ROOT).parts[0] == "tests" else None
    if len(found) > 1 and tested in found:
        found = [tested]
    if len(found) == 1:
        return (pathlib.Path(found[0]) / name).as_posix()
    print(f"{source.relative_to(ROOT)}: \"{name}\" {'ambiguous: ' + ', '.join(found) if found else 'not found'}",
          file=sys.stderr)
    return name


def main():
    changed = 0
    for top in TOPS:
        for source in sorted((ROOT / top).rglob("*")):
            if source.suffix not in (".c", ".cpp", ".h", ".inl") or not source.is_file():
                continue
            text = source.read_text(encoding="utf-8")
            new = INCLUDE.sub(lambda m: f'{m.group(1)}"{resolve(source, m.group(2))}"', text)
            if new != text:
                source.write_text(new, encoding="utf-8")
                changed += 1
    print(f"{changed} file(s) changed")


if __name__ == "__main__":
    main()
