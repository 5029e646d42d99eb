"""Reads the main window of the running program through AT-SPI, as a screen
reader does, and checks the names of its controls: every drive list, folder
or file list and text box has one, no two share it, none is an entry's text
(such as "c: [/]"), and source and destination are told apart.

Exits 0 when they are right, 1 when not, 77 where the accessibility bus or
its Python bindings are missing."""
import re
import sys
import time

try:
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
except (ImportError, ValueError) as error:
    print(f"SKIP: sem as ligações Python do AT-SPI (gir1.2-atspi-2.0): {error}")
    sys.exit(77)

EXPECTED = {
    ("combo box", "Unidade de origem"), ("list", "Pasta de origem"),
    ("text", "Caminho de origem"), ("list", "Arquivos de origem"),
    ("combo box", "Unidade de destino"), ("list", "Pasta de destino"),
    ("text", "Caminho de destino"), ("list", "Arquivos do destino"),
    ("text", "Novo Diretório"),
}
NAMED_ROLES = {"combo box", "list", "text"}


def main_window():
    """The program's frame "Cópias de Segurança", once it is shown."""
    deadline = time.time() + 60
    while time.time() < deadline:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is None or app.get_name() != "pelivor":
                continue
            for j in range(app.get_child_count()):
                frame = app.get_child_at_index(j)
                if frame is not None and frame.get_name() == "Cópias de Segurança":
                    return frame
        time.sleep(0.5)
    return None


def controls(node, inside_combo=False):
    """(role, name) of every control below `node`; a combo box's own list
    is part of it, not a control."""
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is None:
            continue
        role = child.get_role_name()
        if role in NAMED_ROLES and not inside_combo:
            yield role, child.get_name()
        yield from controls(child, inside_combo or role == "combo box")


def main():
    try:
        window = main_window()
    except Exception as error:  # the bus itself failed
        print(f"SKIP: o barramento de acessibilidade não respondeu: {error}")
        return 77
    if window is None:
        print("FALHA: a janela principal não apareceu no AT-SPI")
        return 1
    found = list(controls(window))
    for role, name in found:
        print(f"{role}: {name!r}")
    names = [name for _, name in found]
    problems = []
    if any(not name for name in names):
        problems.append("controle sem nome")
    if len(set(names)) != len(names):
        problems.append("nomes repetidos")
    if any(re.match(r"^[a-z]: ", name) for name in names):
        problems.append("nome tirado da entrada de uma lista de unidades")
    missing = EXPECTED - set(found)
    if missing:
        problems.append(f"faltam {sorted(missing)}")
    if problems:
        print("FALHA: " + "; ".join(problems))
        return 1
    print(f"nomes acessíveis de {len(found)} controles conferidos pelo AT-SPI")
    return 0


sys.exit(main())
