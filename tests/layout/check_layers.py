#!/usr/bin/env python3
"""Checks that the source folders stay one library each and layered.

The layers are the folders of src/ in the order src/CMakeLists.txt lists
them (QV_LAYERS), bottom first. Every folder must be listed; its
CMakeLists.txt makes exactly one library (the shell's also makes the
program) from its own files only, with no source list filtered; and no
file includes a header, or names a custom widget in a form, that lives in
a folder listed after its own.

    check_layers.py SRC_DIR      check a tree; prints each fault, exits 1
    check_layers.py --self-test  a tree with an upward include must fail
"""
import os
import re
import sys
import tempfile


def layers_of(src):
    text = open(os.path.join(src, "CMakeLists.txt")).read()
    match = re.search(r"set\(QV_LAYERS([^)]*)\)", text)
    return match.group(1).split() if match else []


def check(src):
    faults = []
    layers = layers_of(src)
    if not layers:
        return ["src/CMakeLists.txt: no QV_LAYERS list"]
    folders = sorted(d for d in os.listdir(src) if os.path.isdir(os.path.join(src, d)))
    for folder in folders:
        if folder not in layers:
            faults.append(f"src/{folder}: not in QV_LAYERS")
    for folder in layers:
        lists = os.path.join(src, folder, "CMakeLists.txt")
        if not os.path.isfile(lists):
            faults.append(f"src/{folder}: no CMakeLists.txt")
            continue
        text = open(lists).read()
        if len(re.findall(r"\badd_library\(", text)) != 1:
            faults.append(f"src/{folder}/CMakeLists.txt: not exactly one library")
        if re.search(r"list\((FILTER|REMOVE_ITEM)|\.\./|CMAKE_SOURCE_DIR", text):
            faults.append(f"src/{folder}/CMakeLists.txt: filters its sources or takes another folder's")

    # Where each header and form lives: a bare name is found in the
    # includer's own folder first, then at the root of any library's folder;
    # "group/Name.h" is rooted at a library's folder (the views' groups).
    where = {}
    for folder in layers:
        for root, _, files in os.walk(os.path.join(src, folder)):
            for name in files:
                path = os.path.relpath(os.path.join(root, name), src)
                where.setdefault(path, folder)

    def resolve(includer, name):
        if name.startswith("ui_") and name.endswith(".h"):
            name = name[3:-2] + ".ui"
        own = os.path.dirname(includer)
        for candidate in [os.path.join(own, name)] + [os.path.join(f, name) for f in layers]:
            candidate = os.path.normpath(candidate)
            if candidate in where:
                return candidate
        return None

    for path, folder in sorted(where.items()):
        if not path.endswith((".h", ".cpp", ".ui")):
            continue
        text = open(os.path.join(src, path), errors="replace").read()
        names = re.findall(r'#include "([^"]+)"', text) + re.findall(r"<header>([^<]+)</header>", text)
        for name in names:
            target = resolve(path, name)
            if target is None:
                continue
            if layers.index(where[target]) > layers.index(folder):
                faults.append(f"src/{path}: includes {name} from src/{where[target]}, a layer above")
    return faults


def self_test():
    with tempfile.TemporaryDirectory() as src:
        def write(path, text):
            os.makedirs(os.path.dirname(os.path.join(src, path)), exist_ok=True)
            open(os.path.join(src, path), "w").write(text)
        write("CMakeLists.txt", "set(QV_LAYERS store views shell)\n")
        for folder in ("store", "views", "shell"):
            write(f"{folder}/CMakeLists.txt", f"add_library(qv_{folder} STATIC x.cpp)\n")
        write("store/Data.h", "")
        write("shell/MainWindow.h", '#include "Data.h"\n#include "search/SearchForm.h"\n')
        write("views/search/SearchForm.h", '#include "Data.h"\n')
        write("views/search/SearchForm.ui", "<header>TreeWidget.h</header>")
        if check(src):
            return "a tree that only includes downward was refused: " + "; ".join(check(src))
        write("views/search/SearchForm.cpp", '#include "SearchForm.h"\n#include "MainWindow.h"\n')
        write("store/Data.cpp", '#include "search/SearchForm.h"\n')
        write("stray/Stray.h", "")
        write("views/CMakeLists.txt", "add_library(a)\nlist(FILTER x EXCLUDE REGEX y)\n")
        faults = check(src)
        wanted = ["SearchForm.cpp: includes MainWindow.h", "Data.cpp: includes search/SearchForm.h",
                  "src/stray: not in QV_LAYERS", "views/CMakeLists.txt: filters"]
        missing = [w for w in wanted if not any(w in f for f in faults)]
        if missing or len(faults) != len(wanted):
            return f"expected {wanted}, found {faults}"
    return None


if __name__ == "__main__":
    if sys.argv[1:] == ["--self-test"]:
        fault = self_test()
        print(fault or "self-test passed")
        sys.exit(1 if fault else 0)
    faults = check(sys.argv[1])
    for fault in faults:
        print(fault)
    print(f"{len(faults)} layering faults")
    sys.exit(1 if faults else 0)
