#!/usr/bin/env bash
# A one-node Slurm cluster on this machine, for the tests and for trying the batch path on
# a workstation: the controller and the node daemon on 127.0.0.1, started without systemd.
#
#   scripts/slurm-local.sh install   install Debian's packages when missing
#   scripts/slurm-local.sh start     install, write the configuration, start what is not running,
#                                    wait until the node takes jobs; prints `export SLURM_CONF=...`
#   scripts/slurm-local.sh status    daemons and node state; exit 0 only when ready for jobs
#   scripts/slurm-local.sh stop      stop the daemons this script started
#
# Everything lives in one private folder, $SLURM_LOCAL_DIR (default ~/.slurm-local):
# slurm.conf, daemon state and logs, and a job-completion file that keeps every job's end;
# only the cluster's own munged keeps its socket and log in /run/munge (named by the port).
# Client commands (sbatch, squeue, scontrol) need SLURM_CONF pointing at its slurm.conf;
# the project's own (skim-slurm) find it there by themselves when the machine has no Slurm
# configuration (slurm-conf.sh).
# Ports: $SLURM_LOCAL_PORT (controller, default 6817) and the next one (node daemon).
# Every command can be repeated: start on a running cluster and stop on a stopped one do
# nothing.
set -euo pipefail

dir="${SLURM_LOCAL_DIR:-$HOME/.slurm-local}"
port="${SLURM_LOCAL_PORT:-6817}"
conf="$dir/slurm.conf"
packages=(slurmctld slurmd slurm-client munge)
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

say() { echo "slurm-local: $*" >&2; }
die() { say "$*"; exit 1; }

install_packages() {
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# A daemon runs when its process exists and is not a zombie: PID 1 here may never reap a
# daemon that was killed, and its pid file vanishes before it exits. With a name, the
# process must also be that program (a stale pid file may name a reused pid).
alive() {
  local pid="$1" name="${2:-}" comm state
  [[ "$pid" =~ ^[0-9]+$ ]] || return 1
  read -r _ comm state _ 2> /dev/null < "/proc/$pid/stat" || return 1
  [ "$state" != Z ] && { [ -z "$name" ] || [ "$comm" = "($name)" ]; }
}

pid_of() { [ -f "$dir/$1.pid" ] && cat "$dir/$1.pid" || true; }

write_config() {
  local host cpus mem_kb
  host="$(hostname -s)"
  cpus="$(nproc)"
  mem_kb="$(awk '/^MemTotal:/ { print $2 }' /proc/meminfo)"
  mkdir -p "$dir/state" "$dir/spool" "$dir/log"
  chmod 700 "$dir"
  cat > "$conf.new" <<EOF
# Written by slurm-local.sh: a one-node cluster on 127.0.0.1, no cgroups, no accounting.
ClusterName=local
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$munge_socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
# No accounting: job ends are kept here, and scontrol remembers finished jobs for an hour.
JobCompType=jobcomp/filetxt
JobCompLoc=$dir/jobcomp.txt
MinJobAge=3600
# A job depending on a failed one is cancelled instead of pending for ever.
DependencyParameters=kill_invalid_depend
MpiDefault=none
MailProg=/bin/true
ReturnToService=2
SlurmdTimeout=30
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus RealMemory=$((mem_kb / 1024 * 9 / 10)) State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
  if cmp -s "$conf.new" "$conf"; then rm -f "$conf.new"; else mv "$conf.new" "$conf"; fi
}

# The cluster's own munged, on a socket named by the port, so that clusters on other ports
# (and a system munged) neither share nor stop it. Its files live in /run/munge, which the
# munge user can reach (a private folder under a home directory may not be).
munge_run="/run/munge"
munge_socket="$munge_run/slurm-local-$port.socket"
munge_pid="$munge_run/slurm-local-$port.pid"
munge_ok() { munge --socket "$munge_socket" -n 2>/dev/null | unmunge --socket "$munge_socket" >/dev/null 2>&1; }

start_munge() {
  munge_ok && return 0
  [ -f /etc/munge/munge.key ] || die "no /etc/munge/munge.key (reinstall the munge package)"
  $SUDO mkdir -p "$munge_run"
  $SUDO chown munge:munge "$munge_run"
  $SUDO chmod 755 "$munge_run"
  $SUDO runuser -u munge -- /usr/sbin/munged --socket "$munge_socket" --pid-file "$munge_pid" \
    --log-file "$munge_run/slurm-local-$port.log" --seed-file "$munge_run/slurm-local-$port.seed" ||
    die "munged did not start (see $munge_run/slurm-local-$port.log)"
  local i
  for i in $(seq 50); do
    munge_ok && return 0
    sleep 0.1
  done
  die "munged does not answer on $munge_socket (see $munge_run/slurm-local-$port.log)"
}

# The node takes jobs: its state is exactly idle, mix or alloc (idle* means not responding),
# and it has registered since `since` (the controller shows a dead node idle for a while).
node_ready() {
  local since="${1:-0}" info state start
  info="$(SLURM_CONF="$conf" scontrol -o show node "$(hostname -s)" 2>/dev/null)" || return 1
  state="$(SLURM_CONF="$conf" sinfo -h -n "$(hostname -s)" -o %T 2>/dev/null)" || return 1
  case "$state" in idle | mixed | mix | allocated | alloc) ;; *) return 1 ;; esac
  start="$(sed -n 's/.*SlurmdStartTime=\([^ ]*\).*/\1/p' <<< "$info")"
  [ -n "$start" ] && [ "$start" != "None" ] || return 1
  [ "$(date -d "$start" +%s 2>/dev/null || echo 0)" -ge "$since" ]
}

