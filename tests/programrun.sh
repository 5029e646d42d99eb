# Sourced by the tests that run the real program from an application folder
# without a display. The caller sets $work (its temporary folder) and
# $program (the built program), and counts $failures.

P=$work/P
failures=0

# fail TEXT...: says what failed, with the last run's output and errors.
fail() {
    echo "FALHA: $*"
    sed 's/^/    saída: /' "$work/out"
    sed 's/^/    erro:  /' "$work/err"
    failures=$((failures + 1))
}

# setup [NAME...]: the application folder $P with the program and two
# files, one in a subfolder, and empty destinations $work/NAME (D by default).
setup() {
    [ $# -gt 0 ] || set -- D
    rm -rf "$P"
    mkdir -p "$P/sub"
    for name in "$@"; do
        rm -rf "${work:?}/$name"
        mkdir -p "$work/$name"
    done
    cp "$program" "$P/pelivor"
    printf a >"$P/a.txt"
    printf b >"$P/sub/b.txt"
}

# pelivor ARGS...: run from the application folder; $status, $work/out, $work/err.
pelivor() {
    status=0
    (cd "$P" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ./pelivor "$@") \
        >"$work/out" 2>"$work/err" || status=$?
}

# The host folder as a drive text: the root is C:.
drive() { printf 'C:%s' "$1" | tr / '\\'; }

last() { tail -n 1 "$work/out"; }
