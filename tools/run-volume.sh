# shellcheck shell=bash
# Sourced by tools/run.sh: the NTFS volume of the run prefix, and what is on it.
#   D: a real NTFS volume: a sparse image in the build folder, made with mkntfs and
#      mounted with ntfs-3g, so a relocation leaves a real junction on disk;
#   E: a folder ("Drive E") of that same volume under a second letter: Wine 8
#      cannot move folders between two Linux file systems, and within one volume
#      a move is a rename (as between two folders of one Windows volume).
# A fresh volume gets a sample folder, D:\Games\Sample, and the list of its files'
# checksums, kept beside the image. The volume stays mounted between runs; the
# checks read the disk from Linux, never through Wine.
# Needs wine-env.sh (with the run prefix) and ntfs-lib.sh sourced first.

run_volume_dir="$DIRSHIFT_BUILD_DIR/run-volume"
run_volume_image="$run_volume_dir/ntfs.img"
run_volume_mount="$run_volume_dir/mnt"
run_volume_e="$run_volume_mount/Drive E"
run_volume_manifest="$run_volume_dir/sample.sha256"
run_volume_folders="$run_volume_dir/sample.folders"
run_volume_size=1G
run_sample='D:\Games\Sample'

run_volume_links_ok() {
  [ "$(readlink "$WINEPREFIX/dosdevices/d:" 2>/dev/null)" = "$run_volume_mount" ] &&
    [ "$(readlink "$WINEPREFIX/dosdevices/e:" 2>/dev/null)" = "$run_volume_e" ]
}

run_volume_map_drives() {
  mkdir -p "$run_volume_e" "$WINEPREFIX/dosdevices"
  run_volume_links_ok && return 0
  ln -sfn "$run_volume_mount" "$WINEPREFIX/dosdevices/d:"
  ln -sfn "$run_volume_e" "$WINEPREFIX/dosdevices/e:"
  dirshift_restart_wine
}

