#!/usr/bin/env python3
"""Checks that every library keeps to its floor.

Each library may use only the libraries below it. This script checks both
halves of that rule on the built archives and their sources:

  * headers: no source of a library includes (directly, or through the
    project's own headers) a system header its floor may not see: SDL,
    SDL_mixer and SDL_image only in the platform layer, GL only in the
    drawing library and the platform layer, libpng and FFTW only in the
    picture library and the live window's;
  * symbols: every symbol a library's objects leave undefined is defined in
    the library itself, in a library below it, or outside the project; and
    no library outside the platform layer calls SDL, SDL_mixer or SDL_image,
    none but the drawing library and the platform calls GL, and none but the
    picture library and the live window's calls libpng or FFTW.

With --tests it checks the test programs instead: none needs a shared
library from outside the project (SDL, GL, libpng, FFTW) that the floor it
tests and the floors below it do not use. So the test programs of the base
library need none of them.

Usage: check_floors.py SOURCE_DIR NM MANIFEST
       check_floors.py --tests READELF TEST_MANIFEST
MANIFEST has one line per library: name<TAB>archive<TAB>sources (';'-separated).
TEST_MANIFEST has one line per test program: name<TAB>floor<TAB>executable.
"""
import os
import re
import subprocess
import sys

# The floors, bottom first; each library lists what it may use.
BELOW = {
    "kelbase": [],
    "kelsound": ["kelbase"],
    "keldraw": ["kelbase"],
    "kelplatform_sdl": ["kelsound", "keldraw", "kelbase"],
    "kelruntime": ["kelplatform_sdl", "kelsound", "keldraw", "kelbase"],
    "skreelengine": ["kelbase"],
    "tonebrookpicture": ["kelbase"],
    "tonebrookscope": ["keldraw", "kelbase"],
    "tonebrookapp": ["tonebrookpicture", "tonebrookscope", "skreelengine", "kelruntime", "kelplatform_sdl", "kelsound",
                     "keldraw", "kelbase"],
}
SDL_USERS = {"kelplatform_sdl"}
GL_USERS = {"keldraw", "kelplatform_sdl"}
# libpng and FFTW serve the picture of a sound and the live window's
# spectrum only.
PICTURE_USERS = {"tonebrookpicture", "tonebrookscope"}

SDL_HEADER = re.compile(r"^(SDL/)?SDL(_\w+)?\.h$")
GL_HEADER = re.compile(r"^(GL/|SDL_opengl)")
SDL_SYMBOL = re.compile(r"^(SDL_|Mix_|IMG_)")
GL_SYMBOL = re.compile(r"^gl[A-Z]")
PICTURE_HEADER = re.compile(r"^(png|pngconf|fftw3)\.h$")
PICTURE_SYMBOL = re.compile(r"^(png_|fftw)")
# The shared libraries from outside the project that a floor may need, and
# the floors that use each. The platform's tests need libpng too: its image
# loader reads PNG through SDL_image, and they write their PNG files with it.
OUTSIDE = {
    "SDL": (re.compile(r"^libSDL"), SDL_USERS),
    "GL": (re.compile(r"^lib(GL|GLX|OpenGL|EGL)[.-]"), GL_USERS),
    "libpng": (re.compile(r"^libpng"), PICTURE_USERS | {"kelplatform_sdl"}),
    "FFTW": (re.compile(r"^libfftw3"), PICTURE_USERS),
}
NEEDED = re.compile(r"\(NEEDED\).*\[(.+)\]")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def includes_of(path, source_dir, seen):
    """Yields (file, header) for every angle include reachable from `path`
    through the project's own quoted includes."""
    if path in seen or not os.path.exists(path):
        return
    seen.add(path)
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = INCLUDE.match(line)
            if not m:
                continue
            kind, name = m.groups()
            if kind == '"':
                yield from includes_of(os.path.join(source_dir, name), source_dir, seen)
            else:
                yield path, name


def symbols(nm, archive):
    out = subprocess.run([nm, "--defined-only", "-g", "-P", archive], check=True,
                         capture_output=True, text=True).stdout
    defined = {line.split()[0] for line in out.splitlines()
               if line and not line.endswith(":") and len(line.split()) >= 2
               and line.split()[1] not in ("U", "w", "v")}
    out = subprocess.run([nm, "--undefined-only", "-P", archive], check=True,
                         capture_output=True, text=True).stdout
    undefined = {line.split()[0] for line in out.splitlines()
                 if line and not line.endswith(":") and len(line.split()) >= 2}
    return defined, undefined


def check_tests(readelf, manifest):
    """The test programs: the shared libraries each needs (its DT_NEEDED
    entries), against those its floor may use."""
    problems = []
    count = 0
    with open(manifest, encoding="utf-8") as f:
        for line in f:
            name, floor, executable = line.rstrip("\n").split("\t")
            count += 1
            if floor not in BELOW:
                problems.append(f"{name}: tests {floor}, which is no floor")
                continue
            floors = {floor, *BELOW[floor]}
            out = subprocess.run([readelf, "-d", executable], check=True,
                                 capture_output=True, text=True).stdout
            for needed in NEEDED.findall(out):
                for kind, (pattern, users) in OUTSIDE.items():
                    if pattern.match(needed) and not floors & users:
                        problems.append(f"{name}: a test of {floor} needs {needed} ({kind})")
    for p in problems:
        print(p)
    print(f"check_floors: {count} test programs, {len(problems)} problem(s)")
    return 1 if problems else 0


def main():
    if sys.argv[1] == "--tests":
        return check_tests(*sys.argv[2:4])
    source_dir, nm, manifest = sys.argv[1:4]
    libs = {}
    with open(manifest, encoding="utf-8") as f:
        for line in f:
            name, archive, sources = line.rstrip("\n").split("\t")
            libs[name] = (archive, [s for s in sources.split(";") if s])
    missing = set(BELOW) - set(libs)
    problems = [f"{name}: not in the manifest" for name in sorted(missing)]

    for name, (_, sources) in libs.items():
        for source in sources:
            for where, header in includes_of(source, source_dir, set()):
                rel = os.path.relpath(where, source_dir)
                if SDL_HEADER.match(header) and name not in SDL_USERS:
                    problems.append(f"{name}: {rel} includes <{header}>, an SDL header")
                if GL_HEADER.match(header) and name not in GL_USERS:
                    problems.append(f"{name}: {rel} includes <{header}>, a GL header")
                if PICTURE_HEADER.match(header) and name not in PICTURE_USERS:
                    problems.append(f"{name}: {rel} includes <{header}>, a libpng or FFTW header")

    table = {name: symbols(nm, archive) for name, (archive, _) in libs.items()}
    owner = {}
    for name, (defined, _) in table.items():
        for sym in defined:
            owner.setdefault(sym, name)
    for name, (defined, undefined) in table.items():
        allowed = {name, *BELOW.get(name, [])}
        for sym in sorted(undefined - defined):
            if sym in owner and owner[sym] not in allowed:
                problems.append(f"{name}: uses {sym} of {owner[sym]}, which is above it")
            elif sym not in owner:
                if SDL_SYMBOL.match(sym) and name not in SDL_USERS:
                    problems.append(f"{name}: calls {sym} (SDL)")
                if GL_SYMBOL.match(sym) and name not in GL_USERS:
                    problems.append(f"{name}: calls {sym} (GL)")
                if PICTURE_SYMBOL.match(sym) and name not in PICTURE_USERS:
                    problems.append(f"{name}: calls {sym} (libpng or FFTW)")

    for p in problems:
        print(p)
    print(f"check_floors: {len(libs)} libraries, {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
