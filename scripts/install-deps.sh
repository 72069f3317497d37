#!/usr/bin/env bash
# Puts every build and test dependency of libko_core on a Debian 12 machine.
# Idempotent: it installs only what is missing and returns at once when all is present.
#
# ONNX Runtime comes from the system when a development package is installed; otherwise it is
# assembled once into a prefix outside the clone (include/ + lib/):
#   KO_ORT_PREFIX   where that prefix lives (default: $HOME/.cache/ko_core/onnxruntime-1.30.0)
# With --fuzz it also installs clang, whose libFuzzer `make fuzz` builds with; with --bench, OpenCV's
# image processing, which the paste benchmark compares against. The test suite needs neither.
set -euo pipefail

ort_version=1.30.0
ort_headers_version=1.21.0
ort_prefix=${KO_ORT_PREFIX:-$HOME/.cache/ko_core/onnxruntime-$ort_version}

debian_packages=(
  g++ cmake ninja-build make pkg-config git clang-format binutils
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev ffmpeg espeak-ng
  libhwy-dev libstb-dev libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  python3 python3-numpy python3-pytest
  npm
)

case "${1:-}" in
  --fuzz) debian_packages+=(clang) ;;
  --bench) debian_packages+=(libopencv-imgproc-dev) ;;
esac

say() { printf '[deps] %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing_debian_packages() {
  local pkg
  for pkg in "${debian_packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
      printf '%s\n' "$pkg"
    fi
  done
}

install_debian_packages() {
  local missing
  mapfile -t missing < <(missing_debian_packages)
  [ "${#missing[@]}" -eq 0 ] && return 0
  # npm comes with Node.js where that is installed from elsewhere; it is only needed when absent.
  if command -v npm >/dev/null 2>&1; then
    mapfile -t missing < <(printf '%s\n' "${missing[@]}" | grep -vx npm || true)
    [ "${#missing[@]}" -eq 0 ] && return 0
  fi
  say "installing Debian packages: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

system_ort_present() {
  pkg-config --exists libonnxruntime 2>/dev/null && return 0
  [ -f /usr/include/onnxruntime/onnxruntime_c_api.h ] && return 0
  return 1
}

prefix_ort_present() {
  [ -f "$ort_prefix/include/onnxruntime_c_api.h" ] && [ -f "$ort_prefix/lib/libonnxruntime.so.1" ]
}

# The trixie mirror is taken from the machine's own bookworm entry, so no host is named here.
debian_mirror() {
  local uri
  uri=$(grep -h -E '^\s*URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk '{print $2}' | grep -v -E 'security|nodesource|cloud' | head -n 1 || true)
  if [ -z "$uri" ]; then
    uri=$(grep -h -E '^\s*deb\s' /etc/apt/sources.list 2>/dev/null |
      awk '{print $2}' | grep -v security | head -n 1 || true)
  fi
  [ -n "$uri" ] || { say "cannot find a Debian mirror in the apt sources"; exit 1; }
  printf '%s\n' "$uri"
}

fetch_ort_headers() {
  local work=$1 stage=$2 apt_dir="$1/apt"
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
  printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s trixie main\n' \
    "$(debian_mirror)" > "$apt_dir/trixie.list"
  local opts=(
    -o "Dir::Etc::SourceList=$apt_dir/trixie.list" -o Dir::Etc::SourceParts=-
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
    -o APT::Get::List-Cleanup=0 -o APT::Sandbox::User=root -qq
  )
  apt-get "${opts[@]}" update
  (cd "$work" && apt-get "${opts[@]}" download "libonnxruntime-dev=$ort_headers_version*")
  dpkg-deb -x "$work"/libonnxruntime-dev_*.deb "$work/deb"
  mkdir -p "$stage/include"
  cp "$work"/deb/usr/include/onnxruntime/*.h "$stage/include/"
}

fetch_ort_runtime() {
  local work=$1 stage=$2
  (cd "$work" && npm pack --loglevel=error "onnxruntime-node@$ort_version" >/dev/null)
  tar -xzf "$work/onnxruntime-node-$ort_version.tgz" -C "$work" package/bin/napi-v6/linux/x64/libonnxruntime.so.1
  mkdir -p "$stage/lib"
  cp "$work/package/bin/napi-v6/linux/x64/libonnxruntime.so.1" "$stage/lib/"
  ln -sf libonnxruntime.so.1 "$stage/lib/libonnxruntime.so"
}

# Assembled in a staging folder and moved into place last, so an interrupted run never leaves
# a prefix that looks complete.
install_onnxruntime() {
  if system_ort_present || prefix_ort_present; then return 0; fi
  say "assembling ONNX Runtime $ort_version in $ort_prefix"
  local work stage
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN
  chmod 755 "$work" # apt's download user must be able to write into it
  stage="$work/prefix"
  fetch_ort_headers "$work" "$stage"
  fetch_ort_runtime "$work" "$stage"
  mkdir -p "$(dirname "$ort_prefix")"
  rm -rf "$ort_prefix"
  mv "$stage" "$ort_prefix"
}

install_debian_packages
install_onnxruntime