run_volume_unmap_drives() {
  local letter
  for letter in d e; do
    case "$(readlink "$WINEPREFIX/dosdevices/$letter:" 2>/dev/null)" in
      "$run_volume_dir"/*) rm -f "$WINEPREFIX/dosdevices/$letter:" ;;
    esac
  done
}

# Mounts the volume (making it first when there is none yet) and maps D: and E:.
# A fresh volume gets the sample. Prints what it did.
run_volume_up() {
  dirshift_check_ntfs_tools
  mkdir -p "$run_volume_dir"
  if dirshift_is_mounted "$run_volume_mount" && ! dirshift_mount_alive "$run_volume_mount"; then
    echo "run volume: the mount on $run_volume_mount had died; mounting it again"
    dirshift_unmount "$run_volume_mount"
  fi
  local fresh=
  if ! dirshift_is_mounted "$run_volume_mount"; then
    if [ ! -f "$run_volume_image" ]; then
      dirshift_make_ntfs_image "$run_volume_image" "$run_volume_size" DIRSHIFT
      rm -f "$run_volume_manifest" "$run_volume_folders"
      fresh=1
    fi
    if ! dirshift_mount_ntfs "$run_volume_image" "$run_volume_mount"; then
      echo "run volume: could not mount $run_volume_image; tools/run.sh --reset makes a fresh one" >&2
      return 1
    fi
    dirshift_restart_wine
  fi
  run_volume_map_drives
  if [ -n "$fresh" ]; then
    run_make_sample "$(run_unix_path "$run_sample")"
    echo "run volume: made a new NTFS volume, $run_volume_image (mounted on $run_volume_mount)"
    echo "run volume: D: is that volume, E: its folder \"Drive E\"; the sample is $run_sample ($(run_tree_summary "$(run_unix_path "$run_sample")"))"
  fi
}

run_volume_unmount() {
  run_volume_unmap_drives
  dirshift_restart_wine
  dirshift_unmount "$run_volume_mount"
}

# Starts again from a fresh volume, with a fresh sample.
run_volume_reset() {
  run_volume_unmount
  rm -f "$run_volume_image" "$run_volume_image.mkntfs.log" "$run_volume_manifest" "$run_volume_folders"
  run_volume_up
}

run_volume_status() {
  if dirshift_mount_alive "$run_volume_mount"; then
    echo "run volume: $run_volume_image is mounted on $run_volume_mount"
  elif [ -f "$run_volume_image" ]; then
    echo "run volume: $run_volume_image is not mounted"
  else
    echo "run volume: none yet (the next run makes it)"
  fi
  if run_volume_links_ok; then echo "run volume: D: and E: are mapped in $WINEPREFIX"; fi
}

# run_put FILE SIZE: a file of SIZE bytes, its content telling its own name.
run_put() {
  local LC_ALL=C  # lengths in bytes
  local text="Dirshift sample file: $1"$'\n'
  while [ "${#text}" -lt "$2" ]; do text+=$text; done
  mkdir -p "${1%/*}"
  printf '%s' "${text:0:$2}" >"$1"
}

# The sample: nested folders (an empty one among them), a few hundred files, a few
# megabytes, names with spaces and letters beyond ASCII. The checksums of its files
# go into the manifest and its folders into a list beside it, to check later that
# everything arrived.
run_make_sample() {
  local sample=$1 i j name
  mkdir -p "$sample/Logs"
  run_put "$sample/Read me.txt" 2000
  for i in $(seq -w 1 20); do run_put "$sample/Bin/module $i.dll" 40000; done
  for i in $(seq -w 1 12); do
    for j in $(seq -w 1 15); do run_put "$sample/Data/Levels/Level $i/tile $j.map" 8192; done
  done
  mkdir -p "$sample/Data/Levels/Level 12/Unused"
  for i in $(seq -w 1 15); do run_put "$sample/Data/Musique d'ambiance/Piste $i – Forêt.ogg" 60000; done
  for i in 1 2 3 4 5; do
    for name in "Spielstand Größe.sav" "Übersicht.txt" "Schnellspeicher.sav" "Bild.png"; do
      run_put "$sample/Saves/Slot $i/$name" 12000
    done
  done
  for name in "Ærø" "Żółw & Ñandú" "Öl und Café"; do
    for i in $(seq -w 1 20); do run_put "$sample/Textures/$name/Textur $i.dds" 16000; done
  done
  for name in "Español" "Français" "Čeština" "Ελληνικά" "Português (Brasil)" "Norsk bokmål" "Türkçe" \
              "Polski – Łódź" "Íslenska" "Svenska"; do
    run_put "$sample/Übersetzungen/$name.lang" 5000
  done
  (cd "$sample" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum) >"$run_volume_manifest"
  (cd "$sample" && find . -mindepth 1 -type d | LC_ALL=C sort) >"$run_volume_folders"
}

# The Linux path of a Windows path on one of the prefix's drives (D:\Games ->
# <mount>/Games), found as Windows finds it, whatever the case of each name; empty
# when its drive is not mapped.
run_unix_path() {
  local path=$1 resolved component entry name match
  [[ $path =~ ^([A-Za-z]):(.*)$ ]] || return 0
  resolved=$(readlink -f "$WINEPREFIX/dosdevices/${BASH_REMATCH[1],,}:" 2>/dev/null) || return 0
  [ -n "$resolved" ] || return 0
  local parts=()
  # shellcheck disable=SC2141 # both separators of a Windows path
  IFS=$'\\/' read -ra parts <<<"${BASH_REMATCH[2]}"
  for component in "${parts[@]}"; do
    [ -n "$component" ] || continue
    match=$component
    if [ ! -e "$resolved/$component" ] && [ ! -L "$resolved/$component" ]; then
      for entry in "$resolved"/* "$resolved"/.[!.]*; do
        name=${entry##*/}
        if { [ -e "$entry" ] || [ -L "$entry" ]; } && [ "${name,,}" = "${component,,}" ]; then
          match=$name
          break
        fi
      done
    fi
    resolved+="/$match"
  done
  printf '%s\n' "$resolved"
}

