#!/bin/sh
# The nightly schedule of pelivor-instalar as systemd reads it: every unit
# passes systemd-analyze verify, whatever the folder's name; the options
# reach the service; a destination that is not there is refused; a timer
# that cannot be enabled is a failure; the linger command; the unit started
# on a failure names it, on the desktop through a session bus where a
# display is set; --remover takes every unit away; and the README's blocks,
# run as written, give the same units and runs.
#   agendar.sh <pelivor-instalar> <pelivor> <README.md>
# Skipped (77) without systemd-analyze.
set -eu
instalar=$1
program=$2
readme=$3

if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: falta systemd-analyze (pacote systemd)"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/xdg"
unset XDG_CONFIG_HOME XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS
units="$HOME/.config/systemd/user"
true_program=$(dirname "$(command -v sleep)")/true
failures=0
fail() {
    echo "FALHA: $*"
    failures=$((failures + 1))
}

# A systemctl that answers as a user service manager would, with the
# status in $work/systemctl.status, logging what it was asked.
mkdir -p "$work/stubs" "$HOME"
cat >"$work/stubs/systemctl" <<EOF
#!/bin/sh
echo "\$*" >>"$work/systemctl.log"
[ "\$(cat "$work/systemctl.status")" = 0 ] || { echo "Failed to connect to bus: No medium found" >&2; exit 1; }
EOF
chmod +x "$work/stubs/systemctl"
echo 0 >"$work/systemctl.status"
stubbed_path="$work/stubs:$PATH"

# run STATUS ARGS...: pelivor-instalar with the stub systemctl.
run() {
    expected=$1
    shift
    status=0
    PATH=$stubbed_path "$instalar" "$@" >"$work/out" 2>"$work/err" || status=$?
    if [ "$status" != "$expected" ]; then
        fail "pelivor-instalar $*: saiu com $status, esperado $expected: $(cat "$work/err" "$work/out")"
        return 1
    fi
}
service_of() { ls "$units"/pelivor-"$1"-????????.service 2>/dev/null || true; }
# The service, its timer and the unit started on its failure.
analyze() {
    systemd-analyze verify --man=no "$1" "${1%.service}.timer" "${1%.service}-falha.service" \
        >"$work/analyze" 2>&1 || fail "systemd-analyze recusou $1: $(cat "$work/analyze")"
}

dest="$work/backup"
mkdir "$dest"

# Names that systemd reads as it reads no other: "$" (a variable only in
# arguments), "%" (a specifier everywhere), quotes and "'" (refused in a
# program's path), a blank at the end (lost from a value). Each service
# passes systemd-analyze verify, which also finds the program it starts.
for name in 'APP' 'Preço $HOME' "Loja d'Água \$1 \"x\" %u \`y\`" 'Fim ' 'cem%'; do
    mkdir "$work/$name"
    run 0 --agendar "$dest" 22:30 --modelo "$true_program" "$work/$name" || continue
    service=$units/$(sed -n 's/^Unidades: \([^,]*\), .*/\1/p' "$work/out")
    analyze "$service"
    for unit in "$service" "${service%.service}-falha.service"; do
        grep -qxF "SyslogIdentifier=pelivor" "$unit" || fail "sem SyslogIdentifier: $unit"
    done
    grep -qxF "OnFailure=$(basename "${service%.service}")-falha.service" "$service" ||
        fail "sem OnFailure: $service"
done
for line in "WorkingDirectory=$work/APP" "ExecStart=\"$work/APP/pelivor\" --copiar-para \"$dest\""; do
    grep -qxF "$line" "$(service_of APP)" || fail "falta no serviço: $line"
done
grep -qxF "ExecStart=\"$work/Preço \$HOME/pelivor\" --copiar-para \"$dest\"" "$(service_of Pre_o__HOME)" ||
    fail "ExecStart da pasta com \$"
grep -qxF "ExecStart=/usr/bin/env -C \"$work/Loja d'Água \$\$1 \\\"x\\\" %%u \`y\`\" ./pelivor --copiar-para \"$dest\"" \
    "$(service_of Loja_d__gua__1__x___u__y_)" || fail "ExecStart da pasta de nome difícil"
grep -q '^ExecStart=/usr/bin/env -C ".*/Fim " ./pelivor' "$(service_of Fim_)" ||
    fail "ExecStart da pasta com branco no fim"
notice_of() { ls "$units"/pelivor-"$1"-????????-falha.service 2>/dev/null || true; }
grep -qxF "ExecStart=\"$work/APP/pelivor\" --avisar-falha" "$(notice_of APP)" ||
    fail "ExecStart do aviso de falha"
