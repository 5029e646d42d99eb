#!/bin/sh
# The copy without a window, through the real program and no display: each
# exit status, what reaches the terminal, and what reaches the destination.
#   unattended.sh <pelivor>
# Rows that need a mount (a full disk, a read-only disk) are skipped where
# mounting is not allowed; the rest always run.
set -eu
program=$1
work=$(mktemp -d)
holder=""
cleanup() {
    [ -z "$holder" ] || pkill -P "$holder" sleep || true
    for m in "$work/full" "$work/ro"; do
        ! mountpoint -q "$m" 2>/dev/null || umount "$m"
    done
    rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "$0")/programrun.sh"

records() {
    grep -c "	" "$P/Log.txt" 2>/dev/null || echo 0
}

# A completed run, by host folder and by drive text: every file at the
# destination, the end texts last on standard output, nothing on standard
# error, one record, no control character in a pipe.
for form in host drive; do
    setup
    to=$work/D
    [ "$form" = host ] || to=$(drive "$work/D")
    pelivor --copiar-para "$to"
    copy=$work/D$P
    if [ "$status" != 0 ] || [ -s "$work/err" ] ||
        ! tail -n 1 "$work/out" | grep -q "^Cópia Atualizada - " ||
        ! diff -r -x Log.txt -x .pelivor.lock "$P" "$copy" >/dev/null ||
        [ "$(grep -c 'Cópia Atualizada - ' "$P/Log.txt")" != 1 ] ||
        grep -q "$(printf '[\r\033]')" "$work/out"; then
        fail "cópia completa ($form): saiu com $status"
    fi
done

# Refusals and reported errors: status, the box as one line on standard
# error, nothing made at the destination.
setup
expect() {
    expected=$1
    words=$2
    shift 2
    before=$(records)
    pelivor "$@"
    if [ "$status" != "$expected" ] || ! grep -q "$words" "$work/err" ||
        [ -n "$(ls -A "$work/D")" ]; then
        fail "pelivor $*: saiu com $status (esperado $expected, \"$words\")"
    fi
    # A refusal writes no record; a reported error writes one.
    after=$(records)
    if [ "$expected" -gt 5 ] && [ "$after" = "$before" ]; then
        fail "pelivor $*: erro $expected sem registro em Log.txt"
    elif [ "$expected" -le 5 ] && [ "$after" != "$before" ]; then
        fail "pelivor $*: recusa com registro em Log.txt"
    fi
}
expect 3 "^Cópia de Arquivo.: Destino dos Arquivos Inválido: C:" --destino 'C:\'
expect 3 "^Cópia de Arquivo.: A Origem e Destino dos Arquivos selecionados são iguais" \
    --destino "$P"
expect 3 "^Cópia de Arquivo.: O Destino dos Arquivos está dentro da Origem" --destino "$P/sub"
expect 76 "^Erro de Cópia: Diretório de destino inexistente! (erro 76)" --destino "$work/NAO"
[ "$(tail -n 1 "$work/out")" = "Erro na execução da cópia. 76" ] || fail "texto final do erro 76"
expect 2 "falta o valor de --destino" --destino
expect 2 "falta o DESTINO" --destino ''
[ "$(wc -l <"$work/err")" = 1 ] || fail "mais de uma linha para a linha de comando inválida"

# Another run of the same folder holds the lock: status 5 and one line.
flock -o "$P/.pelivor.lock" sleep 60 </dev/null >/dev/null 2>&1 &
holder=$!
for _ in $(seq 50); do
    flock -n "$P/.pelivor.lock" true || break
    sleep 0.1
done
expect 5 "^Cópia de Arquivo.: Já há uma cópia desta pasta em andamento" --destino "$work/D"
[ "$(wc -l <"$work/err")" = 1 ] || fail "mais de uma linha para a cópia em andamento"
pkill -P "$holder" sleep # and flock ends with it, releasing the lock
wait "$holder" || true
holder=""

# Started from a folder whose name holds "\": it has no drive path.
mkdir -p "$work/a\\b"
cp "$program" "$work/a\\b/pelivor"
status=0
(cd "$work/a\\b" && env -u DISPLAY ./pelivor --destino "$work/D") >"$work/out" 2>"$work/err" ||
    status=$?
[ "$status" = 3 ] && grep -q "^Mapeamento incorreto.: Execute somente em unidade mapeada." \
    "$work/err" || fail "início numa pasta sem letra: saiu com $status"

