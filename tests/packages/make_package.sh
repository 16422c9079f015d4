#!/usr/bin/env bash
# Builds one sample client package from client.wxs:
#   make_package.sh OUTPUT ARCH MEMBER PRODUCT_CODE REFUSE AGENT_PROGRAM [DRIVER]
# (DRIVER no leaves out the journal driver's service key "zmvf"), and gives
# the "Velmora" service the executable path in the form Windows' own
# installer writes: quoted, with its argument, as REG_EXPAND_SZ. Wine's
# msiexec writes it unquoted, so the package writes ImagePath itself, after
# the service is registered.
set -euo pipefail
output="$1" arch="$2" member="$3" product_code="$4" refuse="$5" agent="$6" driver="${7:-yes}"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# wixl finds the files to pack by names relative to the folder it runs in.
cp "$agent" "$work/agent.exe"
printf 'Velmora Agent sample, installed from %s (%s).\r\n' "$member" "$arch" >"$work/package.txt"
(cd "$work" && wixl -a "$arch" -D Arch="$arch" -D Member="$member" -D ProductCode="$product_code" \
  -D Refuse="$refuse" -D Driver="$driver" -o package.msi "$here/client.wxs")

# wixl writes "#" as "##"; "#%" is what marks REG_EXPAND_SZ.
msiinfo export "$work/package.msi" Registry >"$work/Registry.idt"
sed -i 's/\tImagePath\t##%/\tImagePath\t#%/' "$work/Registry.idt"
grep -q $'\tImagePath\t#%"' "$work/Registry.idt"
msibuild "$work/package.msi" -i "$work/Registry.idt"

# InstallServices would overwrite the value: write the registry after it.
msiinfo export "$work/package.msi" InstallExecuteSequence >"$work/InstallExecuteSequence.idt"
# msiinfo writes its tables with CRLF line ends; msibuild reads them so.
services="$(awk -F'\t' '{ sub(/\r$/, "") } $1 == "InstallServices" { print $3 }' "$work/InstallExecuteSequence.idt")"
[ -n "$services" ]
awk -F'\t' -v OFS='\t' -v ORS='\r\n' -v after="$((services + 50))" \
  '{ sub(/\r$/, "") } $1 == "WriteRegistryValues" { $3 = after } { print }' \
  "$work/InstallExecuteSequence.idt" >"$work/sequence.idt"
mv "$work/sequence.idt" "$work/InstallExecuteSequence.idt"
msibuild "$work/package.msi" -i "$work/InstallExecuteSequence.idt"

mv "$work/package.msi" "$output"
