#!/usr/bin/env python3
"""Writes the start page's example projects and tutorial as project packages: zip files
holding "design/document.json" (the editor's document: a list of frames) and the manifest
"_project.korvelxproj" with the project's uuid and each file's size and SHA-1. The output is
the same bytes at every run (fixed times, fixed uuids), so the packages in Resources change
only when their content does.

Usage: Tools/welcome-packages/build-packages.py [Resources/WelcomeWindow]
"""
import base64
import hashlib
import json
import os
import sys
import zipfile

FIXED_TIME = (2024, 1, 1, 0, 0, 0)

PACKAGES = {
    "examples/example-landing.korvelx": {
        "uuid": "6F1C2A4E-8B3D-4E5F-9A7B-1C2D3E4F5A60",
        "frames": [
            {"id": "landing-hero", "name": "Hero", "text": "Design, prototype and ship in one place.\nStart free"},
            {"id": "landing-features", "name": "Features", "text": "Components\nInteractions\nLive preview on any device"},
            {"id": "landing-pricing", "name": "Pricing", "text": "Starter: free\nTeam: 12 per editor and month"},
            {"id": "landing-footer", "name": "Footer", "text": "About  Blog  Careers  Contact"},
        ],
    },
    "examples/example-dashboard.korvelx": {
        "uuid": "2B7E9C11-4D6A-4F28-8E3B-5A9C0D1E2F34",
        "frames": [
            {"id": "dashboard-overview", "name": "Overview", "text": "Revenue 48,200\nActive users 3,912\nChurn 1.8 %"},
            {"id": "dashboard-chart", "name": "Weekly Chart", "text": "Mon 12  Tue 18  Wed 15  Thu 22  Fri 27"},
            {"id": "dashboard-table", "name": "Recent Orders", "text": "#1042 shipped\n#1043 paid\n#1044 new"},
        ],
    },
    "tutorials/getting-started.korveltutorial": {
        "uuid": "9D4F3B2A-1E0C-4B7D-A6E5-3F2C1B0A9E87",
        "frames": [
            {"id": "tutorial-1", "name": "1. Welcome", "text": "This tutorial walks you through your first screen."},
            {"id": "tutorial-2", "name": "2. Add a Frame", "text": "Press New Frame to add a screen to the project."},
            {"id": "tutorial-3", "name": "3. Write", "text": "Select a frame and type its text on the right."},
            {"id": "tutorial-4", "name": "4. Preview", "text": "Open the preview to see the project on a device."},
        ],
    },
}


def entry(name, data):
    info = zipfile.ZipInfo(name, FIXED_TIME)
    info.compress_type = zipfile.ZIP_DEFLATED
    info.external_attr = 0o644 << 16
    return info, data


def build(folder, relative, package):
    document = json.dumps({"version": 1, "frames": package["frames"]}, indent=2, ensure_ascii=False).encode() + b"\n"
    files = {"design/document.json": document}
    manifest = {
        "uuid": package["uuid"],
        "files": {
            path: {"size": len(data), "sha1": base64.b64encode(hashlib.sha1(data).digest()).decode()}
            for path, data in sorted(files.items())
        },
    }
    files["_project.korvelxproj"] = json.dumps(manifest, indent=2, sort_keys=True).encode() + b"\n"
    target = os.path.join(folder, relative)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    temporary = target + ".tmp"
    with zipfile.ZipFile(temporary, "w") as archive:
        for name in ["_project.korvelxproj", "design/document.json"]:
            info, data = entry(name, files[name])
            archive.writestr(info, data)
    os.replace(temporary, target)
    print(target)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "Resources", "WelcomeWindow")
    for relative, package in PACKAGES.items():
        build(folder, relative, package)


if __name__ == "__main__":
    main()
