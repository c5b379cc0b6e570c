# shellcheck shell=bash
# Shared by the bench scripts and those in experiments/: where things are,
# and how the trees, dumps and archives are made. Inputs live under
# $BENCH_ROOT on tmpfs, so they are always in the page cache. Restores write
# there too, unless run.sh sends them to $EXT4_ROOT on the ext4 root file
# system, where deletes slow the creation of new files for minutes after (see
# run.sh).

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_dir=$(cd "$bench_dir/.." && pwd)
BUILD=${BUILD:-$repo_dir/build/native}
FSRESTORE=${FSRESTORE:-$BUILD/fsrestore}
MKDUMP=${MKDUMP:-$BUILD/tools/mkdump}
BENCH_ROOT=${BENCH_ROOT:-/dev/shm/fsbench}
EXT4_ROOT=${EXT4_ROOT:-/var/tmp/fsbench}
FLOOR=$BENCH_ROOT/floor
FLOOR_PAR=$BENCH_ROOT/floor_par
# fsrestore's default writers: the processors it may use, at most 4.
DEFAULT_WRITERS=$(n=$(nproc); echo $((n < 4 ? n : 4)))
TIME=/usr/bin/time

need_tools() {
  local missing=0
  for exe in "$FSRESTORE" "$MKDUMP"; do
    [[ -x $exe ]] || { echo "missing $exe (build with CMAKE_BUILD_TYPE=Release, or set BUILD=)" >&2; missing=1; }
  done
  if [[ ! -x $TIME ]]; then
    echo "missing $TIME: apt-get install time" >&2
    missing=1
  fi
  [[ $missing -eq 0 ]] || exit 1
  mkdir -p "$BENCH_ROOT/cwd"
  cc -O2 -Wall -Wextra -Werror -o "$FLOOR" "$bench_dir/floor.c"
  cc -O2 -Wall -Wextra -Werror -pthread -o "$FLOOR_PAR" "$bench_dir/floor_par.c"
}

# prepare TREE: $BENCH_ROOT/TREE/dump_{$fsnodes,$fsnames,$content} and
# $BENCH_ROOT/TREE/tree.tar. The source tree is removed afterwards for
# "large" (2 GiB); the others keep it for the system-call script.
prepare() {
  local tree=$1 dir=$BENCH_ROOT/$1
  if [[ -f $dir/ready && -f $dir/space ]]; then return; fi
  rm -rf "$dir"
  mkdir -p "$dir/src"
  case $tree in
    small | large) python3 "$bench_dir/gen_tree.py" "$tree" "$dir/src" ;;
    real)
      cp -a /usr/include "$dir/src/include"
      cp -a /usr/share/doc "$dir/src/doc"
      # The dump holds directories and regular files only; drop the rest from
      # both sides so tar restores the same entries.
      find "$dir/src" ! -type d ! -type f -delete
      ;;
    empty) python3 "$bench_dir/gen_tree.py" empty "${EMPTY_FILES:-200000}" "$dir/src" ;;
    *) echo "unknown tree $tree" >&2; exit 2 ;;
  esac
  "$MKDUMP" "$dir/src" "$dir/dump_"
  tar -cf "$dir/tree.tar" -C "$dir/src" .
  # Bytes one restored copy takes on a file system of 4 KiB blocks: the files'
  # pages (tmpfs counts none for directories) plus a block per directory.
  local dirs
  dirs=$(find "$dir/src" -type d | wc -l)
  echo $(( $(du -s -B1 "$dir/src" | cut -f1) + dirs * 4096 )) >"$dir/space"
  if [[ $tree == large ]]; then rm -rf "$dir/src"; fi
  local entries files bytes
  entries=$(( $(stat -c %s "$dir/dump_\$fsnodes") / 32 ))
  files=$(od -An -v -w32 -t u1 -j 6 -N $((entries * 32)) "$dir/dump_\$fsnodes" |
          awk '{ if (int($1 / 16) % 2 == 0) n++ } END { print n + 0 }')
  bytes=$(stat -c %s "$dir/dump_\$content")
  echo "$entries $files $bytes" >"$dir/counts"
  touch "$dir/ready"
}

# counts TREE -> "entries files bytes"; space TREE -> bytes of one restored copy
counts() { cat "$BENCH_ROOT/$1/counts"; }
space() { cat "$BENCH_ROOT/$1/space"; }

remove_tree() { rm -rf "${BENCH_ROOT:?}/$1"; }

# The restore commands, each run in $BENCH_ROOT/cwd (fsrestore writes its
# "$errors" there) with the target directory $2. "$1" is the tree's folder.
restore_cmd() {
  local name=$1 dir=$2 out=$3
  case $name in
    fsrestore) echo "$FSRESTORE $dir/dump_ $out" ;;
    fsrestore-j*) echo "$FSRESTORE -j ${name#fsrestore-j} $dir/dump_ $out" ;;
    floor-par) echo "$FLOOR_PAR $dir/dump_ $out $DEFAULT_WRITERS" ;;
    before) echo "$FSRESTORE_BEFORE $dir/dump_ $out" ;;
    floor) echo "$FLOOR $dir/dump_ $out" ;;
    tar) echo "tar -xf $dir/tree.tar -C $out" ;;
    tar-nso) echo "tar --no-same-owner -xf $dir/tree.tar -C $out" ;;
    cat) echo "cat $dir/dump_\$content" ;;   # stdout goes to $out/content
    dd) echo "dd if=$dir/dump_\$content of=$out/content bs=1M status=none" ;;
  esac
}
