#!/bin/sh
# The Debian package as a new machine gets it: built from the release
# configuration (build/release, reused), lintian-clean, with its fields,
# holding exactly the files it should, unpacked into a scratch root: valid
# AppStream metadata, man pages that read without a warning, a pelivor on the
# path that explains and never copies, its own pelivor-instalar placing the
# template into a scratch application folder with a valid launcher, the
# placed program answering --version, and a removal that lists what stays.
#   package.sh <source folder> <version>
set -eu
source=$1
version=$2

for tool in dpkg-deb dpkg-shlibdeps file lintian desktop-file-validate appstreamcli man; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: falta $tool (scripts/install-deps test instala dpkg-dev, file, lintian, desktop-file-utils, appstream, man-db)"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FALHA: $*"
    failures=$((failures + 1))
}

cd "$source"
cmake --preset release >"$work/configure.log" || {
    cat "$work/configure.log"
    exit 1
}
cmake --build build/release --target package >"$work/build.log" 2>&1 || {
    cat "$work/build.log"
    exit 1
}
deb="build/release/pelivor_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || {
    echo "FALHA: $deb não foi gerado"
    exit 1
}
echo "$deb: $(stat -c %s "$deb") bytes"

status=0
lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 || status=$?
echo "lintian (erros e avisos): $(grep -cv 'running with root privileges' "$work/lintian" || true)"
grep -v 'running with root privileges' "$work/lintian" | sed 's/^/    /' || true
[ "$status" = 0 ] || fail "lintian achou erros ou avisos"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in qt6-qpa-plugins libqt6widgets6 libqt6core6; do
    echo "$depends" | grep -q "$needed" || fail "Depends sem $needed: $depends"
done
# The maintainer is one of the project's authors; there is no home page.
maintainer=$(dpkg-deb -f "$deb" Maintainer)
if git -C "$source" rev-parse 2>/dev/null; then
    git -C "$source" log --format='%an <%ae>' | grep -qxF "$maintainer" ||
        fail "Maintainer não é um autor do projeto: $maintainer"
fi
[ -z "$(dpkg-deb -f "$deb" Homepage)" ] || fail "Homepage sem página do projeto"

dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | sort >"$work/contents"
sort >"$work/expected" <<'EOF'
./usr/bin/pelivor
./usr/bin/pelivor-instalar
./usr/lib/pelivor/pelivor
./usr/share/doc/pelivor/README.md
./usr/share/doc/pelivor/changelog.gz
./usr/share/doc/pelivor/copyright
./usr/share/icons/hicolor/16x16/apps/pelivor.png
./usr/share/icons/hicolor/22x22/apps/pelivor.png
./usr/share/icons/hicolor/24x24/apps/pelivor.png
./usr/share/icons/hicolor/32x32/apps/pelivor.png
./usr/share/icons/hicolor/48x48/apps/pelivor.png
./usr/share/icons/hicolor/64x64/apps/pelivor.png
./usr/share/icons/hicolor/128x128/apps/pelivor.png
./usr/share/icons/hicolor/256x256/apps/pelivor.png
./usr/share/icons/hicolor/scalable/apps/pelivor.svg
./usr/share/man/man1/pelivor-instalar.1.gz
./usr/share/man/man1/pelivor.1.gz
./usr/share/man/pt_BR/man1/pelivor-instalar.1.gz
./usr/share/man/pt_BR/man1/pelivor.1.gz
./usr/share/metainfo/example.c_seed_2e445489.pelivor.metainfo.xml
EOF
diff "$work/expected" "$work/contents" >"$work/diff" || fail "conteúdo do pacote: $(cat "$work/diff")"

# Unpacked as it would be installed, somewhere else than the build.
root="$work/root"
dpkg -x "$deb" "$root"
file "$root/usr/lib/pelivor/pelivor" | grep -q ', stripped' || fail "o modelo não está despido"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$work/appstream" 2>&1 ||
    fail "appstreamcli validate: $(cat "$work/appstream")"

# Each man page reads without a warning and names the files the program
# and the placing command write.
for page in "$root"/usr/share/man/man1/*.1.gz "$root"/usr/share/man/pt_BR/man1/*.1.gz; do
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >"$work/page" 2>"$work/warnings" ||
        true
    if [ -s "$work/warnings" ] || ! grep -q "^ARQUIVOS$\|^FILES$" "$work/page" ||
        ! grep -q "Log.txt" "$work/page" || ! grep -q "systemd/user/pelivor-" "$work/page" ||
        ! grep -q "applications/pelivor-" "$work/page"; then
        fail "man -l ${page#"$root"}: $(cat "$work/warnings")"
    fi
done

# pelivor on the path: one paragraph without an argument; the options that
# end without a copy go to the template; a copy is refused, never run from
# /usr/bin.
mkdir "$work/DESTINO"
status=0
"$root/usr/bin/pelivor" >"$work/out" 2>&1 || status=$?
[ "$status" = 1 ] && ! grep -q '^$' "$work/out" && grep -q "pelivor-instalar PASTA" "$work/out" ||
    fail "pelivor sem argumento: saiu com $status: $(cat "$work/out")"
answer=$("$root/usr/bin/pelivor" --version 2>&1) || true
[ "$answer" = "pelivor $version" ] || fail "pelivor --version no caminho: $answer"
"$root/usr/bin/pelivor" --unidades | grep -q "^C:	/$" || fail "pelivor --unidades no caminho"
for arguments in "--copiar-para $work/DESTINO" "--destino $work/DESTINO" \
    "--version --copiar-para $work/DESTINO"; do
    status=0
    # shellcheck disable=SC2086
    "$root/usr/bin/pelivor" $arguments >"$work/out" 2>&1 || status=$?
    [ "$status" = 2 ] && [ -z "$(ls -A "$work/DESTINO")" ] && [ ! -e "$root/usr/bin/Log.txt" ] ||
        fail "pelivor $arguments no caminho: saiu com $status: $(cat "$work/out")"
done
app="$work/DADOS"
mkdir "$app"
if XDG_DATA_HOME="$work/xdg" "$root/usr/bin/pelivor-instalar" "$app" >"$work/out" 2>&1; then
    cmp -s "$root/usr/lib/pelivor/pelivor" "$app/pelivor" || fail "a cópia colocada difere do modelo"
    desktop-file-validate "$work"/xdg/applications/pelivor-DADOS-*.desktop ||
        fail "o lançador não é válido"
    placed=$(cd "$app" && QT_QPA_PLATFORM=offscreen ./pelivor --version 2>&1) || true
    [ "$placed" = "pelivor $version" ] || fail "o programa colocado respondeu: $placed"
    # Removing the package says what stays and lists it.
    dpkg-deb -e "$deb" "$work/control"
    PATH="$root/usr/bin:$PATH" XDG_DATA_HOME="$work/xdg" sh "$work/control/prerm" remove \
        >"$work/out" 2>&1 || fail "prerm remove falhou: $(cat "$work/out")"
    grep -q "pelivor-instalar --listar" "$work/out" && grep -qxF "$app/pelivor" "$work/out" ||
        fail "a remoção não lista as cópias colocadas: $(cat "$work/out")"
else
    fail "pelivor-instalar do pacote: $(cat "$work/out")"
fi

[ "$failures" = 0 ] || exit 1
echo "pacote: construído, lintian, campos, conteúdo, AppStream, manuais, pelivor no caminho, colocado, remoção: ok"
