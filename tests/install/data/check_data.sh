#!/usr/bin/env bash
# The installed data passes the desktop's own checkers, and the manual pages render without
# warnings and document every option the programs' --help lists.
#   check_data.sh DESKTOP_FILE METAINFO_FILE MAN_FOLDER TORVANE_RECORD TORVANE_RECORDER
set -u
desktop=$1 metainfo=$2 man_dir=$3 record=$4 recorder=$5
passed=0
failed=0
ok() { echo "ok: $*"; passed=$((passed + 1)); }
bad() { echo "FAIL: $*"; failed=$((failed + 1)); }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# --help reads the settings store; give it an empty one.
export XDG_CONFIG_HOME=$scratch HOME=$scratch

out=$(desktop-file-validate "$desktop" 2>&1)
[ $? = 0 ] && [ -z "$out" ] && ok "desktop-file-validate" || bad "desktop-file-validate: $out"

out=$(appstreamcli validate --no-net "$metainfo" 2>&1)
[ $? = 0 ] && ok "appstreamcli validate --no-net" || bad "appstreamcli validate: $out"

for page in "$man_dir"/*.1; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] && ok "man --warnings: $(basename "$page")" || bad "man --warnings $(basename "$page"): $warnings"
done

# Every option of --help is explained in the page's OPTIONS section.
check_options() {   # program page
  local text options missing=""
  text=$(groff -man -Tascii -P-cbou "$2" 2>/dev/null | sed -n '/^OPTIONS/,/^[A-Z][A-Z ]*$/p' | sed '$d')
  options=$(env -u DISPLAY "$1" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
  [ -n "$options" ] || { bad "$(basename "$1") --help lists no options"; return; }
  for o in $options; do
    grep -qE -- "(^|[^a-z-])$o([^a-z-]|$)" <<<"$text" || missing="$missing $o"
  done
  [ -z "$missing" ] && ok "$(basename "$2") explains all $(wc -w <<<"$options") options of --help" ||
    bad "$(basename "$2") lacks:$missing"
}
check_options "$record" "$man_dir/torvane-record.1"
check_options "$recorder" "$man_dir/TorvaneRecorder.1"

# The page's exit statuses are the ones --help states.
help_codes=$(env -u DISPLAY "$record" --help | sed -n 's/^Exit status: //p' | grep -o '[0-9]' | sort -u | tr -d '\n')
page_codes=$(groff -man -Tascii -P-cbou "$man_dir/torvane-record.1" 2>/dev/null |
             sed -n '/^EXIT STATUS/,/^[A-Z][A-Z ]*$/p' | grep -oE '^ +[0-9]+ ' | tr -d ' ' | sort -u | tr -d '\n')
[ -n "$help_codes" ] && [ "$help_codes" = "$page_codes" ] && ok "exit statuses $page_codes" ||
  bad "exit statuses: --help \"$help_codes\", manual page \"$page_codes\""

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
