# bash completion for clusterctl                                    -*- shell-script -*-
#
# Static: the command tree is written out here, so completing never starts clusterctl (which
# could prompt for a password or reach a cluster). Paths on the cluster are not completed;
# local files are, for the options that read one.

_clusterctl_global_options='--url --user --password-file --cacert --insecure --max-reply
    --timeout --retries --rate -o --output --json --no-headers --fields -h --human-readable -v --verbose
    --simulated --profile --version --help'
_clusterctl_commands='login snapshots ls find du changes stat smb nfs help'
_clusterctl_walk_options='--parallel --checkpoint --checkpoint-every --resume --output-file
    --summary'

# Options that take the next word as their value.
_clusterctl_takes_value() {
    case $1 in
        --url | --user | --password-file | --cacert | --max-reply | --timeout | --retries | \
            --rate | -o | --output | --fields | --profile | --source | --expiration | \
            --snapshot | --parallel | --checkpoint | --checkpoint-every | --output-file | \
            --summary | --name | --type | --newer | --size | --maxdepth | --depth | \
            --deleted-to) return 0 ;;
    esac
    return 1
}

_clusterctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev='' cword=$COMP_CWORD
    COMPREPLY=()
    # "--output=js" arrives as "--output" "=" "js" (= is a word break): complete the value.
    if [[ $cur == = ]]; then
        prev=${COMP_WORDS[cword - 1]}
        cur=''
    elif ((cword >= 2)) && [[ ${COMP_WORDS[cword - 1]} == = ]]; then
        prev=${COMP_WORDS[cword - 2]}
    elif ((cword >= 1)); then
        prev=${COMP_WORDS[cword - 1]}
    fi

    case $prev in
        --password-file | --cacert | --checkpoint | --output-file | --summary | --deleted-to)
            compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return 0
            ;;
        -o | --output)
            mapfile -t COMPREPLY < <(compgen -W 'table json jsonl csv' -- "$cur")
            return 0
            ;;
        --type)
            mapfile -t COMPREPLY < <(compgen -W 'f d' -- "$cur")
            return 0
            ;;
    esac
    # Any other option value (a URL, a user, a number, a snapshot id) has nothing to offer.
    if _clusterctl_takes_value "$prev"; then
        return 0
    fi

    # The words so far that are no option or option value: the command, its subcommand and
    # their arguments.
    local words_before=() word i=1
    while ((i < cword)); do
        word=${COMP_WORDS[i]}
        if [[ $word == = ]]; then
            ((i += 2))
            continue
        elif [[ $word == -* ]]; then
            _clusterctl_takes_value "$word" && [[ ${COMP_WORDS[i + 1]} != = ]] && ((++i))
        else
            words_before+=("$word")
        fi
        ((++i))
    done

    # "help snapshots diff" names a command as it is typed, without running it.
    local helping=''
    if [[ ${words_before[0]-} == help ]]; then
        helping=yes
        words_before=("${words_before[@]:1}")
    fi
    local command=${words_before[0]-} subcommand=${words_before[1]-}
    local options='' words=''
    case $command in
        '') words=$_clusterctl_commands ;;
        snapshots)
            case $subcommand in
                '') words='list create delete diff' ;;
                create) options='--source --expiration' ;;
                delete) options='-y --yes' ;;
                diff) options='-0 --print0' ;;
            esac
            ;;
        smb | nfs) [[ -z $subcommand ]] && words='list show' ;;
        ls) options="--snapshot -R --recursive -l --long -0 --print0 $_clusterctl_walk_options" ;;
        find) options="--snapshot --name --type --newer --size --maxdepth -0 --print0
            $_clusterctl_walk_options" ;;
        du) options="--snapshot -s --summarize --depth $_clusterctl_walk_options" ;;
        changes) options="--paths-only -0 --print0 --relative --deleted-to
            $_clusterctl_walk_options" ;;
    esac
    if [[ -n $helping ]]; then
        options=''
        [[ -z $command ]] && words=${_clusterctl_commands% help}
        [[ ${#words_before[@]} -ge 2 ]] && words=''
    fi

    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options $_clusterctl_global_options" -- "$cur")
    else
        mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
    fi
    return 0
}

complete -F _clusterctl clusterctl
