#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs a retime as a Slurm job array on a private one-node cluster started here
# (munged, slurmctld and slurmd on localhost, as root, with their own config and
# state under a temporary folder), cancels one task midway, reruns it with the
# shipped rerun command, and checks that the frames equal a local run's exactly
# and that no partial file remains; before that, that settings the tasks could
# not run are refused before anything is submitted.
#
# usage: slurm_farm_test.sh TWEENORA TWEENORA_SAMPLE SCRIPT_DIR
# (SCRIPT_DIR: where the farm scripts and the settings template sit beside the tool)
# Exit status 77 (a skip) when the machine cannot run the daemons.
set -uo pipefail

readonly kSkip=77
# Absolute: parts of the test run from other folders.
tool=$(readlink -f "$1") sample=$(readlink -f "$2") scripts=$(readlink -f "$3")

skip() {
    echo "SKIP: $*"
    exit $kSkip
}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
step() { echo "== $*"; }

# squeue answers and lists no job.
queue_empty() {
    local jobs
    jobs=$(timeout 10 squeue -h -o %A 2>/dev/null) && [ -z "$jobs" ]
}
node_idle() { [ "$(timeout 10 sinfo -h -n localhost -o %t 2>/dev/null)" = idle ]; }

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        exec sudo -n -- "$0" "$@"
    fi
    skip "starting munged, slurmctld and slurmd needs root (or sudo without a password)"
fi

work=$(mktemp -d /tmp/tweenora-slurm.XXXXXX) || fail "cannot make a temporary folder"
# munged wants every folder above its socket searchable by all.
chmod 711 "$work"

