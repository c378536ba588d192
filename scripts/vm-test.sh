#!/usr/bin/env bash
# Runs the real button trainer against virtual HID devices on a real Linux
# kernel: the uhid player (tests/vm/uhid_player.cpp) plays each scenario of
# tests/vm/scenarios to the trainer, and each scenario's output must equal its
# .expected file.
#
# Where /dev/uhid is writable by root, the scenarios are played on this
# machine. Elsewhere Debian's kernel boots under qemu (software emulation)
# from an initramfs holding busybox, the HID modules, the trainer, the player
# and the scenarios; the results come back over a serial port.
#
#   bash scripts/vm-test.sh [--show] [SCENARIO...]
#
# --show prints each scenario's output. BT_VM_MODE=qemu or direct picks the
# way (default: direct where it can, else qemu). The kernel is fetched once
# into build/vm/kernel and reused.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

show=0
if [ "${1:-}" = "--show" ]; then
  show=1
  shift
fi
scenarios=("$@")
if [ "${#scenarios[@]}" -eq 0 ]; then
  scenarios=(tests/vm/scenarios/*.scenario)
fi

mode=${BT_VM_MODE:-auto}
if [ "$mode" = auto ]; then
  mode=qemu
  if [ "$(id -u)" -eq 0 ] && [ -w /dev/uhid ]; then
    mode=direct
  fi
fi

. scripts/packages.sh
packages=(cmake ninja-build g++)
[ "$mode" = direct ] || packages+=(qemu-system-x86 busybox-static cpio xz-utils zstd)
ensure_packages "${packages[@]}"

cmake --preset vm >/dev/null
build=$root/build/vm
if [ "$show" -eq 1 ]; then
  # Quiet for the demonstration: the build's lines only when it fails.
  cmake --build --preset vm >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }
else
  cmake --build --preset vm
fi
trainer=$build/trainer/button-trainer
player=$build/tests/vm/uhid_player
"$player" --check "${scenarios[@]}"

results=$build/results
rm -rf "$results"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# The real package that linux-image-amd64, a metapackage, depends on.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}

# Fetches Debian's kernel and unpacks it into the build tree (never into
# /boot), keeping the kernel image and the HID modules with what they need.
fetch_kernel() {
  local kernel=$1
  [ -f "$kernel/load-order" ] && return 0
  local package
  package=$(kernel_package)
  if [ -z "$package" ]; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q
    package=$(kernel_package)
  fi
  [ -n "$package" ] || { echo "vm: cannot resolve linux-image-amd64" >&2; return 1; }
  local version=${package#linux-image-}
  echo "vm: fetching $package"
  rm -rf "$kernel"
  mkdir -p "$kernel/modules"
  local work
  work=$(mktemp -d)
  # apt downloads as its own user, which must be able to write here.
  chmod 0777 "$work"
  (cd "$work" && apt-get download -q "$package")
  dpkg -x "$work"/*.deb "$work/root"
  local tree=$work/root/lib/modules/$version
  # The package leaves modules.dep to its install script: make it here.
  [ -f "$tree/modules.dep" ] || busybox depmod -b "$work/root" "$version"

  # The modules to load, each after what it depends on (modules.dep lists
  # the deepest dependency last).
  local order=() entry
  add_module() {
    local module=$1 deps
    for entry in "${order[@]}"; do [ "$entry" = "$module" ] && return 0; done
    deps=$(sed -n "s|^$module: *||p" "$tree/modules.dep")
    local reversed=() dep
    for dep in $deps; do reversed=("$dep" "${reversed[@]}"); done
    for dep in "${reversed[@]}"; do add_module "$dep"; done
    order+=("$module")
  }
  local wanted module
  for wanted in hid-generic uhid; do
    module=$(grep -o "^[^:]*/$wanted\.ko[.a-z]*:" "$tree/modules.dep" | tr -d :)
    [ -n "$module" ] || { echo "vm: $version has no $wanted module" >&2; return 1; }
    add_module "$module"
  done

  # busybox's insmod takes plain ELF modules only.
  local name
  : >"$kernel/load-order.tmp"
  for module in "${order[@]}"; do
    name=${module##*/}
    case "$name" in
      *.ko) cp "$tree/$module" "$kernel/modules/$name" ;;
      *.ko.xz) xz -dc "$tree/$module" >"$kernel/modules/${name%.xz}" ;;
      *.ko.zst) zstd -qdc "$tree/$module" >"$kernel/modules/${name%.zst}" ;;
      *.ko.gz) gzip -dc "$tree/$module" >"$kernel/modules/${name%.gz}" ;;
      *) echo "vm: unknown module form: $name" >&2; return 1 ;;
    esac
    name=${name%.ko*}.ko
    # hid-generic is to take every device, also those that the kernel's
    # tables leave to a vendor driver that is not loaded here.
    if [ "$name" = hid.ko ]; then
      echo "$name ignore_special_drivers=1" >>"$kernel/load-order.tmp"
    else
      echo "$name" >>"$kernel/load-order.tmp"
    fi
  done
  cp "$work/root/boot/vmlinuz-$version" "$kernel/vmlinuz"
  echo "$version" >"$kernel/version"
  rm -rf "$work"
  mv "$kernel/load-order.tmp" "$kernel/load-order"
  echo "vm: kernel $version, modules: $(tr '\n' ' ' <"$kernel/load-order")"
}

