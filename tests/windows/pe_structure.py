#!/usr/bin/python3
"""Reads a Windows build of the bootstrapper back and checks what it carries.

    /usr/bin/python3 tests/windows/pe_structure.py build/win32 [build/win64 ...]

For each build folder: the executable's machine, format and subsystem, the
ten payload resources against the payload files of that build, the icon,
the version block, the fatal-error report's strings and the imported DLLs;
and that the demo setup program inside the payload is a standalone GUI
program for the same machine.
"""
import os
import re
import struct
import sys

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import Checks  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

# The manifest: resource TESTn holds the n-th file.
PAYLOAD_FILES = [
    "Merlavox.ex_", "Merlavox.ch_", "Liesmich.txt", "TrickTip.tx_", "Vertrag.txt",
    "eztw32.DL_", "Beispiel.dbmvx", "gdiplus.dl_", "Setup.ex_", "Setup.lst",
]
GERMAN_GERMANY = 0x0407  # 1031

# DLLs that every Windows installation has; a standalone program imports
# nothing else (no libgcc_s, libstdc++ or libwinpthread beside it).
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll", "advapi32.dll", "gdi32.dll",
    "ole32.dll", "comctl32.dll", "ntdll.dll",
}

# The Windows calls that the host makes for the bootstrapper's services.
REQUIRED_IMPORTS = {
    "kernel32.dll": {
        "GetTempPathA", "GetFileAttributesA", "CreateDirectoryA", "FindResourceA",
        "LoadResource", "SizeofResource", "LockResource", "CreateFileA", "ReadFile",
        "WriteFile", "FlushFileBuffers", "CloseHandle", "DeleteFileA", "FormatMessageA",
        "GetFullPathNameA", "GetModuleHandleExA", "GetModuleFileNameA", "ExitProcess",
    },
    "user32.dll": {"MessageBoxA", "LoadStringA", "RegisterClassA", "CreateWindowExA",
                   "SetWindowTextA", "DestroyWindow"},
    "shell32.dll": {"ShellExecuteA"},
}

MACHINES = {
    "win32": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], pefile.OPTIONAL_HEADER_MAGIC_PE,
              "i386, PE32"),
    "win64": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"],
              pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS, "AMD64, PE32+"),
}

RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_STRING = pefile.RESOURCE_TYPE["RT_STRING"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]
GUI = pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def type_entry(pe, key):
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if (entry.name is not None and str(entry.name) == key) or entry.id == key:
            return entry
    return None


def named(directory):
    """{name or id: [language entries]} of a resource type."""
    out = {}
    for entry in directory.entries:
        key = str(entry.name) if entry.name is not None else entry.id
        out[key] = entry.directory.entries
    return out


def data_of(pe, language_entry):
    s = language_entry.data.struct
    return pe.get_data(s.OffsetToData, s.Size)


def report_string_ids():
    """The ids under which the host loads the report's format and title."""
    text = read(os.path.join(ROOT, "host", "win32", "report_strings.h")).decode()
    ids = dict(re.findall(r"#define MERLAVOX_IDS_REPORT_(\w+) (\d+)", text))
    return int(ids["FORMAT"]), int(ids["TITLE"])


def string_table(pe):
    """{id: (text, language)} of every string in the executable."""
    strings = {}
    entry = type_entry(pe, RT_STRING)
    for block in entry.directory.entries if entry else []:
        for language in block.directory.entries:
            data = data_of(pe, language)
            pos = 0
            for index in range(16):
                (length,) = struct.unpack_from("<H", data, pos)
                pos += 2
                if length:
                    text = data[pos:pos + 2 * length].decode("utf-16-le")
                    strings[(block.id - 1) * 16 + index] = (text, language.id)
                pos += 2 * length
    return strings


def imports(pe):
    out = {}
    for dll in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        names = {i.name.decode() for i in dll.imports if i.name}
        out.setdefault(dll.dll.decode().lower(), set()).update(names)
    return out


def check_program(c, tag, path, kind):
    machine, magic, label = MACHINES[kind]
    pe = pefile.PE(path)
    c.check(f"{tag}: machine and format are {label}",
            pe.FILE_HEADER.Machine == machine and pe.OPTIONAL_HEADER.Magic == magic,
            f"machine {pe.FILE_HEADER.Machine:#x}, magic {pe.OPTIONAL_HEADER.Magic:#x}")
    c.equal(f"{tag}: GUI subsystem", pe.OPTIONAL_HEADER.Subsystem, GUI)
    dlls = imports(pe)
    c.check(f"{tag}: imports only from DLLs that ship with Windows", set(dlls) <= SYSTEM_DLLS,
            f"imports from {sorted(set(dlls) - SYSTEM_DLLS)}")
    return pe, dlls


