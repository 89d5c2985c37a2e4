# The firewall double (firewall_double.cpp) in a lab's Wine prefix, in place
# of Wine's firewall objects: it reports the firewall on and keeps its rules
# in the registry, where a test seeds the rules it needs. Needs `wine` (the
# program or a function of the caller) and `fail`.

FIREWALL_RULES='HKLM\Software\NDT Test Firewall\Rules'

# register_firewall_double DLL: registers the double for the policy's and
# the rule's classes.
register_firewall_double() {
  local clsid key
  cp "$1" "$WINEPREFIX/drive_c/windows/ndt_firewall_double.dll" || fail "could not copy the firewall double"
  for clsid in '{E2B3C97F-6AE1-41AC-817A-F6F92166D7DD}' '{2C5BC43E-3369-4C33-AB0C-BE9469677AF4}'; do
    key="HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32"
    wine reg add "$key" /ve /d 'C:\windows\ndt_firewall_double.dll' /f >/dev/null &&
      wine reg add "$key" /v ThreadingModel /d Both /f >/dev/null || fail "could not register the double"
  done
}

# seed_firewall_rule NUMBER NAME GROUPING [APPLICATION]: a rule as somebody
# else (or the installer) put it there.
seed_firewall_rule() {
  local key="$FIREWALL_RULES\\$1"
  wine reg add "$key" /v Name /d "$2" /f >/dev/null && wine reg add "$key" /v Grouping /d "$3" /f >/dev/null &&
    { [[ -z ${4:-} ]] || wine reg add "$key" /v ApplicationName /d "$4" /f >/dev/null; } ||
    fail "could not seed rule $1"
}

# remove_firewall_rule NUMBER
remove_firewall_rule() {
  wine reg delete "$FIREWALL_RULES\\$1" /f >/dev/null 2>&1 || fail "could not remove rule $1"
}
