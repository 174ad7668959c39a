# The VM set-up shared by scripts/qemu-drive-test and scripts/kernel-drive-test:
# the tools, a distribution kernel with the modules a test needs, and an
# initramfs with busybox and velmo-cli. Sourced; the caller defines root,
# work, say and skip, and may set VM_EXTRA_PACKAGES.

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"
  elif command -v sudo >/dev/null; then sudo -n "$@"
  else return 1
  fi
}

# --- what the VM needs --------------------------------------------------
# QEMU_SYSTEM names another emulator binary (a missing one tries the SKIP path).
vm_tools() {
  qemu=${QEMU_SYSTEM:-qemu-system-x86_64}
  # Side by side, one VM test installs while the other waits, then finds
  # everything there.
  local lock
  mkdir -p "$root/build"
  exec {lock}>"$root/build/vm-tools.lock"
  flock "$lock"
  local need=()
  command -v "$qemu" >/dev/null || need+=(qemu-system-x86)
  if [ ! -x /bin/busybox ] || ldd /bin/busybox >/dev/null 2>&1; then need+=(busybox-static); fi
  command -v cpio >/dev/null || need+=(cpio)
  command -v genisoimage >/dev/null || need+=(genisoimage)
  command -v modprobe >/dev/null || need+=(kmod)
  command -v gcc >/dev/null || need+=(gcc libc6-dev)
  if [ ${#need[@]} -gt 0 ]; then
    say "installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    as_root apt-get update -q >/dev/null 2>&1 || say "apt-get update failed (offline?)"
    as_root apt-get install -y -q -o DPkg::Lock::Timeout=180 --no-install-recommends "${need[@]}" >/dev/null 2>&1 ||
      say "apt-get install ${need[*]} failed"
  fi
  exec {lock}>&-
  command -v "$qemu" >/dev/null || skip "$qemu is not installed and could not be installed"
  [ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1 || skip "no static busybox (package busybox-static)"
  command -v cpio >/dev/null || skip "cpio is not installed"
  command -v modprobe >/dev/null || skip "modprobe (kmod) is not installed"
  command -v gcc >/dev/null || skip "gcc is not installed"
}

# --- a kernel with the modules --------------------------------------------
# vm_kernel MODULE...: sets kernel, kver and kroot to a kernel whose module
# tree resolves every MODULE. /boot first, else the distribution's kernel
# package unpacked under $work (shared with the other VM test).
vm_usable_kernel() {  # moduleroot version module...
  local mroot=$1 v=$2 m
  shift 2
  [ -f "$mroot/lib/modules/$v/modules.dep" ] || return 1
  for m in "$@"; do modprobe -d "$mroot" -S "$v" -D "$m" >/dev/null 2>&1 || return 1; done
}
vm_kernel() {
  kernel="" kver="" kroot=""
  local image v
  for image in $(ls -v /boot/vmlinuz-* 2>/dev/null | sort -rV); do
    v=${image#/boot/vmlinuz-}
    if [ -r "$image" ] && vm_usable_kernel / "$v" "$@"; then kernel=$image kver=$v kroot=/; break; fi
  done
  [ -z "$kernel" ] || return 0
  # The distribution's kernel, unpacked under build/ rather than installed:
  # the metapackage names the current versioned package.
  local kwork="$root/build/vm-kernel"
  local arch meta pkg
  arch=$(dpkg --print-architecture 2>/dev/null || echo amd64)
  meta="linux-image-$arch"
  pkg=$(apt-cache depends "$meta" 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  if [ -z "$pkg" ]; then
    as_root apt-get update -q >/dev/null 2>&1
    pkg=$(apt-cache depends "$meta" 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  fi
  [ -n "$pkg" ] || skip "no kernel in /boot and the package behind $meta cannot be looked up"
  kroot="$kwork/kernel"
  mkdir -p "$kwork/deb"
  # When both VM tests run side by side, the second waits here while the
  # first downloads and unpacks.
  local lock
  exec {lock}>"$kwork/kernel.lock"
  flock "$lock"
  if ! ls "$kwork/deb/$pkg"_*.deb >/dev/null 2>&1; then
    say "downloading $pkg"
    (cd "$kwork/deb" && apt-get download -q "$pkg" >/dev/null 2>&1) || skip "cannot download $pkg"
  fi
  local deb
  deb=$(ls "$kwork/deb/$pkg"_*.deb | head -n 1)
  # Unpacked once per package; both tests use the same tree.
  if [ ! -f "$kroot/.unpacked" ] || [ "$(cat "$kroot/.unpacked")" != "$deb" ]; then
    rm -rf "$kroot" && mkdir -p "$kroot"
    dpkg-deb -x "$deb" "$kroot" || skip "cannot unpack $pkg"
    kernel=$(ls "$kroot"/boot/vmlinuz-* | head -n 1)
    depmod -b "$kroot" "${kernel##*/vmlinuz-}" || skip "depmod failed"
    echo "$deb" > "$kroot/.unpacked"
  fi
  exec {lock}>&-
  kernel=$(ls "$kroot"/boot/vmlinuz-* | head -n 1)
  kver=${kernel##*/vmlinuz-}
  vm_usable_kernel "$kroot" "$kver" "$@" || skip "kernel $kver lacks one of: $*"
}

# --- the initramfs ----------------------------------------------------------
# vm_initramfs DIR: busybox, velmo-cli with its libraries, root's passwd and
# the shared /init; the caller adds its checks script as DIR/vm-checks.sh.
vm_initramfs() {
  local fs=$1 cli="$root/build/cli/velmo-cli" lib
  rm -rf "$fs" && mkdir -p "$fs"/{bin,modules,proc,sys,dev,tmp,etc}
  cp /bin/busybox "$fs/bin/busybox"
  vm_copy_program "$fs" "$cli" velmo-cli
  : > "$fs/modules/order"
  echo "root:x:0:0::/:/bin/sh" > "$fs/etc/passwd"
  echo "root:x:0:" > "$fs/etc/group"
  install -m 755 "$root/qemu/init" "$fs/init"
}

# vm_copy_program DIR PROGRAM NAME: PROGRAM as DIR/bin/NAME, with the
# dynamic loader and every library it needs at their paths.
vm_copy_program() {
  local fs=$1 program=$2 name=$3 lib
  cp "$program" "$fs/bin/$name"
  for lib in $(ldd "$program" | awk '/=> \// {print $3} /^[ \t]*\// {print $1}'); do
    mkdir -p "$fs$(dirname "$lib")"
    cp -L "$lib" "$fs$lib"
  done
}

# The disc tools of other authors that read the same drive beside
# velmo-cli (qemu/tool-compare.sh compares them), by package. Each one found
# goes into DIR/bin; each one missing is named with its reason in
# DIR/etc/missing-tools, and only its comparisons are skipped.
vm_tool_packages=(
  "dvd+rw-mediainfo dvd+rw-tools"
  "sg_inq sg3-utils" "sg_get_config sg3-utils" "sg_readcap sg3-utils" "sg_turs sg3-utils"
  "sg_vpd sg3-utils" "sg_modes sg3-utils"
  "xorriso xorriso"
)
vm_disc_tools() {  # DIR
  local fs=$1 entry tool package path
  : > "$fs/etc/missing-tools"
  for entry in "${vm_tool_packages[@]}"; do
    read -r tool package <<<"$entry"
    if path=$(command -v "$tool"); then
      vm_copy_program "$fs" "$path" "$tool"
    else
      echo "$tool not installed (package $package; scripts/install-deps --test installs it)" >> "$fs/etc/missing-tools"
    fi
  done
}

# vm_modules DIR ORDERFILE MODULE...: the modules with their dependencies,
# uncompressed into DIR/modules, their names appended to ORDERFILE in
# loading order (each once).
vm_modules() {
  local fs=$1 order=$2 m ko base
  shift 2
  for m in "$@"; do
    modprobe -d "$kroot" -S "$kver" -D "$m" 2>/dev/null | awk '$1 == "insmod" {print $2}'
  done | awk '!seen[$0]++' | while read -r ko; do
    # modprobe -d already puts the paths under the module root.
    base=$(basename "$ko")
    case $ko in
      *.ko.xz) base=${base%.xz}; xz -dc "$ko" > "$fs/modules/$base" ;;
      *.ko.zst) base=${base%.zst}; zstd -qdc "$ko" > "$fs/modules/$base" ;;
      *.ko.gz) base=${base%.gz}; gzip -dc "$ko" > "$fs/modules/$base" ;;
      *) cp "$ko" "$fs/modules/$base" ;;
    esac || { say "FAIL: cannot copy $ko"; exit 1; }
    grep -qx "$base" "$order" 2>/dev/null || echo "$base" >> "$order"
  done || exit 1
  [ -s "$order" ] || { say "FAIL: no kernel modules found for $kver"; exit 1; }
}

vm_pack() {  # DIR OUTPUT
  (cd "$1" && find . | cpio -o -H newc --quiet | gzip -1) > "$2"
}

# The accelerator to boot with: KVM where it really starts a guest, else TCG.
# A host may offer a writable /dev/kvm and still fail to run one (a nested
# host without the CPU features the guest asks for: the guest then hangs
# before its first line, or QEMU aborts); a kernel with no root file system
# tells within seconds whether it starts at all.
#   vm_accel QEMU KERNEL
vm_accel() {
  local qemu=$1 kernel=$2 probe
  if [ ! -w /dev/kvm ]; then
    echo tcg
    return
  fi
  probe=$(mktemp)
  timeout 30 "$qemu" -machine pc -accel kvm -m 256 -smp 1 -nographic -nodefaults -no-reboot \
    -serial "file:$probe" -kernel "$kernel" -append "console=ttyS0 panic=-1 no_timer_check" \
    </dev/null >/dev/null 2>&1 || true
  if grep -q 'Linux version' "$probe"; then echo kvm; else echo tcg; fi
  rm -f "$probe"
}

# Saves what each velmo-cli run in the VM met, from the serial log, as
# replay material in DIR: NAME.trace (the run's trace with data, from the
# "@@MARKER NAME: " lines), NAME.cmd (its arguments), NAME.rc and NAME.out.
# Only reads the log: the checks are the check-log scripts' business.
vm_save_traces() {  # SERIAL MARKER DIR
  local log=$1 marker=$2 dir=$3 name
  rm -rf "$dir"
  mkdir -p "$dir"
  for name in $(sed -n "s/^@@$marker \([^ :]*\): .*/\1/p" "$log" | sort -u); do
    sed -n "s/^@@$marker $name: //p" "$log" >"$dir/$name.trace"
    sed -n "s/^@@OUT $name: //p" "$log" >"$dir/$name.out"
    sed -n "s/^@@RUN $name rc=//p" "$log" >"$dir/$name.rc"
    sed -n "s/^@@CMD $name //p" "$log" >"$dir/$name.cmd"
  done
  echo "$(find "$dir" -name '*.trace' | wc -l) traces (with data) saved in $dir;" \
    "replay one with velmo-cli --simulate=replay:FILE COMMAND"
}
