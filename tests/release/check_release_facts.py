#!/usr/bin/env python3
"""Checks a release folder's BUILDINFO and SBOM against what was really used.

usage: check_release_facts.py RELEASE_DIR COMMIT_TIME COMMIT

BUILDINFO: the commit and its time; each Debian package named is the one
installed here, in that version; the compiler reports the version recorded;
the executable's header names the linker's version, and it carries OpenSSL's
version text and the public key; the OpenSSL tarball's
SHA-256 is the one Debian publishes for that source version.
SBOM: every field SPDX 2.3 requires (document, creation info, packages,
checksums, external references, relationships), the values it allows, and
the same facts as BUILDINFO; every component linked in has a declared licence.
THIRD-PARTY-NOTICES.txt: a section for each component linked in, naming the
package and version BUILDINFO names and holding its licence text.
Prints each problem and exits 1 when there is one.
"""
import hashlib
import json
import re
import struct
import subprocess
import sys
from pathlib import Path

problems = []


def expect(condition, text):
    if not condition:
        problems.append(text)


def installed_version(package):
    run = subprocess.run(["dpkg-query", "-W", "-f=${Version}", package], capture_output=True, text=True)
    return run.stdout if run.returncode == 0 else None


def debian_tarball_sha256(version, tarball):
    """The SHA-256 Debian's source index gives for `tarball` of source version `version`."""
    listing = subprocess.run(["apt-cache", "showsrc", "openssl"], capture_output=True, text=True).stdout
    for record in listing.split("\n\n"):
        if f"\nVersion: {version}\n" not in f"\n{record}\n":
            continue
        in_sha256 = False
        for line in record.splitlines():
            if line.startswith("Checksums-Sha256:"):
                in_sha256 = True
            elif in_sha256 and line.startswith(" "):
                digest, _size, name = line.split()
                if name == tarball:
                    return digest
            else:
                in_sha256 = False
    return None


def check_buildinfo(folder, info, commit_time, commit):
    executable = (folder / "velmarch-updater.exe").read_bytes()
    expect(info.get("Commit") == commit, f"BUILDINFO commit {info.get('Commit')} is not {commit}")
    expect(info.get("Source-Date-Epoch") == commit_time, "BUILDINFO's SOURCE_DATE_EPOCH is not the commit time")
    for key in ("Compiler", "Binutils", "MinGW-w64-Runtime", "CMake", "Ninja"):
        package, _, version = info.get(key, "").partition(" ")
        expect(version and installed_version(package) == version,
               f"BUILDINFO {key}: {package} {version}, installed: {installed_version(package)}")
    expect(info.get("Compiler", "").startswith("g++-mingw-w64-x86-64-posix "), "the compiler is not the MinGW g++")
    expect(info.get("Binutils", "").startswith("binutils-mingw-w64-x86-64 "), "the linker is not MinGW binutils")
    expect(info.get("MinGW-w64-Runtime", "").startswith("mingw-w64-x86-64-dev "), "the runtime is not mingw-w64")
    compiler = subprocess.run(["x86_64-w64-mingw32-g++-posix", "-dumpfullversion", "-dumpversion"],
                              capture_output=True, text=True).stdout.strip()
    expect(info.get("Compiler-Version") == compiler,
           f"BUILDINFO compiler version {info.get('Compiler-Version')}, the compiler says {compiler}")
    # The linker writes its own version into the PE optional header.
    header = struct.unpack_from("<I", executable, 0x3C)[0] + 24
    linker = f"{executable[header + 2]}.{executable[header + 3]}"
    binutils = info.get("Binutils", "").partition(" ")[2]
    expect(binutils.startswith(linker + "-"), f"the executable was linked by ld {linker}, BUILDINFO says {binutils}")
    source_version = info.get("OpenSSL-Source", "").partition(" ")[2]
    upstream = source_version.split("-")[0]
    # OpenSSL's providers report their version as the bare "3.0.x" text.
    expect(b"\x00" + upstream.encode() + b"\x00" in executable, f"the executable does not carry OpenSSL {upstream}")
    published = debian_tarball_sha256(source_version, info.get("OpenSSL-Source-Tarball"))
    expect(published is not None and published == info.get("OpenSSL-Source-Tarball-SHA256"),
           f"OpenSSL tarball SHA-256 {info.get('OpenSSL-Source-Tarball-SHA256')}, Debian publishes {published}")
    key_text = (folder / "update-public-key.txt").read_bytes()
    expect(key_text[:64] in executable, "the executable does not embed the release's public key")
    expect(info.get("Public-Key-SHA256") == hashlib.sha256(bytes.fromhex(key_text[:64].decode())).hexdigest(),
           "the public key fingerprint is not the SHA-256 of the key")


SPDX_ID = re.compile(r"^SPDXRef-[A-Za-z0-9.\-]+$")
CREATED = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
PURPOSES = {"APPLICATION", "FRAMEWORK", "LIBRARY", "CONTAINER", "OPERATING-SYSTEM", "DEVICE", "FIRMWARE",
            "SOURCE", "ARCHIVE", "FILE", "INSTALL", "OTHER"}
