#!/usr/bin/env bash
# Builds the Windows installer from a staging folder with wixl.
#   build-msi.sh STAGE_DIR VERSION OUTPUT.msi
# STAGE_DIR holds tarnwick.exe, vtxt.exe, user-guide.html, README.md and
# LICENSE.txt; VERSION
# has three numbers. The tests also use it to build older and newer versions.
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 STAGE_DIR VERSION OUTPUT.msi" >&2
    exit 2
fi
stage_dir="$(cd "$1" && pwd)"
version="$2"
output="$3"
wxs="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/tarnwick.wxs"

if ! [[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]]; then
    echo "$0: version must be three numbers, not '$version'" >&2
    exit 2
fi
next_version="${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.$((BASH_REMATCH[3] + 1))"

for file in tarnwick.exe vtxt.exe user-guide.html README.md LICENSE.txt; do
    if [ ! -f "$stage_dir/$file" ]; then
        echo "$0: $stage_dir/$file is missing" >&2
        exit 1
    fi
done

mkdir -p "$(dirname "$output")"
output="$(cd "$(dirname "$output")" && pwd)/$(basename "$output")"
rm -f "$output"

# wixl resolves source files only by paths relative to its working directory.
(
    cd "$(dirname "$stage_dir")"
    wixl --arch x64 \
        --define "Version=$version" \
        --define "NextVersion=$next_version" \
        --define "StageDir=$(basename "$stage_dir")" \
        --output "$output" "$wxs"
)

# wixl 0.101 writes the number 4 as the root of HKMU entries; the installer's
# number for "HKCU per user, HKLM per machine" is -1.
msibuild "$output" -q "UPDATE Registry SET Root=-1 WHERE Root=4"
# PATH gets the install folder, appended ([~] is the value already there) and
# taken out again on removal ("=-"); "*" makes it the machine's PATH.
msibuild "$output" -q "CREATE TABLE \`Environment\` (\`Environment\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL LOCALIZABLE, \`Value\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`Environment\`)"
msibuild "$output" -q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('UserPath', '=-PATH', '[~];[INSTALLDIR]', 'UserPath')"
msibuild "$output" -q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`) VALUES ('MachinePath', '=-*PATH', '[~];[INSTALLDIR]', 'MachinePath')"
msibuild "$output" -q "UPDATE \`Component\` SET \`Condition\` = 'NOT ALLUSERS' WHERE \`Component\` = 'UserPath'"
msibuild "$output" -q "UPDATE \`Component\` SET \`Condition\` = 'ALLUSERS' WHERE \`Component\` = 'MachinePath'"
msibuild "$output" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)"
msibuild "$output" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)"

if msiinfo export "$output" Registry | awk -F'\t' 'NR > 3 && ($2 < -1 || $2 > 3) { bad = 1 } END { exit !bad }'; then
    echo "$0: a registry entry of $output has an unknown root" >&2
    exit 1
fi