grep -qxF "ExecStart=/usr/bin/env -C \"$work/Loja d'Água \$\$1 \\\"x\\\" %%u \`y\`\" ./pelivor --avisar-falha" \
    "$(notice_of Loja_d__gua__1__x___u__y_)" || fail "ExecStart do aviso na pasta de nome difícil"

# A destination whose name holds a line feed and a tab stays one word of
# one line, which systemd unescapes.
odd="$work/$(printf 'destino\nNice=-20\tfim')"
mkdir "$odd"
if run 0 --agendar "$odd" 22:30 --modelo "$true_program" "$work/APP"; then
    analyze "$(service_of APP)"
    grep -qxF "ExecStart=\"$work/APP/pelivor\" --copiar-para \"$work/destino\\x0aNice=-20\\x09fim\"" \
        "$(service_of APP)" || fail "ExecStart do destino com quebra de linha: $(grep ExecStart "$(service_of APP)")"
fi

# The unit names, the enabling, and where to look afterwards.
run 0 --agendar "$dest" 02:05 --modelo "$true_program" "$work/APP"
unit=$(basename "$(service_of APP)" .service)
grep -qxF "Unidades: $unit.service, $unit.timer e $unit-falha.service" "$work/out" &&
    grep -qxF -- "--user enable --now $unit.timer" "$work/systemctl.log" &&
    grep -q "Cópia agendada todo dia às 02:05; situação: systemctl --user status $unit.service" "$work/out" ||
    fail "--agendar: unidades ou ativação: $(cat "$work/out")"
grep -qxF "OnCalendar=*-*-* 02:05:00" "$units/$unit.timer" || fail "a hora nova não foi gravada"

# A timer that is not enabled never runs: status 1, why, and how.
echo 1 >"$work/systemctl.status"
run 1 --agendar "$dest" 02:05 --modelo "$true_program" "$work/APP" &&
    grep -q "não foi ativado.*Failed to connect to bus.*systemctl --user enable --now $unit.timer" \
        "$work/err" || fail "ativação recusada: $(cat "$work/err")"
echo 0 >"$work/systemctl.status"
status=0
"$instalar" --agendar "$dest" 02:05 --modelo "$true_program" "$work/APP" >"$work/out" 2>"$work/err" ||
    status=$?
[ "$status" = 1 ] || fail "sem gerenciador de serviços do usuário: saiu com $status"

# A removal that cannot reach the manager does not say it stopped the
# timer: status 1 and how; the link enabling made goes, with the units.
mkdir -p "$units/timers.target.wants"
ln -sf "../$unit.timer" "$units/timers.target.wants/$unit.timer"
echo 1 >"$work/systemctl.status"
run 1 --remover --modelo "$true_program" "$work/APP" &&
    grep -q "$unit.timer não foi parado.*Failed to connect to bus.*systemctl --user stop $unit.timer" \
        "$work/err" || fail "remoção sem gerenciador: $(cat "$work/err")"
[ ! -e "$units/timers.target.wants/$unit.timer" ] && [ ! -L "$units/timers.target.wants/$unit.timer" ] &&
    [ -z "$(ls "$units"/"$unit"* 2>/dev/null)" ] || fail "remoção sem gerenciador deixou: $(ls -R "$units")"
echo 0 >"$work/systemctl.status"
run 0 --agendar "$dest" 02:05 --modelo "$true_program" "$work/APP"

# Linger: the command when the user's services need a session, none when
# they do not.
user=$(id -un)
run 0 --agendar "$dest" 02:05 --modelo "$true_program" "$work/APP"
if [ -e "/var/lib/systemd/linger/$user" ]; then
    echo "SKIP: $user já roda serviços sem sessão; o comando de linger não foi visto"
else
    grep -qxF "Para a cópia rodar sem ninguém na sessão, uma vez: sudo loginctl enable-linger $user" \
        "$work/out" || fail "sem o comando de linger: $(cat "$work/out")"
fi
if unshare -m true 2>/dev/null && [ -d /var/lib/systemd ]; then
    unshare -m sh -c 'mount -t tmpfs linger /var/lib/systemd && mkdir /var/lib/systemd/linger &&
        touch "/var/lib/systemd/linger/$1" && shift && exec "$@"' sh "$user" env PATH="$stubbed_path" \
        "$instalar" --agendar "$dest" 02:05 --modelo "$true_program" "$work/APP" >"$work/out" 2>&1 &&
        ! grep -q "enable-linger" "$work/out" || fail "com linger, o comando ainda aparece"
fi

# Options and two places reach the service; a relative destination is taken
# from the current folder.
mkdir "$work/pen"
(cd "$work" && PATH=$stubbed_path "$instalar" --agendar "$dest" --agendar pen 22:30 --verificar \
    --rodizio --modelo "$true_program" "$work/APP") >"$work/out" 2>&1 || fail "dois destinos: $(cat "$work/out")"
