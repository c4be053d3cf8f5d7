# Sourced by ./run and ./test: installs the Debian packages that are missing.
# Usage: tessaly_ensure_packages pkg...
tessaly_ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# What building the program needs, with the compiler cache and the faster linker that make a
# rebuild quick.
TESSALY_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev
                        libgl-dev libgtest-dev libgmock-dev libbenchmark-dev qtkeychain-qt6-dev
                        qt6-networkauth-dev libquazip1-qt6-dev ccache lld)
# What running it needs on top: a Japanese font so that the text renders, the keyring library
# that keeps the SMTP password, Qt's own texts in Japanese, and xdg-open, which opens the browser
# for an OAuth sign-in.
TESSALY_RUN_PACKAGES=(fonts-ipafont-gothic fonts-ipafont-mincho libqt6keychain1 libquazip1-qt6-1
                      libqt6networkauth6 qt6-translations-l10n xdg-utils)
# What making the Debian package needs on top: dpkg-shlibdeps computes its dependencies and
# looks at the files with `file`.
TESSALY_PACKAGE_PACKAGES=(dpkg-dev file)
# What the tests need on top: the real SMTP server, clang for the fuzz targets, and the package
# build with the checkers of its desktop entry, AppStream data and Debian form.
TESSALY_TEST_PACKAGES=(python3 python3-aiosmtpd clang libclang-rt-14-dev "${TESSALY_PACKAGE_PACKAGES[@]}"
                       desktop-file-utils appstream lintian)
# What drawing the screenshots of docs/ needs on top (scripts/screenshots.sh).
TESSALY_SCREENSHOT_PACKAGES=(xvfb xauth)
