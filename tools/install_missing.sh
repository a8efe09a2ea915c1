# Sourced by the build scripts: install_missing PACKAGE:CHECK ... installs,
# with apt, every package whose check (a command name, or a file path) fails.
install_missing() {
  local need=() pkg check
  for entry in "$@"; do
    pkg=${entry%%:*}
    check=${entry#*:}
    if [[ $check == /* ]]; then
      [ -e "$check" ] || need+=("$pkg")
    else
      command -v "$check" >/dev/null || need+=("$pkg")
    fi
  done
  if [ ${#need[@]} -gt 0 ]; then
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${need[@]}"
  fi
}
