#include "ui/frm_copylook.h"

using namespace ui;

namespace {

// The text of the disabled source and destination boxes, which the operator
// reads the paths in: dark enough on their face.
const QColor DisabledText(64, 64, 64);
// The locked source lists still show the source: greyed, as locked lists
// are, yet at 3:1 on the list's face and on its selected row.
const QColor LockedListText(96, 96, 96);
const QColor LockedListSelection(96, 96, 96);

// The status and time lines in the palette's highlight where it reads on the
// face (4.5:1), else in the classic navy.
QColor statusColour(const QPalette& palette, const QColor& face) {
    const QColor highlight = palette.color(QPalette::Highlight);
    return contrastRatio(highlight, face) >= 4.5 ? highlight : QColor(0, 0, 128);
}

} // namespace

void dressControls(Frm_CopyControls& c, const QColor& face) {
    const QColor status = statusColour(c.Lbl_CopyInfo->palette(), face);
    for (QWidget* w : {c.Lbl_CopyInfo, c.Lbl_CopyInfo2, c.lblHoraIni, c.lblHoraFin})
        setForeColor(w, status);
    setForeColor(c.Label12, QColor(192, 0, 0));
    for (QWidget* w : {c.txtFrom, c.txtTo})
        setDisabledForeColor(w, DisabledText);
    for (QWidget* w : std::initializer_list<QWidget*>{c.Drive1, c.Dir1}) {
        setDisabledForeColor(w, LockedListText);
        QPalette p = w->palette();
        p.setColor(QPalette::Disabled, QPalette::ButtonText, LockedListText);
        p.setColor(QPalette::Disabled, QPalette::Highlight, LockedListSelection);
        p.setColor(QPalette::Disabled, QPalette::HighlightedText, Qt::white);
        w->setPalette(p);
    }
    // Paths keep their drive and their file name.
    for (Label* l : {c.Lbl_CopyInfo, c.Lbl_CopyInfo2})
        l->setElideMiddle();

    // The label that heads each control, source and destination apart.
    const std::pair<QWidget*, const char*> names[] = {
        {c.Drive1, "Unidade de origem"},  {c.Dir1, "Pasta de origem"},
        {c.txtFrom, "Caminho de origem"}, {c.File1, "Arquivos de origem"},
        {c.Drive2, "Unidade de destino"}, {c.Dir2, "Pasta de destino"},
        {c.txtTo, "Caminho de destino"},  {c.File2, "Arquivos do destino"},
        {c.txtPattern, "Novo Diretório"}, {c.Lbl_CopyInfo1, "Progresso"},
    };
    for (const auto& [control, name] : names)
        control->setAccessibleName(QString::fromUtf8(name));
}
