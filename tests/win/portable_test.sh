#!/bin/bash
# SPDX-License-Identifier: MIT
# The portable .zip runs where it is unpacked; the installer is tested when Wine can run 32-bit
# programs (its NSIS stub is one): tests/win/installer_test.bat, then an upgrade into a folder of the
# user's choice, also while korvel runs (tests/win/upgrade_test.bat, with HOLD_RUNNING.exe standing
# for the open window), and for x64 a 32-bit Windows (tests/win/refuse_32bit_test.bat).
#   tests/win/portable_test.sh PORTABLE.zip SETUP.exe HOLD_RUNNING.exe [X86-SETUP.exe]
# With the x86 installer beside the x64 one, both are also installed side by side.
set -euo pipefail
zip=$1 setup=$2 hold=$3 x86_setup=${4:-}
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/korvel-portable.XXXXXX")
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
for f in korvel.exe korvel-cli.exe korvel.ico README.txt; do
  [[ -f "$work/korvel/$f" ]] || { echo "FAIL: $f missing from $zip"; exit 1; }
done
# The whole help is taken before it is searched: grep -q would stop reading at the match, and the
# writer's broken pipe would fail the pipeline.
help=$("$here/scripts/wine-run" "$work/korvel/korvel-cli.exe" --help | tr -d '\r') || help=
[[ "$help" == *"korvel-cli ports"* ]] ||
  { echo "FAIL: the unpacked korvel-cli.exe does not run"; exit 1; }
echo "ok: portable zip"
# The window, its stand-in and the installer name the same mutex.
mutex=$(sed -n 's/^!define RUNNING_MUTEX "\(.*\)"$/\1/p' "$here/packaging/korvel.nsi")
[[ -n "$mutex" ]] || { echo "FAIL: packaging/korvel.nsi defines no RUNNING_MUTEX"; exit 1; }
for exe in "$work/korvel/korvel.exe" "$hold"; do
  python3 -c 'import sys; sys.exit(sys.argv[2].encode("utf-16-le") not in open(sys.argv[1], "rb").read())' "$exe" "$mutex" ||
    { echo "FAIL: $(basename "$exe") does not hold the mutex \"$mutex\" the installer looks for"; exit 1; }
done
# NSIS installers are 32-bit programs: they need Wine's 32-bit loader (Debian's wine32 package).
if [[ -x /usr/lib/wine/wine ]]; then
  arch=x64
  [[ "$(basename "$setup")" == *-x86-* ]] && arch=x86
  "$here/scripts/wine-run" cmd /c "Z:$here/tests/win/installer_test.bat" "Z:$setup" "$arch" | tr -d '\r'
  [[ ${PIPESTATUS[0]} -eq 0 ]] || exit 1
  "$here/scripts/wine-run" cmd /c "Z:$here/tests/win/upgrade_test.bat" "Z:$setup" "Z:$hold" "$arch" 'C:\测量 工具\korvel' | tr -d '\r'
  [[ ${PIPESTATUS[0]} -eq 0 ]] || exit 1
  # On a 32-bit Windows the x64 installer refuses and the x86 one installs and upgrades.
  if [[ $arch == x64 ]]; then
    "$here/scripts/wine-run" --win32 cmd /c "Z:$here/tests/win/refuse_32bit_test.bat" "Z:$setup" | tr -d '\r'
  else
    "$here/scripts/wine-run" --win32 cmd /c "Z:$here/tests/win/upgrade_test.bat" "Z:$setup" "Z:$hold" x86 'C:\korvel 32' | tr -d '\r'
  fi
  [[ ${PIPESTATUS[0]} -eq 0 ]] || exit 1
  if [[ $arch == x64 && -n "$x86_setup" ]]; then
    [[ -f "$x86_setup" ]] || { echo "FAIL: no x86 installer at $x86_setup (scripts/windows builds it first)"; exit 1; }
    "$here/scripts/wine-run" cmd /c "Z:$here/tests/win/side_by_side_test.bat" "Z:$setup" "Z:$x86_setup" | tr -d '\r'
    exit "${PIPESTATUS[0]}"
  fi
  exit 0
fi
head -c 2 "$setup" | grep -q MZ || { echo "FAIL: $setup is not a Windows program"; exit 1; }
echo "installer built; not run: this Wine has no 32-bit loader (wine32)"
