#!/usr/bin/env bash
# tests/release/manuals_test.sh SOURCE_DIR SASBURN UPDATER FMXSIM FWIMAGE BOOTIMAGE
#
# Checks the manual pages in SOURCE_DIR/man against the programs themselves:
#   - every option that a program's own usage text names is documented in its page
#     (sasburn's "-h" list, updater's usage, fmxsim --help, the fwimage options and the
#     bootimage pieces), and so are the options the usage texts leave out (sasburn's help
#     synonyms and "@" response files, updater's /s and /f);
#   - every exit status that fmxsim --help and the exit status table of docs/updater.md
#     name appears under EXIT STATUS, and sasburn's 0 and 1;
#   - each page has the sections an operator looks for, and renders without warnings.
set -euo pipefail

SOURCE=$1 SASBURN=$2 UPDATER=$3 FMXSIM=$4 FWIMAGE=$5 BOOTIMAGE=$6
MAN=$SOURCE/man
failures=0
fail() { printf 'FAIL: %s\n' "$*" >&2; failures=$((failures + 1)); }

# The option as roff writes it: every "-" escaped.
roff() { printf '%s' "${1//-/\\-}"; }

# documented PAGE SECTION OPTION...: each option appears as a word of its own in that
# section of the page (the section text runs up to the next .SH).
documented() {
  local page=$1 name=$2 option pattern text
  shift 2
  text=$(section "$page" "$name")
  for option in "$@"; do
    pattern=$(roff "$option" | sed 's/[][\.*^$?]/\\&/g')
    grep -Eq "(^|[ \"(])${pattern}([ \",)]|$|\\\\f)" <<<"$text" ||
      fail "$page does not document $option under $name"
  done
}

# section PAGE NAME: the text of one section (up to the next .SH).
section() {
  awk -v name="$2" '/^\.SH / { s = $0; sub(/^\.SH "?/, "", s); sub(/"$/, "", s); on = (s == name); next } on' "$MAN/$1"
}

# statuses PAGE N...: each number tags an entry (.TP, then .B N) under EXIT STATUS.
statuses() {
  local page=$1 n text
  shift
  text=$(section "$page" "EXIT STATUS")
  for n in "$@"; do
    grep -qx "\.B $n" <<<"$text" || fail "$page: exit status $n is not under EXIT STATUS"
  done
}

# -------------------------------------------------------------------- options
# sasburn: the usage lines of its help ("\t-listall    :   ..."); with no controller
# present it runs in limited mode, where help is the one command allowed.
mapfile -t opts < <("$SASBURN" -h </dev/null | grep -oE $'^\t-[a-z]+' | tr -d '\t' | sort -u)
[ ${#opts[@]} -ge 9 ] || fail "sasburn -h listed ${#opts[@]} options: ${opts[*]}"
documented sasburn.8 OPTIONS "${opts[@]}" -? -h -help
section sasburn.8 OPTIONS | grep -q '^\.BI @ response-file' || fail "sasburn.8 does not document @response-file"

# updater: its usage text on standard error ("   /b debug_level ...").
mapfile -t opts < <("$UPDATER" 2>&1 >/dev/null </dev/null | grep -oE '^   /[a-z]' | tr -d ' ' | sort -u)
[ ${#opts[@]} -ge 5 ] || fail "updater's usage listed ${#opts[@]} options: ${opts[*]}"
documented updater.8 OPTIONS "${opts[@]}" /s /f

# fmxsim: the options block of --help.
mapfile -t opts < <("$FMXSIM" --help | sed -n '/^options:/,/^$/p' | grep -oE '^  +-[-a-z]+(, --[-a-z]+)?' |
                    tr ',' '\n' | tr -d ' ' | sort -u)
[ ${#opts[@]} -ge 4 ] || fail "fmxsim --help listed ${#opts[@]} options: ${opts[*]}"
documented fmxsim.1 OPTIONS "${opts[@]}"

# fwimage: every --option of its usage text; bootimage: every piece kind.
mapfile -t opts < <("$FWIMAGE" 2>&1 | grep -oE -- '--[a-z][-a-z]*' | sort -u)
[ ${#opts[@]} -ge 10 ] || fail "fwimage's usage listed ${#opts[@]} options: ${opts[*]}"
documented fmxsim.1 "IMAGE BUILDERS" "${opts[@]}"
mapfile -t opts < <("$BOOTIMAGE" 2>&1 | grep -oE '(^| )[a-z0-9]+:[A-Z]' | tr -d ' ' | sed 's/.$//' | sort -u)
[ ${#opts[@]} -ge 4 ] || fail "bootimage's usage listed ${#opts[@]} pieces: ${opts[*]}"
for piece in "${opts[@]}"; do
  section fmxsim.1 "IMAGE BUILDERS" | grep -q "^\.BI $piece " || fail "fmxsim.1 does not document the bootimage piece $piece"
done

# -------------------------------------------------------------------- exit statuses
statuses sasburn.8 0 1
mapfile -t codes < <(sed -n '/^## Exit status/,/^## /p' "$SOURCE/docs/updater.md" | grep -oE '^\| [0-9]+ \|' | tr -d '| ')
[ ${#codes[@]} -ge 8 ] || fail "docs/updater.md lists ${#codes[@]} exit statuses"
statuses updater.8 "${codes[@]}"
mapfile -t codes < <("$FMXSIM" --help | sed -n '/^exit status:/,/^[a-z]*:/p' | grep -oE '(^|[ ;])[0-9]+ ' | tr -d ' ;' | sort -u)
[ ${#codes[@]} -ge 2 ] || fail "fmxsim --help names ${#codes[@]} exit statuses"
statuses fmxsim.1 "${codes[@]}"
section fmxsim.1 "EXIT STATUS" | grep -q '^\.BI 128+ N$' || fail "fmxsim.1: the status of a command ended by a signal is not under EXIT STATUS"

# -------------------------------------------------------------------- sections, rendering
for page in sasburn.8 updater.8 fmxsim.1; do
  for name in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" EXAMPLES "SEE ALSO"; do
    grep -qE "^\.SH \"?$name\"?$" "$MAN/$page" || fail "$page has no $name section"
  done
  warnings=$(groff -man -Tutf8 -ww -z "$MAN/$page" 2>&1)
  [ -z "$warnings" ] || fail "$page: groff warns: $warnings"
done
grep -q '^\.SH IMAGE BUILDERS$' "$MAN/fmxsim.1" || fail "fmxsim.1 does not describe fwimage and bootimage"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo PASS