start() {
  install_packages
  write_config
  start_munge
  local since=0
  if ! alive "$(pid_of slurmctld)" slurmctld; then
    $SUDO slurmctld -f "$conf" || die "slurmctld did not start (see $dir/log/slurmctld.log)"
  fi
  if ! alive "$(pid_of slurmd)" slurmd; then
    since="$(date +%s)"
    $SUDO slurmd -f "$conf" -N "$(hostname -s)" || die "slurmd did not start (see $dir/log/slurmd.log)"
  fi
  local i
  for i in $(seq 300); do
    if node_ready "$since"; then
      say "ready: node $(hostname -s) on 127.0.0.1, $(nproc) CPUs; configuration in $dir"
      echo "export SLURM_CONF=$conf"
      return 0
    fi
    sleep 0.1
  done
  die "the node did not become ready in 30 s (see $dir/log)"
}

# Stops the daemon NAME whose pid is in PIDFILE, waiting for it to go.
stop_daemon() {
  local name="$1" pidfile="$2" pid i
  pid="$(cat "$pidfile" 2>/dev/null || true)"
  if alive "$pid" "$name"; then
    $SUDO kill "$pid" 2>/dev/null || true
    for i in $(seq 100); do alive "$pid" "$name" || break; sleep 0.1; done
    if alive "$pid" "$name"; then
      say "$name ($pid) did not stop in 10 s; killing it"
      $SUDO kill -9 "$pid" 2>/dev/null || true
    fi
  fi
  $SUDO rm -f "$pidfile"
}

stop() {
  [ -d "$dir" ] || return 0
  stop_daemon slurmd "$dir/slurmd.pid"
  stop_daemon slurmctld "$dir/slurmctld.pid"
  stop_daemon munged "$munge_pid"
  $SUDO rm -f "$munge_run/slurm-local-$port.log" "$munge_run/slurm-local-$port.seed"
  say "stopped"
}

status() {
  local ctld slurmd state
  ctld="$(pid_of slurmctld)"
  slurmd="$(pid_of slurmd)"
  alive "$ctld" slurmctld && echo "slurmctld running (pid $ctld)" || echo "slurmctld stopped"
  alive "$slurmd" slurmd && echo "slurmd running (pid $slurmd)" || echo "slurmd stopped"
  munge_ok && echo "munged answering on $munge_socket" || echo "munged not answering on $munge_socket"
  if alive "$ctld" slurmctld && alive "$slurmd" slurmd; then
    state="$(SLURM_CONF="$conf" sinfo -h -o '%n %T' 2>/dev/null || echo "unknown")"
    echo "node $state"
    echo "SLURM_CONF=$conf"
    node_ready && return 0
    return 1
  fi
  return 3
}

case "${1:-}" in
  install) install_packages ;;
  start) start ;;
  stop) stop ;;
  status) status ;;
  *)
    echo "usage: scripts/slurm-local.sh install|start|stop|status" >&2
    exit 2
    ;;
esac
