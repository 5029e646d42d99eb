#!/bin/sh
# pelivor-instalar on real scratch folders: placing and the launcher,
# replacing (refused while the placed copy runs), the refused folders and
# command lines, removing. Copies of sleep and true stand in for the program,
# so a placed copy can be kept running.
#   instalar.sh <pelivor-instalar>
set -eu
instalar=$1

if ! command -v desktop-file-validate >/dev/null; then
    echo "SKIP: falta desktop-file-validate (pacote desktop-file-utils)"
    exit 77
fi

work=$(mktemp -d)
running=""
cleanup() {
    if [ -n "$running" ]; then
        kill "$running" 2>/dev/null || true
    fi
    if mountpoint -q "$work/rede" 2>/dev/null; then
        umount "$work/rede"
    fi
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_DATA_HOME="$work/xdg"
apps="$XDG_DATA_HOME/applications"
sleep_program=$(command -v sleep)
true_program=$(dirname "$sleep_program")/true
failures=0

fail() {
    echo "FALHA: $*"
    failures=$((failures + 1))
}

# run STATUS ARGS...: one call, its output in $work/out and $work/err.
run() {
    expected=$1
    shift
    status=0
    "$instalar" "$@" >"$work/out" 2>"$work/err" || status=$?
    if [ "$status" != "$expected" ]; then
        fail "pelivor-instalar $*: saiu com $status, esperado $expected: $(cat "$work/err" "$work/out")"
        return 1
    fi
}

# refused STATUS WORDS ARGS...: one line on standard error that says WORDS.
refused() {
    expected=$1
    words=$2
    shift 2
    run "$expected" "$@" || return 0
    [ "$(wc -l <"$work/err")" = 1 ] && grep -q "$words" "$work/err" ||
        fail "pelivor-instalar $*: esperada uma linha com \"$words\": $(cat "$work/err")"
}

launcher_of() { ls "$apps"/pelivor-"$1"-*.desktop 2>/dev/null || true; }

# Placing: the program, executable, with no temporary file beside it, and a
# launcher that a desktop reads.
app="$work/APP"
mkdir "$app"
if run 0 --modelo "$sleep_program" "$app"; then
    cmp -s "$app/pelivor" "$sleep_program" || fail "a cópia colocada difere do modelo"
    [ -x "$app/pelivor" ] || fail "a cópia colocada não é executável"
    [ "$(ls -A "$app")" = pelivor ] || fail "sobrou outro arquivo na pasta: $(ls -A "$app")"
    launcher=$(launcher_of APP)
    if [ -z "$launcher" ]; then
        fail "nenhum lançador em $apps"
    else
        desktop-file-validate "$launcher" || fail "o lançador não é válido"
        for line in "Type=Application" "Name=Cópia de Segurança – APP" "Icon=pelivor" \
            "Exec=\"$app/pelivor\"" "Path=$app" "Categories=Utility;Archiving;"; do
            grep -qxF "$line" "$launcher" || fail "falta no lançador: $line"
        done
    fi
fi

# A folder name with blanks, quotes and the characters a launcher escapes.
odd="$work/Loja d'Água \$1 \"x\" %u \`y\`"
mkdir "$odd"
if run 0 --modelo "$true_program" "$odd"; then
    launcher=$(launcher_of 'Loja_d__gua__1__x___u__y_')
    desktop-file-validate "$launcher" || fail "o lançador da pasta de nome difícil não é válido"
    for line in "Name=Cópia de Segurança – Loja d'Água \$1 \"x\" %u \`y\`" \
        "Exec=\"$work/Loja d'Água \\\\\$1 \\\\\"x\\\\\" %%u \\\\\`y\\\\\`/pelivor\"" \
        "Path=$odd"; do
        grep -qxF "$line" "$launcher" || fail "falta no lançador: $line"
    done
fi

# Replacing: refused while the placed copy runs, done once it has ended.
"$app/pelivor" 60 &
running=$!
for _ in $(seq 100); do
    [ "$(readlink "/proc/$running/exe")" = "$app/pelivor" ] && break
    sleep 0.05
done
refused 1 "em execução" --modelo "$true_program" "$app"
cmp -s "$app/pelivor" "$sleep_program" || fail "a cópia em execução foi substituída"
refused 1 "em execução" --remover "$app"
[ -e "$app/pelivor" ] || fail "a cópia em execução foi removida"
kill "$running"
wait "$running" 2>/dev/null || true
running=""
if run 0 --modelo "$true_program" "$app"; then
    cmp -s "$app/pelivor" "$true_program" || fail "a cópia anterior não foi substituída"
    [ "$(launcher_of APP | wc -l)" = 1 ] || fail "mais de um lançador para a mesma pasta"
fi

# Folders refused with status 2 and one line each; nothing written for them.
mkdir "$work/A\\B" "$work/$(printf 'linha\nnova')"
touch "$work/ARQ"
before=$(ls "$apps" | wc -l)
refused 2 "não existe" "$work/NADA"
refused 2 "não é uma pasta" "$work/ARQ"
refused 2 'tem "\\" num nome' "$work/A\\B"
refused 2 "caracteres de controle" "$work/$(printf 'linha\nnova')"
for system in / /usr /usr/bin /usr/share/doc /usr/local /usr/local/bin /etc /etc/ssl /var \
    /var/lib /boot /dev /proc/self /sys /run /tmp /home /root /opt /srv /mnt /lib /lib64; do
    if [ -d "$system" ]; then
        refused 2 "pasta do sistema" "$system"
    fi
done
[ "$(ls "$apps" | wc -l)" = "$before" ] || fail "uma pasta recusada ganhou um lançador"

# A folder reached through the desktop's network-browsing bridge has no
# drive letter: a FUSE volume of its type stands in for it.
if ! command -v fusefat >/dev/null || ! command -v mkfs.fat >/dev/null; then
    echo "SKIP: pasta de rede: faltam fusefat e mkfs.fat (pacotes fusefat, dosfstools)"
else
    truncate -s 4M "$work/rede.img"
    mkfs.fat "$work/rede.img" >/dev/null
    mkdir "$work/rede"
    if fusefat -o rw+,subtype=gvfsd-fuse "$work/rede.img" "$work/rede" >"$work/fuse" 2>&1; then
        mkdir "$work/rede/APP"
        refused 2 "pasta de rede sem letra" "$work/rede/APP"
        umount "$work/rede"
    else
        echo "SKIP: pasta de rede: o volume FUSE não montou: $(tail -n 1 "$work/fuse")"
    fi
fi

# Command lines refused with status 2; failures with status 1.
refused 2 "falta a PASTA"
refused 2 "uma PASTA por vez" "$app" "$odd"
refused 2 "opção desconhecida" --apagar "$app"
refused 2 "modelo" "$app" --modelo
refused 1 "modelo do programa não existe" --modelo "$work/NADA" "$app"
mkdir -p "$work/PASTA/pelivor"
refused 1 "não é o programa" --modelo "$true_program" "$work/PASTA"
run 0 --help && grep -q "^Uso: pelivor-instalar" "$work/out" || fail "--help sem o uso"
if command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
    cp "$instalar" "$work/instalar" && chmod 755 "$work" "$work/instalar"
    status=0
    setpriv --reuid=nobody --regid=nogroup --clear-groups "$work/instalar" --sistema "$app" \
        >/dev/null 2>"$work/err" || status=$?
    [ "$status" = 2 ] && grep -q "use sudo" "$work/err" ||
        fail "--sistema sem ser root: saiu com $status: $(cat "$work/err")"
fi

# --sistema writes the launcher for every user; a private mount namespace
# keeps the machine's own folder untouched.
if unshare -m true 2>/dev/null; then
    unshare -m sh -c '
        set -e
        mount -t tmpfs pelivor-teste /usr/local/share
        "$1" --sistema --modelo "$2" "$3" >/dev/null
        desktop-file-validate /usr/local/share/applications/pelivor-APP-*.desktop
        "$1" --sistema --remover "$3" >/dev/null
        [ -z "$(ls -A /usr/local/share/applications)" ]
    ' sh "$instalar" "$true_program" "$app" || fail "--sistema não criou e removeu o lançador"
else
    echo "SKIP: --sistema: sem espaço de montagem próprio (unshare -m)"
fi

# A nightly copy: a user service that runs the placed program without a
# window in its folder, and a timer for every day at the time given. No user
# service manager is reached here, so the command says how to switch it on.
export XDG_CONFIG_HOME="$work/config"
units="$XDG_CONFIG_HOME/systemd/user"
unset XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS
if run 0 --agendar 'E:\BACKUP' 2:05 --modelo "$true_program" "$app"; then
    service=$(ls "$units"/pelivor-APP-*.service)
    timer=$(ls "$units"/pelivor-APP-*.timer)
    for line in "WorkingDirectory=$app" "ExecStart=\"$app/pelivor\" --copiar-para \"E:\\\\BACKUP\"" \
        "Type=oneshot"; do
        grep -qxF "$line" "$service" || fail "falta no serviço: $line"
    done
    for line in "OnCalendar=*-*-* 02:05:00" "Persistent=true" "WantedBy=timers.target"; do
        grep -qxF "$line" "$timer" || fail "falta no temporizador: $line"
    done
    grep -q "systemctl --user enable --now pelivor-APP-" "$work/out" ||
        fail "--agendar sem gerenciador não diz como ativar: $(cat "$work/out")"
    if command -v systemd-analyze >/dev/null; then
        systemd-analyze verify --man=no "$service" "$timer" || fail "unidades inválidas"
    else
        echo "SKIP: sem systemd-analyze, as unidades não foram verificadas"
    fi
fi
# The odd folder's name reaches the program as it is: quotes and "\"
# escaped, "%" and "$" doubled.
if run 0 --agendar '/mnt/nas/cópias' 23:59 --modelo "$true_program" "$odd"; then
    grep -qxF "ExecStart=\"$work/Loja d'Água \$\$1 \\\"x\\\" %%u \`y\`/pelivor\" --copiar-para \"/mnt/nas/cópias\"" \
        "$units"/pelivor-Loja_*.service || fail "ExecStart da pasta de nome difícil"
fi
refused 2 "HH:MM" --agendar 'E:\BACKUP' 24:00 "$app"
refused 2 "HH:MM" --agendar 'E:\BACKUP' "$app"
refused 2 "sem --remover" --agendar 'E:\BACKUP' 02:00 --remover "$app"

# Removing takes the program and the launcher, never the folder's data; a
# second time, or for a folder already gone, is no failure.
echo dados >"$app/Log.txt"
if run 0 --remover "$app"; then
    [ ! -e "$app/pelivor" ] || fail "--remover deixou o programa"
    [ -z "$(launcher_of APP)" ] || fail "--remover deixou o lançador"
    [ -z "$(ls "$units"/pelivor-APP-* 2>/dev/null)" ] || fail "--remover deixou o agendamento"
    [ -f "$app/Log.txt" ] || fail "--remover apagou Log.txt"
fi
run 0 --remover "$app" && grep -q "Nada a remover" "$work/out" || fail "segundo --remover"
rm -r "$odd"
run 0 --remover "$odd" && [ -z "$(launcher_of 'Loja_d__gua__1__x___u__y_')" ] &&
    [ -z "$(ls "$units" 2>/dev/null)" ] ||
    fail "--remover de uma pasta que não existe mais deixou o lançador ou o agendamento"

[ "$failures" = 0 ] || exit 1
echo "pelivor-instalar: colocar, lançador, agendar, substituir, recusar, remover: ok"
