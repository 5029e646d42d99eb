#!/bin/sh
# The real program under Xvfb with a window manager, driven as an operator
# would drive it:
#   window_xvfb.sh close  <program> <scripts folder>
#       closing the window (Alt+F4) in the middle of a run ends the program
#       as "Sair" does: status 0, no temporary or partial file, no record of
#       a completed run.
#   window_xvfb.sh drives <program> <scripts folder>
#       the window is centred by its outer size; a stick (an ext2 loop
#       volume) plugged in while the program runs is offered and takes a
#       backup; pulled out, a run into it fails with 68 and nothing lands in
#       its old folder; plugged in again, it is chosen again and takes the
#       next backup.
#   window_xvfb.sh scale <program> <scripts folder>
#       with QT_SCALE_FACTOR=2 on a 1024 x 768 screen the window, title bar
#       included, is inside the screen and centred on it.
#   window_xvfb.sh access <program> <scripts folder>
#       a screen reader's view (AT-SPI, on a session bus of its own) names
#       every list and text box, source and destination apart.
# Skips (77) where a tool is missing, the X server or the window manager
# cannot start, a loop volume cannot be mounted, or the accessibility bus
# cannot start. With SHOT=file.png a
# failure saves a screenshot of the display (ImageMagick's import).
set -eu

# Client-area places of the controls, in pixels.
DRIVE2="288 19"
DIR2_FIRST_ROW="288 47"
COPIAR="464 224"
SAIR="464 248"

fail() {
    [ -z "${SHOT:-}" ] || import -window root "$SHOT" || true
    echo "FALHA: $*"
    [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
    exit 1
}

# wait_until <tenths of a second> <what it waits for> <command...>
wait_until() {
    limit=$1
    what=$2
    shift 2
    for _ in $(seq "$limit"); do
        "$@" && return 0
        sleep 0.1
    done
    fail "$what"
}

visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
main_is_up() {
    main=$(visible 'pias de Segur')
    [ -n "$main" ] && [ -z "$(visible '^Pelivor$')" ]
}
box_shown() { [ -n "$(visible 'Erro de C')" ]; }
running() { kill -0 "$pid" 2>/dev/null; }
ended() { ! running; }
click() { xdotool mousemove --window "$main" $1 click 1; }
log_has() { grep -q "$1" "$work/DADOS/Log.txt" 2>/dev/null; }
log_count() { grep -c "$1" "$work/DADOS/Log.txt" 2>/dev/null || true; }

start_program() {
    cd "$work/DADOS"
    QT_QPA_PLATFORM=xcb ./pelivor 2>"$work/stderr" &
    pid=$!
    cd - >/dev/null
    wait_until 600 "a janela principal não apareceu" main_is_up
}

# Opens a folder in the destination list by typing its name: from the drive
# root, one component after the other.
open_in_dir2() {
    click "$DIR2_FIRST_ROW"
    for part in $(echo "$1" | tr '/' ' '); do
        xdotool type --delay 20 "$part"
        xdotool key Return
    done
}

# The outer rectangle of the main window is centred on the screen
# ($screen_w x $screen_h), so wholly on it where it fits.
centred() {
    info=$(xwininfo -id "$main")
    x=$(echo "$info" | sed -n 's/.*Absolute upper-left X: *//p')
    y=$(echo "$info" | sed -n 's/.*Absolute upper-left Y: *//p')
    w=$(echo "$info" | sed -n 's/.*Width: *//p')
    h=$(echo "$info" | sed -n 's/.*Height: *//p')
    set -- $(xprop -id "$main" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr ',' ' ')
    [ $# -eq 4 ] || return 1
    outer_x=$((x - $1))
    outer_y=$((y - $3))
    outer_w=$((w + $1 + $2))
    outer_h=$((h + $3 + $4))
    geometry="${outer_w}x${outer_h}+${outer_x}+${outer_y}"
    [ $((2 * outer_x + outer_w - screen_w)) -ge -1 ] && [ $((2 * outer_x + outer_w - screen_w)) -le 1 ] &&
        [ $((2 * outer_y + outer_h - screen_h)) -ge -1 ] && [ $((2 * outer_y + outer_h - screen_h)) -le 1 ]
}

inside_screen() {
    centred && [ "$outer_x" -ge 0 ] && [ "$outer_y" -ge 0 ] &&
        [ $((outer_x + outer_w)) -le "$screen_w" ] && [ $((outer_y + outer_h)) -le "$screen_h" ]
}

close_mid_run() {
    start_program
    open_in_dir2 "$work/BACKUP"
    click "$COPIAR"
    xdotool key alt+F4
    wait_until 300 "fechar a janela durante a cópia não encerrou o programa" ended
    status=0
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "o programa saiu com $status"
    copy="$work/BACKUP$work/DADOS"
    [ -d "$copy" ] || fail "a cópia não tinha começado ao fechar a janela"
    arrived=$(find "$copy" -type f | wc -l)
    total=$(find "$work/DADOS" -type f | wc -l)
    [ "$arrived" -lt "$total" ] || fail "a cópia terminou antes de a janela fechar ($arrived arquivos)"
    [ -z "$(find "$work/BACKUP" -name '.pelivor-*.tmp')" ] || fail "ficou um arquivo temporário"
    differ=$(diff -r "$work/DADOS" "$copy" | grep -v '^Only in' || true)
    [ -z "$differ" ] || fail "arquivo incompleto no destino: $differ"
    log_has Atualizada && fail "o registro diz que a cópia terminou"
    echo "fechar a janela no meio da cópia encerrou o programa como \"Sair\" ($arrived de $total arquivos)"
}

drives_come_and_go() {
    start_program
    wait_until 100 "a janela não ficou centrada pelo tamanho externo" centred
    echo "janela centrada pelo tamanho externo: $geometry"

    # Plugged in: offered at the end of the list, chosen, a backup lands on it.
    mount -o loop "$work/pen.img" "$work/pen"
    mkdir "$work/pen/BACKUP"
    click "$DRIVE2"
    xdotool key End Return
    open_in_dir2 BACKUP
    click "$COPIAR"
    wait_until 300 "a cópia para o pendrive não terminou" log_has Atualizada
    [ -f "$work/pen/BACKUP$work/DADOS/SISTEMA.INI" ] || fail "a cópia não está no pendrive"
    echo "pendrive conectado com o programa aberto: oferecido, escolhido, cópia feita"

    # Pulled out: the run into it fails with 68, its old folder stays empty.
    umount "$work/pen"
    click "$COPIAR"
    wait_until 300 "a mensagem de erro não apareceu" box_shown
    xdotool key Return
    wait_until 100 "a cópia para o pendrive retirado não falhou com 68" log_has 'cópia. 68'
    [ -z "$(ls -A "$work/pen")" ] || fail "a cópia caiu no disco interno: $(ls -A "$work/pen")"
    echo "pendrive retirado: erro 68, nada gravado na pasta antiga"

    # Back in: the same letter, chosen again from the list, takes the next run.
    mount -o loop "$work/pen.img" "$work/pen"
    click "$DRIVE2"
    xdotool key Return
    open_in_dir2 BACKUP
    click "$COPIAR"
    wait_until 300 "a segunda cópia para o pendrive não terminou" \
        test "$(log_count Atualizada)" -ge 2
    echo "pendrive reconectado: a mesma unidade, escolhida de novo, recebeu a cópia"

    click "$SAIR"
    wait_until 100 "\"Sair\" não encerrou o programa" ended
}

# At twice the scale the window is larger than a 1024 x 768 screen: it
# shrinks to fit, title bar included.
on_screen_at_scale() {
    QT_SCALE_FACTOR=2 start_program
    wait_until 100 "a janela não coube inteira, centrada, na tela de ${screen_w}x$screen_h" \
        inside_screen
    echo "com QT_SCALE_FACTOR=2 a janela coube na tela de ${screen_w}x$screen_h: $geometry"
    kill "$pid"
}

accessible_names() {
    cd "$work/DADOS"
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb ./pelivor 2>"$work/stderr" &
    pid=$!
    cd - >/dev/null
    status=0
    /usr/bin/python3 "$tests/atspi_names.py" || status=$?
    kill "$pid" 2>/dev/null
    [ "$status" -eq 0 ] || exit "$status"
}

if [ "${1:-}" = --inside ]; then
    mode=$2
    work=$3
    tests=$4
    screen_w=${5%x*}
    screen_h=${5#*x}
    pid=""
    case $mode in
    close) close_mid_run ;;
    drives) drives_come_and_go ;;
    scale) on_screen_at_scale ;;
    access) accessible_names ;;
    esac
    exit 0