CHECKSUM_ALGORITHMS = {"SHA1", "SHA224", "SHA256", "SHA384", "SHA512", "SHA3-256", "SHA3-384", "SHA3-512",
                       "BLAKE2b-256", "BLAKE2b-384", "BLAKE2b-512", "BLAKE3", "MD2", "MD4", "MD5", "MD6",
                       "ADLER32"}
# The relationship types this SBOM may use, as SPDX 2.3 spells them.
RELATIONSHIPS = {"DESCRIBES", "DESCRIBED_BY", "CONTAINS", "CONTAINED_BY", "DEPENDS_ON", "DEPENDENCY_OF",
                 "STATIC_LINK", "DYNAMIC_LINK", "BUILD_TOOL_OF", "BUILD_DEPENDENCY_OF", "GENERATED_FROM",
                 "GENERATES", "OTHER"}
PACKAGE_FIELDS = {"SPDXID", "annotations", "attributionTexts", "builtDate", "checksums", "comment",
                  "copyrightText", "description", "downloadLocation", "externalRefs", "filesAnalyzed",
                  "hasFiles", "homepage", "licenseComments", "licenseConcluded", "licenseDeclared",
                  "licenseInfoFromFiles", "name", "originator", "packageFileName", "packageVerificationCode",
                  "primaryPackagePurpose", "releaseDate", "sourceInfo", "summary", "supplier", "validUntilDate",
                  "versionInfo"}


# Each statically linked component (by a piece of its sourceInfo) and its
# declared licence: the same four as the notices and the README.
LINKED_LICENCES = {
    "libcrypto": "Apache-2.0",
    "MinGW-w64 C runtime": "ZPL-2.1",
    "winpthreads": "MIT",
    "libstdc++": "GPL-3.0-or-later WITH GCC-exception-3.1",
}


