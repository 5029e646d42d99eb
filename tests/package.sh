#!/bin/sh
# The Debian package as a new machine gets it: built from the release
# configuration (build/release, reused), lintian-clean, holding exactly the
# files it should, unpacked into a scratch root, where its own
# pelivor-instalar places its template into a scratch application folder and
# the placed program starts offscreen with --version.
#   package.sh <source folder> <version>
set -eu
source=$1
version=$2

for tool in dpkg-deb dpkg-shlibdeps file lintian desktop-file-validate; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: falta $tool (scripts/install-deps test instala dpkg-dev, file, lintian, desktop-file-utils)"
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

dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | sort >"$work/contents"
sort >"$work/expected" <<'EOF'
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
EOF
diff "$work/expected" "$work/contents" >"$work/diff" || fail "conteúdo do pacote: $(cat "$work/diff")"

# Unpacked as it would be installed, somewhere else than the build.
root="$work/root"
dpkg -x "$deb" "$root"
file "$root/usr/lib/pelivor/pelivor" | grep -q ', stripped' || fail "o modelo não está despido"
app="$work/DADOS"
mkdir "$app"
if XDG_DATA_HOME="$work/xdg" "$root/usr/bin/pelivor-instalar" "$app" >"$work/out" 2>&1; then
    cmp -s "$root/usr/lib/pelivor/pelivor" "$app/pelivor" || fail "a cópia colocada difere do modelo"
    desktop-file-validate "$work"/xdg/applications/pelivor-DADOS-*.desktop ||
        fail "o lançador não é válido"
    placed=$(cd "$app" && QT_QPA_PLATFORM=offscreen ./pelivor --version 2>&1) || true
    [ "$placed" = "pelivor $version" ] || fail "o programa colocado respondeu: $placed"
else
    fail "pelivor-instalar do pacote: $(cat "$work/out")"
fi

[ "$failures" = 0 ] || exit 1
echo "pacote: construído, lintian, conteúdo, extraído, colocado, --version: ok"
