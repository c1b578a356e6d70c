# shellcheck shell=bash
# The Wine settings of every run of ours, sourced by ./dev and the wrappers CTest uses.
# Prefixes are win64 (one runs both bitnesses); no debug output and no .NET, Gecko or
# menu entries in a prefix, unless the caller exported settings of its own.
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml,winemenubuilder.exe=d"}
