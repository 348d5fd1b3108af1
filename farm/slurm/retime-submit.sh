#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Submits a retime to Slurm as a job array, one chunk of output frames per task;
# reruns chunks of a submission; shows the state of each chunk.
# read_settings sets the lists in a subshell on purpose; eval brings them here.
# shellcheck disable=SC2030,SC2031
set -uo pipefail

usage() {
    cat <<'TEXT'
usage: retime-submit.sh [SETTINGS]           submit (default ./retime-settings.sh)
       retime-submit.sh --rerun LIST [WHERE]  rerun chunks, such as 2,4 or 3-5
       retime-submit.sh --status [WHERE]      the last state of every chunk

WHERE is the submission's JOBDIR or the settings file naming it (default: the
current folder if it is a JOBDIR, else ./retime-settings.sh). Chunks are numbered
from 0, as Slurm numbers the array's tasks.
TEXT
}

# Something this host or the cluster failed at: status 1.
die() {
    echo "retime-submit: $*" >&2
    exit 1
}

# Settings that cannot run as they are: status 2, as the tool has for bad usage.
refuse() {
    echo "retime-submit: $*" >&2
    exit 2
}

here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd) ||
    die "cannot find the folder this script is in"
settings_vars=(IN OUT RANGE TIMING RETIME_OPTIONS CHUNK JOBDIR DEVICE CPUS MEM SBATCH_OPTIONS TWEENORA)

