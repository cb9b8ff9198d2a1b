#!/usr/bin/env bash
# The test of process_capture's slurm backend on a real single-node Slurm cluster that this
# script starts on this machine, then stops:
#   tests/tools/batch/process_capture_slurm.sh BUILD_DIR
# munged, slurmctld and slurmd run as root with their keys, sockets, state, configuration and
# logs in a temporary folder and the daemons on free ports; nothing outside that folder is
# changed. They are stopped by their process ids when the script ends, whatever the outcome.
# Needs root and the Debian packages slurm-wlm, munge and parallel (tools/install-deps.sh).
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)

[[ $(id -u) -eq 0 ]] || { echo "FAIL: the Slurm test starts slurmd and must run as root"; exit 1; }
for p in munged slurmctld slurmd sbatch squeue sinfo; do
  command -v "$p" >/dev/null ||
    { echo "FAIL: $p is missing: install slurm-wlm and munge (tools/install-deps.sh)"; exit 1; }
done

cluster=$(mktemp -d "${TMPDIR:-/tmp}/tervik_slurm.XXXXXX")
# munged wants every folder on its socket's path searchable by all.
chmod 755 "$cluster"
pids=()
keep=0
# shellcheck disable=SC2317  # run by the trap
stop_cluster() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    # Wait up to 10 s for each daemon, then kill it for good.
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null || true
  done
  if [[ $keep -eq 0 ]]; then rm -rf "$cluster"; else echo "cluster files kept in $cluster"; fi
}
trap stop_cluster EXIT
trap 'exit 143' TERM INT
die_cluster() {
  echo "FAIL: $*"
  tail -n 20 "$cluster"/*.log "$cluster"/*.out 2>/dev/null || true
  keep=1
  exit 1
}

# start NAME COMMAND...: a daemon in the foreground of a background job, its output in NAME.out.
start() {
  local name=$1
  shift
  "$@" >"$cluster/$name.out" 2>&1 &
  pids+=($!)
}

# free_port: a local TCP port on which nothing listens.
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    if ! (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
}

dd if=/dev/urandom of="$cluster/munge.key" bs=1024 count=1 status=none
chmod 400 "$cluster/munge.key"
start munged munged --foreground --socket="$cluster/munge.socket" --key-file="$cluster/munge.key" \
  --log-file="$cluster/munged.log" --pid-file="$cluster/munged.pid" --seed-file="$cluster/munged.seed"
for _ in $(seq 50); do [[ -S $cluster/munge.socket ]] && break; sleep 0.2; done
[[ -S $cluster/munge.socket ]] || die_cluster "munged did not start"

ctld_port=$(free_port)
slurmd_port=$(free_port)
while [[ $slurmd_port == "$ctld_port" ]]; do slurmd_port=$(free_port); done
mkdir -p "$cluster/state" "$cluster/spool"
cat >"$cluster/slurm.conf" <<EOF
ClusterName=tervik
SlurmctldHost=localhost(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
AuthType=auth/munge
AuthInfo=socket=$cluster/munge.socket
CredType=cred/munge
StateSaveLocation=$cluster/state
SlurmdSpoolDir=$cluster/spool
SlurmctldPidFile=$cluster/slurmctld.pid
SlurmdPidFile=$cluster/slurmd.pid
SlurmctldLogFile=$cluster/slurmctld.log
SlurmdLogFile=$cluster/slurmd.log
MailProg=/bin/true
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
ReturnToService=2
SchedulerType=sched/builtin
SchedulerParameters=sched_interval=1
NodeName=localhost NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=tervik Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$cluster/slurm.conf
start slurmctld slurmctld -D -f "$SLURM_CONF"
start slurmd slurmd -D -N localhost -f "$SLURM_CONF"
state=""
for _ in $(seq 300); do
  state=$(sinfo -h -n localhost -o %T 2>/dev/null || true)
  [[ $state == idle ]] && break
  sleep 0.3
done
[[ $state == idle ]] || die_cluster "the Slurm node is not idle after 90 s (state '$state')"
echo "Slurm cluster up in $cluster (slurmctld port $ctld_port, slurmd port $slurmd_port)"

status=0
"$here/process_capture_check.sh" "$build" slurm || status=$?
[[ $status -eq 0 ]] || keep=1
exit "$status"
