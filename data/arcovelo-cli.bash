# Bash completion for arcovelo-cli: commands, options, level and mode values,
# archives ending in .bck.
_arcovelo_cli()
{
    local cur prev command i
    COMPREPLY=()
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    command=""
    for ((i = 1; i < COMP_CWORD; i++)); do
        case "${COMP_WORDS[i]}" in
            backup|list|restore|compare|test) command="${COMP_WORDS[i]}"; break ;;
        esac
    done

    case "$prev" in
        --level) COMPREPLY=($(compgen -W "fastest default max none" -- "$cur")); return ;;
        --mode) COMPREPLY=($(compgen -W "all no-overwrite newer existing existing-newer" -- "$cur")); return ;;
        --dest) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --title|--volume-size|--exclude) return ;;
    esac

    if [[ -z "$command" ]]; then
        COMPREPLY=($(compgen -W "backup list restore compare test --help --version" -- "$cur"))
        return
    fi
    if [[ "$cur" == -* ]]; then
        local options="--help"
        case "$command" in
            backup) options+=" --title --incremental --level --volume-size --no-file-list --keep-archive-flags --exclude --hidden --verbose --yes --quiet" ;;
            list) options+=" --json" ;;
            restore) options+=" --dest --to-original --full-path --mode --exclude --dry-run --verbose --yes --quiet" ;;
            compare) options+=" --dest --full-path --exclude --verbose --yes --quiet" ;;
            test) options+=" --yes --quiet" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    # The archive: folders and .bck files; a backup's entries: any file; the
    # NAMEs of restore and compare are stored names, not files here.
    local words=0
    for ((i = i + 1; i < COMP_CWORD; i++)); do
        [[ "${COMP_WORDS[i]}" != -* ]] && words=$((words + 1))
    done
    if [[ "$command" == backup && $words -ge 1 ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    elif [[ ( "$command" == restore || "$command" == compare ) && $words -ge 1 ]]; then
        return
    else
        COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X '!*.bck' -- "$cur"))
    fi
}
complete -o filenames -F _arcovelo_cli arcovelo-cli