daemons=()
watchdog=""
cleanup() {
    local status=$? pid
    trap - EXIT INT TERM
    if [ ${#daemons[@]} -gt 0 ]; then
        # Jobs first, so that no task outlives its slurmd.
        timeout 10 squeue -h -o %A 2>/dev/null | xargs -r scancel 2>/dev/null
        wait_for 20 queue_empty
        for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
            pid=${daemons[i]}
            kill "$pid" 2>/dev/null
            wait_for 10 eval "! kill -0 $pid 2>/dev/null" || kill -KILL "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        done
    fi
    [ -n "$watchdog" ] && kill "$watchdog" 2>/dev/null && wait "$watchdog" 2>/dev/null
    if [ $status -eq 0 ] || [ $status -eq $kSkip ]; then
        rm -rf "$work"
    else
        for log in "$work"/log/*.log "$work"/jobdir/logs/*.log; do
            [ -f "$log" ] || continue
            echo "--- $log (last lines)"
            tail -n 15 "$log"
        done
        echo "kept $work for inspection"
    fi
    exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Debian's packages, installed by this test so that the build itself needs none.
if ! command -v munged >/dev/null || ! command -v slurmctld >/dev/null ||
    ! command -v slurmd >/dev/null || ! command -v sbatch >/dev/null; then
    command -v apt-get >/dev/null ||
        skip "Slurm and munge are missing and there is no apt-get to install them"
    step "installing slurmctld slurmd slurm-client munge"
    export DEBIAN_FRONTEND=noninteractive
    packages=(slurmctld slurmd slurm-client munge)
    apt-get install -y -qq --no-install-recommends "${packages[@]}" >"$work/apt.log" 2>&1 ||
        { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${packages[@]}"; } \
            >>"$work/apt.log" 2>&1 ||
        skip "Slurm and munge are missing and apt-get cannot install them (see $work/apt.log)"
fi
command -v idiff >/dev/null || fail "idiff (openimageio-tools, from scripts/install-deps) is missing"

# From here on daemons run: stop them inside ctest's own limit, even if the
# test hangs.
(
    trap 'kill "$nap" 2>/dev/null; exit 0' TERM
    sleep 240 &
    nap=$!
    wait "$nap" && kill -TERM $$
) >/dev/null 2>&1 &
watchdog=$!

step "starting munged, slurmctld and slurmd on localhost"
mkdir -p "$work"/{munge,key,log,spool/ctld,spool/d,clip,settings} || fail "cannot make folders"
chmod 711 "$work/munge"
chmod 700 "$work/key"
head -c 1024 /dev/urandom >"$work/key/munge.key" && chmod 400 "$work/key/munge.key" ||
    fail "cannot write the munge key"
socket=$work/munge/munge.socket
munged -F --key-file="$work/key/munge.key" --socket="$socket" --pid-file="$work/munge/munged.pid" \
    --seed-file="$work/munge/munged.seed" --log-file="$work/log/munged.log" \
    >>"$work/log/munged.log" 2>&1 &
daemons+=($!)
wait_for 10 test -S "$socket" || fail "munged did not start"

# Two free ports next to each other, away from a system cluster's.
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=$((20000 + RANDOM % 20000))
while port_in_use $port || port_in_use $((port + 1)); do port=$((port + 2)); done

node=$(slurmd -C | head -n 1)
cpus=$(grep -o 'CPUs=[0-9]*' <<<"$node" | cut -d= -f2)
memory=$(grep -o 'RealMemory=[0-9]*' <<<"$node" | cut -d= -f2)
[ -n "$cpus" ] && [ -n "$memory" ] || fail "slurmd -C printed no CPUs or memory: $node"
export SLURM_CONF=$work/slurm.conf
cat >"$SLURM_CONF" <<CONF
ClusterName=tweenoratest
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$work/spool/ctld
SlurmdSpoolDir=$work/spool/d
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/log/slurmctld.log
SlurmdLogFile=$work/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
ReturnToService=2
KillWait=5
NodeName=localhost NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP
CONF
# Tasks are tracked by their processes (linuxproc, task/none), never through
# cgroups; Slurm 24.05 and later set up their cgroup plugin all the same, and
# fail where /sys/fs/cgroup holds none (a chroot's own /sys), unless told not to.
version=$(slurmd -V | grep -o '[0-9][0-9]*\.[0-9][0-9]*' | head -n 1)
if [[ $version =~ ^([0-9]+)\.([0-9]+)$ ]] &&
    ((BASH_REMATCH[1] * 100 + 10#${BASH_REMATCH[2]} >= 2405)); then
    echo "CgroupPlugin=disabled" >"$work/cgroup.conf"
fi
slurmctld -D -f "$SLURM_CONF" >>"$work/log/slurmctld.log" 2>&1 &
daemons+=($!)
slurmd -D -f "$SLURM_CONF" -N localhost >>"$work/log/slurmd.log" 2>&1 &
daemons+=($!)
wait_for 30 node_idle ||
    fail "the node did not come up idle"

step "rendering the clip locally"
"$sample" clip "$work/clip/clip.####.exr" --frames 1-9 --size 64x48 >/dev/null ||
    fail "tweenora-sample failed"
"$tool" retime "$work/clip/clip.####.exr" "$work/local/local.####.exr" --range 1-9 --speed 0.5 \
    --cpu --threads 1 --quiet 2>"$work/local.err" || fail "the local run failed: $(cat "$work/local.err")"

# Submissions run in $work with the settings in a folder of their own: the
# relative JOBDIR must be found from $work, where it was made.
settings=$work/settings/retime-settings.sh
[ -f "$scripts/retime-settings.sh" ] || fail "the settings template is not beside the scripts"
write_settings() {
    # The shipped template, so that every setting the scripts read is in it.
    cp "$scripts/retime-settings.sh" "$settings" && cat >>"$settings" <<SETTINGS &&
IN=clip/clip.####.exr
OUT=farm/farm.####.exr
RANGE=1-9
TIMING=(--speed 0.5)
CHUNK=5
JOBDIR=jobdir
DEVICE=cpu
CPUS=1
MEM=200M
TWEENORA=$tool
SETTINGS
        printf '%s\n' "$@" >>"$settings"
}
submit() { (cd "$work" && "$scripts/retime-submit.sh" "$@"); }

step "refusing what the tasks could not run, with a message and status 2"
# Each: the settings' last line | what the messages say (the tool's own first,
# where it refused the retime).
refusals=(
    "DEVICE=gpu|no node offers a GPU"
    "CPUS=$((cpus + 1))|the largest node has"
    "MEM=$((memory + 1))M|the largest node has"
    "MEM=lots|MEM must be a size"
    "unset TIMING; TIMING='--speed 0.5'|TIMING must be a list"
    "CHUNK=0|CHUNK must be a whole number"
    "RANGE=1-1|holds no frames"
    "TWEENORA=$work/nowhere|not found"
    "RETIME_OPTIONS=(--bogus)|unknown option '--bogus'"
    "RETIME_OPTIONS=(--gpu 0)|the chunks' own"
    "OUT=farm/farm.exr|has no frame number in its file name"
    "OUT=farm/farm.mov|is a video, which the chunks cannot share"
    "exit 3|failed or exited while it was read (status 3)"
    "exit 0|exited before its end"
)
for refusal in "${refusals[@]}"; do
    bad=${refusal%|*} says=${refusal##*|}
    write_settings "$bad"
    out=$(submit settings/retime-settings.sh 2>&1)
    status=$?
    [ $status -eq 2 ] || fail "$bad: status $status, not 2: $out"
    tail -n 1 <<<"$out" | grep -q "^retime-submit: " && grep -qF -- "$says" <<<"$out" ||
        fail "$bad failed without saying '$says': $out"
    echo "   $bad: $(tail -n 1 <<<"$out")"
done
[ ! -e "$work/jobdir/settings.sh" ] || fail "a refused submission left a snapshot"

step "submitting 4 chunks of up to 5 frames"
# The timing only in RETIME_OPTIONS (the tasks see it; so must the chunking),
# CHUNK with a leading zero.
write_settings "TIMING=()" "RETIME_OPTIONS=(--speed 0.5)" "CHUNK=05"
out=$(submit settings/retime-settings.sh) || fail "retime-submit.sh failed: $out"
echo "$out"
job=$(sed -n 's/^output frames 1-16 in 4 chunks of up to 5: job \([0-9]*\)$/\1/p' <<<"$out")
[ -n "$job" ] || fail "unexpected answer from retime-submit.sh"
out=$(submit --status settings/retime-settings.sh) ||
    fail "--status did not find the JOBDIR the submission made: $out"
# Edits after submission change nothing of what was submitted.
echo "TIMING=(--speed 0.25)" >>"$settings"
# Chunk 0 is queued or running for a second or more yet.
for bad in 0 9 1,x 08; do
    if out=$("$scripts/retime-submit.sh" --rerun "$bad" "$work/jobdir" 2>&1); then
        fail "--rerun $bad was submitted: $out"
    fi
    # One line of its own (08 is chunk 8 in base 10, not a bash error).
    [[ $out == "retime-submit: "* && $out != *$'\n'* ]] ||
        fail "--rerun $bad failed without a message of its own: $out"
    echo "   --rerun $bad: $out"
done

# Chunk 1 is cancelled once it has written its first frame. On a machine fast
# enough to finish the chunk before the cancel lands, it is rerun and tried again.
frames_missing() {
    local frame missing=0
    for frame in 6 7 8 9 10; do
        [ -f "$work/farm/farm.$(printf %04d $frame).exr" ] || missing=$((missing + 1))
    done
    ((missing > 0))
}
attempt_job=$job
for attempt in 1 2 3; do
    step "cancelling chunk 1 midway (attempt $attempt)"
    log=$work/jobdir/logs/chunk-1.$attempt_job.log
    deadline=$((SECONDS + 60))
    until grep -q '^frame 1 of 5 ' "$log" 2>/dev/null; do
        ((SECONDS < deadline)) || fail "chunk 1 wrote no frame"
        sleep 0.02
    done
    scancel "${attempt_job}_1" || fail "scancel failed"
    wait_for 30 grep -q '^chunk 1: frames 6-10: exit status' "$log" || fail "chunk 1 did not end"
    if tail -n 1 "$log" | grep -q '^chunk 1: frames 6-10: exit status 143 (stopped by SIGTERM)$' &&
        frames_missing; then
        break
    fi
    ((attempt < 3)) || fail "chunk 1 always ended before the cancel reached it: $(tail -n 1 "$log")"
    rm -f "$work"/farm/farm.00{06,07,08,09,10}.exr
    out=$(cd / && "$scripts/retime-submit.sh" --rerun 1 "$work/jobdir") || fail "--rerun failed: $out"
    attempt_job=$(sed -n 's/^chunks 1 resubmitted: job \([0-9]*\)$/\1/p' <<<"$out")
done
wait_for 90 queue_empty || fail "the other chunks did not finish"
for chunk in 0 2 3; do
    tail -n 1 "$work/jobdir/logs/chunk-$chunk.$job.log" |
        grep -q "^chunk $chunk: frames .*: exit status 0 (every frame written)$" ||
        fail "chunk $chunk: $(tail -n 1 "$work/jobdir/logs/chunk-$chunk.$job.log")"
done

# A writer killed outright (SIGKILL) on this host leaves its partial files;
# the rerun must remove them: one in today's naming, one in the older one.
host=$(hostname | tr -c 'A-Za-z0-9._\n-' '_')
sleep 0 &
dead=$!
wait $dead
for partial in ".farm.0009.exr.partial-$host-$dead" ".farm.0010.exr.partial-$dead"; do
    echo "half a frame" >"$work/farm/$partial"
done

step "rerunning chunk 1 from another folder"
out=$(cd / && "$scripts/retime-submit.sh" --rerun 1 "$work/jobdir") || fail "--rerun failed: $out"
echo "$out"
rerun=$(sed -n 's/^chunks 1 resubmitted: job \([0-9]*\)$/\1/p' <<<"$out")
[ -n "$rerun" ] || fail "unexpected answer from --rerun"
wait_for 60 queue_empty || fail "the rerun did not finish"
status=$(cd / && "$scripts/retime-submit.sh" --status "$work/jobdir") || fail "--status failed"
echo "$status"
[ "$(grep -c 'exit status 0 (every frame written)$' <<<"$status")" -eq 4 ] ||
    fail "not every chunk reports success"

step "comparing with the local run"
for frame in $(seq 1 16); do
    name=$(printf '%04d' "$frame")
    [ -f "$work/farm/farm.$name.exr" ] || fail "frame $frame is missing"
    idiff -q -fail 0 -failpercent 0 -warn 0 "$work/local/local.$name.exr" \
        "$work/farm/farm.$name.exr" >/dev/null || fail "frame $frame differs from the local run"
done
partials=$(find "$work/farm" -mindepth 1 -name '.*')
[ -z "$partials" ] || fail "partial files remain: $partials"
grep -q 'removed 2 partial files left by an earlier run' "$work/jobdir/logs/chunk-1.$rerun.log" ||
    fail "the rerun did not report the partial files it removed"
echo "PASS"
