# Sourced by the scripts that need system packages.

# Installs Debian packages with apt-get, as root (through sudo when not root). Without apt-get it
# says which packages are needed and fails.
install_packages() {
    if ! command -v apt-get >/dev/null 2>&1; then
        printf 'these system packages are missing and there is no apt-get to install them: %s\n' \
            "$*" >&2
        printf 'install them (or their equivalents) and run this again\n' >&2
        return 1
    fi
    local as_root=()
    if [ "$(id -u)" -ne 0 ]; then
        as_root=(sudo)
    fi
    ${as_root[@]+"${as_root[@]}"} apt-get update -qq
    ${as_root[@]+"${as_root[@]}"} env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null
}
