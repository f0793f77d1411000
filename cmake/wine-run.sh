#!/bin/sh
# Runs a Windows program under Wine in the prefix named by WINEPREFIX. The
# first program of a prefix starts a persistent wineserver and Wine's own
# services, detached from our pipes, so that ctest never waits on them.
: "${WINEPREFIX:=$HOME/.wine-kyd}"; export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
if wineserver -p </dev/null >/dev/null 2>&1; then wine wineboot </dev/null >/dev/null 2>&1; fi
exec wine "$@"
