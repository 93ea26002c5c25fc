"""Prints the test classes of an end-to-end test file, one a line, so that the build can give each
its own ctest entry (entries of one file then run in parallel). A class counts when it derives
from unittest.TestCase, directly or through classes of the same file, and has test methods of its
own or from those classes; the file is read, not run."""

import ast
import sys


def test_classes(source):
    cases = {}  # name -> whether it has test methods
    names = []
    for node in ast.parse(source).body:
        if not isinstance(node, ast.ClassDef):
            continue
        bases = [ast.unparse(base) for base in node.bases]
        if not any(base in ("unittest.TestCase", "TestCase") or base in cases for base in bases):
            continue
        own = any(isinstance(item, ast.FunctionDef) and item.name.startswith("test")
                  for item in node.body)
        cases[node.name] = own or any(cases.get(base, False) for base in bases)
        if cases[node.name]:
            names.append(node.name)
    return names


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        names = test_classes(f.read())
    if not names:
        sys.exit("%s: no test class" % sys.argv[1])
    print("\n".join(names))


if __name__ == "__main__":
    main()
