#!/usr/bin/env python3
"""Checks that a plug-in bundle imports nothing from the program.

Every undefined dynamic symbol of each bundle must come from the C library,
the C++ runtime, libgcc, the system's OpenSSL (the Telnet device's TLS) or
the shared class library libvelmot; the bundle may need no other library. Usage: check_imports.py LIBVELMOT BUNDLE...
"""
import re
import subprocess
import sys

ALLOWED_NEEDED = re.compile(r"^(libc\.so|libm\.so|libstdc\+\+\.so|libgcc_s\.so|libvelmot\.so|ld-linux|libssl\.so\.3|libcrypto\.so\.3)")
RUNTIME_VERSION = re.compile(r"@(GLIBC|GLIBCXX|CXXABI|GCC|OPENSSL)_")


def dynamic_symbols(path, flag):
    out = subprocess.run(["nm", "-D", flag, path], check=True, capture_output=True, text=True).stdout
    rows = []
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 2:
            rows.append((parts[-2], parts[-1]))
    return rows


def needed(path):
    out = subprocess.run(["readelf", "-d", path], check=True, capture_output=True, text=True).stdout
    return re.findall(r"\(NEEDED\).*\[(.*)\]", out)


def main():
    velmot = sys.argv[1]
    exported = {name.split("@")[0] for kind, name in dynamic_symbols(velmot, "--defined-only")}
    failures = []
    for bundle in sys.argv[2:]:
        for lib in needed(bundle):
            if not ALLOWED_NEEDED.match(lib):
                failures.append(f"{bundle}: needs {lib}")
        for kind, name in dynamic_symbols(bundle, "--undefined-only"):
            if kind == "w" or RUNTIME_VERSION.search(name):
                continue
            if name.split("@")[0] in exported:
                continue
            failures.append(f"{bundle}: imports {name}")
        print(f"{bundle}: ok" if not any(f.startswith(bundle) for f in failures) else f"{bundle}: FAILED")
    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
