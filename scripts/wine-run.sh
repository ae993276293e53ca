#!/bin/sh
# Runs a Windows program of the test suites under Wine. A kernel built
# without 32-bit x86 support cannot start Wine's 32-bit loader at all; then
# the test says why and reports itself skipped (exit 77) instead of failing
# for the machine. Any other failure of Wine is the test's own.
# With --native first, the same check guards a Linux program whose input
# comes from a Windows suite, which then runs as it is.
probe=$(wine --version 2>&1 >/dev/null)
case "$probe" in
  *"Exec format error"*)
    echo "SKIPPED: this kernel does not run 32-bit x86 programs, so Wine cannot start ($probe)"
    exit 77 ;;
esac
if [ "$1" = "--native" ]; then
  shift
  exec "$@"
fi
exec wine "$@"
