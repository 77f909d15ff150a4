#!/usr/bin/env bash
# The end-to-end cases of both Linux editions on the file systems that sites live on, each
# mounted from an image file: exFAT, NTFS (ntfs-3g), FAT32, xfs, btrfs, overlay, and sshfs to an
# ssh server of the test's own on a private port. A case that needs what a file system lacks is
# that file system's limit, listed with its reason in tests/fs/limits; any other failure fails
# the run, and a listed case that holds is named (the list must not rot). Where the machine
# cannot mount a file system (not root, no loop devices or /dev/fuse, no driver), the run says
# so in one line and goes on. Everything it mounts and starts is gone when it ends.
# usage: tests/fs/run.sh --v01 PROGRAM --v02 PROGRAM --fault-v01 LIB --fault-v02 LIB
set -u
v01= v02= fault01= fault02=
while [ $# -gt 0 ]; do
  case $1 in
    --v01) v01=$(realpath "$2"); shift 2 ;;
    --v02) v02=$(realpath "$2"); shift 2 ;;
    --fault-v01) fault01=$(realpath "$2"); shift 2 ;;
    --fault-v02) fault02=$(realpath "$2"); shift 2 ;;
    *) echo "fs/run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
if [ "$(id -u)" -ne 0 ]; then echo "file systems: not root, nothing mounted"; exit 0; fi
if [ ! -e /dev/loop-control ] && [ ! -e /dev/fuse ]; then
  echo "file systems: no loop devices and no /dev/fuse, nothing mounted"; exit 0
fi

work=$(mktemp -d /var/tmp/pagehop-fs.XXXXXX)
chmod 755 "$work"
mounts=() loops=() sshd_pid=
cleanup() {
  local m
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    m=${mounts[$i]}
    mountpoint -q "$m" && { umount "$m" 2>/dev/null || fusermount -uz "$m" 2>/dev/null ||
                            umount -l "$m" 2>/dev/null; }
  done
  for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null; done
  [ -n "$sshd_pid" ] && kill "$sshd_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# image NAME MB: a sparse image file; its path in $image
image() { image=$work/$1.img; truncate -s "$2M" "$image"; }
# attach: the image on a loop device, in $loop
attach() { loop=$(losetup -f --show "$image" 2>/dev/null) && loops+=("$loop"); }
# mount_as NAME: makes $work/mnt/NAME and records it
point() { mnt=$work/mnt/$1; mkdir -p "$mnt"; }

# mount_fs NAME: mounts one file system at $mnt; false with the reason in $why when it cannot
mount_fs() {
  local name=$1
  why=
  point "$name"
  case $name in
    xfs)
      image xfs 320; mkfs.xfs -q "$image" 2>/dev/null || { why="mkfs.xfs failed"; return 1; }
      attach && mount "$loop" "$mnt" 2>/dev/null || { why="no xfs mount"; return 1; } ;;
    btrfs)
      image btrfs 256; mkfs.btrfs -q "$image" >/dev/null 2>&1 || { why="mkfs.btrfs failed"; return 1; }
      attach && mount "$loop" "$mnt" 2>/dev/null || { why="no btrfs mount"; return 1; } ;;
    exfat)
      image exfat 128; mkfs.exfat "$image" >/dev/null 2>&1 || { why="mkfs.exfat failed"; return 1; }
      attach || { why="no loop device"; return 1; }
      mount -t exfat "$loop" "$mnt" 2>/dev/null || mount.exfat-fuse "$loop" "$mnt" >/dev/null 2>&1 ||
        { why="neither the kernel's exfat nor exfat-fuse"; return 1; } ;;
    ntfs)
      image ntfs 128; mkfs.ntfs -q -F -f "$image" >/dev/null 2>&1 || { why="mkfs.ntfs failed"; return 1; }
      ntfs-3g "$image" "$mnt" 2>/dev/null || { why="ntfs-3g cannot mount"; return 1; } ;;
    fat32)
      image fat32 128; mkfs.vfat -F 32 "$image" >/dev/null 2>&1 || { why="mkfs.vfat failed"; return 1; }
      attach || { why="no loop device"; return 1; }
      mount -t vfat "$loop" "$mnt" 2>/dev/null || fusefat -o rw+ "$loop" "$mnt" 2>/dev/null ||
        { why="neither the kernel's vfat nor fusefat"; return 1; } ;;
    overlay)
      mkdir -p "$work/overlay/lower" "$work/overlay/upper" "$work/overlay/work"
      mount -t overlay overlay -o "lowerdir=$work/overlay/lower,upperdir=$work/overlay/upper,workdir=$work/overlay/work" \
        "$mnt" 2>/dev/null || { why="no overlay mount"; return 1; } ;;
    sshfs)
      start_sshd || return 1
      mkdir -p "$work/remote"
      chmod 755 "$work/remote"
      sshfs -p "$port" -o IdentityFile="$work/ssh/user",StrictHostKeyChecking=no \
        -o UserKnownHostsFile=/dev/null,LogLevel=ERROR,allow_other,default_permissions \
        "root@127.0.0.1:$work/remote" "$mnt" 2>/dev/null || { why="sshfs cannot mount"; return 1; } ;;
  esac
  mounts+=("$mnt")
  chmod 755 "$mnt" 2>/dev/null
  return 0
}

