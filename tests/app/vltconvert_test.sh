#!/usr/bin/env bash
# The headless converter end to end: messages, streams and exit status.
set -u
bin=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Empty folder: the message twice, exit 0.
out=$("$bin" "$dir" 2>/dev/null); rc=$?
[ $rc -eq 0 ] || fail "empty folder: exit $rc"
[ "$(grep -c '^No backups found to convert\.$' <<<"$out")" -eq 2 ] || fail "empty folder: $out"

# Backup folders without tables: nothing converted, the message once.
mkdir "$dir/2012cont.bkp" "$dir/2012jrnl.bkp" "$dir/2ChkSc.bkp" "$dir/2Loans.bkp" "$dir/ABC.BKP"
out=$("$bin" "$dir/2012cont.bkp" 2>/dev/null); rc=$?
[ $rc -eq 0 ] || fail "empty backups: exit $rc"
[ "$(grep -c '^No backups found to convert\.$' <<<"$out")" -eq 1 ] || fail "empty backups: $out"

# A folder that is not there, and a wrong command line.
"$bin" "$dir/missing" >/dev/null 2>&1; rc=$?
[ $rc -eq 1 ] || fail "missing folder: exit $rc"
"$bin" >/dev/null 2>&1; rc=$?
[ $rc -eq 2 ] || fail "no argument: exit $rc"
echo "vltconvert: all cases passed"
