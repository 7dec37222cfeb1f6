# Sourced by the project's cluster commands. Without SLURM_CONF and without a Slurm
# configuration of the machine's own, client commands would find no cluster at all; the
# one-node cluster of scripts/slurm-local.sh is then the one meant, so its configuration
# is used ($SLURM_LOCAL_DIR, default ~/.slurm-local, as slurm-local.sh keeps it) and
# `scripts/slurm-local.sh start` works with or without eval.
if [ -z "${SLURM_CONF:-}" ] && [ ! -e /etc/slurm/slurm.conf ] &&
  [ -f "${SLURM_LOCAL_DIR:-$HOME/.slurm-local}/slurm.conf" ]; then
  export SLURM_CONF="${SLURM_LOCAL_DIR:-$HOME/.slurm-local}/slurm.conf"
fi