# A full disk and a write-protected one report their numbers. The program
# itself is larger than the full disk: named on standard error, and counted
# last.
mkdir -p "$work/full" "$work/ro"
if mount -t tmpfs -o size=1m tmpfs "$work/full" 2>/dev/null; then
    setup
    pelivor --destino "$work/full"
    [ "$status" = 61 ] && grep -q "(erro 61)" "$work/err" &&
        grep -qxF "Não copiado: $work/P/pelivor: Disco cheio (erro 61)" "$work/err" &&
        [ "$(tail -n 2 "$work/out" | tr '\n' '|')" = "Erro na execução da cópia. 61|1 arquivo não copiado|" ] ||
        fail "disco cheio: saiu com $status"
    umount "$work/full"

    # A disk that fills in the middle: each file that did not fit named as
    # it happens, by its host path, exact where the window's text is not
    # (twin folders whose names differ only in case show alike there: one of
    # the two large files in Dados does not fit, and DADOS has a file too);
    # the count after the status.
    setup
    mkdir "$P/Dados" "$P/DADOS"
    head -c 600K /dev/zero >"$P/Dados/x.bin"
    head -c 600K /dev/zero >"$P/Dados/z.bin"
    printf y >"$P/DADOS/y.bin"
    mount -t tmpfs -o size=1m tmpfs "$work/full"
    pelivor --destino "$work/full"
    missing=0
    for f in pelivor a.txt sub/b.txt Dados/x.bin Dados/z.bin DADOS/y.bin; do
        [ ! -e "$work/full$work/P/$f" ] || continue
        missing=$((missing + 1))
        grep -qxF "Não copiado: $work/P/$f: Disco cheio (erro 61)" "$work/err" ||
            fail "disco que enche: $f não foi nomeado"
    done
    if [ "$status" != 61 ] || [ "$missing" != 2 ] ||
        [ "$(grep -c '^Não copiado: ' "$work/err")" != 2 ] ||
        [ "$(tail -n 2 "$work/out" | tr '\n' '|')" != "Erro na execução da cópia. 61|2 arquivos não copiados|" ]; then
        fail "disco que enche: saiu com $status, $missing arquivos faltam"
    fi
    umount "$work/full"
    if mount -t tmpfs -o size=1m,ro tmpfs "$work/ro" 2>/dev/null; then
        pelivor --destino "$work/ro"
        [ "$status" = 70 ] || fail "disco protegido: saiu com $status"
        umount "$work/ro"
    fi
else
    echo "SKIP: sem montagem de tmpfs, as linhas de disco cheio e protegido não rodaram"
fi

# SIGTERM in the middle of a large copy: status 4, neither the file nor its
# temporary copy at the destination, no record of a completed run, and the
# mark of an unfinished run left for the next one to heed. The
# program is frozen as soon as the temporary file shows, so the signal
# lands before the copy can end; a machine too fast for that gets a larger
# file.
caught=no
for mib in 256 1024; do
    setup
    head -c "${mib}M" /dev/urandom >"$P/big.bin"
    (cd "$P" && exec env -u DISPLAY ./pelivor --destino "$work/D") \
        >"$work/out" 2>"$work/err" &
    pid=$!
    for _ in $(seq 2000); do
        [ -z "$(find "$work/D" -name '.pelivor-*.tmp' 2>/dev/null)" ] || break
        sleep 0.005
    done
    kill -STOP "$pid"
    kill -TERM "$pid"
    kill -CONT "$pid"
    status=0
    wait "$pid" || status=$?
    [ "$status" = 0 ] && continue # the copy was over first
    caught=yes
    if [ "$status" != 4 ] || [ -n "$(find "$work/D" -name 'big.bin' -o -name '.pelivor-*.tmp')" ] ||
        [ -z "$(find "$work/D" -name '.pelivor-incompleta')" ] ||
        grep -q "Cópia Atualizada" "$P/Log.txt" 2>/dev/null ||
        [ "$(tail -n 1 "$work/out")" != "Cópia interrompida." ]; then
        fail "SIGTERM numa cópia grande: saiu com $status"
    fi
    break
done
[ "$caught" = yes ] || fail "SIGTERM: a cópia grande terminou antes do sinal duas vezes"
rm -f "$P/big.bin"

# A relative host folder is taken from the folder the program starts in.
setup
pelivor --copiar-para ../D
[ "$status" = 0 ] && diff -r -x Log.txt -x .pelivor.lock "$P" "$work/D$P" >/dev/null ||
    fail "destino relativo ../D: saiu com $status"

# On an 80-column terminal: the progress line redrawn in place, the counts
# kept and the long path elided from its start, so that the name stays,
# then the end texts.
long="$work/Pasta de nome longo, mais longo que a linha de progresso inteira"
mkdir -p "$long/sub" "$work/D"
cp "$program" "$long/pelivor"
status=0
(cd "$long" &&
    exec env -u DISPLAY script -qec "stty cols 80 rows 24; ./pelivor --destino '$work/D'" /dev/null) \
    >"$work/out" 2>"$work/err" || status=$?
tr '\r' '\n' <"$work/out" | sed "s/$(printf '\033')\\[K//g" | grep "arquivos vistos" >"$work/lines" || true
if [ "$status" != 0 ] || ! grep -q "Cópia Atualizada - " "$work/out" || [ ! -s "$work/lines" ]; then
    fail "no terminal: saiu com $status"
fi
while IFS= read -r progress; do
    [ "$(printf '%s' "$progress" | wc -m)" -le 79 ] &&
        printf '%s\n' "$progress" | grep -q "^[0-9]* arquivos vistos, [0-9]* copiados: ….*\\pelivor$" ||
        fail "linha de progresso em 80 colunas: $progress"
done <"$work/lines"

[ "$failures" = 0 ] || exit 1
echo "cópia sem janela: ok"
