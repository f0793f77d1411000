#!/bin/bash
# Benchmark (not a test): the AMD and NVIDIA deep cleans on a registry the
# size of a Windows 10 machine's, in a throwaway 64-bit prefix. About 10,000
# top-level HKEY_CLASSES_ROOT keys, 8,000 CLSID and 20,000 Interface keys in
# each registry view, 500 installer products, 300 uninstall entries, three
# control sets and 150 oem*.inf files are seeded once; then each vendor's
# program seeds its footprint and cleans it. Prints, per vendor, the registry
# and file part of the deep clean as a ratio to a bare pass over the same
# keys, values and folders (the mean of one just before the clean and one
# just after it), in time taken and in processor time (this program's and
# Wine's server's), with tool runs and waits apart; then, per vendor, the
# medians of those ratios over the repeats.
#   scripts/bench-deepclean.sh [REPEATS]   (default 1: each vendor once)
set -euo pipefail
repeats=${1:-1}
[[ "$repeats" =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [REPEATS]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
build=${KYD_BUILD_DIR:-$root/build}
prefix=$build/prefixes/bench-deepclean
work=$build/bench-deepclean
trap '"$root/scripts/drop-prefix.sh" "$prefix"; rm -rf "$work"' EXIT
"$root/scripts/make-prefix.sh" "$prefix" win64 >/dev/null
rm -rf "$work" && mkdir -p "$work"
export WINEPREFIX=$prefix WINEDEBUG=-all

python3 - "$work" "$prefix/drive_c/windows/inf" <<'EOF'
import os, sys
work, infdir = sys.argv[1], sys.argv[2]
CLASSES = r"HKEY_LOCAL_MACHINE\Software\Classes"
VIEWS = {"": CLASSES, "32": CLASSES + r"\Wow6432Node"}

def guid(kind, view, i):
    return "{%08X-%04X-4%03X-8%03X-%012X}" % (i, kind, len(view), 7, i * 7919)

def packed(kind, i):
    return "%08X%04X%04X%016X" % (i, kind, 0x4C1F, i * 104729)

def write(name, lines):
    with open(os.path.join(work, name), "w", encoding="utf-16") as f:
        f.write("Windows Registry Editor Version 5.00\n\n" + "\n".join(lines) + "\n")

def key(path, *values):
    out = ["[%s]" % path]
    for name, data in values:
        name = "@" if name is None else '"%s"' % name
        out.append("%s=%s" % (name, data if data.startswith("dword:") else '"%s"' % data.replace("\\", "\\\\")))
    out.append("")
    return out

for view, base in VIEWS.items():
    classes, interfaces = [], []
    for i in range(8000):
        k = base + r"\CLSID" + "\\" + guid(1, view, i)
        classes += key(k, (None, "Contoso Component %d" % i), ("AppID", guid(3, view, i % 400)))
        server = r"\LocalServer32" if i % 10 == 0 else r"\InprocServer32"
        classes += key(k + server, (None, r"C:\Windows\System32\cmp%d.dll" % i), ("ThreadingModel", "Both"))
        classes += key(k + r"\ProgID", (None, "Contoso.Component%d.1" % i))
        if i < 10:  # filter categories with their instances
            for j in range(40):
                classes += key(k + r"\Instance" + "\\" + guid(2, view, i * 100 + j),
                               ("FriendlyName", "Contoso Filter %d/%d" % (i, j)), ("CLSID", guid(2, view, j)))
    for i in range(20000):
        k = base + r"\Interface" + "\\" + guid(4, view, i)
        interfaces += key(k, (None, "IContosoInterface%d" % i))
        interfaces += key(k + r"\ProxyStubClsid32", (None, "{00020424-0000-0000-C000-000000000046}"))
        interfaces += key(k + r"\NumMethods", (None, "7"))
    write("classes%s.reg" % view, classes)
    write("interfaces%s.reg" % view, interfaces)

top = []
for i in range(10000):
    if i < 8000:
        top += key(CLASSES + r"\Contoso.Component%d.1" % i, (None, "Contoso Component %d" % i))
        top += key(CLASSES + r"\Contoso.Component%d.1\CLSID" % i, (None, guid(1, "", i)))
    else:
        top += key(CLASSES + r"\.ext%d" % i, (None, "contosofile%d" % i))
for i in range(400):
    top += key(CLASSES + r"\AppID" + "\\" + guid(3, "", i), (None, "Contoso Server %d" % i))
write("toplevel.reg", top)

installer = []
products = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18"
for i in range(500):
    code, product = packed(5, i), guid(5, "", i)
    installer += key(products + r"\Products" + "\\" + code + r"\InstallProperties",
                     ("DisplayName", "Contoso Product %d" % i), ("LocalPackage", r"C:\Windows\Installer\%x.msi" % i),
                     ("UninstallString", "MsiExec.exe /X" + product), ("Publisher", "Contoso"))
    installer += key(products + r"\Products" + "\\" + code + r"\Features", ("Complete", ""))
    installer += key(CLASSES + r"\Installer\Products" + "\\" + code, ("ProductName", "Contoso Product %d" % i),
                     ("PackageCode", packed(6, i)))
    installer += key(CLASSES + r"\Installer\Products" + "\\" + code + r"\SourceList", ("PackageName", "p%d.msi" % i))
    installer += key(CLASSES + r"\Installer\Features" + "\\" + code, ("Complete", ""))
    installer += key(CLASSES + r"\Installer\UpgradeCodes" + "\\" + packed(7, i), (code, ""))
    for j in range(10):
        installer += key(products + r"\Components" + "\\" + packed(8, i * 10 + j),
                         (code, r"C:\Program Files\Contoso\P%d\file%d.dll" % (i, j)))
uninstall = r"HKEY_LOCAL_MACHINE\Software%s\Microsoft\Windows\CurrentVersion\Uninstall"
for i in range(300):
    view = "" if i < 200 else r"\Wow6432Node"
    installer += key(uninstall % view + "\\" + guid(9, view, i), ("DisplayName", "Contoso Application %d" % i),
                     ("UninstallString", r"C:\Program Files\Contoso\A%d\uninst.exe" % i),
                     ("Publisher", "Contoso"), ("DisplayVersion", "1.%d" % i))
write("installer.reg", installer)

sets = []
for n in (1, 2):
    cs = r"HKEY_LOCAL_MACHINE\SYSTEM\ControlSet%03d" % n
    for i in range(300):
        sets += key(cs + r"\Services\ContosoSvc%d" % i, ("Type", "dword:00000010"), ("Start", "dword:00000003"),
                    ("ImagePath", r"C:\Windows\System32\svc%d.exe" % i))
        sets += key(cs + r"\Services\ContosoSvc%d\Parameters" % i, ("Level", "dword:00000001"))
    for i in range(150):
        sets += key(cs + r"\Services\eventlog\Application\ContosoSource%d" % i, ("EventMessageFile", r"C:\x%d.dll" % i))
    for i in range(40):
        sets += key(cs + r"\Enum\Root\LEGACY_CONTOSO%d\0000" % i, ("Service", "ContosoSvc%d" % i))
    sets += key(cs + r"\Control\Session Manager\Environment", ("Path", r"C:\Windows\system32"), ("TEMP", r"C:\Temp"))
current = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet"
for i in range(150):
    sets += key(current + r"\Services\eventlog\Application\ContosoSource%d" % i, ("EventMessageFile", r"C:\x%d.dll" % i))
write("controlsets.reg", sets)

for i in range(150):
    text = ("[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=System\r\nProvider=Contoso\r\n\r\n"
            "[Manufacturer]\r\nContoso=Models\r\n\r\n[Models]\r\n\"Device %d\"=Install, PCI\\VEN_8086&DEV_%04X\r\n" % (i, i))
    with open(os.path.join(infdir, "oem%d.inf" % (i + 1)), "w") as f:
        f.write(text)
    with open(os.path.join(infdir, "oem%d.PNF" % (i + 1)), "w") as f:
        f.write("PNF")
EOF

for reg in "$work"/*.reg; do
  wine reg import "$(winepath -w "$reg")" /reg:64 </dev/null >/dev/null 2>&1 || { echo "import failed: $reg" >&2; exit 1; }
done
out=$work/runs.txt
: >"$out"
for ((run = 1; run <= repeats; run++)); do
  [ "$repeats" -eq 1 ] || echo "== run $run of $repeats"
  for vendor in ${KYD_BENCH_VENDORS:-amd nvidia}; do
    wine "$build/deepclean_bench.exe" $vendor "$(winepath -w "$root/tests/vendors/footprints/$vendor.fp")" \
      </dev/null 2>/dev/null | tr -d '\r' | tee -a "$out"
  done
done
# Each vendor's ratios to the bare pass, in time taken and in processor
# time: the median of the repeats, with the spread beside it (a steady deep
# clean keeps them close).
echo "== median of $repeats run(s)"
awk '/registry \+ files:|processor time:/ {
       part = /processor/ ? "processor time" : "registry + files"
       for (i = 1; i <= NF; i++) if ($i == "=") { r[$1 " " part] = r[$1 " " part] " " $(i + 1); break } }
     END { for (v in r) { n = split(substr(r[v], 2), x, " ");
             for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (x[j] + 0 < x[i] + 0) { t = x[i]; x[i] = x[j]; x[j] = t }
             printf "%s: median %.2f x the bare pass (lowest %.2f, highest %.2f; %d runs)\n",
                    v, (n % 2 ? x[(n + 1) / 2] : (x[n / 2] + x[n / 2 + 1]) / 2), x[1], x[n], n } }' "$out" | sort
