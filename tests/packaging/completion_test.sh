#!/usr/bin/env bash
# The bash completion as the shell runs it: sources bash-completion and the script, fills the
# COMP_* variables as bash would for a command line, and compares COMPREPLY with what the user
# must be offered.
# completion_test.sh PROGRAM SCRIPT   (PROGRAM: the built kfwupdate; SCRIPT: the completion)
set -uo pipefail

program=$1
script=$2
helpers=/usr/share/bash-completion/bash_completion
if [[ ! -r $helpers ]]; then
    echo "FAIL: $helpers is missing: install the bash-completion package (scripts/install-deps.sh)"
    exit 1
fi
# bash-completion reads the settings of an interactive shell; none of them matter here.
source "$helpers" || exit 1
source "$script" || exit 1
unset KFW_SIMULATOR
export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=kfw-none

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files" "$work/files/folder"
cd "$work/files" || exit 1
touch demo.kfw notes.txt
# The program as typed, and as found on PATH.
PATH=$(dirname "$program"):$PATH

# A kfwupdate whose port list holds the names that are hard to quote; everything else is the
# real program's.
stub=$work/bin/kfwupdate
mkdir -p "$work/bin"
cat >"$stub" <<EOF
#!/usr/bin/env bash
if [[ \$1 == ports ]]; then
    printf '%s\n' 'Receive from:' '  0  (Choose a MIDI port)' \\
        '  1  Midi Through:Midi Through Port-0 14:0' '  2  Odd "name" \$HOME' \\
        'Transmit to:' '  0  (Choose a MIDI port)' '  1  Midi Through:Midi Through Port-0 14:0'
    exit 0
fi
exec "$program" "\$@"
EOF
chmod +x "$stub"

failures=0

# expect NAME EXPECTED WORD...: completes the last word of the command line made of the words, as
# bash splits it (a "=" or ":" word stands between its neighbours without spaces). EXPECTED is
# the replies sorted, one a line.
expect() {
    local name=$1 expected=$2
    shift 2
    local line="" word previous=""
    for word in "$@"; do
        if [[ -z $line || $word == [=:] || $previous == [=:] ]]; then
            line+=$word
        else
            line+=" $word"
        fi
        previous=$word
    done
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMPREPLY=()
    _kfwupdate "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort)
    if [[ $got == "$expected" ]]; then
        echo "ok: $name"
    else
        echo "FAIL: $name: [$line]"
        echo "  expected: $(printf '%q ' $expected)"
        echo "  got:      $(printf '%q ' "${COMPREPLY[@]}")"
        ((failures++))
    fi
}

nl=$'\n'
k=$program
expect "a command by its prefix" "inspect" "$k" ins
expect "commands sharing a prefix" "check${nl}connect" "$k" c
expect "the options without a command" "--help${nl}--version" "$k" --
expect "an option of the command" "--company" "$k" check --co
expect "--simulator where the command takes it" "--simulator" "$k" ports --sim
expect "no --simulator where it does not" "" "$k" check --sim
expect "--json where the command takes it" "--json" "$k" inspect --js
expect "no --json where it does not" "" "$k" pack --js
expect "a command's own options" "--yes" "$k" update demo.kfw --y
expect "a short form of one" "-y" "$k" update demo.kfw -y
expect "the other short answer" "-n" "$k" update demo.kfw -n
expect "no short answer where the command asks nothing" "" "$k" connect -y
expect "the program found on PATH" "inspect" kfwupdate ins
expect "an image file, and folders" "demo.kfw${nl}folder" "$k" update ""
expect "an image file by its prefix" "demo.kfw" "$k" inspect d
expect "an image file after an option's value" "demo.kfw" "$k" check --company 0x21 d
expect "one image file only" "" "$k" check demo.kfw ""
expect "any file for the trace" "notes.txt" "$k" check --trace-file n
expect "the simulated module, asked for" 'Simulated\ QX-412' "$k" connect --simulator --in Sim
expect "the simulated module's short name" "sim" "$k" update demo.kfw --out s
expect "no simulated module unless asked for" "" "$k" connect --in Sim
expect "a port name inside an opened quote" "Simulated QX-412" \
    "$k" connect --simulator --in '"Sim'
expect "a port name after --out=" 'Simulated\ QX-412' "$k" connect --simulator --out = Sim
expect "a port name with colons" 'Midi\ Through\ Port-0\ 14:0' \
    "$stub" connect --in 'Midi\ Through' : Mi
expect "a port name with quotes and a dollar" 'Odd\ \"name\"\ \$HOME' "$stub" connect --in Od
expect "the same inside double quotes" 'Odd \"name\" \$HOME' "$stub" connect --in '"Od'
expect "each list for its option" "" "$stub" connect --out Od
expect "the simulator's kinds of port" "jack" "$k" simulate --in j
expect "pack: the output file" "demo.kfw" "$k" pack d
expect "pack: the records after it" "delay:" "$k" pack out.kfw de
expect "pack: records that take no argument" "end" "$k" pack out.kfw delay:20 e

if ((failures)); then
    echo "$failures case(s) failed"
    exit 1
fi
