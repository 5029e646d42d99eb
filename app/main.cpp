// The program's entry. The copy engine is built; the window that drives it
// is not yet, so the program says so instead of pretending to work.

#include <cstdio>

int main() {
    std::fputs("Pelivor: a janela principal ainda não foi construída; "
               "o motor de cópia já pode ser testado com `make test`.\n",
               stderr);
    return 1;
}
