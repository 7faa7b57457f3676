# shellcheck shell=bash
# The prologue of every script, sourced first: strict mode, the checkout's top
# folder, the build folder of this Debian release, and what several scripts do
# alike.
#
#   . "$(dirname "$0")/lib.sh"        from scripts/ (from scripts/ci/: ../lib.sh)
set -euo pipefail

# shellcheck disable=SC2034 # for the scripts that source this
{
    top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-host}")
    # Named after the release, so that the Qt 6.4 and Qt 6.8 builds of one
    # checkout stay apart; scripts/test makes it and the other scripts reuse it.
    build=${BUILD_DIR:-$top/build/$release}
}

# Installs the named Debian packages where missing; without names, what
# building, running and testing need.
install_deps() {
    "$top/scripts/install-deps" "$@"
}

# Configures the build folder the way scripts/test builds it.
configure_build() {
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

# Builds the named targets, configuring the build folder first if it never was.
build_targets() {
    [ -e "$build/CMakeCache.txt" ] || configure_build >/dev/null
    cmake --build "$build" --target "$@"
}

# The project's own version, not that of a QML module declared below it.
project_version() {
    sed -n '/^project(/,/)/s/^ *VERSION \([0-9.]*\)$/\1/p' "$top/CMakeLists.txt"
}

# A loopback port that nothing listens on now.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Runs a command when the script ends, however it ends; the last one given
# runs first.
exit_steps=()
at_exit() {
    exit_steps=("$(printf '%q ' "$@")" "${exit_steps[@]}")
}
run_exit_steps() {
    local step
    for step in "${exit_steps[@]}"; do
        eval "$step" 2>/dev/null || true
    done
}
trap run_exit_steps EXIT

# Starts a command in the background for the rest of the script ($! is its
# process id); when the script ends, it is ended and waited for, so that
# nothing it still writes outlives the script's folder.
background() {
    "$@" <&0 &
    at_exit end_process "$!"
}
end_process() {
    kill "$1" && wait "$1"
}

# $work: a fresh folder for the script's files, removed when it ends.
make_work() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/fenestra-$(basename "$0").XXXXXX")
    at_exit rm -rf "$work"
}

# Points HOME, the XDG folders and TMPDIR into FOLDER for the programs the
# script starts, as the tests' IsolatedHome does, so that no web profile,
# setting or lock lands in the user's folders or outlives the script.
isolate_home() {
    local folder=$1 variable
    mkdir -p "$folder/tmpdir"
    export HOME=$folder TMPDIR=$folder/tmpdir
    for variable in XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME XDG_RUNTIME_DIR; do
        mkdir -p "$folder/${variable,,}"
        # Qt refuses a runtime folder that others may read.
        chmod 700 "$folder/${variable,,}"
        export "$variable=$folder/${variable,,}"
    done
}

# Runs a command showing its output only when it fails.
quietly() {
    local output
    output=$("$@" 2>&1) || { printf '%s\n' "$output"; return 1; }
}

# Runs a command in a network of its own with only loopback up: its servers'
# ports are free there whatever else runs, and it reaches nothing outside.
# FENESTRA_PRIVATE_NETWORK is set inside.
private_network() {
    local user=()
    # Without root, a user namespace gives the rights to make one.
    [ "$(id -u)" -eq 0 ] || user=(--user --map-root-user)
    # shellcheck disable=SC2016 # the inner shell expands them
    FENESTRA_PRIVATE_NETWORK=1 unshare "${user[@]}" --net sh -c 'ip link set lo up && exec "$@"' sh "$@"
}

# Starts an X server of its own for the Qt programs of the rest of the script,
# at SCREEN (such as 1024x768x24), on a display number it picks free itself.
start_xvfb() {
    local display
    coproc xvfb { exec Xvfb -displayfd 1 -nolisten tcp -screen 0 "$1" 2>/dev/null; }
    # shellcheck disable=SC2154 # the coprocess's variables
    at_exit end_process "$xvfb_PID"
    read -r -t 30 display <&"${xvfb[0]}" || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$display QT_QPA_PLATFORM=xcb
}
