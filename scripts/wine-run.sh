#!/bin/sh
# Runs a Windows program of the test suites under Wine, in the prefix CTest
# names (WINEPREFIX, under the build folder).
#   wine-run.sh [--win64] PROGRAM ARGS...          the program under Wine
#   wine-run.sh [--win64] --native PROGRAM ARGS... a Linux program whose input
#                                                  comes from a Windows suite
#   wine-run.sh [--win64] --start | --stop         the run's Wine server: made
#                                                  persistent (the prefix made
#                                                  first where it is new), then
#                                                  ended
#   wine-run.sh --summary                          one line: which builds' Windows
#                                                  suites ran here, and why not
# Without --win64 the 32-bit build's programs run under Wine's 32-bit loader,
# which a kernel without 32-bit x86 support cannot start; with it, the x86-64
# test build's run under wine64, which needs no such support. A road that
# cannot start reports each of its tests skipped (exit 77) with the reason;
# any other failure of Wine is the test's own.

win64=0
if [ "$1" = "--win64" ]; then
  win64=1
  shift
fi

# Debian keeps wine64 out of PATH.
wine64_loader() {
  command -v wine64 2>/dev/null || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; }
}

# Prints why a road cannot start, and fails; silent when it can.
cannot_start() {
  if [ "$1" = 1 ]; then
    loader=$(wine64_loader)
    if [ -z "$loader" ]; then
      echo "wine64 is not installed"
      return 0
    fi
    probe=$("$loader" --version 2>&1 >/dev/null) && return 1
    echo "wine64 cannot start ($probe)"
    return 0
  fi
  if ! command -v wine >/dev/null 2>&1; then
    echo "Wine is not installed"
    return 0
  fi
  probe=$(wine --version 2>&1 >/dev/null)
  case "$probe" in
    *"Exec format error"*)
      echo "this kernel does not run 32-bit x86 programs, so Wine's 32-bit loader cannot start ($probe)"
      return 0 ;;
  esac
  return 1
}

if [ "$1" = "--summary" ]; then
  why32=$(cannot_start 0)
  why64=$(cannot_start 1)
  if [ -n "$why32" ] && [ -n "$why64" ]; then
    echo "WINDOWS SUITES DID NOT RUN: neither Windows build could run here. 32-bit: $why32; x86-64: $why64."
  elif [ -n "$why32" ]; then
    echo "Windows suites: the x86-64 build's ran under wine64; the 32-bit build's did not run: $why32."
  elif [ -n "$why64" ]; then
    echo "Windows suites: the 32-bit build's ran under Wine; the x86-64 build's did not run: $why64."
  else
    echo "Windows suites: both builds' ran, the 32-bit one under Wine and the x86-64 one under wine64."
  fi
  exit 0
fi

why=$(cannot_start $win64)
if [ -n "$why" ]; then
  echo "SKIPPED: $why"
  exit 77
fi

if [ $win64 = 1 ]; then loader=$(wine64_loader); else loader=wine; fi

case "$1" in
  --native)
    shift
    exec "$@" ;;
  --start)
    if [ -z "$WINEPREFIX" ]; then
      echo "wine-run.sh: WINEPREFIX is not set" >&2
      exit 1
    fi
    mkdir -p "$WINEPREFIX" || exit 1
    # The server and the prefix's services outlive this test: none of them
    # may hold its output open, or CTest would wait for them. A server left
    # by an interrupted run is ended first.
    log="$WINEPREFIX/start.log"
    : > "$log"
    if ! wineserver -p >> "$log" 2>&1; then
      wineserver -k >> "$log" 2>&1
      wineserver -w
      if ! wineserver -p >> "$log" 2>&1; then
        cat "$log"
        exit 1
      fi
    fi
    # A new prefix is made here, once for the run; without the .NET and
    # HTML engines, which no suite needs and this machine cannot download.
    if ! WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d" "$loader" wineboot -i < /dev/null >> "$log" 2>&1; then
      cat "$log"
      exit 1
    fi
    echo "Wine server running for $WINEPREFIX"
    exit 0 ;;
  --stop)
    wineserver -k
    exit 0 ;;
esac
exec "$loader" "$@"
