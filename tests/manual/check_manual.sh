#!/bin/sh
# Checks the manual page: both formatters render it without a single warning,
# and it has an entry for every option and the text of every message the tool
# prints, so that the page cannot silently fall behind the tool.
# Usage: check_manual.sh raduza.1 driver/messages.cpp path/to/raduza
set -u
page=$1
catalogue=$2
tool=$3

for formatter in mandoc groff; do
  if ! command -v "$formatter" >/dev/null; then
    echo "SKIP: $formatter is not installed (scripts/install-test-deps.sh installs it)"
    exit 77
  fi
done

status=0
fail() {
  printf 'FAIL: %s\n' "$*"
  status=1
}

if ! lint=$(mandoc -Tlint "$page" 2>&1) || [ -n "$lint" ]; then fail "mandoc -Tlint: $lint"; fi
warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
[ -z "$warnings" ] || fail "groff -ww: $warnings"

# One paragraph per line, no overstrike: every message and option can be found with grep.
text=$(mandoc -Tascii -Owidth=1000 "$page" | sed 's/.\x08//g')

# The options of the help texts (--help adds the extensions to the usage text), and
# the two that neither shows.
options=$({ "$tool" --help; "$tool" -help-undocumented; } | sed -n 's/^\(-[a-z_-]*\) .*/\1/p')
[ "$(printf '%s\n' "$options" | wc -l)" -ge 15 ] || fail "could not read the options from the help texts: $options"
for option in $options -t -help-undocumented; do
  printf '%s\n' "$text" | grep -Eq -- "^ {7}$option( |\$)" || fail "no entry under OPTIONS for $option"
done

# Every catalogue text, with %s and %c standing for anything.
messages=$(sed -n '/CATALOGUE\[\] = {/,/^};/p' "$catalogue" | sed -n 's/^ *{MSG_[A-Z_]*, "\(.*\)\\n"},$/\1/p')
[ "$(printf '%s\n' "$messages" | wc -l)" -ge 13 ] || fail "could not read the message catalogue from $catalogue"
printf '%s\n' "$messages" | {
  missing=0
  while IFS= read -r message; do
    pattern=$(printf '%s\n' "$message" | sed -e 's/[][\.*^$(){}+?|]/\\&/g' -e 's/%s/.+/g' -e 's/%c/./g')
    if ! printf '%s\n' "$text" | grep -Eq -- "$pattern"; then
      printf 'FAIL: the manual does not show the message "%s"\n' "$message"
      missing=1
    fi
  done
  exit "$missing"
} || status=1

[ "$status" -eq 0 ] && echo "The manual renders cleanly and documents every option and message."
exit "$status"
