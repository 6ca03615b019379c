# Sourced by the set-up scripts: installs the Debian packages named in
# "$@" that are not installed yet. Needs root (or sudo) only when something
# is missing.
install_missing_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing Debian packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Packages to build the program and its tests.
BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config libgtest-dev
                qt6-base-dev libgl-dev libxkbcommon-dev libssl-dev libgf-complete-dev zlib1g-dev
                libisal-dev
                fonts-dejavu-core fonts-dejavu-extra)
# Packages the tests need besides: a real X server and a window manager for
# the end-to-end test, clang and its runtimes for the fuzz test, the
# desktop-file and AppStream validators, dpkg-dev for the package, file to
# read the icon's size, lintian (with man-db for the manual page) to check
# the package, shared-mime-info to build the file type database from it,
# e2fsprogs and mount (losetup) for the power-cut and kill tests' file system
# images, python3-fuse and fuse3 (its mount helper) for the kill test's slow
# file system, par2 to check that other tools read and repair with the
# recovery data, dbus-daemon (dbus-run-session) for the session bus test,
# bash-completion to try the command line's completion as a shell loads it.
TEST_PACKAGES=(xvfb xauth openbox clang libclang-rt-14-dev desktop-file-utils appstream dpkg-dev
               file lintian man-db shared-mime-info e2fsprogs mount python3-fuse fuse3 par2
               dbus-daemon bash-completion)
