#!/usr/bin/env bash
# Usage: completion.sh COMPLETION_FILE
# Loads clusterctl's bash completion as bash-completion would and checks what it offers for
# typical command lines, as bash hands them over: COMP_WORDS split at blanks and at "=".
set -uo pipefail
source "$1" || exit 1
failures=0
cases=0

# complete_line EXPECTED WORD...: completes the last WORD (empty: a new word) and compares
# the sorted offers, joined by blanks, with EXPECTED.
complete_line() {
    local expected=$1
    shift
    cases=$((cases + 1))
    COMP_WORDS=(clusterctl "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _clusterctl
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
    if [[ "$got" != "$expected" ]]; then
        echo "FAIL: clusterctl $* -> [$got], expected [$expected]" >&2
        failures=$((failures + 1))
    fi
}

# offers WORD... : EXPECTED...: the completion of the last WORD offers each EXPECTED word.
offers() {
    local words=() wanted=()
    while [[ $1 != : ]]; do words+=("$1"); shift; done
    shift
    wanted=("$@")
    cases=$((cases + 1))
    COMP_WORDS=(clusterctl "${words[@]}")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _clusterctl
    local word
    for word in "${wanted[@]}"; do
        if ! grep -qxF -- "$word" <<<"$(printf '%s\n' "${COMPREPLY[@]}")"; then
            echo "FAIL: clusterctl ${words[*]} does not offer $word (offers: ${COMPREPLY[*]})" >&2
            failures=$((failures + 1))
        fi
    done
}

[[ $(complete -p clusterctl) == 'complete -F _clusterctl clusterctl' ]] ||
    { echo "FAIL: registered as: $(complete -p clusterctl 2>&1)" >&2; failures=$((failures + 1)); }

# Commands and subcommands, also after global options and their values.
complete_line 'changes du find help login ls nfs smb snapshots stat' ''
complete_line 'smb snapshots stat' s
complete_line 'snapshots' --url https://cluster.example:8000 -o json sn
complete_line 'stat' --url = https://x --output = csv st
complete_line 'snapshots' --fields id,name --user backup sn
complete_line 'create delete diff list' snapshots ''
complete_line 'list show' --json smb ''
complete_line 'list show' nfs ''
complete_line 'changes du find login ls nfs smb snapshots stat' help ''
complete_line 'create delete diff list' help snapshots ''
complete_line 'list show' help nfs ''
complete_line '' help snapshots diff ''
complete_line '' help ls ''
# Nothing local to offer for paths and ids on the cluster, nor past a complete command.
complete_line '' ls ''
complete_line '' snapshots delete ''

# Option values.
complete_line 'csv json jsonl table' --output ''
complete_line 'json jsonl' -o j
complete_line 'csv json jsonl table' --output =
complete_line 'csv json jsonl table' --output = ''
complete_line 'json jsonl' ls --output = js
complete_line '' --url ''
complete_line '' --timeout ''
complete_line '' --retries ''
complete_line '' snapshots create --source ''
complete_line '' ls --snapshot ''

# Options: the command's own and the global ones, which may follow the command.
offers snapshots create -- : --source --expiration --url --json
offers snapshots delete -- : --yes
offers snapshots delete - : -y
offers snapshots diff - : -0 --print0 -o -v -h
offers ls - : --snapshot -R --recursive -l --long -0 --print0 --no-headers --fields
offers find -- : --name --type --newer --size --maxdepth --parallel --checkpoint --resume \
    --output-file --summary
offers du - : -s --depth --checkpoint-every
offers changes a b -- : --paths-only --print0 --relative --deleted-to --parallel --resume
complete_line 'd f' find /a --type ''
offers -- : --url --user --password-file --cacert --insecure --max-reply --timeout --retries --rate \
    --output \
    --json --no-headers --fields --human-readable --verbose --simulated --profile --version --help
complete_line '--simulated' --si
complete_line '' snapshots list --yes
complete_line '--recursive' ls --rec

# Files for the options that read one, from the current directory.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
touch "$dir/ca.pem" "$dir/cluster.password"
mkdir "$dir/certs"
cd "$dir" || exit 1
complete_line 'ca.pem certs cluster.password' --cacert ''
complete_line 'ca.pem certs cluster.password' find /a --checkpoint ''
complete_line 'cluster.password' --password-file clu
complete_line 'ca.pem certs cluster.password' changes a b --deleted-to ''
complete_line 'ca.pem' ls --cacert = ca

if [[ $failures -gt 0 ]]; then
    echo "completion: $failures of $cases command lines completed wrongly" >&2
    exit 1
fi
echo "completion: $cases command lines completed as expected"