fi

mode=$1
program=$(realpath "$2")
scripts=$(realpath "$3")
for tool in Xvfb xauth xdotool openbox xprop xwininfo; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool não está instalado (scripts/install-deps o instala)"
        exit 77
    fi
done
work=$(mktemp -d)
# What the program remembers between runs stays with this test.
export XDG_CONFIG_HOME="$work/config"
cleanup() {
    mountpoint -q "$work/pen" 2>/dev/null && { umount "$work/pen" || umount -l "$work/pen"; }
    rm -rf "$work"
}
trap cleanup EXIT
sh "$scripts/demo" "$work/DADOS" "$program"
screen=800x600

case $mode in
close)
    # Enough files for the run to last while the window is closed.
    mkdir "$work/DADOS/MUITOS"
    (cd "$work/DADOS/MUITOS" && for i in $(seq 20000); do echo "registro $i" >"R$i.DAT"; done)
    ;;
drives)
    if ! command -v mkfs.ext2 >/dev/null; then
        echo "SKIP: mkfs.ext2 não está instalado (scripts/install-deps o instala)"
        exit 77
    fi
    # Room for a copy of the program folder, the program included.
    truncate -s "$(($(stat -c %s "$program") / 1048576 + 32))M" "$work/pen.img"
    mkfs.ext2 -q -F -L PEN "$work/pen.img"
    mkdir "$work/pen"
    if ! error=$(mount -o loop "$work/pen.img" "$work/pen" 2>&1); then
        echo "SKIP: um volume loop não pode ser montado aqui: $error"
        exit 77
    fi
    umount "$work/pen"
    ;;
scale)
    screen=1024x768
    ;;
access)
    for tool in dbus-run-session /usr/libexec/at-spi-bus-launcher; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool não está instalado (scripts/install-deps o instala)"
            exit 77
        fi
    done
    # The session bus of this test alone, on which the accessibility bus starts.
    session="dbus-run-session --"
    ;;
*)
    echo "uso: window_xvfb.sh close|drives|scale|access <programa> <pasta scripts>"
    exit 2
    ;;
esac

status=0
sh "$scripts/with-xvfb" --wm --screen "$screen" ${session:-} sh "$(realpath "$0")" --inside "$mode" \
    "$work" "$(dirname "$(realpath "$0")")" "$screen" >"$work/out" 2>&1 || status=$?
[ "$status" -eq 77 ] && printf 'SKIP: '
cat "$work/out"
exit "$status"