grep -qxF "ExecStart=\"$work/APP/pelivor\" --copiar-para \"$dest\" --copiar-para \"$work/pen\" --verificar --rodizio" \
    "$(service_of APP)" || fail "ExecStart com dois destinos: $(grep ExecStart "$(service_of APP)")"
analyze "$(service_of APP)"

# A destination that is not there: refused before anything is placed,
# unless --criar makes it. A drive text is looked up as the program would.
mkdir "$work/NOVA"
before=$(ls "$units" | wc -l)
run 2 --agendar "$work/nada/backup" 22:30 --modelo "$true_program" "$work/NOVA" &&
    grep -q "o DESTINO $work/nada/backup não existe: crie-o, ou use --criar" "$work/err" &&
    [ ! -e "$work/NOVA/pelivor" ] && [ "$(ls "$units" | wc -l)" = "$before" ] ||
    fail "destino inexistente: $(cat "$work/err")"
run 2 --agendar 'Q:\BACKUP' 22:30 --modelo "$true_program" "$work/NOVA" ||
    fail "unidade inexistente"
run 0 --agendar "$work/nada/backup" 22:30 --criar --modelo "$true_program" "$work/NOVA" &&
    [ -d "$work/nada/backup" ] && grep -qxF "Pasta criada: $work/nada/backup" "$work/out" ||
    fail "--criar: $(cat "$work/out")"
drive_text="C:$(printf %s "$dest" | tr / '\\')"
run 0 --agendar "$drive_text" 22:30 --modelo "$true_program" "$work/NOVA" ||
    fail "destino com letra de unidade"
run 2 --verificar --modelo "$true_program" "$work/NOVA" || fail "--verificar sem --agendar"
run 2 --agendar "$dest" --agendar "$dest" --agendar "$dest" 22:30 "$work/NOVA" ||
    fail "três destinos"

# A run that failed names its failure, through the unit that systemd starts
# on it, run here as systemd runs it (its folder, its ExecStart, the failed
# run's status in MONITOR_EXIT_STATUS) after the service itself ran so: on
# standard output, the journal's, always; on the desktop, through the
# notification service of a session bus (a stub that records the call), only
# while a display is set. A status that tells little (1, a verification that
# found a file different) is named from the run's Log.txt record.
stub=$(dirname "$0")/notifications.py
if ! command -v dbus-run-session >/dev/null || ! command -v notify-send >/dev/null ||
    ! /usr/bin/python3 -c 'import dbus, gi' 2>/dev/null; then
    echo "SKIP: falta dbus-run-session, notify-send (libnotify-bin), python3-dbus ou python3-gi: o aviso de falha não foi visto"
else
    mkdir -p "$work/aviso/CAIXA" "$work/nas3"
    echo vendas >"$work/aviso/CAIXA/VENDAS.DBF"
    run 0 --agendar "$work/nas3" 22:30 --verificar --modelo "$program" "$work/aviso/CAIXA"
    # unit_start UNIT: runs it as systemd would; $status.
    unit_start() {
        status=0
        (cd "$(sed -n 's/^WorkingDirectory=//p' "$1")" &&
            eval "exec env -u DISPLAY -u WAYLAND_DISPLAY $(sed -n 's/^ExecStart=//p' "$1")") \
            >"$work/out" 2>"$work/err" || status=$?
    }
    # notice STATUS [DISPLAY]: the unit of the failure on a session bus with
    # the stub; $work/notified holds what the stub was asked.
    notice() {
        rm -f "$work/notified" "$work/notified.ready"
        MONITOR_EXIT_STATUS=$1 dbus-run-session -- sh -c '
            /usr/bin/python3 "$1" "$2" &
            for _ in $(seq 200); do [ -e "$2.ready" ] && break; sleep 0.05; done
            cd "$3" && eval "env -u DISPLAY -u WAYLAND_DISPLAY ${5:+DISPLAY=$5} $4"
            status=$?
            kill $!
            exit $status' sh "$stub" "$work/notified" \
            "$(sed -n 's/^WorkingDirectory=//p' "$(notice_of CAIXA)")" \
            "$(sed -n 's/^ExecStart=//p' "$(notice_of CAIXA)")" "${2:-}" >"$work/out" 2>"$work/err" ||
            fail "o aviso de falha saiu com $?: $(cat "$work/err")"
        touch "$work/notified"
    }
    rmdir "$work/nas3"
    unit_start "$(service_of CAIXA)"
    notice "$status" :0
    said="A cópia de segurança de CAIXA falhou: Caminho não encontrado (erro 76)"
    [ "$status" = 76 ] && [ "$(cat "$work/out")" = "$said" ] &&
        [ "$(cat "$work/notified")" = "Pelivor|pelivor|2|$said|Detalhes em Log.txt, na pasta do programa, e em journalctl --user -t pelivor." ] ||
        fail "aviso da falha 76 numa sessão gráfica: saiu com $status: $(cat "$work/out" "$work/notified")"
    notice 76
    [ "$(cat "$work/out")" = "$said" ] && [ ! -s "$work/notified" ] ||
        fail "aviso sem sessão gráfica: $(cat "$work/out" "$work/notified")"
    # A copy that went bad on the disk, its length and time kept: the nightly
    # copy passes it by and its verification fails with 1.
    mkdir "$work/nas3"
    unit_start "$(service_of CAIXA)"
    copy=$work/nas3$work/aviso/CAIXA/VENDAS.DBF
    echo VENDAS >"$copy"
    touch -r "$work/aviso/CAIXA/VENDAS.DBF" "$copy"
    unit_start "$(service_of CAIXA)"
    notice "$status" :0
    said="A cópia de segurança de CAIXA falhou: Verificação: 1 arquivo igual, 1 diferente, 0 ausentes"
    [ "$status" = 1 ] && [ "$(cat "$work/out")" = "$said" ] && grep -qF "|$said|" "$work/notified" ||
        fail "aviso da verificação que falhou: saiu com $status: $(cat "$work/out" "$work/notified")"
