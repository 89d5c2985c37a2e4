# The installer package under Wine's msiexec, in a fresh Wine prefix of a lab
# of its own (msiexec runs the installed program, which must stay in a lab):
# install, then a package with a higher version over it, then uninstall.
# Checks the files, the Start-menu shortcut, the PATH entry, the firewall
# rules (kept in the registry by the firewall double registered in the
# prefix, beside another product's rules of the same name and an older
# unscoped rule of ours, which the install replaces), that the installed
# console only reads the firewall, the Add/Remove Programs entry, that the
# upgrade (and a second build of the same version) leaves one installed
# copy, that uninstall leaves nothing the install added and the other
# product's rules alone, and that a firewall refusing the rule does not fail
# the install. Prints what each step changed and how long it took.
# Usage: test_install.sh PACKAGE.msi GENERATED.wxs FIREWALL_DOUBLE.dll BUILD_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
if [[ -z ${NDT_E2E_MSI_INNER:-} ]]; then
  if [[ -z ${NDT_LAB:-} ]]; then
    echo "refusing to run outside a lab: NDT_LAB is not set (run through tools/lab with ... -- ctest)" >&2
    exit 1
  fi
  echo "-- creating a lab with a fresh Wine prefix from lab $NDT_LAB"
  exec "$repo/tools/lab" with --loopback-only -- env NDT_E2E_MSI_INNER=1 bash "$0" "$@"
fi

MSI=$1 WXS=$2 DOUBLE=$3 BUILD=$4
fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }
[[ -f $MSI && -f $WXS && -f $DOUBLE ]] || fail "package, WiX source or firewall double not built"
TMP=$(mktemp -d /tmp/ndt-e2e-msi.XXXXXX)
trap 'rm -rf "$TMP"' EXIT
wine() { "$repo/scripts/wine-run" "$@"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }

