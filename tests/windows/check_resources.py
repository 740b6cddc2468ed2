#!/usr/bin/env python3
"""Reads the updater executable's headers, imports and resources back and
checks them: a 64-bit GUI program that imports exactly the expected system
DLLs (bcrypt.dll with delayed loading only), carrying the
application manifest, the version block and the icon group it was built with.

Usage: check_resources.py <velmarch-updater.exe> --version <major.minor.patch>

Prints every mismatch and exits with 1 when there is one.
"""

import argparse
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

import pefile

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24
EN_US = 1033

ICON_GROUP_ID = 32512
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)

# Exactly these, loaded by the loader at start. bcrypt.dll is loaded on first
# use only, after the DLL search has been limited to System32: a static import
# of it (or of crypt32.dll, which OpenSSL can pull in) would be resolved before
# that limit exists, from the application's own folder first.
STATIC_IMPORTS = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "ntdll.dll", "user32.dll"}
DELAYED_IMPORTS = {"bcrypt.dll"}
NEVER_STATIC = {"bcrypt.dll", "crypt32.dll"}

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT_V1 = "urn:schemas-microsoft-com:compatibility.v1"
SMI_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SMI_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
WINDOWS_10_ID = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


class Findings:
    def __init__(self):
        self.failures = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)
        return condition

    def equal(self, actual, expected, what):
        return self.expect(actual == expected, f"{what}: expected {expected!r}, found {actual!r}")


# --- PE headers and imports -------------------------------------------------

TERMINAL_SERVER_AWARE = 0x8000


def check_headers(pe, findings):
    findings.equal(hex(pe.FILE_HEADER.Machine), hex(0x8664), "machine (AMD64)")
    findings.equal(hex(pe.OPTIONAL_HEADER.Magic), hex(0x20B), "optional header magic (PE32+)")
    findings.equal(pe.OPTIONAL_HEADER.Subsystem, 2, "subsystem (Windows GUI)")
    # Without it, a Remote Desktop session host in application mode gives the
    # program a Windows directory of the user's own, where it would look for
    # msiexec.exe and explorer.exe and place its staging directory.
    findings.expect(pe.OPTIONAL_HEADER.DllCharacteristics & TERMINAL_SERVER_AWARE,
                    "the executable is not marked Terminal-Server-aware")


def _rva_in_image(pe, rva):
    try:
        return rva != 0 and pe.get_offset_from_rva(rva) is not None
    except pefile.PEFormatError:
        return False


def _delay_descriptors_by_shape(pe):
    """DLL names of delay-load descriptors found by their shape. GNU ld leaves
    the delay-import data directory empty, although the descriptors dlltool
    made are in place and used by the delay-load helper: RVA-based attributes
    (1), the DLL name's RVA, then module handle, address table and name table
    RVAs inside the image."""
    data = bytes(pe.__data__)
    names = []
    for match in re.finditer(rb"[A-Za-z0-9_.\-]+\.dll\x00", data, re.IGNORECASE):
        rva = pe.get_rva_from_offset(match.start())
        if rva is None:
            continue
        needle = struct.pack("<II", 1, rva)
        position = data.find(needle)
        while position != -1:
            if position % 4 == 0 and position + 32 <= len(data):
                _, _, handle, table, name_table = struct.unpack_from("<IIIII", data, position)
                if all(_rva_in_image(pe, value) for value in (handle, table, name_table)):
                    names.append(match.group()[:-1].decode("ascii"))
                    break
            position = data.find(needle, position + 1)
    return names