fi

# The README's units by hand are those --agendar writes for the same folder.
block() { # the sh block that follows the line matching $1
    awk -v start="$1" 'index($0, start) { found = 1 } found && /^```sh$/ { inside = 1; next }
        inside && /^```$/ { exit } inside { print }' "$readme"
}
rm -rf "$units"
mkdir -p "$work/srv/DADOS" "$work/nas"
cp "$true_program" "$work/srv/DADOS/pelivor"
block "**With a systemd timer.**" |
    sed "s|^APP=.*|APP=$work/srv/DADOS|; s|^DEST=.*|DEST=$work/nas|" >"$work/by-hand.sh"
PATH=$stubbed_path sh -e "$work/by-hand.sh" >/dev/null 2>&1 || fail "o bloco do README falhou"
mv "$units" "$work/by-hand"
run 0 --agendar "$work/nas" 22:30 --modelo "$true_program" "$work/srv/DADOS"
diff -r "$work/by-hand" "$units" >"$work/diff" || fail "o README e --agendar diferem: $(cat "$work/diff")"

# The README's nightly run with two places, rotation and verification, run
# as written: both copies in the day's folders, verified, and scheduled.
mkdir -p "$work/loja/DADOS/VENDAS" "$work/nas2" "$work/pen2" "$work/bin"
cp "$program" "$work/loja/DADOS/pelivor"
echo vendas >"$work/loja/DADOS/VENDAS/2026.DBF"
printf '#!/bin/sh\nexec "%s" --modelo "%s" "$@"\n' "$instalar" "$program" >"$work/bin/pelivor-instalar"
chmod +x "$work/bin/pelivor-instalar"
block "## Verificar e guardar em dois lugares" |
    sed "s|^APP=.*|APP=$work/loja/DADOS|; s|^NAS=.*|NAS=$work/nas2|; s|^STICK=.*|STICK=$work/pen2|" \
        >"$work/two.sh"
status=0
(PATH="$work/bin:$stubbed_path" env -u DISPLAY -u WAYLAND_DISPLAY sh -e "$work/two.sh") \
    >"$work/out" 2>&1 || status=$?
day=$(echo "Segunda Terça Quarta Quinta Sexta Sábado Domingo" | cut -d' ' -f "$(date +%u)")
if [ "$status" != 0 ] || [ "$(grep -c '^saída: 0$' "$work/out")" != 2 ] ||
    [ "$(cat "$work/nas2/$day$work/loja/DADOS/VENDAS/2026.DBF")" != vendas ] ||
    [ "$(cat "$work/pen2/$day$work/loja/DADOS/VENDAS/2026.DBF")" != vendas ] ||
    [ "$(grep -c '^Verificação: 2 arquivos iguais, 0 diferentes, 0 ausentes' "$work/loja/DADOS/Log.txt")" != 3 ] ||
    ! grep -q -- "--copiar-para \"$work/nas2\" --copiar-para \"$work/pen2\" --verificar --rodizio$" \
        "$units"/pelivor-DADOS-*.service; then
    fail "o bloco de dois lugares do README: saiu com $status: $(cat "$work/out")"
fi

[ "$failures" = 0 ] || exit 1
echo "agendar: nomes, opções, destinos, ativação, linger e o README: ok"