# Base 10 always: bash reads 08 as a bad octal number.
is_count() { [[ $1 =~ ^[0-9]{1,9}$ ]] && ((10#$1 > 0)); }

# The declarations of the settings file $1 sets, for eval. Read in a subshell,
# so that a file that exits is reported instead of ending this script with it.
read_settings() {
    local file=$1 declarations status
    declarations=$(
        # shellcheck disable=SC2034  # the lists a settings file may leave out
        TIMING=() RETIME_OPTIONS=() SBATCH_OPTIONS=()
        # shellcheck source=/dev/null
        source "$file" >&2 || exit
        declare -p "${settings_vars[@]}" 2>/dev/null
        echo "# read to the end"
    )
    status=$?
    ((status == 0)) || refuse "'$file' failed or exited while it was read (status $status)"
    [[ $declarations == *"# read to the end" ]] ||
        refuse "'$file' exited before its end; a settings file only sets values"
    echo "$declarations"
}

# Checks the settings just read from file.
check_settings() {
    local file=$1 var arg
    for var in IN OUT RANGE CHUNK JOBDIR DEVICE CPUS MEM TWEENORA; do
        [ -n "${!var:-}" ] || refuse "$file: $var is not set"
    done
    for var in TIMING RETIME_OPTIONS SBATCH_OPTIONS; do
        [[ $(declare -p "$var" 2>/dev/null) == "declare -a"* ]] ||
            refuse "$file: $var must be a list, such as $var=(--speed 0.5)"
    done
    is_count "$CHUNK" || refuse "$file: CHUNK must be a whole number above 0, not '$CHUNK'"
    is_count "$CPUS" || refuse "$file: CPUS must be a whole number above 0, not '$CPUS'"
    CHUNK=$((10#$CHUNK)) CPUS=$((10#$CPUS))
    [ "$DEVICE" = gpu ] || [ "$DEVICE" = cpu ] || refuse "$file: DEVICE must be gpu or cpu, not '$DEVICE'"
    for arg in "${TIMING[@]}" "${RETIME_OPTIONS[@]}"; do
        case $arg in
            --frames | --frames=* | --cpu | --gpu)
                refuse "$file: ${arg%%=*} is the chunks' own (CHUNK and DEVICE set it): leave it out of TIMING and RETIME_OPTIONS"
                ;;
        esac
    done
}

# The JOBDIR a --rerun or --status means: a folder holding a snapshot, or a
# settings file whose JOBDIR does.
find_jobdir() {
    local where=${1:-}
    if [ -z "$where" ]; then
        if [ -f ./range.sh ] && [ -f ./settings.sh ]; then
            where=.
        elif [ -f ./retime-settings.sh ]; then
            where=./retime-settings.sh
        else
            die "no submission here: give its JOBDIR or settings file"
        fi
    fi
    if [ -d "$where" ]; then
        jobdir=$where
    else
        [ -f "$where" ] || die "'$where' is neither a JOBDIR nor a settings file"
        local declarations
        declarations=$(read_settings "$where") || exit
        jobdir=$(
            eval "$declarations"
            echo "${JOBDIR:-}"
        )
        [ -n "$jobdir" ] || die "$where: JOBDIR is not set"
        # Relative, as every path of the settings, to the folder this script runs
        # in: the submission made it there.
        [[ $jobdir == /* ]] || jobdir=$PWD/$jobdir
    fi
    [ -f "$jobdir/range.sh" ] && [ -f "$jobdir/settings.sh" ] ||
        die "'$jobdir' holds no submission (no settings.sh and range.sh)"
    jobdir=$(cd "$jobdir" && pwd)
}

need() {
    command -v "$1" >/dev/null 2>&1 || die "$1 not found: run this on a host with Slurm's commands"
}

# "array_job task state" of every queued or running task of this submission's jobs.
queued_tasks() {
    local jobs
    jobs=$(awk '{print $1}' "$jobdir/jobs" 2>/dev/null | paste -sd' ')
    [ -n "$jobs" ] || return 0
    need squeue
    squeue -h -r -o '%F %K %T' | awk -v jobs=" $jobs " 'index(jobs, " " $1 " ")' ||
        die "squeue failed: cannot tell which chunks still run"
}

# Submits the array tasks in $1 (Slurm's --array syntax) from the snapshot.
submit_array() {
    local array=$1 resources out job
    need sbatch
    resources=(--cpus-per-task="$CPUS" --mem="$MEM")
    [ "$DEVICE" = gpu ] && resources+=(--gres=gpu:1)
    out=$(sbatch --parsable --job-name=tweenora-retime --array="$array" --chdir="$SUBMIT_DIR" \
        --output="$jobdir/logs/chunk-%a.%A.log" "${resources[@]}" "${SBATCH_OPTIONS[@]}" \
        "$jobdir/retime-chunk.sh" "$jobdir") ||
        die "sbatch refused the array (its message is above)"
    job=${out%%;*}
    [[ $job =~ ^[0-9]+$ ]] || die "sbatch answered '$out', not a job id"
    echo "$job $array" >>"$jobdir/jobs" || die "cannot record job $job in $jobdir/jobs"
    echo "$job"
}

# MEM in megabytes, as Slurm reads it (no suffix: megabytes); empty if unreadable.
mem_megabytes() {
    [[ $MEM =~ ^([0-9]{1,12})([KkMmGgTt]?)$ ]] || return 0
    local n=$((10#${BASH_REMATCH[1]}))
    case ${BASH_REMATCH[2]} in
        [Kk]) echo $(((n + 1023) / 1024)) ;;
        [Gg]) echo $((n * 1024)) ;;
        [Tt]) echo $((n * 1024 * 1024)) ;;
        *) echo "$n" ;;
    esac
}

# The nodes must be able to run a task at all, or it waits in the queue forever.
check_nodes() {
    local cpus memory wanted gres
    cpus=$(sinfo -h -o '%c' 2>/dev/null | tr -d '+' | sort -n | tail -n 1)
    if [[ $cpus =~ ^[0-9]+$ ]] && ((CPUS > cpus)); then
        refuse "CPUS=$CPUS but the largest node has $cpus: lower CPUS in the settings"
    fi
    memory=$(sinfo -h -o '%m' 2>/dev/null | tr -d '+' | sort -n | tail -n 1)
    wanted=$(mem_megabytes)
    [ -n "$wanted" ] || refuse "MEM must be a size such as 16G or 4000M, not '$MEM'"
    if [[ $memory =~ ^[0-9]+$ ]] && ((wanted > memory)); then
        refuse "MEM=$MEM but the largest node has ${memory}M: lower MEM in the settings"
    fi
    if [ "$DEVICE" = gpu ]; then
        gres=$(sinfo -h -o '%G' 2>/dev/null) || return 0
        [[ $gres == *gpu* ]] ||
            refuse "DEVICE=gpu but no node offers a GPU (gres gpu): set DEVICE=cpu in the settings"
    fi
}

# Whether OUT names a video: a file name with no frame field (####, %04d), as
# the tool tells them apart.
is_video() {
    local name=${1##*/}
    ! [[ $name == *'#'* || $name =~ %(0[0-9]+)?d ]]
}

# The output range the chunks will render, as "FIRST LAST": the tool checks the
# chunks' own command (less --frames, on the CPU) without rendering, so every
# option counts as the tasks will count it, and bad ones stop the submission.
output_range() {
    local out status
    out=$("$TWEENORA" retime "$IN" "$OUT" --range "$RANGE" "${TIMING[@]}" --cpu \
        "${RETIME_OPTIONS[@]}" --check)
    status=$?
    ((status == 0)) || {
        local says="tweenora retime --check failed (status $status; its message is above)"
        ((status == 2)) && refuse "$says: check IN, OUT, RANGE, TIMING and RETIME_OPTIONS"
        die "$says"
    }
    # The node's console lines, if any, come first.
    echo "${out##*$'\n'}"
}

submit() {
    local first last count job
    command -v "$TWEENORA" >/dev/null 2>&1 ||
        refuse "'$TWEENORA' not found: put tweenora on PATH (on every node) or set TWEENORA to its full path"
    need sbatch
    need sinfo
    check_nodes
    local range
    range=$(output_range) || exit
    read -r first last <<<"$range"
    [[ $first =~ ^-?[0-9]+$ && $last =~ ^-?[0-9]+$ ]] ||
        die "tweenora answered '$range', not FIRST LAST"
    # Each chunk would replace the video with its own frames (and the tool refuses that).
    if is_video "$OUT"; then
        refuse "OUT=$OUT is a video, which the chunks cannot share: set OUT to an image sequence (such as name.####.exr) and, when every chunk is done, encode it once: $TWEENORA retime SEQUENCE $OUT --speed 1"
    fi
    count=$(((last - first + 1 + CHUNK - 1) / CHUNK))

    mkdir -p "$JOBDIR/logs" || die "cannot make the folder $JOBDIR/logs"
    jobdir=$(cd "$JOBDIR" && pwd) || die "cannot enter $JOBDIR"
    [ ! -e "$jobdir/settings.sh" ] ||
        die "$jobdir holds an earlier submission: rerun its chunks with --rerun, or set a new JOBDIR"
    SUBMIT_DIR=$PWD
    # The values as they are now, so that later edits of the settings file
    # change neither queued tasks nor reruns.
    declare -p "${settings_vars[@]}" >"$jobdir/settings.sh" &&
        printf 'FIRST=%d\nLAST=%d\nCOUNT=%d\nSUBMIT_DIR=%q\n' "$first" "$last" "$count" \
            "$SUBMIT_DIR" >"$jobdir/range.sh" &&
        cp "$here/retime-chunk.sh" "$jobdir/retime-chunk.sh" ||
        die "cannot write the snapshot into $jobdir"
    job=$(submit_array "0-$((count - 1))") || exit 1
    echo "output frames $first-$last in $count chunks of up to $CHUNK: job $job"
    echo "logs:  $jobdir/logs"
    echo "state: $here/retime-submit.sh --status $jobdir"
    echo "rerun: $here/retime-submit.sh --rerun CHUNKS $jobdir   (such as 2,4)"
}

# The chunk numbers in a list such as 2,4,7-9, one per line.
expand_list() {
    local item a b
    local IFS=,
    for item in $1; do
        if [[ $item =~ ^([0-9]{1,9})-([0-9]{1,9})$ ]]; then
            a=$((10#${BASH_REMATCH[1]})) b=$((10#${BASH_REMATCH[2]}))
            ((a <= b)) || die "--rerun: '$item' ends before it starts"
            seq "$a" "$b"
        elif [[ $item =~ ^[0-9]{1,9}$ ]]; then
            echo $((10#$item))
        else
            die "--rerun: '$item' is not a chunk number or range"
        fi
    done
}

rerun() {
    local list=$1 chunks chunk queued line
    [ -n "$list" ] || die "--rerun: give the chunks, such as 2,4"
    chunks=$(expand_list "$list") || exit 1
    for chunk in $chunks; do
        ((chunk < COUNT)) || die "--rerun: there is no chunk $chunk (chunks 0-$((COUNT - 1)))"
    done
    queued=$(queued_tasks) || exit 1
    while read -r line; do
        [ -n "$line" ] || continue
        set -- $line
        for chunk in $chunks; do
            [ "$2" = "$chunk" ] &&
                die "chunk $chunk is still $3 as job $1_$2: wait for it, or scancel $1_$2 first"
        done
    done <<<"$queued"
    local job
    job=$(submit_array "$(echo "$chunks" | sort -nu | paste -sd,)") || exit 1
    echo "chunks $(echo "$chunks" | sort -nu | paste -sd,) resubmitted: job $job"
}

status() {
    local chunk log last queued state file newest
    queued=$(queued_tasks) || exit 1
    for ((chunk = 0; chunk < COUNT; chunk++)); do
        state=$(awk -v c="$chunk" '$2 == c {print $3 " as job " $1 "_" $2; exit}' <<<"$queued")
        # The newest attempt's log: the highest job id (not its .node.log).
        log="" newest=-1
        for file in "$jobdir/logs/chunk-$chunk".*.log; do
            [[ $file =~ /chunk-$chunk\.([0-9]+)\.log$ ]] || continue
            ((BASH_REMATCH[1] > newest)) && newest=${BASH_REMATCH[1]} log=$file
        done
        if [ -n "$state" ]; then
            echo "chunk $chunk: $state"
        elif [ -z "$log" ]; then
            echo "chunk $chunk: no log yet"
        else
            last=$(tail -n 1 "$log")
            if [[ $last == "chunk $chunk: frames "* ]]; then
                echo "$last"
            else
                echo "chunk $chunk: ended without its last line (killed outright?): $log"
            fi
        fi
    done
}

case ${1:-} in
    -h | --help)
        usage
        ;;
    --rerun | --status)
        mode=$1
        if [ "$mode" = --rerun ]; then
            [ $# -ge 2 ] || die "--rerun: give the chunks, such as 2,4"
            list=$2
            shift 2
        else
            shift
        fi
        [ $# -le 1 ] || die "too many arguments (see --help)"
        find_jobdir "${1:-}"
        # shellcheck source=/dev/null
        source "$jobdir/settings.sh" && source "$jobdir/range.sh" ||
            die "cannot read the snapshot in $jobdir"
        if [ "$mode" = --rerun ]; then rerun "$list"; else status; fi
        ;;
    -*)
        die "unknown option '$1' (see --help)"
        ;;
    *)
        [ $# -le 1 ] || die "too many arguments (see --help)"
        file=${1:-./retime-settings.sh}
        [ -f "$file" ] && [ -r "$file" ] || refuse "cannot read the settings file '$file'"
        declarations=$(read_settings "$file") || exit
        # Here, not in a function, so that the declarations stay global.
        eval "$declarations"
        check_settings "$file"
        submit
        ;;
esac
