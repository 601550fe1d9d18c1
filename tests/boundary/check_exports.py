#!/usr/bin/env python3
"""Usage: check_exports.py LIBRARY EXPECTED [NAMESPACE]

Fails unless the shared library's dynamic symbols are exactly its boundary: every signature
listed in EXPECTED is defined, and nothing else is exported but the type information and
virtual tables of the boundary classes. Weak copies of other code's templates, inline
functions, virtual tables and type information (std, Boost, the platform's types) are emitted
by every object that uses them and are not the library's own: they are not counted, unless
they belong to the library's own namespace, NAMESPACE (Cluster by default).
"""
import re
import subprocess
import sys

WEAK_KINDS = set("VvWwu")
VAGUE_PREFIXES = ("typeinfo name for ", "typeinfo for ", "vtable for ")


def without_argument(name, start):
    """Drops every template argument that begins with `start` (", std::allocator<")."""
    while True:
        at = name.find(start)
        if at < 0:
            return name
        depth, end = 0, at + len(start) - 1
        while True:
            depth += {"<": 1, ">": -1}.get(name[end], 0)
            end += 1
            if depth == 0:
                break
        name = name[:at] + name[end:]


def simplify(name):
    """Spells library types as the headers do: std::string, std::list<T>, no allocators."""
    name = name.replace("std::__cxx11::", "std::")
    name = name.replace(", std::char_traits<char>", "")
    name = re.sub(r"\s+>", ">", without_argument(name, ", std::allocator<"))
    return name.replace("std::basic_string<char>", "std::string")


def read_expected(path):
    with open(path, encoding="utf-8") as listing:
        lines = (line.strip() for line in listing)
        return {line for line in lines if line and not line.startswith("#")}


def exported_symbols(library):
    output = subprocess.run(["nm", "-DC", "--defined-only", library], check=True,
                            capture_output=True, text=True).stdout
    for line in output.splitlines():
        columns = line.split(None, 2)
        if len(columns) == 3:
            yield columns[1], simplify(columns[2])


def owner(name):
    """The entity a symbol stands for: the class of a typeinfo or vtable, else itself."""
    for prefix in VAGUE_PREFIXES:
        if name.startswith(prefix):
            return name[len(prefix):], True
    return name, False


def boundary_classes(expected, namespace):
    return {name.split("::")[0] + "::" + name.split("::")[1]
            for name in expected if name.startswith(namespace + "::")}


def is_allowed(kind, name, expected, classes, namespace):
    if name in expected:
        return True
    entity, vague = owner(name)
    if vague and entity in classes:
        return True
    return kind in WEAK_KINDS and not entity.startswith(namespace + "::")


def main(library, expected_path, namespace="Cluster"):
    expected = read_expected(expected_path)
    classes = boundary_classes(expected, namespace)
    found = set()
    unexpected = []
    for kind, name in exported_symbols(library):
        found.add(name)
        if not is_allowed(kind, name, expected, classes, namespace):
            unexpected.append(f"{kind} {name}")
    missing = sorted(expected - found)
    for symbol in sorted(set(unexpected)):
        print(f"exported outside the boundary: {symbol}")
    for symbol in missing:
        print(f"missing from the boundary: {symbol}")
    if unexpected or missing:
        return 1
    print(f"{len(expected)} boundary operations exported, nothing else of the library's own")
    return 0


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
