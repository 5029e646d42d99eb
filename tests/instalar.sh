#!/bin/sh
# pelivor-instalar on real scratch folders: placing and the launcher,
# replacing (refused while the placed copy runs), the refused folders and
# command lines, listing, removing, a folder placed for a group. Copies of
# sleep and true stand in for the program, so a placed copy can be kept
# running; the real program makes the runs of a group's member.
#   instalar.sh <pelivor-instalar> <pelivor>
set -eu
instalar=$1
program=$2

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
            "Exec=\"$app/pelivor\"" "Path=$app" "Categories=Utility;Archiving;" \
            "Keywords=backup;cópia;segurança;"; do
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
        "Exec=/usr/bin/env -C \"$work/Loja d'Água \\\\\$1 \\\\\"x\\\\\" %%u \\\\\`y\\\\\`\" ./pelivor" \
        "Path=$odd"; do
        grep -qxF "$line" "$launcher" || fail "falta no lançador: $line"
    done
    # As a desktop starts it: GLib, which looks for the program before it
    # reads "%%" as "%".
    if command -v gio >/dev/null; then
        gio launch "$launcher" || fail "o GLib não inicia o lançador da pasta de nome difícil"
    else
        echo "SKIP: sem gio, o lançador não foi iniciado como numa área de trabalho"
    fi
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

# Listing: each placed copy with its launcher, from the launchers written.
if run 0 --listar; then
    grep -qxF "$app/pelivor" "$work/out" && grep -qxF "$odd/pelivor" "$work/out" &&
        grep -qxF "  lançador: $(launcher_of APP)" "$work/out" ||
        fail "--listar: $(cat "$work/out")"
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
refused 2 "falta o valor de --modelo" "$app" --modelo
refused 2 "falta o valor de --grupo" --sistema "$app" --grupo
refused 2 "com --sistema" --grupo root "$app"
refused 2 "com --sistema" --remover --sistema --grupo root "$app"
refused 2 "sozinho" --listar "$app"
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
        "$1" --sistema --modelo "$2" "$3" >/dev/null 2>&1
        desktop-file-validate /usr/local/share/applications/pelivor-APP-*.desktop
        "$1" --sistema --remover "$3" >/dev/null
        [ -z "$(ls -A /usr/local/share/applications)" ]
    ' sh "$instalar" "$true_program" "$app" || fail "--sistema não criou e removeu o lançador"
else
    echo "SKIP: --sistema: sem espaço de montagem próprio (unshare -m)"
fi

# A folder placed for every user of a group: its members' runs append to
# Log.txt and take the lock, and none can replace the program. A test group
# in a private copy of /etc/group, and the uid of nobody as the member.
free_gid() {
    for gid in $(seq 64990 65000); do
        getent group "$gid" >/dev/null || { echo "$gid"; return; }
    done
}
gid=$(free_gid)
if ! unshare -m true 2>/dev/null || ! command -v setpriv >/dev/null || ! id nobody >/dev/null 2>&1 ||
    [ -z "$gid" ]; then
    echo "SKIP: --grupo: sem unshare -m, setpriv, o usuário nobody ou um gid livre"
