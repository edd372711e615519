#!/usr/bin/env python3
"""Checks a Halvane for Outlook package without installing it.

  check-package.py PACKAGE.msi [--like OTHER.msi] [--cafile CA.pem]

- its version, product and upgrade codes, files and components (msiinfo);
- its Authenticode signature, and that of both DLLs inside it (osslsigncode verify);
- the DLLs as shipped: GUI subsystem, no debug sections but a debug link, the version;
- with --like, that its files and registry rows are those of the other package (the 64-bit one,
  which the Wine tests compare with self-registration), but for the type library platform
  ("win32" / "win64") and the 64-bit package's extra 32-bit interface registration.
Exits non-zero with one line per failure.
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def table(msi, name):
    text = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True, text=True).stdout
    lines = text.splitlines()
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:]]


def version():
    with open(os.path.join(ROOT, "common", "Version.h")) as f:
        return re.search(r'#define HV_VERSION_TEXT "([^"]+)"', f.read()).group(1)


def arch_of(msi):
    summary = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True, text=True).stdout
    return "x64" if re.search(r"^Template:\s*(x64|Intel64|AMD64)", summary, re.M) else "x86"


def verify_signature(path, cafile):
    # The build's throwaway CA, unless the packages were signed with a real certificate.
    if not cafile or not os.path.exists(cafile) or os.environ.get("HV_SIGN_PKCS12") or os.environ.get("HV_SIGN_CERT"):
        cafile = os.environ.get("HV_SIGN_CAFILE", "/etc/ssl/certs/ca-certificates.crt")
    args = ["osslsigncode", "verify", "-in", path, "-CAfile", cafile]
    result = subprocess.run(args, capture_output=True, text=True)
    check(result.returncode == 0 and "Succeeded" in result.stdout,
          f"{os.path.basename(path)}: signature does not verify: {result.stdout.strip().splitlines()[-1:]}")


def pe_sections_and_subsystem(path):
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    table_at = optional + optional_size
    strings = struct.unpack_from("<I", data, pe + 12)[0], struct.unpack_from("<I", data, pe + 16)[0]
    names = []
    for i in range(sections):
        raw = data[table_at + 40 * i: table_at + 40 * i + 8].rstrip(b"\0").decode("latin-1")
        if raw.startswith("/") and strings[0]:  # a long name in the COFF string table
            offset = strings[0] + 18 * strings[1] + int(raw[1:])
            raw = data[offset: data.index(b"\0", offset)].decode("latin-1")
        names.append(raw)
    return names, subsystem, data


def check_dll(path, cafile, expected_version):
    name = os.path.basename(path)
    sections, subsystem, data = pe_sections_and_subsystem(path)
    check(subsystem == 2, f"{name}: subsystem {subsystem}, not the Windows GUI subsystem (2)")
    debug = [s for s in sections if s.startswith(".debug")]
    check(not debug, f"{name}: still carries debug sections {debug}")
    check(".gnu_debuglink" in sections, f"{name}: no debug link to its symbol file")
    check(expected_version.encode("utf-16-le") in data, f"{name}: version {expected_version} not in its resources")
    verify_signature(path, cafile)


def registry_rows(msi, arch):
    rows = set()
    for r in table(msi, "Registry"):
        if r["Component_"] == "HvToolsOpts32":
            continue
        key = r["Key"].replace("\\" + ("win64" if arch == "x64" else "win32"), "\\<platform>")
        rows.add((r["Root"], key.lower(), r["Name"], r["Value"], r["Component_"]))
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("msi")
    parser.add_argument("--like")
    parser.add_argument("--cafile")
    args = parser.parse_args()
    msi = args.msi
    arch = arch_of(msi)
    expected_version = version()

    props = {r["Property"]: r["Value"] for r in table(msi, "Property")}
    check(props.get("ProductVersion") == expected_version,
          f"ProductVersion {props.get('ProductVersion')}, not {expected_version}")
    guid = re.compile(r"^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$")
    for code in ("ProductCode", "UpgradeCode"):
        check(bool(guid.match(props.get(code, ""))), f"{code} {props.get(code)} is not a fixed GUID")
    check(props.get("ALLUSERS") == "1", "not a per-machine package")

    files = {r["FileName"]: r for r in table(msi, "File")}
    for dll in ("HvOut.dll", "HvToolsOpts.dll"):
        check(dll in files, f"{dll} is not in the package")
        check(files.get(dll, {}).get("Version") == expected_version, f"{dll}: file version not {expected_version}")

    components = {r["Component"]: r for r in table(msi, "Component")}
    for name, component in components.items():
        wants64 = arch == "x64" and name != "HvToolsOpts32"
        check(bool(int(component["Attributes"]) & 256) == wants64,
              f"component {name}: 64-bit flag {'missing' if wants64 else 'set'}")
    check('OUTLOOKCURVER >> ".11"' in components.get("OfficeKeyUser", {}).get("Condition", ""),
          "the add-in key under the user has no Outlook version condition")
    check(components.get("OfficeKeyMachine", {}).get("Condition", "").startswith("NOT "),
          "the add-in key under the machine has no Outlook version condition")
    sequence = {r["Action"]: r for r in table(msi, "InstallExecuteSequence")}
    check("NOT UPGRADINGPRODUCTCODE" in sequence.get("RemoveSettings", {}).get("Condition", ""),
          "the settings are not kept when an upgrade removes the package")
    search = table(msi, "RegLocator")
    check(any(r["Key"] == "Outlook.Application\\CurVer" for r in search), "Outlook's version is not looked up")

    verify_signature(msi, args.cafile)
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["msiextract", "-C", tmp, msi], check=True, capture_output=True)
        found = {}
        for folder, _, names in os.walk(tmp):
            for n in names:
                found[n] = os.path.join(folder, n)
        for dll in ("HvOut.dll", "HvToolsOpts.dll"):
            if dll in found:
                check_dll(found[dll], args.cafile, expected_version)
            else:
                failures.append(f"{dll} could not be extracted")

    if args.like:
        other_arch = arch_of(args.like)
        check(other_arch != arch, f"--like {args.like} is of the same architecture")
        mine, theirs = registry_rows(msi, arch), registry_rows(args.like, other_arch)
        for row in sorted(theirs - mine):
            failures.append(f"registry row missing: {row}")
        for row in sorted(mine - theirs):
            failures.append(f"registry row not in the other package: {row}")
        other_files = {r["FileName"] for r in table(args.like, "File")}
        check(set(files) == other_files, f"files {sorted(files)} differ from {sorted(other_files)}")
        other_props = {r["Property"]: r["Value"] for r in table(args.like, "Property")}
        for code in ("ProductCode", "UpgradeCode"):
            check(props.get(code) != other_props.get(code), f"both packages have the {code} {props.get(code)}")
        other_components = {r["Component"]: r.get("Condition", "") for r in table(args.like, "Component")}
        for name in ("OfficeKeyUser", "OfficeKeyMachine"):
            check(components.get(name, {}).get("Condition") == other_components.get(name),
                  f"component {name}: condition differs from the other package")

    for f in failures:
        print(f"check-package: {os.path.basename(msi)}: {f}")
    if not failures:
        print(f"check-package: {os.path.basename(msi)} ({arch}): all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