# A private ssh server: its own host and user keys, root's login by that key only, port 22000
# upwards, gone at the end.
start_sshd() {
  local sshd
  sshd=$(command -v sshd || echo /usr/sbin/sshd)
  [ -x "$sshd" ] && command -v sshfs >/dev/null || { why="no sshd or sshfs"; return 1; }
  mkdir -p "$work/ssh" /run/sshd
  ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/host" && ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/user" ||
    { why="ssh-keygen failed"; return 1; }
  for port in $(seq 22000 22050); do
    "$sshd" -D -e -p "$port" -o ListenAddress=127.0.0.1 -h "$work/ssh/host" \
      -o AuthorizedKeysFile="$work/ssh/user.pub" -o PermitRootLogin=prohibit-password \
      -o PasswordAuthentication=no -o StrictModes=no -o PidFile=none 2>"$work/ssh/log" &
    sshd_pid=$!
    for _ in $(seq 1 50); do
      ssh -q -p "$port" -i "$work/ssh/user" -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null \
        -o BatchMode=yes root@127.0.0.1 true 2>/dev/null && return 0
      kill -0 "$sshd_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$sshd_pid" 2>/dev/null; sshd_pid=
  done
  why="the ssh server did not start"
  return 1
}

# The list: "FS<TAB>CASE<TAB>REASON" lines; '#' starts a comment.
declare -A limit
while IFS=$'\t' read -r fs case reason; do
  [[ -z $fs || $fs == \#* ]] && continue
  limit["$fs|$case"]=$reason
done <"$here/limits"

status=0
summary=()
for fs in exfat ntfs fat32 xfs btrfs overlay sshfs; do
  if ! mount_fs "$fs"; then
    echo "file systems: $fs not tried: $why"
    summary+=("$(printf '%-8s not tried (%s)' "$fs" "$why")")
    continue
  fi
  holds=0 limits=0 fails=0
  for edition in v0.1 v0.2; do
    program=$v01 library=$fault01
    [ $edition = v0.2 ] && program=$v02 library=$fault02
    out=$work/$fs-$edition.log
    "$here/../e2e/run.sh" --program "$program" --edition $edition --platform posix \
      --fault-library "$library" --scratch "$mnt" >"$out" 2>&1
    while IFS= read -r line; do
      case $line in
        "ok   ["*)
          name=${line#ok   [}; name=${name%]}
          holds=$((holds + 1))
          # so that the list does not rot; not a failure, as some limits show only at times
          [ -n "${limit["$fs|$edition $name"]+x}" ] &&
            echo "note $fs: [$edition $name] holds although it is listed as a limit" ;;
      esac
    done <"$out"
    # each failing case once
    while IFS= read -r name; do
      if [ -n "${limit["$fs|$edition $name"]+x}" ]; then
        limits=$((limits + 1))
      else
        echo "FAIL $fs: [$edition $name]"
        grep -F "FAIL [$name]" "$out" | head -3 | sed 's/^/    /'
        fails=$((fails + 1))
      fi
    done < <(LC_ALL=C sed -n 's/^FAIL \[\([^]]*\)\] .*/\1/p' "$out" | sort -u)
  done
  [ $fails -eq 0 ] || status=1
  summary+=("$(printf '%-8s %3d hold, %3d limits, %d fail' "$fs" $holds $limits $fails)")
  umount "$mnt" 2>/dev/null || fusermount -u "$mnt" 2>/dev/null
done
echo "file systems (cases of both Linux editions):"
printf '  %s\n' "${summary[@]}"
exit $status