def check_build(c, build):
    kind = os.path.basename(os.path.normpath(build))
    exe = os.path.join(build, "bin", "Setup_Merlavox.exe")
    tag = os.path.relpath(exe, ROOT)
    if not c.check(f"{tag} exists", os.path.isfile(exe)):
        return
    print(f"      {tag}: {os.path.getsize(exe)} bytes")
    pe, dlls = check_program(c, tag, exe, kind)

    for dll, names in REQUIRED_IMPORTS.items():
        missing = names - dlls.get(dll, set())
        c.check(f"{tag}: the host's calls come from {dll}", not missing, f"missing {sorted(missing)}")

    # The payload: TEST1..TEST10, one German entry each, the build's files.
    files = type_entry(pe, "FILE")
    entries = named(files.directory) if files else {}
    c.equal(f"{tag}: FILE resources are exactly TEST1..TEST10", sorted(entries),
            sorted(f"TEST{n}" for n in range(1, 11)))
    for n, file_name in enumerate(PAYLOAD_FILES, 1):
        languages = entries.get(f"TEST{n}", [])
        if not c.check(f"{tag}: TEST{n} has one language entry", len(languages) == 1,
                       f"{len(languages)} entries"):
            continue
        lang = languages[0]
        c.check(f"{tag}: TEST{n} is German (1031), code page 0",
                lang.id == GERMAN_GERMANY and lang.data.struct.CodePage == 0,
                f"language {lang.id}, code page {lang.data.struct.CodePage}")
        expected = read(os.path.join(build, "payload", file_name))
        c.check(f"{tag}: TEST{n} holds exactly payload/{file_name} ({len(expected)} bytes)",
                data_of(pe, lang) == expected, f"{lang.data.struct.Size} bytes stored")

    # The icon: group MAINICON with one 32 x 32 image of 16 colours, the
    # image drawn by scripts/make_icon.py.
    group = named(type_entry(pe, RT_GROUP_ICON).directory).get("MAINICON", [])
    if c.check(f"{tag}: icon group MAINICON", len(group) == 1):
        reserved, kind_field, count = struct.unpack_from("<HHH", data_of(pe, group[0]))
        c.check(f"{tag}: MAINICON holds one icon image", (reserved, kind_field, count) == (0, 1, 1),
                f"header {(reserved, kind_field, count)}")
        width, height, colours, _, planes, bits, size, image_id = struct.unpack_from(
            "<BBBBHHIH", data_of(pe, group[0]), 6)
        c.equal(f"{tag}: MAINICON image is 32 x 32, 16 colours, 4 bits a pixel",
                (width, height, colours, planes, bits), (32, 32, 16, 1, 4))
        images = named(type_entry(pe, RT_ICON).directory).get(image_id, [])
        ico = read(os.path.join(ROOT, "Setup_Merlavox", "Setup_Merlavox.ico"))
        (offset,) = struct.unpack_from("<I", ico, 18)
        c.check(f"{tag}: the icon image is the one in Setup_Merlavox.ico",
                len(images) == 1 and data_of(pe, images[0]) == ico[offset:offset + size])
        header = struct.unpack_from("<IiiHH", data_of(pe, images[0])) if images else None
        c.equal(f"{tag}: the image's bitmap header", header, (40, 32, 64, 1, 4))

    # The version block.
    strings = {}
    translations = None
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                strings[table.LangID] = table.entries
            for var in getattr(block, "Var", []):
                translations = var.entry.get(b"Translation")
    table = strings.get(b"040704E4", {})
    c.equal(f"{tag}: version strings are German, code page 1252", sorted(strings), [b"040704E4"])
    c.equal(f"{tag}: FileDescription", table.get(b"FileDescription"),
            b"Setup - Installationsvorbereitung")
    c.equal(f"{tag}: FileVersion string", table.get(b"FileVersion"), b"1.0.0.13")
    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
    c.equal(f"{tag}: fixed file version 1.0.0.13",
            (fixed.FileVersionMS, fixed.FileVersionLS) if fixed else None, (0x00010000, 13))
    c.equal(f"{tag}: translation 0x0407, 1252", translations, "0x0407 0x04e4")

    # The report's format and title, as LoadStringA finds them.
    format_id, title_id = report_string_ids()
    table = string_table(pe)
    c.equal(f"{tag}: report format in the string table", table.get(format_id),
            ("Exception %s in Modul %s bei %p.\n%s%s", GERMAN_GERMANY))
    c.equal(f"{tag}: report title in the string table", table.get(title_id),
            ("Anwendungsfehler", GERMAN_GERMANY))

    # The setup program that Setup.ex_ carries must run where the bootstrapper runs.
    demo = os.path.join(build, "demo", "demo_setup.exe")
    check_program(c, os.path.relpath(demo, ROOT), demo, kind)


def main():
    builds = sys.argv[1:] or [os.path.join(ROOT, "build", k) for k in MACHINES]
    c = Checks("pe_structure")
    icon = os.path.join(ROOT, "Setup_Merlavox", "Setup_Merlavox.ico")
    sys.path.insert(0, os.path.join(ROOT, "scripts"))
    import make_icon
    c.check("Setup_Merlavox.ico is what scripts/make_icon.py draws",
            read(icon) == make_icon.ico_bytes())
    for build in builds:
        check_build(c, os.path.abspath(build))
    c.finish()


if __name__ == "__main__":
    main()
