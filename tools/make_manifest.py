#!/usr/bin/env python3
"""Writes the package manager's manifest of a built installer, in its multi-file form (manifest version
1.6.0): the version, the default locale (de-DE) and the installer manifest, into OUT.

usage: make_manifest.py INSTALLER OUT [--installer-url URL]

Version, names, addresses and exit statuses are read from the sources, where the program takes them.
"""
import argparse
import hashlib
import json
import os
import re

import exit_statuses

ROOT = exit_statuses.ROOT
IDENTIFIER = "GlimmerlyWorks.Glimmerly"
MANIFEST_VERSION = "1.6.0"
LOCALE = "de-DE"


def source(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


def facts():
    version = "%s.%s" % tuple(re.search(r"kProductMajor = (\d+), kProductMinor = (\d+)",
                                        source("shell/ProductVersion.h")).groups())
    entry = source("shell/UninstallEntry.cpp")
    sheet = source("wizard/WizPropertySheet.cpp")
    name = re.search(r'\{L"([^"]*)", version, L"([^"]*)"\}', entry)
    return {
        "version": version,
        "key": re.search(r'kUninstallKey\[\] = L".*\\\\(\w+)";', entry).group(1),
        "publisher": re.search(r'SetText\(L"Publisher", L"([^"]+)"\)', entry).group(1),
        "name": "%s%s%s" % (name.group(1), version, name.group(2)),
        "faq": re.search(r'kFaqUrl\[\] = L"([^"]+)"', sheet).group(1),
        "licence": re.search(r'kLicenceUrl\[\] = L"([^"]+)"', sheet).group(1),
    }


def q(text):
    """A YAML string that no reader takes for a number or a date."""
    return json.dumps(text, ensure_ascii=False)


def manifests(installer_sha256, installer_url):
    f = facts()
    head = "PackageIdentifier: %s\nPackageVersion: %s\n" % (IDENTIFIER, q(f["version"]))
    tail = "ManifestVersion: %s\n" % MANIFEST_VERSION
    codes = []
    for status, response, meaning in exit_statuses.read():
        # Exit status 0 is success to the package manager; its schema allows no entry for it.
        if status != 0:
            codes.append("  # %s\n  - InstallerReturnCode: %d\n    ReturnResponse: %s\n" % (meaning, status, response))
    return {
        IDENTIFIER + ".yaml": head + "DefaultLocale: %s\nManifestType: version\n" % LOCALE + tail,
        IDENTIFIER + ".locale.%s.yaml" % LOCALE: head + "".join([
            "PackageLocale: %s\n" % LOCALE,
            "Publisher: %s\n" % q(f["publisher"]),
            "PublisherSupportUrl: %s\n" % q(f["faq"]),
            "PackageName: %s\n" % q(f["name"]),
            "License: %s\n" % q("Lizenzvereinbarung von " + f["publisher"]),
            "LicenseUrl: %s\n" % q(f["licence"]),
            "ShortDescription: %s\n" % q("Ein kleiner, schneller Bildbetrachter für Windows."),
            "ManifestType: defaultLocale\n",
        ]) + tail,
        IDENTIFIER + ".installer.yaml": head + "".join([
            "InstallerLocale: %s\n" % LOCALE,
            "InstallerType: exe\n",
            "Scope: machine\n",
            "InstallModes:\n  - interactive\n  - silent\n",
            "InstallerSwitches:\n",
            "  Silent: %s\n  SilentWithProgress: %s\n" % (q("/silent"), q("/silent")),
            "  InstallLocation: %s\n  Log: %s\n" % (q("/folder=<INSTALLPATH>"), q("/log=<LOGPATH>")),
            "ExpectedReturnCodes:\n", "".join(codes),
            "UpgradeBehavior: install\n",
            "ProductCode: %s\n" % q(f["key"]),
            "AppsAndFeaturesEntries:\n",
            "  - DisplayName: %s\n    Publisher: %s\n" % (q(f["name"]), q(f["publisher"])),
            "    DisplayVersion: %s\n    ProductCode: %s\n" % (q(f["version"]), q(f["key"])),
            "Installers:\n",
            "  - Architecture: x86\n    InstallerUrl: %s\n    InstallerSha256: %s\n" % (q(installer_url),
                                                                                   installer_sha256),
            "ManifestType: installer\n",
        ]) + tail,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("installer")
    parser.add_argument("out")
    parser.add_argument("--installer-url")
    args = parser.parse_args()
    with open(args.installer, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest().upper()
    url = args.installer_url or facts()["faq"].rsplit("/", 1)[0] + "/" + os.path.basename(args.installer)
    os.makedirs(args.out, exist_ok=True)
    for name, text in manifests(sha256, url).items():
        with open(os.path.join(args.out, name), "w", encoding="utf-8", newline="\n") as f:
            f.write(text)


if __name__ == "__main__":
    main()