# "N files in M folders, S MB" of a folder tree.
run_tree_summary() {
  local files folders bytes
  files=$(find "$1" -type f | wc -l)
  folders=$(( $(find "$1" -type d | wc -l) - 1 ))
  bytes=$(find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  printf '%d files in %d folders, %s MB\n' "$files" "$folders" "$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1048576 }')"
}

# The NTFS reparse data of an entry, as ntfs-3g keeps it, in hex ("" if none).
run_reparse_hex() {
  getfattr -h --only-values -n system.ntfs_reparse_data "$1" 2>/dev/null | od -An -v -tx1 | tr -d ' \n'
}

# The target of a junction from its reparse data (hex): the substitute name of a
# mount point, or nothing when the data is another kind.
run_junction_target() {
  local hex=$1
  [ "${hex:0:8}" = 030000a0 ] || return 0
  local offset=$((16#${hex:18:2}${hex:16:2})) length=$((16#${hex:22:2}${hex:20:2}))
  local name=${hex:$(( (16 + offset) * 2 )):$((length * 2))}
  # shellcheck disable=SC2001 # every pair of hex digits becomes a \xNN escape
  printf '%b' "$(sed 's/../\\x&/g' <<<"$name")" | iconv -f UTF-16LE -t UTF-8
}

# What is on disk at a Windows path of the run volume, read from Linux: whether it
# is a junction and where to, what the folder it points to holds, and for the
# sample whether every file arrived. False when the sample is not all there.
run_report() {
  local path=$1 unix hex target target_unix moved=1
  unix=$(run_unix_path "$path")
  if [ -z "$unix" ]; then
    echo "  $path: not on a drive of this prefix"
    return 0
  fi
  echo "On disk, read from Linux:"
  hex=$(run_reparse_hex "$unix")
  if [ -n "$hex" ]; then
    target=$(run_junction_target "$hex")
    if [ -z "$target" ]; then
      echo "  $path: a reparse point, but not a junction (data $hex)"
      return 1
    fi
    local tag=${hex:6:2}${hex:4:2}${hex:2:2}${hex:0:2}
    echo "  $path is a junction: NTFS reparse point 0x${tag^^} (mount point), target $target"
    echo "    (ntfs-3g shows it as a symbolic link: $unix -> $(readlink "$unix"))"
    target=${target#\\??\\}
    target_unix=$(run_unix_path "$target")
    if [ -n "$target_unix" ] && [ -d "$target_unix" ]; then
      echo "  $target, the folder it points to ($target_unix), holds $(run_tree_summary "$target_unix")"
    else
      echo "  $target, the folder it points to, is missing"
      return 1
    fi
  elif [ -d "$unix" ]; then
    echo "  $path is a plain folder (no junction), holding $(run_tree_summary "$unix")"
    target_unix=$unix
    moved=
  else
    echo "  $path does not exist"
    return 1
  fi
  run_is_sample "$path" || return 0
  run_check_sample "$target_unix" "$moved"
}

# The junctions in a folder tree, read from Linux: ntfs-3g shows each as a
# symbolic link that carries the reparse data.
run_list_junctions() {
  local path=${1%\\} unix link hex found=0 relative
  unix=$(run_unix_path "$path")
  if [ -z "$unix" ] || [ ! -d "$unix" ]; then
    echo "  $path: no such folder"
    return 0
  fi
  echo "On disk, read from Linux, the junctions in $path:"
  while IFS= read -r -d '' link; do
    hex=$(run_reparse_hex "$link")
    [ -n "$hex" ] || continue
    relative=${link#"$unix"}
    echo "  $path${relative//\//\\} -> $(run_junction_target "$hex")"
    found=$((found + 1))
  done < <(find "$unix" -type l -print0)
  [ "$found" -gt 0 ] || echo "  none"
}

run_is_sample() {
  [ "${1,,}" = "${run_sample,,}" ] && [ -f "$run_volume_manifest" ]
}

# Every file of the sample, by name and SHA-256, against the manifest taken when
# the sample was made: none missing, none changed, none extra; and every folder.
# The second argument is empty when the sample was not moved.
run_check_sample() {
  local folder=$1 moved=$2 expected actual failed folders_missing
  expected=$(wc -l <"$run_volume_manifest")
  actual=$(cd "$folder" && find . -type f | wc -l)
  failed=$(cd "$folder" && sha256sum --quiet -c "$run_volume_manifest" 2>/dev/null | wc -l) || true
  folders_missing=$(cd "$folder" && LC_ALL=C comm -23 "$run_volume_folders" <(find . -mindepth 1 -type d | LC_ALL=C sort) | wc -l)
  if [ "$failed" -eq 0 ] && [ "$actual" -eq "$expected" ] && [ "$folders_missing" -eq 0 ]; then
    if [ -n "$moved" ]; then
      echo "  Every file arrived: $actual of $expected files, each with its SHA-256 checksum from before the move,"
    else
      echo "  Every file of the sample is there: $actual of $expected files, each with its SHA-256 checksum,"
    fi
    echo "    and all $(wc -l <"$run_volume_folders") folders (lists: $run_volume_manifest, $run_volume_folders)"
    return 0
  fi
  echo "  NOT everything is there: $actual files where the sample had $expected, $failed of them missing or"
  echo "    changed, $folders_missing folders missing"
  (cd "$folder" && sha256sum --quiet -c "$run_volume_manifest" 2>&1 | head -5 | sed 's/^/    /') || true
  return 1
}