def imported_dlls(pe):
    """(statically imported DLL names, names imported with delayed loading)"""
    static = [entry.dll.decode("ascii", errors="replace") for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    if hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"):
        delayed = [entry.dll.decode("ascii", errors="replace") for entry in pe.DIRECTORY_ENTRY_DELAY_IMPORT]
    else:
        delayed = _delay_descriptors_by_shape(pe)
    return static, delayed


def check_imports(static, delayed, findings):
    for name in static:
        findings.expect(name.lower() not in NEVER_STATIC,
                        f"{name} is imported statically; it may only be loaded lazily, from System32")
    findings.equal(sorted(name.lower() for name in static), sorted(STATIC_IMPORTS), "statically imported DLLs")
    findings.equal(sorted(name.lower() for name in delayed), sorted(DELAYED_IMPORTS), "DLLs imported with delayed loading")


# --- Resource directory -----------------------------------------------------

def resource_table(pe):
    """{type: {id or name: {language: bytes}}}"""
    table = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    if root is None:
        return table
    for type_entry in root.entries:
        kind = type_entry.id if type_entry.id is not None else str(type_entry.name)
        by_name = table.setdefault(kind, {})
        for name_entry in type_entry.directory.entries:
            key = name_entry.id if name_entry.id is not None else str(name_entry.name)
            by_language = by_name.setdefault(key, {})
            for language_entry in name_entry.directory.entries:
                data = language_entry.data.struct
                by_language[language_entry.id] = pe.get_data(data.OffsetToData, data.Size)
    return table


def single_resource(table, kind, ident, what, findings):
    """The one resource of this type, which must have this id and language 1033."""
    entries = table.get(kind, {})
    if not findings.equal(sorted(entries, key=str), [ident], f"{what} resource ids"):
        return None
    languages = entries[ident]
    if not findings.equal(sorted(languages), [EN_US], f"{what} resource languages"):
        return None
    return languages[EN_US]


# --- Manifest ---------------------------------------------------------------

def only_child(parent, path, findings, where):
    found = parent.findall(path)
    if not findings.equal(len(found), 1, f"number of {path} under {where}"):
        return None
    return found[0]


def check_manifest(data, findings):
    try:
        root = ET.fromstring(data)
    except ET.ParseError as error:
        findings.failures.append(f"manifest is not well-formed XML: {error}")
        return
    findings.equal(root.tag, f"{{{ASM_V1}}}assembly", "manifest root element")
    findings.equal(root.get("manifestVersion"), "1.0", "assembly manifestVersion")

    identity = only_child(root, f"{{{ASM_V1}}}assemblyIdentity", findings, "assembly")
    if identity is not None:
        findings.equal(dict(identity.attrib), {
            "type": "win32",
            "name": "Velmarch.Updater",
            "version": "1.0.0.0",
            "processorArchitecture": "*",
        }, "assemblyIdentity attributes")

    description = only_child(root, f"{{{ASM_V1}}}description", findings, "assembly")
    if description is not None:
        findings.equal(description.text, "Velmarch Manager Update Helper", "description")

    level = only_child(root, f"{{{ASM_V3}}}trustInfo/{{{ASM_V3}}}security/"
                             f"{{{ASM_V3}}}requestedPrivileges/{{{ASM_V3}}}requestedExecutionLevel",
                       findings, "assembly")
    if level is not None:
        findings.equal(dict(level.attrib), {"level": "asInvoker", "uiAccess": "false"},
                       "requestedExecutionLevel attributes")

    compatibility = only_child(root, f"{{{COMPAT_V1}}}compatibility/{{{COMPAT_V1}}}application",
                               findings, "assembly")
    if compatibility is not None:
        systems = [element.get("Id") for element in compatibility.findall(f"{{{COMPAT_V1}}}supportedOS")]
        findings.equal(systems, [WINDOWS_10_ID], "supportedOS Ids")

    settings = only_child(root, f"{{{ASM_V3}}}application/{{{ASM_V3}}}windowsSettings",
                          findings, "assembly")
    if settings is not None:
        for namespace, name, value in ((SMI_2005, "dpiAware", "true/pm"),
                                       (SMI_2016, "dpiAwareness", "PerMonitorV2,PerMonitor"),
                                       (SMI_2016, "longPathAware", "true")):
            element = only_child(settings, f"{{{namespace}}}{name}", findings, "windowsSettings")
            if element is not None:
                findings.equal((element.text or "").strip(), value, name)


# --- Version block ----------------------------------------------------------

class VersionNode:
    def __init__(self, key, text_type, value, children):
        self.key = key
        self.text_type = text_type
        self.value = value
        self.children = children

    def child_keys(self):
        return [child.key for child in self.children]


def align4(offset):
    return (offset + 3) & ~3


def parse_version_node(data, offset):
    """One node of a VS_VERSIONINFO tree; returns (node, offset after it)."""
    length, value_length, text_type = struct.unpack_from("<HHH", data, offset)
    if length < 6 or offset + length > len(data):
        raise ValueError(f"version node at {offset} has length {length}")
    end = offset + length
    key_start = offset + 6
    key_end = key_start
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
        if key_end >= end:
            raise ValueError(f"version node at {offset} has an unterminated key")
    key = data[key_start:key_end].decode("utf-16-le")
    value_start = align4(key_end + 2)
    value_size = value_length * 2 if text_type == 1 else value_length
    value = data[value_start:value_start + value_size]
    if text_type == 1:
        value = value.decode("utf-16-le").rstrip("\0")
    children = []
    child = align4(value_start + value_size)
    while child < end:
        node, child = parse_version_node(data, child)
        children.append(node)
        child = align4(child)
    return VersionNode(key, text_type, value, children), end


def check_version(data, version, findings):
    try:
        root, _ = parse_version_node(data, 0)
    except (ValueError, struct.error, UnicodeDecodeError) as error:
        findings.failures.append(f"version block does not parse: {error}")
        return
    findings.equal(root.key, "VS_VERSION_INFO", "version block key")
    if not findings.equal(len(root.value), 52, "VS_FIXEDFILEINFO size"):
        return
    fixed = struct.unpack("<13I", root.value)
    signature, _, file_ms, file_ls, product_ms, product_ls, _, _, file_os, file_type = fixed[:10]
    findings.equal(hex(signature), hex(0xFEEF04BD), "VS_FIXEDFILEINFO signature")

    numbers = tuple(int(part) for part in version.split(".")) + (0,)
    def quad(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    findings.equal(quad(file_ms, file_ls), numbers, "fixed FileVersion")
    findings.equal(quad(product_ms, product_ls), numbers, "fixed ProductVersion")
    findings.equal(hex(file_os), hex(0x40004), "FileOS")
    findings.equal(hex(file_type), hex(0x1), "FileType")

    findings.equal(sorted(root.child_keys()), ["StringFileInfo", "VarFileInfo"], "version block sections")
    for section in root.children:
        if section.key == "StringFileInfo":
            if findings.equal(section.child_keys(), ["000004b0"], "string tables"):
                strings = {entry.key: entry.value for entry in section.children[0].children}
                findings.expect(all(entry.text_type == 1 for entry in section.children[0].children),
                                "a version string is not stored as text")
                findings.equal(strings, {
                    "CompanyName": "Velmarch",
                    "FileDescription": "Velmarch Manager Update Helper",
                    "FileVersion": version,
                    "InternalName": "velmarch-updater",
                    "LegalCopyright": "Copyright (C) 2026 Velmarch. All rights reserved.",
                    "OriginalFilename": "velmarch-updater.exe",
                    "ProductName": "Velmarch Manager",
                    "ProductVersion": version,
                }, "version strings")
        elif section.key == "VarFileInfo":
            if findings.equal(section.child_keys(), ["Translation"], "VarFileInfo entries"):
                translation = section.children[0].value
                # One DWORD: language 0x0000 in the low word, code page 1200 in the high one.
                findings.equal(translation, struct.pack("<I", 0x04B00000), "Translation")


# --- Icons ------------------------------------------------------------------

def png_header(data, what, findings):
    """(width, height, bit depth, colour type) of a complete, intact PNG, or None."""
    if not findings.expect(data.startswith(PNG_SIGNATURE), f"{what} is not a PNG"):
        return None
    offset = len(PNG_SIGNATURE)
    chunks = []
    while offset < len(data):
        if offset + 12 > len(data):
            findings.failures.append(f"{what}: truncated chunk at {offset}")
            return None
        (length,) = struct.unpack_from(">I", data, offset)
        kind = data[offset + 4:offset + 8]
        body = data[offset + 8:offset + 8 + length]
        (crc,) = struct.unpack_from(">I", data, offset + 8 + length)
        if not findings.equal(crc, zlib.crc32(kind + body), f"{what}: CRC of {kind!r}"):
            return None
        chunks.append((kind, body))
        offset += 12 + length
    kinds = [kind for kind, _ in chunks]
    if not (findings.equal(kinds[:1], [b"IHDR"], f"{what}: first chunk")
            and findings.equal(kinds[-1:], [b"IEND"], f"{what}: last chunk")):
        return None
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    pixels = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    if depth == 8 and colour == 6 and interlace == 0:
        findings.equal(len(pixels), height * (1 + 4 * width), f"{what}: decoded image size")
    return width, height, depth, colour


def check_icons(table, findings):
    group = single_resource(table, RT_GROUP_ICON, ICON_GROUP_ID, "icon group", findings)
    if group is None:
        return
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    findings.equal((reserved, kind), (0, 1), "icon group header")
    if not findings.equal(len(group), 6 + 14 * count, "icon group size"):
        return
    icons = table.get(RT_ICON, {})
    sizes = []
    for index in range(count):
        width, height, colours, _, planes, bits, size, ident = struct.unpack_from(
            "<BBBBHHIH", group, 6 + 14 * index)
        width, height = width or 256, height or 256
        what = f"icon {ident} ({width}x{height})"
        sizes.append(width)
        findings.equal(width, height, f"{what}: square")
        findings.equal((colours, planes, bits), (0, 1, 32), f"{what}: colours, planes, bit count")
        languages = icons.get(ident, {})
        if not findings.equal(sorted(languages), [EN_US], f"{what}: languages"):
            continue
        image = languages[EN_US]
        findings.equal(len(image), size, f"{what}: size in the group")
        header = png_header(image, what, findings)
        if header is not None:
            findings.equal(header, (width, height, 8, 6), f"{what}: PNG width, height, bit depth, colour type")
    findings.equal(sorted(sizes), list(ICON_SIZES), "icon sizes")
    findings.equal(len(icons), count, "number of icon images")


# --- Entry point ------------------------------------------------------------

def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("executable")
    parser.add_argument("--version", required=True, help="expected product version, major.minor.patch")
    args = parser.parse_args(argv)

    findings = Findings()
    try:
        pe = pefile.PE(args.executable)
    except (OSError, pefile.PEFormatError) as error:
        print(f"cannot read {args.executable}: {error}", file=sys.stderr)
        return 1

    check_headers(pe, findings)
    static, delayed = imported_dlls(pe)
    print("imports: " + ", ".join(static) + "; delayed: " + ", ".join(delayed))
    check_imports(static, delayed, findings)

    table = resource_table(pe)
    findings.equal(sorted(table, key=str), sorted([RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST], key=str),
                   "resource types")
    manifest = single_resource(table, RT_MANIFEST, 1, "manifest", findings)
    if manifest is not None:
        check_manifest(manifest, findings)
    version = single_resource(table, RT_VERSION, 1, "version", findings)
    if version is not None:
        check_version(version, args.version, findings)
    check_icons(table, findings)

    for failure in findings.failures:
        print(f"FAIL: {failure}", file=sys.stderr)
    if findings.failures:
        return 1
    print("manifest, version block and icon group are as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