# Builds the initramfs and boots it; leaves the results in $results.
run_in_qemu() {
  local kernel=$build/kernel
  fetch_kernel "$kernel"
  local stage=$build/initramfs
  rm -rf "$stage"
  mkdir -p "$stage"/{bin,dev,proc,sys,tmp,scenarios,lib/modules}
  cp /bin/busybox "$stage/bin/busybox"
  cp "$trainer" "$player" tests/vm/run-scenarios.sh "$stage/bin/"
  cp tests/vm/init "$stage/init"
  cp "$kernel"/modules/*.ko "$kernel/load-order" "$stage/lib/modules/"
  cp "${scenarios[@]}" "$stage/scenarios/"
  (cd "$stage" && find . | cpio -o -H newc -R 0:0 --quiet) >"$build/initramfs.cpio"

  local console=$build/console.log serial=$build/results.txt
  rm -f "$console" "$serial"
  echo "vm: booting $(cat "$kernel/version") under qemu"
  local started=$SECONDS status=0
  timeout 600 qemu-system-x86_64 -accel tcg -m 512 -smp 2 -nic none -no-reboot \
    -display none -monitor none -serial "file:$console" -serial "file:$serial" \
    -kernel "$kernel/vmlinuz" -initrd "$build/initramfs.cpio" \
    -append "console=ttyS0 quiet panic=-1" </dev/null || status=$?
  echo "vm: qemu ended after $((SECONDS - started)) s with status $status"
  grep -a '^vm: \|^scenario ' "$console" | tr -d '\r' || true
  if [ "$status" -ne 0 ]; then
    echo "vm: qemu failed; its console:" >&2
    tr -d '\r' <"$console" | tail -n 60 >&2
  fi

  mkdir -p "$results"
  local line file=""
  while IFS= read -r line; do
    line=${line%$'\r'}
    case "$line" in
      "BEGIN "*) file=$results/${line#BEGIN }; : >"$file.b64" ;;
      "END "*) base64 -d <"$file.b64" >"$file" && rm "$file.b64"; file="" ;;
      *) [ -z "$file" ] || echo "$line" >>"$file.b64" ;;
    esac
  done <"$serial"
}

# Plays the scenarios on this machine's own kernel.
run_direct() {
  # The trainer may run as another user, who must be able to reach it.
  local copy
  copy=$(mktemp -d)
  chmod 0755 "$copy"
  cp "$trainer" "$player" "$copy/"
  sh tests/vm/run-scenarios.sh "$copy/uhid_player" "$copy/button-trainer" "$results" \
    "${scenarios[@]}"
  rm -rf "$copy"
}

if [ "$mode" = direct ]; then
  run_direct
else
  run_in_qemu
fi

passed=0
failed=0
for scenario in "${scenarios[@]}"; do
  name=$(basename "$scenario" .scenario)
  expected=${scenario%.scenario}.expected
  out=$results/$name.out
  if [ ! -f "$results/$name.status" ] || [ ! -f "$out" ]; then
    echo "FAIL $name: no result came back"
    failed=$((failed + 1))
    continue
  fi
  if [ "$show" -eq 1 ]; then
    echo "== $name: the trainer printed"
    cat "$out"
  fi
  grep -h 'cpu: ' "$results/$name.log" | sed "s/^/$name: /" || true
  problem=""
  if [ "$(cat "$results/$name.status")" != 0 ]; then
    problem="the player failed (exit status $(cat "$results/$name.status"))"
  elif [ ! -f "$expected" ]; then
    problem="no $expected"
  elif ! cmp -s "$expected" "$out"; then
    problem="the output differs from $expected"
  fi
  if [ -z "$problem" ]; then
    echo "PASS $name"
    passed=$((passed + 1))
    continue
  fi
  echo "FAIL $name: $problem"
  [ ! -f "$expected" ] || diff -u --label expected --label output "$expected" "$out" || true
  echo "-- the player's log:"
  cat "$results/$name.log"
  failed=$((failed + 1))
done
echo "scenarios: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
