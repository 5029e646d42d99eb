#!/bin/sh
# The real program under Xvfb, started from a demo application folder: the
# splash "Pelivor" comes first, then the window "Cópias de Segurança" while
# the splash goes; a click on "Sair" ends the program with status 0.
#   smoke_xvfb.sh <program> <scripts folder>
set -eu

if [ "${1:-}" = --inside ]; then
    cd "$2"
    QT_QPA_PLATFORM=xcb ./pelivor &
    pid=$!
    fail() {
        echo "FALHA: $*"
        kill "$pid" 2>/dev/null || true
        exit 1
    }
    visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }

    splash_seen=""
    main=""
    for _ in $(seq 600); do # 60 s
        main=$(visible 'pias de Segur')
        [ -n "$main" ] && break
        [ -n "$(visible '^Pelivor$')" ] && splash_seen=yes
        kill -0 "$pid" 2>/dev/null || fail "o programa terminou antes da janela principal"
        sleep 0.1
    done
    [ -n "$main" ] || fail "a janela principal não apareceu"
    [ -n "$splash_seen" ] || fail "a janela principal veio sem a tela de abertura antes dela"
    echo "tela de abertura, depois a janela principal"

    for _ in $(seq 100); do
        [ -z "$(visible '^Pelivor$')" ] && break
        sleep 0.1
    done
    [ -z "$(visible '^Pelivor$')" ] || fail "a tela de abertura ficou na tela"

    # "Sair", at the middle of its button.
    xdotool mousemove --window "$main" 464 248 click 1
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && fail "\"Sair\" não encerrou o programa"
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "o programa saiu com $status"
    echo "\"Sair\" encerrou o programa"
    exit 0
fi

program=$(realpath "$1")
scripts=$(realpath "$2")
for tool in Xvfb xauth xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool não está instalado (scripts/install-deps o instala)"
        exit 77
    fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sh "$scripts/demo" "$work/DADOS" "$program"
status=0
sh "$scripts/with-xvfb" sh "$(realpath "$0")" --inside "$work/DADOS" >"$work/out" 2>&1 || status=$?
[ "$status" -eq 77 ] && printf 'SKIP: '
cat "$work/out"
exit "$status"