PRODUCT='Network Discovery Tool'
DIR="$WINEPREFIX/drive_c/Program Files/$PRODUCT"
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
source "$here/firewall_double.sh"
RULES=$FIREWALL_RULES
ENVKEY='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
SETTINGS='HKCU\Software\Orvel Electronics\Discovery Tool'
VERSION=$(sed -n 's/^ *<Product .*Version="\([0-9.]*\)".*/\1/p' "$WXS")
[[ $VERSION =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)\.[0-9]+$ ]] || fail "no version in $WXS"
NEWER=${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.$((BASH_REMATCH[3] + 1)).0

# ---- the packages ----------------------------------------------------------
# The firewall actions run while the program is installed: adding after
# InstallFiles, removing before RemoveFiles, both inside the installer's script.
msiinfo export "$MSI" InstallExecuteSequence | tr -d '\r' >"$TMP/sequence" || fail "msiinfo failed"
seq_of() { awk -F'\t' -v a="$1" '$1 == a { print $3 }' "$TMP/sequence"; }
add=$(seq_of AddFirewallRule) remove=$(seq_of RemoveFirewallRule)
(( add > $(seq_of InstallFiles) && add < $(seq_of InstallFinalize) )) ||
  fail "AddFirewallRule at $add, not between InstallFiles and InstallFinalize"
(( remove > $(seq_of InstallInitialize) && remove < $(seq_of RemoveFiles) )) ||
  fail "RemoveFirewallRule at $remove, not between InstallInitialize and RemoveFiles"
# The rollback of the add comes just before it, and is a rollback action
# (256 + 1024 in its type) in the system's context (2048).
rollback=$(seq_of RollbackFirewallRule)
(( rollback > $(seq_of InstallFiles) && rollback < add )) ||
  fail "RollbackFirewallRule at $rollback, not between InstallFiles and AddFirewallRule"
type=$(msiinfo export "$MSI" CustomAction | tr -d '\r' | awk -F'\t' '$1 == "RollbackFirewallRule" { print $2 }')
(( (type & 3328) == 3328 )) || fail "RollbackFirewallRule has type $type, not a rollback action"
(( $(seq_of SetInstallLocation) > $(seq_of CostFinalize) )) || fail "SetInstallLocation before CostFinalize"
# The same source with a higher version: a major upgrade of the first.
sed "s/Version=\"$VERSION\"/Version=\"$NEWER\"/" "$WXS" >"$TMP/newer.wxs"
# Built twice: each build has a product code of its own, and a second build
# of one version must replace the first as well.
for name in newer rebuilt; do
  (cd "$BUILD" && bash "$repo/packaging/make-msi" "$TMP/newer.wxs" "$TMP/$name.msi") >/dev/null 2>&1 ||
    fail "could not build the package of version $NEWER"
done
note "package $(basename "$MSI"): $(stat -c %s "$MSI") bytes; upgrade $NEWER built twice"

# ---- the prefix: the firewall double in place of Wine's objects ------------
register_firewall_double "$DOUBLE"
wine reg add "$SETTINGS" /v Marker /d kept /f >/dev/null || fail "could not write a setting"

# ---- what the machine holds: files, registry, Start menu -------------------
snapshot() { # name
  (cd "$WINEPREFIX/drive_c" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune \
    -o -print | sort) >"$TMP/$1.files"
  local hive
  for hive in HKLM HKCU; do
    wine reg export "$hive" "$(winpath "$TMP/$1.$hive.reg")" /y >/dev/null || fail "reg export $hive"
  done
  # One line per key ("key [...]") and per value ("value [...] name=data",
  # continued lines joined), so that sets of lines compare.
  cat "$TMP/$1.HKLM.reg" "$TMP/$1.HKCU.reg" | iconv -f UTF-16LE -t UTF-8 | tr -d '\r' |
    sed -e ':a' -e '/\\$/{N;s/\\\n *//;ba' -e '}' |
    awk '/^\[/ { key = $0; print "key   " key; next } /^[@"]/ { print "value " key " " $0 }' |
    sort -u >"$TMP/$1.keys"
}
changes() { # before after: lines only in after ("+"), only in before ("-")
  comm -13 "$TMP/$1.files" "$TMP/$2.files" | sed 's/^/  + file /'
  comm -23 "$TMP/$1.files" "$TMP/$2.files" | sed 's/^/  - file /'
  comm -13 "$TMP/$1.keys" "$TMP/$2.keys" | sed 's/^/  + /'
  comm -23 "$TMP/$1.keys" "$TMP/$2.keys" | sed 's/^/  - /'
}
msiexec() { # what log.txt: runs and times msiexec
  local start end
  start=$(date +%s.%N)
  wine msiexec "$@" /qn /l*v "$(winpath "$TMP/msiexec.log")" || fail "msiexec $* failed with status $?"
  end=$(date +%s.%N)
  note "msiexec $1 $(basename "$2"): $(awk "BEGIN { printf \"%.2f\", $end - $start }") s; PATH: $(system_path)"
}
products() { wine reg query "$UNINSTALL" /s 2>/dev/null | tr -d '\r' | grep -c "DisplayName *REG_SZ *$PRODUCT\$"; }
system_path() { wine reg query "$ENVKEY" /v PATH | tr -d '\r' | sed -n 's/.*REG_EXPAND_SZ *//p'; }
path_entries() { system_path | tr ';' '\n' | grep -cxF "C:\\Program Files\\$PRODUCT\\"; }
shortcut() { find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs*' -name "$PRODUCT.lnk" | head -1; }
# One line per rule of the double: name | grouping | application; with
# "all", our rules' other properties too.
rules() {
  wine reg query "$RULES" /s 2>/dev/null | tr -d '\r' | awk -v all="${1:-}" '
    function flush() {
      if (n > 0) {
        line = v["Name"] " | " v["Grouping"] " | " v["ApplicationName"]
        if (all != "") line = line " | " v["Direction"] " " v["Protocol"] " " v["RemotePorts"] " " \
          v["Profiles"] " " v["InterfaceTypes"] " " v["Enabled"] " " v["Action"]
        print line
      }
      n = 0; split("", v)
    }
    /^HKEY/ { flush(); next }
    match($0, /^ +[^ ]+ +REG_SZ +/) { v[$1] = substr($0, RLENGTH + 1); n++ }
    END { flush() }' | sort
}
INSTALLED='C:\Program Files\Network Discovery Tool'
OTHERS="Announce | Another Maker | 
Announce | Orvel Electronics Ltd. | C:\\Other\\Announcer.exe"
OURS="Announce | Orvel Electronics Ltd. | $INSTALLED\\NetworkDiscoveryScan.exe | 1 17 30303 2147483647 ALL -1 1
Announce | Orvel Electronics Ltd. | $INSTALLED\\NetworkDiscoveryTool.exe | 1 17 30303 2147483647 ALL -1 1"
expect_rules() { # what: our two rules beside the other product's, nothing else
  local want
  want=$( (echo "$OTHERS"; echo "$OURS" | cut -d'|' -f1-3 | sed 's/ $//') | sort)
  [[ $(rules) == "$want" && $(rules all | grep -F "| $INSTALLED\\") == "$OURS" ]] ||
    fail "$1: the rules are"$'\n'"$(rules all)"
}
rule_key() { # application: the key of the first rule naming it
  wine reg query "$RULES" /s | tr -d '\r' |
    APP=$1 awk '/^HKEY/ { key = $0 } $1 == "ApplicationName" && index($0, ENVIRON["APP"]) { print key; exit }'
}
expect_installed() { # version
  cmp -s "$DIR/NetworkDiscoveryTool.exe" "$BUILD/NetworkDiscoveryTool.exe" &&
    cmp -s "$DIR/NetworkDiscoveryScan.exe" "$BUILD/NetworkDiscoveryScan.exe" ||
    fail "the installed programs are not the built ones"
  [[ -n $(shortcut) ]] || fail "no Start-menu shortcut"
  grep -aq 'NetworkDiscoveryTool.exe' "$(shortcut)" || fail "the shortcut does not name the program"
  [[ $(path_entries) == 1 ]] || fail "the install folder is on PATH $(path_entries) times"
  [[ $(products) == 1 ]] || fail "$(products) Add/Remove Programs entries"
  wine reg query "$UNINSTALL" /s | tr -d '\r' | grep -q "DisplayVersion *REG_SZ *$1\$" ||
    fail "no Add/Remove Programs entry of version $1"
  wine reg query "$UNINSTALL" /s | tr -d '\r' | grep -q "Publisher *REG_SZ *Orvel Electronics Ltd.\$" ||
    fail "the Add/Remove Programs entry does not name the maker"
  wine reg query "$UNINSTALL" /s | tr -d '\r' | grep -qF "InstallLocation    REG_SZ    $INSTALLED\\" ||
    fail "the Add/Remove Programs entry does not give the install location"
  expect_rules "version $1"
}

# Another product's rules of our name (one even with our grouping, for its
# own program), and the unscoped rule an older version of ours added.
seed_firewall_rule 91 Announce 'Another Maker'
seed_firewall_rule 92 Announce 'Orvel Electronics Ltd.' 'C:\Other\Announcer.exe'
seed_firewall_rule 93 Announce 'Orvel Electronics Ltd.'
note "rules before the install:"; rules all | sed 's/^/  /'

snapshot before
msiexec /i "$(winpath "$MSI")"
snapshot installed
note "the install changed:"; changes before installed
note "rules after the install:"; rules all | sed 's/^/  /'
expect_installed "$VERSION"
wine reg query "$UNINSTALL" /s | tr -d '\r' | grep -E ' (InstallLocation|EstimatedSize) ' | sed 's/^ */-- ARP entry: /'

# The console, run with the rights the installer had, only tells of its
# missing rule, once, and changes nothing.
console_rule=$(rule_key "$INSTALLED\\NetworkDiscoveryScan.exe")
[[ -n $console_rule ]] || fail "no rule of the console to take away"
wine reg delete "$console_rule" /f >/dev/null || fail "could not take the console's rule away"
before_scan=$(rules all)
wine "$INSTALLED\\NetworkDiscoveryScan.exe" --seconds 1 >/dev/null 2>"$TMP/scan.err"
[[ $(rules all) == "$before_scan" ]] || fail "the console changed the firewall rules"
[[ $(grep -c 'no rule for this program' "$TMP/scan.err") == 1 ]] ||
  fail "the console did not tell of its missing rule in one line:"$'\n'"$(cat "$TMP/scan.err")"
note "console: $(grep 'no rule for this program' "$TMP/scan.err")"

msiexec /i "$(winpath "$TMP/newer.msi")"
snapshot upgraded
note "the upgrade changed:"; changes installed upgraded
expect_installed "$NEWER"

msiexec /i "$(winpath "$TMP/rebuilt.msi")"
expect_installed "$NEWER"

msiexec /x "$(winpath "$TMP/rebuilt.msi")"
snapshot removed
note "the uninstall changed:"; changes upgraded removed
[[ ! -e $DIR && -z $(shortcut) && $(path_entries) == 0 && $(products) == 0 ]] ||
  fail "the uninstall left files, the shortcut, the PATH entry or the Add/Remove entry"
note "rules after the uninstall:"; rules all | sed 's/^/  /'
[[ $(rules) == "$OTHERS" ]] || fail "the uninstall left these rules, not only the other product's:"$'\n'"$(rules)"
[[ $(wine reg query "$SETTINGS" /v Marker | tr -d '\r') == *kept* ]] || fail "the user's settings went"
# Not the package's: the Windows Installer's own folder and the empty keys
# of its bookkeeping (Wine makes them at the first install), the double's
# empty rules key, and the display adapters' keys Wine writes when its
# desktop starts. PATH is judged by its entries above: Wine's removal leaves
# the separator it appended.
left=$(changes before removed | grep '^  +' | grep -vxF '  + file ./windows/Installer' |
  grep -vE '^  \+ key   \[HKEY_LOCAL_MACHINE\\Software\\(Classes\\Installer|Microsoft\\Windows\\CurrentVersion\\Installer\\(UpgradeCodes|UserData)|NDT Test Firewall)' |
  grep -v -e 'CurrentControlSet\\Control\\\(Video\|Class\)\\' -e 'Session Manager\\Environment\] "PATH"=')
[[ -z $left ]] || fail "the uninstall left what the install added:"$'\n'"$left"

# A firewall that refuses the rule: the install still succeeds, without it.
wine reg add 'HKLM\Software\NDT Test Firewall' /v RefuseAdd /t REG_DWORD /d 1 /f >/dev/null
msiexec /i "$(winpath "$MSI")"
[[ -f $DIR/NetworkDiscoveryTool.exe ]] || fail "a refused rule failed the install"
[[ $(rules) == "$OTHERS" ]] || fail "a refused rule was added"
msiexec /x "$(winpath "$MSI")"
[[ ! -e $DIR ]] || fail "the second uninstall left the program folder"
note "PASS"
