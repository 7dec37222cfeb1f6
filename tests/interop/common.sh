# Shared start of the interop scripts: sourced after `here` is set.
#   skip MESSAGE          skip the test, or fail it under CI=true
#   require_jsroot        skip unless scripts/setup.sh installed jsroot
#   require_tools DIR T.. fail unless each tool T is built in DIR
#   tmp                   a scratch folder removed on exit

skip() {
  if [ "${CI:-}" = "true" ]; then
    echo "FAIL under CI: $1" >&2
    exit 1
  fi
  echo "skipped: $1"
  exit 0
}

require_jsroot() {
  [ -f "$here/node_modules/jsroot/package.json" ] || skip "jsroot not installed (bash scripts/setup.sh)"
}

require_tools() {
  local dir="$1" tool
  shift
  for tool in "$@"; do
    [ -x "$dir/$tool" ] || { echo "no $tool in $dir (build it first)" >&2; exit 1; }
  done
}

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