else
    cp /etc/group "$work/group"
    echo "pelivorteste:x:$gid:" >>"$work/group"
    shared="$work/LOJA"
    mkdir "$shared" "$work/destino"
    chmod 755 "$work"
    chmod 777 "$work/destino"
    # as_admin ARGS...: pelivor-instalar as root with the test group, its
    # launchers on a scratch /usr/local/share.
    as_admin() {
        status=0
        unshare -m sh -c 'mount -t tmpfs pelivor-teste /usr/local/share &&
            mount --bind "$1" /etc/group && shift && exec "$@"' sh "$work/group" "$instalar" "$@" \
            >"$work/out" 2>"$work/err" || status=$?
    }
    # as_member: a run of the placed program by a member of the group.
    as_member() {
        (cd "$shared" && setpriv --reuid=nobody --regid=nogroup --groups="$gid" \
            env -i PATH=/usr/bin:/bin LANG=C.UTF-8 "$@") >"$work/member" 2>&1
    }
    records() { grep -c "Cópia Atualizada" "$shared/Log.txt" 2>/dev/null || true; }

    # Without --grupo: one line says that the users' records are lost; so they are.
    as_admin --sistema --modelo "$program" "$shared"
    [ "$status" = 0 ] && [ "$(wc -l <"$work/err")" = 1 ] && grep -q "sem --grupo" "$work/err" ||
        fail "--sistema sem --grupo: saiu com $status, sem o aviso: $(cat "$work/err")"
    as_member ./pelivor --copiar-para "$work/destino" || true
    [ ! -e "$shared/Log.txt" ] || fail "sem --grupo um usuário criou Log.txt"

    # A template that its group may write is placed without that bit.
    cp "$program" "$work/modelo"
    chmod 775 "$work/modelo"
    as_admin --sistema --grupo pelivorteste --modelo "$work/modelo" "$shared"
    [ "$status" = 0 ] && [ ! -s "$work/err" ] && grep -q "Grupo pelivorteste" "$work/out" ||
        fail "--sistema --grupo: saiu com $status: $(cat "$work/err" "$work/out")"
    for expected in "Log.txt 664 0 $gid" ".pelivor.lock 660 0 $gid" "pelivor 755 0 0" ". 755 0 $gid"; do
        set -- $expected
        [ "$(stat -c '%a %u %g' "$shared/$1")" = "$2 $3 $4" ] ||
            fail "--grupo: $1 é $(stat -c '%a %u %g' "$shared/$1"), esperado $2 $3 $4"
    done
    if as_member ./pelivor --copiar-para "$work/destino"; then
        [ "$(records)" = 1 ] || fail "o membro do grupo não gravou Log.txt: $(cat "$shared/Log.txt")"
    else
        fail "a cópia do membro do grupo falhou: $(cat "$work/member")"
    fi
    as_member sh -c 'cp /bin/true pelivor; mv -f Log.txt pelivor; rm -f pelivor
        ln -sf /bin/true pelivor; chmod 777 pelivor . ; chgrp nogroup Log.txt' || true
    cmp -s "$program" "$shared/pelivor" && [ "$(stat -c %a "$shared/pelivor")" = 755 ] &&
        [ "$(records)" = 1 ] || fail "um membro do grupo trocou o programa ou Log.txt"

    # A folder writable by another group is not handed to this one.
    chgrp nogroup "$shared"
    chmod 775 "$shared"
    as_admin --sistema --grupo pelivorteste --modelo "$program" "$shared"
    [ "$status" = 2 ] && grep -q "gravável pelo grupo nogroup" "$work/err" &&
        [ "$(stat -c %g "$shared")" != "$gid" ] ||
        fail "pasta gravável por outro grupo: saiu com $status: $(cat "$work/err")"
    # One that the group itself may write is the administrator's choice, told.
    chgrp "$gid" "$shared"
    as_admin --sistema --grupo pelivorteste --modelo "$program" "$shared"
    [ "$status" = 0 ] && grep -q "membros do grupo pelivorteste gravam em .* podem trocar o programa" \
        "$work/err" && ! grep -q "só o root" "$work/out" ||
        fail "pasta gravável pelo grupo, sem aviso: saiu com $status: $(cat "$work/err" "$work/out")"
    chgrp root "$shared"
    chmod g-w "$shared"
    # A folder a user owns, or one whose parent a user owns, is theirs to swap.
    chown nobody "$shared"
    as_admin --sistema --grupo pelivorteste --modelo "$program" "$shared"
    [ "$status" = 0 ] && grep -q "$shared é de nobody, que pode trocar o programa" "$work/err" &&
        ! grep -q "só o root" "$work/out" ||
        fail "pasta de um usuário, sem aviso: saiu com $status: $(cat "$work/err" "$work/out")"
    chown root "$shared"
    chown nobody "$work"
    as_admin --sistema --grupo pelivorteste --modelo "$program" "$shared"
    [ "$status" = 0 ] && grep -q "$work, acima de $shared, é de nobody" "$work/err" ||
        fail "pasta acima de um usuário, sem aviso: saiu com $status: $(cat "$work/err")"
    chown root "$work"
    as_admin --sistema --grupo nenhumgrupo "$shared"
    [ "$status" = 2 ] && grep -q "o grupo nenhumgrupo não existe" "$work/err" ||
        fail "grupo inexistente: saiu com $status"
fi

# Nightly copies, for the removal below to take away (agendar.sh tries the
# schedules themselves). No user service manager is reached here.
export XDG_CONFIG_HOME="$work/config"
units="$XDG_CONFIG_HOME/systemd/user"
unset XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS
mkdir "$work/backup"
for folder in "$app" "$odd"; do
    run 1 --agendar "$work/backup" 2:05 --modelo "$true_program" "$folder" || true
done
[ "$(ls "$units" | wc -l)" = 6 ] || fail "--agendar não gravou as unidades: $(ls "$units")"
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
    run 0 --listar && ! grep -q "^$app/" "$work/out" || fail "--listar depois de --remover"
fi
run 0 --remover "$app" && grep -q "Nada a remover" "$work/out" || fail "segundo --remover"
rm -r "$odd"
run 0 --remover "$odd" && [ -z "$(launcher_of 'Loja_d__gua__1__x___u__y_')" ] &&
    [ -z "$(ls "$units" 2>/dev/null)" ] ||
    fail "--remover de uma pasta que não existe mais deixou o lançador ou o agendamento"

[ "$failures" = 0 ] || exit 1
echo "pelivor-instalar: colocar, lançador, agendar, substituir, recusar, remover: ok"
