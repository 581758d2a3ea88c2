# bash completion for usbsynth-ctl
_usbsynth_ctl()
{
    local cur prev command i
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    command=
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            list|get|set|sweep|preset) command=${COMP_WORDS[i]}; break ;;
        esac
    done
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "list get set sweep preset --help" -- "$cur"))
        return
    fi
    case $prev in
        --rf) COMPREPLY=($(compgen -W "on off" -- "$cur")); return ;;
        --ref) COMPREPLY=($(compgen -W "int ext" -- "$cur")); return ;;
        --pll) COMPREPLY=($(compgen -W "frac int" -- "$cur")); return ;;
        --power) [[ $command == set ]] && COMPREPLY=($(compgen -W "min max" -- "$cur")); return ;;
        --list) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --freq|--ref-freq|--divider|--points|--dwell) return ;;
    esac
    local options
    case $command in
        list) options="--json" ;;
        get) options="--json all" ;;
        set) options="--freq --power --rf --ref --ref-freq --divider --pll all" ;;
        sweep) options="--freq --power --list --points --log --dwell --down --up-down --repeat" ;;
        preset) options="list apply all --rf" ;;
    esac
    if [[ $cur == -* || $command == list ]]; then
        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
        return
    fi
    # Serial numbers of the instruments attached now.
    local serials
    serials=$(usbsynth-ctl list 2>/dev/null | cut -f1)
    COMPREPLY=($(compgen -W "$options $serials" -- "$cur"))
}
complete -F _usbsynth_ctl usbsynth-ctl
