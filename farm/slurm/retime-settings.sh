# SPDX-License-Identifier: Apache-2.0
# Settings of one retime on a Slurm farm, read by retime-submit.sh.
# Copy this file beside the shot, edit it, then: retime-submit.sh retime-settings.sh
# Paths must read the same on every node (a shared file system); relative
# paths (JOBDIR too) are taken from the folder retime-submit.sh is run in.
# This file only sets values: it must not exit.

# What to retime: sequence patterns as `tweenora retime` takes them (a video
# OUT cannot be shared by the chunks: write a sequence, encode it once after).
IN=/shows/demo/sh010/plate/sh010_plate.####.exr
OUT=/shows/demo/sh010/retime/sh010_retime.####.exr
RANGE=1001-1100           # the input frames
# Everything that changes the timing: --speed or --frame-keys, and any --set.
TIMING=(--speed 0.5)      # or: TIMING=(--frame-keys 1001:1001,1100:1050)
RETIME_OPTIONS=()         # other retime options, such as (--channels all --float);
                          # not --cpu, --gpu or --frames (DEVICE and CHUNK set those)

# Output frames per array task.
CHUNK=20

# The submission's snapshot and the task logs; --rerun and --status find them here.
# Must not hold an earlier submission.
JOBDIR=/shows/demo/sh010/retime/farm

# One task's resources; size them to the nodes (sinfo -o '%P %c %m %G').
DEVICE=gpu                # gpu: one GPU per task (--gres=gpu:1); cpu: no GPU
CPUS=8                    # cores per task (--cpus-per-task), at most a node's CPUs
MEM=16G                   # memory per task (--mem)
SBATCH_OPTIONS=()         # other sbatch options, such as (--partition=render --time=4:00:00)

# The tool as every node runs it: a command on the nodes' PATH, or a full path.
TWEENORA=tweenora
