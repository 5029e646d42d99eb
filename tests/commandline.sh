#!/bin/sh
# The program's command line: --help and --version print and end without a
# window, other arguments are refused, and a start without a display ends
# with one line and status 1 instead of Qt's abort; offscreen it still starts.
#   commandline.sh <pelivor>
set -eu
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# check STATUS STREAM WORDS ENV... -- ARGS...: the program's status, and one
# line on STREAM (out or err) that says WORDS, nothing on the other.
check() {
    expected=$1
    stream=$2
    words=$3
    shift 3
    vars=""
    while [ "$1" != -- ]; do
        vars="$vars $1"
        shift
    done
    shift
    status=0
    # shellcheck disable=SC2086
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM $vars "$program" "$@" \
        >"$work/out" 2>"$work/err" || status=$?
    other=out
    [ "$stream" = out ] && other=err
    if [ "$status" != "$expected" ] || ! grep -q "$words" "$work/$stream" ||
        [ -s "$work/$other" ]; then
        echo "FALHA: pelivor $*$vars: saiu com $status (esperado $expected, \"$words\"):"
        sed 's/^/    /' "$work/out" "$work/err"
        failures=$((failures + 1))
    elif [ "$stream" = err ] && [ "$(wc -l <"$work/err")" != 1 ]; then
        echo "FALHA: pelivor $*$vars: mais de uma linha: $(cat "$work/err")"
        failures=$((failures + 1))
    fi
}

check 0 out "^Uso: pelivor \[opções\]" -- --help
check 0 out "^  -v, --version" -- -h
check 0 out "^pelivor [0-9]" -- --version
check 2 err "opção desconhecida: --copiar" -- --copiar
check 2 err "falta o valor de --copiar-para" -- --copiar-para
check 2 err "linha de comando inválida" -- --help=sim
check 2 err "argumento inesperado: D:" -- 'D:\BACKUP'
check 1 err "não há tela gráfica" --
check 1 err "não há tela gráfica" QT_QPA_PLATFORM=xcb --
check 1 err "não foi possível abrir a tela nenhuma" QT_QPA_PLATFORM=xcb DISPLAY=nenhuma --

# Offscreen the window system is there: the program starts and stays up.
mkdir "$work/DADOS"
cp "$program" "$work/DADOS/pelivor"
(cd "$work/DADOS" && QT_QPA_PLATFORM=offscreen exec ./pelivor >"$work/out" 2>&1) &
pid=$!
sleep 2
if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    wait "$pid" 2>/dev/null || true
else
    status=0
    wait "$pid" || status=$?
    echo "FALHA: offscreen o programa terminou com $status: $(cat "$work/out")"
    failures=$((failures + 1))
fi

[ "$failures" = 0 ] || exit 1
echo "linha de comando e início sem tela: ok"