def check_spdx(document, folder, info):
    for field in ("spdxVersion", "dataLicense", "SPDXID", "name", "documentNamespace", "creationInfo"):
        expect(field in document, f"SBOM: document field {field} missing")
    expect(document.get("spdxVersion") == "SPDX-2.3", "SBOM: spdxVersion is not SPDX-2.3")
    expect(document.get("dataLicense") == "CC0-1.0", "SBOM: dataLicense is not CC0-1.0")
    expect(document.get("SPDXID") == "SPDXRef-DOCUMENT", "SBOM: document SPDXID is not SPDXRef-DOCUMENT")
    namespace = document.get("documentNamespace", "")
    expect(re.match(r"^[a-z][a-z0-9+.\-]*://[^#\s]+$", namespace) is not None,
           f"SBOM: documentNamespace {namespace!r} is not an absolute URI without '#'")
    creation = document.get("creationInfo", {})
    expect(CREATED.match(creation.get("created", "")) is not None, "SBOM: creationInfo.created is not UTC ISO 8601")
    creators = creation.get("creators", [])
    expect(len(creators) >= 1 and all(re.match(r"^(Person|Organization|Tool): \S", c) for c in creators),
           f"SBOM: creators {creators!r} malformed")
    ids = {"SPDXRef-DOCUMENT"}
    packages = document.get("packages", [])
    expect(packages, "SBOM: no packages")
    for package in packages:
        for field in ("name", "SPDXID", "downloadLocation"):
            expect(field in package, f"SBOM: package field {field} missing in {package.get('name')}")
        expect(not set(package) - PACKAGE_FIELDS, f"SBOM: unknown package fields {set(package) - PACKAGE_FIELDS}")
        expect(SPDX_ID.match(package.get("SPDXID", "")) is not None, f"SBOM: bad SPDXID {package.get('SPDXID')}")
        expect(package.get("SPDXID") not in ids, f"SBOM: SPDXID {package.get('SPDXID')} used twice")
        ids.add(package.get("SPDXID"))
        location = package.get("downloadLocation", "")
        expect(location in ("NONE", "NOASSERTION") or "://" in location, f"SBOM: bad downloadLocation {location}")
        expect(package.get("filesAnalyzed", True) is False or "packageVerificationCode" in package,
               "SBOM: analysed files without a verification code")
        expect(package.get("primaryPackagePurpose", "OTHER") in PURPOSES, "SBOM: bad primaryPackagePurpose")
        for checksum in package.get("checksums", []):
            expect(checksum.get("algorithm") in CHECKSUM_ALGORITHMS, "SBOM: bad checksum algorithm")
            expect(re.match(r"^[0-9a-f]+$", checksum.get("checksumValue", "")) is not None, "SBOM: bad checksum")
        for reference in package.get("externalRefs", []):
            for field in ("referenceCategory", "referenceType", "referenceLocator"):
                expect(field in reference, f"SBOM: external reference field {field} missing")
            expect(reference.get("referenceCategory") in ("SECURITY", "PACKAGE-MANAGER", "PACKAGE_MANAGER",
                                                          "PERSISTENT-ID", "PERSISTENT_ID", "OTHER"),
                   "SBOM: bad referenceCategory")
    for relationship in document.get("relationships", []):
        for field in ("spdxElementId", "relationshipType", "relatedSpdxElement"):
            expect(field in relationship, f"SBOM: relationship field {field} missing")
        expect(relationship.get("relationshipType") in RELATIONSHIPS, "SBOM: bad relationshipType")
        expect(relationship.get("spdxElementId") in ids and relationship.get("relatedSpdxElement") in ids,
               f"SBOM: relationship names an unknown element: {relationship}")
    described = set(document.get("documentDescribes", [])) | {
        r["relatedSpdxElement"] for r in document.get("relationships", [])
        if r.get("relationshipType") == "DESCRIBES" and r.get("spdxElementId") == "SPDXRef-DOCUMENT"}
    expect(described and described <= ids, "SBOM: the document describes nothing it holds")

    by_name = {package["name"]: package for package in packages if "name" in package}
    updater = by_name.get("velmarch-updater", {})
    digest = hashlib.sha256((folder / "velmarch-updater.exe").read_bytes()).hexdigest()
    expect(updater.get("SPDXID") in described, "SBOM: the updater is not what the document describes")
    expect({"algorithm": "SHA256", "checksumValue": digest} in updater.get("checksums", []),
           "SBOM: the updater's checksum is not the executable's")
    expect(updater.get("versionInfo") == info.get("Version"), "SBOM: updater version differs from BUILDINFO")
    openssl = by_name.get("openssl-libcrypto", {})
    expect(openssl.get("versionInfo") == info.get("OpenSSL-Source", "").partition(" ")[2],
           "SBOM: OpenSSL version differs from BUILDINFO")
    expect({"algorithm": "SHA256", "checksumValue": info.get("OpenSSL-Source-Tarball-SHA256")}
           in openssl.get("checksums", []), "SBOM: OpenSSL tarball checksum differs from BUILDINFO")
    for key in ("Compiler", "Binutils", "MinGW-w64-Runtime", "CMake", "Ninja"):
        package, _, version = info.get(key, "").partition(" ")
        expect(by_name.get(package, {}).get("versionInfo") == version, f"SBOM: {package} {version} missing")
    linked = [r["relatedSpdxElement"] for r in document.get("relationships", [])
              if r.get("relationshipType") == "STATIC_LINK"]
    expect(len(linked) == len(LINKED_LICENCES),
           f"SBOM: {len(linked)} statically linked components, not OpenSSL, the MinGW-w64 C runtime, "
           "winpthreads and GCC's runtime libraries")
    declared = {}
    for package in packages:
        if package.get("SPDXID") in linked:
            expect(package.get("licenseDeclared", "NOASSERTION") not in ("NOASSERTION", "NONE"),
                   f"SBOM: {package.get('name')} is linked in without a declared licence")
            declared[package.get("sourceInfo", "")] = package.get("licenseDeclared")
    for piece, licence in LINKED_LICENCES.items():
        found = [value for source, value in declared.items() if piece in source]
        expect(found == [licence], f"SBOM: {piece} is not declared as {licence} (found {found})")


# What each linked component's notice must hold: its BUILDINFO field, its
# licence line and a piece of its licence text.
NOTICES = [
    ("OpenSSL-Source", "Licence: Apache-2.0", "Apache License", "Version 2.0, January 2004"),
    ("MinGW-w64-Runtime", "Licence: ZPL-2.1;", "mingw-w64 project", "License: ZPL-2.1"),
    ("MinGW-w64-Runtime", "Licence: MIT", "Files: mingw-w64-libraries/winpthreads/*", "License: expat"),
    ("Compiler", "Licence: GPL-3.0-or-later WITH GCC-exception-3.1", "GCC RUNTIME LIBRARY EXCEPTION",
     "GNU GENERAL PUBLIC LICENSE"),
]


def check_notices(folder, info):
    path = folder / "THIRD-PARTY-NOTICES.txt"
    expect(path.is_file(), "the release has no THIRD-PARTY-NOTICES.txt")
    if not path.is_file():
        return
    text = path.read_text(encoding="utf-8")
    for field, *pieces in NOTICES:
        package = info.get(field, "")
        expect(f"Debian package: {package}\n" in text, f"THIRD-PARTY-NOTICES.txt has no section for {package}")
        for piece in pieces:
            expect(piece in text, f"THIRD-PARTY-NOTICES.txt lacks {piece!r} ({field})")


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    folder, commit_time, commit = Path(sys.argv[1]), sys.argv[2], sys.argv[3]
    info = {}
    for line in (folder / "BUILDINFO").read_text(encoding="utf-8").splitlines():
        key, _, value = line.partition(": ")
        info[key] = value
    check_buildinfo(folder, info, commit_time, commit)
    check_spdx(json.loads((folder / "velmarch-updater.spdx.json").read_text(encoding="utf-8")), folder, info)
    check_notices(folder, info)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
