# Bash completion for arcovelo-cli: commands, options, level and mode values,
# archives ending in .bck.
_arcovelo_cli()
{
    local cur prev command i
    COMPREPLY=()
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    # --opt=value: bash splits it into "--opt" "=" "value" (= is a word break).
    if [[ "$cur" == "=" ]]; then
        cur=""
    elif [[ "$prev" == "=" && $COMP_CWORD -ge 2 ]]; then
        prev="${COMP_WORDS[COMP_CWORD-2]}"
    fi
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
            list) options+=" --json --quiet" ;;
            restore) options+=" --dest --to-original --full-path --mode --exclude --dry-run --verbose --yes --quiet" ;;
            compare) options+=" --dest --full-path --exclude --verbose --yes --quiet" ;;
            test) options+=" --yes --quiet" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    # The archive: folders and .bck files; a backup's entries: any file; the
    # NAMEs of restore and compare are stored names, not files here. Words
    # that are options or their values are not arguments.
    local words=0 word
    for ((i = i + 1; i < COMP_CWORD; i++)); do
        word="${COMP_WORDS[i]}"
        case "$word" in
            --title|--level|--volume-size|--dest|--mode|--exclude)
                [[ "${COMP_WORDS[i+1]}" == "=" ]] && i=$((i + 1))
                i=$((i + 1)) ;;
            -*) ;;
            *) words=$((words + 1)) ;;
        esac
    done
    if [[ "$command" == backup && $words -ge 1 ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
    elif [[ ( "$command" == restore || "$command" == compare ) && $words -ge 1 ]]; then
        return
    else
        local name
        COMPREPLY=($(compgen -d -- "$cur"))
        for name in $(compgen -f -X '!*.bck' -- "$cur"); do
            [[ -d "$name" ]] || COMPREPLY+=("$name")  # a folder named x.bck is listed once
        done
    fi
}
complete -o filenames -F _arcovelo_cli arcovelo-cli
