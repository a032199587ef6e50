#!/usr/bin/env bash
# Records the program sessions of this folder (*.rec) once: each program
# runs on an 80x24 pseudo terminal (a tmux pane) as xterm-256color in a
# UTF-8 locale, under script(1), driven by keys; what the program wrote is
# the recording (script's own first and last lines cut off). The tests
# replay the files; this script is kept to show how they were made, not
# run by the tests.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
sock=corvane-record-$$
trap 'tmux -L "$sock" kill-server 2>/dev/null || true; rm -rf "$work"' EXIT
export TERM=xterm-256color LANG=C.UTF-8 LC_ALL=C.UTF-8 HOME="$work"

t() { tmux -L "$sock" -f /dev/null "$@"; }

# record NAME COMMAND: starts COMMAND under script in a fresh pane.
record() {
  t new-session -d -x 80 -y 24 -s rec "script -q -f -c '$2' '$work/$1.raw'"
  sleep 1.5
}

# keys KEYS...: tmux send-keys with a pause after each.
keys() {
  for k in "$@"; do
    t send-keys -t rec "$k"
    sleep 0.4
  done
}

# finish NAME: ends the pane and keeps the recording.
finish() {
  sleep 0.8
  t kill-session -t rec
  sleep 0.3
  python3 - "$work/$1.raw" "$here/$1.rec" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
data = data[data.index(b'\n') + 1:]
end = data.rfind(b'\nScript done')
if end >= 0:
    data = data[:end]
open(sys.argv[2], 'wb').write(data)
PY
}

cp "$here/../../../../outside/corvane/vtparser.h" "$work/sample.h"
printf 'alpha\nbeta\ngamma\n' > "$work/list.txt"
seq 1 400 | sed 's/^/line /' > "$work/numbers.txt"

# vim: a C header with syntax colours, moving, searching, editing.
record vim "vim -u DEFAULTS -i NONE --noplugin $work/sample.h"
keys j j j j j j j j C-f C-f / S T A T E Enter n o
t send-keys -t rec -l "    int added = 1; // typed"
sleep 0.4
keys Escape : s e t Space n u Enter C-b k k
finish vim

# less: paging forward and back, a search with highlights.
record less "less $work/numbers.txt"
keys Space Space b / 1 2 Enter n G g j j
finish less

# htop: the meters and its own process, refreshed, then the tree view.
record htop "htop -d 5 -F htop"
sleep 1.5
keys t
sleep 1
finish htop

# mc: both panels, moving in them, a menu.
record mc "mc -u -X $work $work"
sleep 3
keys Down Down Tab Down Down F9 Right Right
sleep 1
finish mc

# A shell with colours: a coloured prompt, ls, grep, a colour table.
record shell "bash --norc --noprofile -i"
t send-keys -t rec -l "PS1='\\[\\e[1;32m\\]user@host\\[\\e[0m\\]:\\[\\e[1;34m\\]\\w\\[\\e[0m\\]\\$ '"
keys Enter
t send-keys -t rec -l "cd $work && ls --color=always -la / | head -12"
keys Enter
t send-keys -t rec -l "grep --color=always -n -e beta -e gam list.txt"
keys Enter
t send-keys -t rec -l 'for i in 0 1 2 3 4 5 6 7; do printf "\e[4%dm  \e[10%dm  \e[0m \e[38;5;%dmX\e[1;3%dmB\e[0m " $i $i $((i*30+16)) $i; done; echo'
keys Enter
t send-keys -t rec -l 'printf "\e[1mbold\e[0m \e[4munder\e[0m \e[7minverse\e[0m \e[2mdim\e[0m \e[38;2;255;128;0mtrue\e[0m\n"'
keys Enter
finish shell
