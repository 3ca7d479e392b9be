#!/usr/bin/env bash
# The headless converter end to end: messages, streams and exit status.
set -u
bin=$1
gen=${2:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
schema=$(cd "$(dirname "$0")/../../../docs" && pwd)/report.schema.json

# Validates a JSON report against the documented schema (python3-jsonschema).
validate() {
  local py
  for py in python3 /usr/bin/python3; do
    if "$py" -c 'import jsonschema' 2>/dev/null; then
      "$py" - "$schema" "$1" <<'PY' || fail "report $1 does not match its schema"
import json, sys, jsonschema
schema, report = (json.load(open(p, encoding="utf-8")) for p in sys.argv[1:3])
jsonschema.Draft202012Validator.check_schema(schema)
jsonschema.validate(report, schema, cls=jsonschema.Draft202012Validator)
PY
      return
    fi
  done
  fail "no python3 with jsonschema to validate $1 (scripts/install-deps installs it)"
}

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
"$bin" --version >/dev/null 2>&1; rc=$?
[ $rc -eq 0 ] || fail "--version: exit $rc"
"$bin" --frobnicate "$dir" >/dev/null 2>&1; rc=$?
[ $rc -eq 2 ] || fail "unknown option: exit $rc"
"$bin" --frobnicate "$dir" 2>&1 >/dev/null | grep -q '^vltconvert: unknown option --frobnicate$' ||
  fail "unknown option: not named"
"$bin" --report "$dir/no/such/dir/r.json" "$dir" >/dev/null 2>"$dir/err"; rc=$?
[ $rc -eq 2 ] || fail "unwritable report: exit $rc"
grep -q '^vltconvert: cannot write the report .*: No such file or directory$' "$dir/err" ||
  fail "unwritable report: $(cat "$dir/err")"
touch "$dir/plain.txt"
"$bin" "$dir/plain.txt" >/dev/null 2>"$dir/err"; rc=$?
[ $rc -eq 1 ] || fail "file as folder: exit $rc"
grep -q '^vltconvert: not a folder: ' "$dir/err" || fail "file as folder: $(cat "$dir/err")"
rm -f "$dir/plain.txt"

# Generated backups: converted and verified, the summary on stdout, nothing else on stderr; a
# verify-only run afterwards writes nothing at all.
if [ -n "$gen" ]; then
  rm -rf "$dir"/*
  "$gen" --edge-cases "$dir/b" >/dev/null || fail "generator"
  out=$("$bin" --report "$dir/report.json" "$dir/b" 2>"$dir/err"); rc=$?
  [ $rc -eq 0 ] || fail "generated backups: exit $rc: $out $(cat "$dir/err")"
  grep -q '^Conversion Complete\.$' <<<"$out" || fail "generated backups: no final message"
  grep -q '^  DedTEx .* 0$' <<<"$out" || fail "generated backups: no summary: $out"
  [ ! -s "$dir/err" ] || fail "generated backups: stderr: $(cat "$dir/err")"
  grep -q '"clean": true' "$dir/report.json" || fail "report: not clean"
  validate "$dir/report.json"
  before=$(cd "$dir/b" && find . -type f | sort | xargs sha256sum)
  "$bin" --verify-only --report "$dir/verify.json" "$dir/b" >/dev/null 2>&1; rc=$?
  [ $rc -eq 0 ] || fail "verify-only: exit $rc"
  validate "$dir/verify.json"
  grep -q '"convert_seconds"' "$dir/verify.json" && fail "verify-only report: conversion times"
  after=$(cd "$dir/b" && find . -type f | sort | xargs sha256sum)
  [ "$before" = "$after" ] || fail "verify-only changed the backups"

  # A backup folder another program holds is left alone: the message on stderr, exit 1.
  if command -v flock >/dev/null 2>&1; then
    rm -rf "$dir/c" && "$gen" "$dir/c" >/dev/null || fail "generator"
    out=$(flock "$dir/c/2Loans.bkp" "$bin" --report "$dir/busy.json" "$dir/c" 2>"$dir/err"); rc=$?
    [ $rc -eq 1 ] || fail "busy folder: exit $rc"
    grep -q '^This backup is being converted by another program\.$' "$dir/err" ||
      fail "busy folder: stderr: $(cat "$dir/err")"
    [ ! -e "$dir/c/2Loans.bkp/Loan.vlt" ] || fail "busy folder: converted anyway"
    [ -e "$dir/c/2ChkSc.bkp/Schedule.vlt" ] || fail "busy folder: the others not converted"
    validate "$dir/busy.json"
  fi
fi
echo "vltconvert: all cases passed"
