#!/bin/sh
# The verification, the weekday's folder and two places from the command
# line, through the real program and no display: exit statuses, the lines on
# standard error and the last line, the Log.txt records, and what reaches
# the destinations.
#   verificar.sh <pelivor>
# Rows that need a mount or another user are skipped where that is not
# allowed; the rest always run.
set -eu
program=$1
work=$(mktemp -d)
chmod 755 "$work" # for the run as another user
holder=""
cleanup() {
    [ -z "$holder" ] || pkill -P "$holder" sleep || true
    ! mountpoint -q "$work/full" 2>/dev/null || umount "$work/full"
    rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/programrun.sh"
# The Log.txt records whose RESULTADO starts with $1, as "RESULTADO|DESTINO|ERROS".
records() {
    grep "^$1" "$P/Log.txt" 2>/dev/null | tr -d '\r' | cut -f 1-3 | tr '\t' '|' || true
}

# Verified after a completed copy: every file equal, one record each.
setup D E
pelivor --copiar-para "$work/D" --verificar
copy=$work/D$P
if [ "$status" != 0 ] || [ -s "$work/err" ] ||
    [ "$(last)" != "Verificação: 3 arquivos iguais, 0 diferentes, 0 ausentes" ] ||
    [ "$(records Verifica)" != "Verificação: 3 arquivos iguais, 0 diferentes, 0 ausentes|C:$(printf %s "$work/D" | tr / '\\')| 0 " ] ||
    [ "$(records 'Cópia Atualizada' | wc -l)" != 1 ]; then
    fail "--copiar-para --verificar: saiu com $status"
fi

# A copy that rotted on the disk keeps its length and time, so a copy run
# passes it by; the verification names it, and the missing file, and a name
# with a line feed and an escape stays on one line. Status 1, as cmp's.
printf X >"$copy/sub/b.txt"
touch -r "$P/sub/b.txt" "$copy/sub/b.txt"
odd=$(printf 'linha\nnova\033[31m')
printf o >"$P/$odd"
pelivor --copiar-para "$work/D"
[ "$status" = 0 ] && [ "$(cat "$copy/sub/b.txt")" = X ] || fail "a cópia sobrescreveu o arquivo podre"
rm "$copy/a.txt" "$copy/$odd"
pelivor --verificar "$work/D"
if [ "$status" != 1 ] || [ "$(wc -l <"$work/err")" != 3 ] ||
    ! grep -qxF "Diferente da origem: $copy/sub/b.txt" "$work/err" ||
    ! grep -qxF "Ausente no destino: $copy/a.txt" "$work/err" ||
    ! grep -qxF "Ausente no destino: $copy/linha\\x0anova\\x1b[31m" "$work/err" ||
    [ "$(last)" != "Verificação: 1 arquivo igual, 1 diferente, 2 ausentes" ]; then
    fail "--verificar com um arquivo diferente e um ausente: saiu com $status"
fi
# Log.txt names them too, each in a record of its own, by its drive text.
dcopy=C:$(printf %s "$copy" | tr / '\\')
dest=C:$(printf %s "$work/D" | tr / '\\')
[ "$(records 'Diferente da origem')" = "Diferente da origem: $dcopy\\sub\\b.txt|$dest| 0 " ] &&
    [ "$(records 'Ausente no destino' | wc -l)" = 2 ] &&
    records 'Ausente no destino' | grep -qxF "Ausente no destino: $dcopy\\a.txt|$dest| 0 " ||
    fail "--verificar não nomeou no Log.txt os arquivos diferentes e ausentes"
rm "$P/$odd"

# Nothing to verify against, or another run of the folder: 76, 5.
pelivor --verificar "$work/NAO"
[ "$status" = 76 ] && grep -qx "Erro na verificação: Diretório de destino inexistente! (erro 76)" \
    "$work/err" && [ "$(records 'Verificação: Erro: 76' | cut -d'|' -f 3)" = " 76 Caminho não encontrado" ] ||
    fail "--verificar sem destino: saiu com $status"
flock -o "$P/.pelivor.lock" sleep 60 </dev/null >/dev/null 2>&1 &
holder=$!
for _ in $(seq 50); do
    flock -n "$P/.pelivor.lock" true || break
    sleep 0.1
done
before=$(grep -c . "$P/Log.txt")
pelivor --verificar "$work/D"
[ "$status" = 5 ] && grep -q "Já há uma cópia desta pasta em andamento" "$work/err" &&
    [ "$(grep -c . "$P/Log.txt")" = "$before" ] || fail "--verificar com a trava tomada: saiu com $status"
pkill -P "$holder" sleep
wait "$holder" || true
holder=""

# A file this user may not read: named with its error, status 1.
if command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
    setup D E
    pelivor --copiar-para "$work/D"
    printf s >"$P/segredo.txt"
    cp -p "$P/segredo.txt" "$work/D$P/"
    chmod -R a+rX "$P" "$work/D"
    chmod 600 "$P/segredo.txt"
    status=0
    (cd "$P" && exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
        env -i PATH=/usr/bin:/bin LANG=C.UTF-8 ASAN_OPTIONS=detect_leaks=0 ./pelivor --verificar "$work/D") \
        >"$work/out" 2>"$work/err" || status=$?
    [ "$status" = 1 ] &&
        grep -qxF "Não foi possível ler $P/segredo.txt: Permissão negada (erro 70)" "$work/err" &&
        [ "$(last)" = "Verificação: 3 arquivos iguais, 0 diferentes, 0 ausentes, 1 não lido" ] ||
        fail "--verificar de um arquivo ilegível: saiu com $status"
else
    echo "SKIP: sem setpriv ou o usuário nobody, o arquivo ilegível não foi verificado"
fi

# SIGTERM in the middle of a verification: status 4, its last line and record.
caught=no
for mib in 256 1024; do
    setup D E
    head -c "${mib}M" /dev/urandom >"$P/grande.bin"
    pelivor --copiar-para "$work/D"
    (cd "$P" && exec env -u DISPLAY ./pelivor --verificar "$work/D") >"$work/out" 2>"$work/err" &
    pid=$!
    # In the middle once it has the large file open.
    for _ in $(seq 1000); do
        ! ls -l "/proc/$pid/fd" 2>/dev/null | grep -q grande.bin || break
        sleep 0.005
    done
    kill -TERM "$pid" 2>/dev/null || true
    status=0
    wait "$pid" || status=$?
    [ "$status" = 0 ] && continue # the verification was over first
    caught=yes
    [ "$status" = 4 ] && [ "$(last)" = "Verificação interrompida." ] &&
        [ -n "$(records 'Verificação interrompida.')" ] || fail "SIGTERM numa verificação: saiu com $status"
    break
done
[ "$caught" = yes ] || fail "SIGTERM: a verificação terminou antes do sinal duas vezes"
rm -f "$P/grande.bin"

# A disk that fills: the copy's error, and no verification after a copy
# that did not complete; verified alone, each file that did not fit is named.
mkdir -p "$work/full"
if mount -t tmpfs -o size=1m tmpfs "$work/full" 2>/dev/null; then
    setup D E
    pelivor --copiar-para "$work/full" --verificar
    [ "$status" = 61 ] && [ -z "$(records Verifica)" ] || fail "disco cheio com --verificar: saiu com $status"
    pelivor --verificar "$work/full"
    [ "$status" = 1 ] && grep -q "^Ausente no destino: $work/full$P/pelivor\$" "$work/err" ||
        fail "--verificar no disco cheio: saiu com $status"
    umount "$work/full"
else
    echo "SKIP: sem montagem de tmpfs, o disco cheio não foi verificado"
fi

# The day of the week's folder, made when missing; verified in it.
setup D E
day_before=$(date +%u)
pelivor --copiar-para "$work/D" --rodizio --verificar
day=$(echo "Segunda Terça Quarta Quinta Sexta Sábado Domingo" | cut -d' ' -f "$(date +%u)")
[ "$day_before" = "$(date +%u)" ] || echo "SKIP: meia-noite durante o rodízio"
if [ "$status" != 0 ] || ! diff -r -x Log.txt -x .pelivor.lock "$P" "$work/D/$day$P" >/dev/null ||
    [ "$(ls "$work/D")" != "$day" ] || [ "$(last)" != "Verificação: 3 arquivos iguais, 0 diferentes, 0 ausentes" ]; then
    fail "--rodizio: saiu com $status, $(ls "$work/D")"
fi
pelivor --verificar "$work/D" --rodizio
[ "$status" = 0 ] || fail "--verificar --rodizio: saiu com $status"
# A link planted where the day's folder belongs is not followed.
rm -rf "$work/D/$day" "$work/elsewhere"
mkdir "$work/elsewhere"
ln -s "$work/elsewhere" "$work/D/$day"
pelivor --copiar-para "$work/D" --rodizio
[ "$status" = 75 ] && [ -z "$(ls -A "$work/elsewhere")" ] && grep -q "(erro 75)" "$work/err" &&
    [ "$(records 'Erro na execução da cópia. 75' | cut -d'|' -f 2)" = "C:$(printf %s "$work/D/$day" | tr / '\\')" ] ||
    fail "--rodizio com um link no lugar da pasta do dia: saiu com $status"
# Nor read through: a verification there would compare the folder with
# whatever the link names. Nor is the folder ever compared with itself,
# through a link or below its own drive's root.
pelivor --verificar "$work/D" --rodizio
[ "$status" = 75 ] && grep -q "(erro 75)" "$work/err" ||
    fail "--verificar --rodizio com um link no lugar da pasta do dia: saiu com $status"
ln -s / "$work/L"
pelivor --verificar "$work/L"
[ "$status" = 75 ] && ! grep -q "iguais" "$work/out" ||
    fail "--verificar por um link à raiz: saiu com $status: $(cat "$work/out")"
pelivor --verificar /
[ "$status" = 75 ] && ! grep -q "iguais" "$work/out" || fail "--verificar /: saiu com $status"
rm "$work/L"
pelivor --copiar-para "$work/NAO" --rodizio
[ "$status" = 76 ] && [ ! -e "$work/NAO" ] || fail "--rodizio sem destino: saiu com $status"

# Two places in turn, each with its records; a missing one does not stop
# the other, and the status is the first failure.
setup D E
pelivor --copiar-para "$work/D" --copiar-para "$work/E" --verificar
if [ "$status" != 0 ] || ! diff -r -x Log.txt -x .pelivor.lock "$P" "$work/D$P" >/dev/null ||
    ! diff -r -x Log.txt -x .pelivor.lock "$P" "$work/E$P" >/dev/null ||
    [ "$(records 'Cópia Atualizada' | cut -d'|' -f 2 | tr '\n' ' ')" != "$(drive "$work/D") $(drive "$work/E") " ] ||
    [ "$(records Verifica | cut -d'|' -f 2 | tr '\n' ' ')" != "$(drive "$work/D") $(drive "$work/E") " ] ||
    [ "$(grep -c '^Destino: ' "$work/out")" != 2 ]; then
    fail "dois destinos: saiu com $status"
fi
setup D E
pelivor --copiar-para "$work/NAO" --copiar-para "$work/E"
[ "$status" = 76 ] && diff -r -x Log.txt -x .pelivor.lock "$P" "$work/E$P" >/dev/null ||
    fail "primeiro destino inexistente: saiu com $status"
pelivor --copiar-para "$work/E" --copiar-para "$work/NAO"
[ "$status" = 76 ] || fail "segundo destino inexistente: saiu com $status"

# A stop in the first place ends the run: the second is not begun.
setup D E
head -c 1024M /dev/urandom >"$P/grande.bin"
(cd "$P" && exec env -u DISPLAY ./pelivor --copiar-para "$work/D" --copiar-para "$work/E") \
    >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 2000); do
    [ -z "$(find "$work/D" -name '.pelivor-*.tmp' 2>/dev/null)" ] || break
    sleep 0.005
done
kill -TERM "$pid" 2>/dev/null || true
status=0
wait "$pid" || status=$?
[ "$status" = 4 ] && [ -z "$(ls -A "$work/E")" ] || fail "SIGTERM no primeiro destino: saiu com $status"

# Refused command lines.
pelivor --verificar
[ "$status" = 2 ] && grep -q "falta o DESTINO de --verificar" "$work/err" || fail "--verificar sem DESTINO"
pelivor --rodizio
[ "$status" = 2 ] && grep -q "vale com --copiar-para" "$work/err" || fail "--rodizio sozinho"
pelivor --copiar-para "$work/D" --verificar "$work/E"
[ "$status" = 2 ] && grep -q "argumento inesperado" "$work/err" || fail "--copiar-para com --verificar DESTINO"

[ "$failures" = 0 ] || exit 1
echo "verificar, rodízio e dois destinos: ok"
