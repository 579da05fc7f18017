#!/usr/bin/env python3
"""Makes the npm package kavenor-client from its one source, into a folder that `npm pack` takes:

  make_package.py OUT

  OUT/package.json                 package.json.in with the product's version
  OUT/README.md                    the web developers' guide
  OUT/dist/kavenor-client.mjs      the ES module (import, bundlers)
  OUT/dist/kavenor-client.js       UMD: <script src> (the global Kavenor) and require()
  OUT/dist/kavenor-client.d.mts    the types for import
  OUT/dist/kavenor-client.d.ts     the types for require and for the global

The version is the one in the project() line of CMakeLists.txt, read here so that it is written once.
"""
import json
import re
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
SOURCE = HERE / "src" / "kavenor-client.js"
TYPES = HERE / "src" / "kavenor-client.d.ts"
GUIDE = ROOT / "docs" / "web-developers.md"
VERSION_MARK = "'@VERSION@'"


def product_version():
    match = re.search(r"^project\(Kavenor VERSION (\d+\.\d+\.\d+)\b", (ROOT / "CMakeLists.txt").read_text(), re.M)
    if not match:
        sys.exit("make_package: no version in the project() line of CMakeLists.txt")
    return match.group(1)


def module_text(version):
    text = SOURCE.read_text(encoding="utf-8")
    if text.count(VERSION_MARK) != 1:
        sys.exit(f"make_package: {SOURCE} must hold {VERSION_MARK} once")
    return text.replace(VERSION_MARK, f"'{version}'")


def split_exports(module):
    """The module without its closing `export { ... };` and the names it exports; the source exports
    nothing elsewhere, so that the UMD file is the same code."""
    match = re.search(r"^export \{([^}]*)\};\s*\Z", module, re.M)
    if not match or re.search(r"^export\b", module[:match.start()], re.M):
        sys.exit(f"make_package: {SOURCE} must export once, in a closing export {{ ... }};")
    names = [n.strip() for n in match.group(1).split(",") if n.strip()]
    return module[:match.start()].rstrip() + "\n", names


def umd_text(version=None):
    """The UMD file: the module's code in a factory; the global Kavenor, or the exports of require()."""
    code, names = split_exports(module_text(version or product_version()))
    # One assignment per name: Node finds the named exports of a CommonJS file this way.
    assignments = "".join(f"    exports.{n} = api.{n};\n" for n in names)
    body = "".join(("  " + line if line else line) + "\n" for line in code.splitlines())
    api = ", ".join(f"{n}: {n}" for n in names)
    return (
        "(function (root, factory) {\n"
        "  'use strict';\n"
        "  var api = factory();\n"
        "  if (typeof module === 'object' && module && typeof exports === 'object' && exports) {\n"
        f"{assignments}"
        "  } else {\n"
        "    root.Kavenor = api;\n"
        "  }\n"
        "})(typeof globalThis !== 'undefined' ? globalThis : this, function () {\n"
        "  'use strict';\n"
        f"{body}\n"
        f"  return Object.freeze({{ {api} }});\n"
        "});\n"
    )


def namespace_types(types):
    """The ES module's declarations as the namespace Kavenor: require() and the global of <script>."""
    source = types.splitlines()
    # The file's opening comment stays above the namespace.
    head = 0
    while head < len(source) and (source[head].startswith("//") or not source[head]):
        head += 1
    lines = []
    for line in source[head:]:
        line = re.sub(r"^export (declare )?", "", line)
        lines.append("  " + line if line else line)
    return ("".join(line + "\n" for line in source[:head]) + "declare namespace Kavenor {\n" + "\n".join(lines).rstrip() + "\n}\n\n"
            "export = Kavenor;\nexport as namespace Kavenor;\n")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_package.py OUT")
    out = Path(sys.argv[1])
    version = product_version()
    dist = out / "dist"
    dist.mkdir(parents=True, exist_ok=True)
    package = json.loads((HERE / "package.json.in").read_text(encoding="utf-8"))
    package = {"name": package.pop("name"), "version": version, **package}
    (out / "package.json").write_text(json.dumps(package, indent=2, ensure_ascii=False) + "\n", encoding="utf-8")
    (out / "README.md").write_text(GUIDE.read_text(encoding="utf-8"), encoding="utf-8")
    (dist / "kavenor-client.mjs").write_text(module_text(version), encoding="utf-8")
    (dist / "kavenor-client.js").write_text(umd_text(version), encoding="utf-8")
    types = TYPES.read_text(encoding="utf-8")
    (dist / "kavenor-client.d.mts").write_text(types, encoding="utf-8")
    (dist / "kavenor-client.d.ts").write_text(namespace_types(types), encoding="utf-8")


if __name__ == "__main__":
    main()
