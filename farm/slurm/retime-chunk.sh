#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# One Slurm array task of a retime submitted by retime-submit.sh: task N renders
# output frames FIRST + N * CHUNK onwards, CHUNK of them at most (fewer in the
# last chunk). Usage (by retime-submit.sh only): sbatch ... retime-chunk.sh JOBDIR
#
# Everything comes from the submission's snapshot in JOBDIR, so a queued task or
# a rerun renders exactly what was submitted. The tool's own lines (one per
# written frame, errors) land in this task's log, which ends with a line giving
# the chunk's frames and exit status; the node's console lines (standard output)
# go to a .node.log beside it.
set -uo pipefail

say() { echo "retime-chunk: $*" >&2; }

snapshot=${1:-}
if [ -z "$snapshot" ] || [ -z "${SLURM_ARRAY_TASK_ID:-}" ]; then
    say "usage: sbatch --array=... retime-chunk.sh JOBDIR (retime-submit.sh does this)"
    exit 2
fi
# shellcheck source=/dev/null
if ! source "$snapshot/settings.sh" || ! source "$snapshot/range.sh"; then
    say "cannot read the submission's snapshot in $snapshot"
    exit 2
fi

TASK=$SLURM_ARRAY_TASK_ID
START=$((FIRST + TASK * CHUNK))
END=$((START + CHUNK - 1))
((END > LAST)) && END=$LAST
status=0

meaning() {
    case $1 in
        0) echo "every frame written" ;;
        1) echo "a frame failed to render" ;;
        2) echo "bad usage or unreadable input" ;;
        126 | 127) echo "cannot run $TWEENORA on $(hostname)" ;;
        *) if (($1 > 128)); then echo "stopped by SIG$(kill -l $(($1 - 128)))"; else echo "failed"; fi ;;
    esac
}
# Always the log's last line; Slurm's accounting is not needed to read it.
trap 'echo "chunk $TASK: frames $START-$END: exit status $status ($(meaning $status))"' EXIT
# scancel sends SIGTERM to the task's processes: the tool removes the frame it
# is writing and stops; this shell lives on to record that.
stop=""
trap 'stop=143' TERM
trap 'stop=130' INT

if ((START > LAST)); then
    say "task $TASK is past the last chunk (output frames $FIRST-$LAST)"
    status=2
    exit $status
fi
if [ "$DEVICE" = gpu ]; then
    # Slurm shows the task only its own GPU, as device 0.
    device=(--gpu 0)
else
    device=(--cpu)
fi
echo "chunk $TASK: frames $START-$END on $(hostname), job ${SLURM_ARRAY_JOB_ID:-?}_$TASK" >&2
if [ -n "$stop" ]; then
    status=$stop
    exit $status
fi
"$TWEENORA" retime "$IN" "$OUT" --range "$RANGE" "${TIMING[@]}" --frames "$START-$END" \
    "${device[@]}" --threads "${SLURM_CPUS_PER_TASK:-$CPUS}" "${RETIME_OPTIONS[@]}" \
    >>"$snapshot/logs/chunk-$TASK.${SLURM_ARRAY_JOB_ID:-0}.node.log"
status=$?
exit $status
