# bash completion for quom                                  -*- shell-script -*-
#
# The options come from `quom --help`, so that a new one completes without a change here; the
# values of those that take a file complete to the names quom reads or writes by extension,
# directories included.

_quom() {
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --wav)
            _filedir 'wav|flac|ogg|mp3|opus'
            # "-" is standard output.
            [[ $cur == '' || $cur == - ]] && COMPREPLY+=(-)
            return
            ;;
        --score)
            # Text, MIDI, or 7-byte records under any other name: the first two are told by
            # their extension, the third cannot be.
            _filedir 'txt|mid|midi'
            return
            ;;
        --export-midi)
            _filedir 'mid|midi'
            return
            ;;
        --stems)
            _filedir -d
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W 'wav flac ogg mp3 opus' -- "$cur"))
            return
            ;;
        --quality)
            COMPREPLY=($(compgen -W '0 1 2 3 4 5 6 7 8 9 10' -- "$cur"))
            return
            ;;
        --simd)
            # The help names the instruction sets this processor runs.
            local sets
            sets=$(LC_ALL=C "$1" --help 2>/dev/null |
                sed -n 's/.*one of \(.*\) on this processor.*/\1/p' | tr -d ,)
            COMPREPLY=($(compgen -W "$sets" -- "$cur"))
            return
            ;;
        --audio-driver)
            COMPREPLY=($(compgen -W 'pipewire pulseaudio alsa jack disk dummy' -- "$cur"))
            return
            ;;
        --loop)
            COMPREPLY=($(compgen -W 'forever' -- "$cur"))
            return
            ;;
        --map | --bench | --help | -h | --version)
            return
            ;;
    esac

    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '$(_parse_help "$1")' -- "$cur"))
    fi
} &&
    complete -F _quom quom

# ex: filetype=sh
