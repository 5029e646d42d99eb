#include "ui/listbox.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace ui {

namespace {

// Draws each entry indented by its depth, within the list's width, and frames
// the entry that has the focus: the style's dotted line is all but invisible
// on a selected entry.
class NameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem row(option);
        row.rect.setLeft(option.rect.left() + indent(option, index));
        const bool focused = row.state & QStyle::State_HasFocus;
        row.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, row, index);
        if (!focused)
            return;
        // Two pixels in the text colour, which stands out on the list's
        // background, and inside them one in the selected text's colour,
        // which stands out on the selection.
        painter->save();
        const QPalette& p = option.palette;
        const QRect frame = row.rect;
        painter->fillRect(frame.left(), frame.top(), frame.width(), 2, p.color(QPalette::Text));
        painter->fillRect(frame.left(), frame.bottom() - 1, frame.width(), 2,
                          p.color(QPalette::Text));
        painter->fillRect(frame.left(), frame.top(), 2, frame.height(), p.color(QPalette::Text));
        painter->fillRect(frame.right() - 1, frame.top(), 2, frame.height(),
                          p.color(QPalette::Text));
        if (option.state & QStyle::State_Selected) {
            painter->setPen(p.color(QPalette::HighlightedText));
            painter->drawRect(frame.adjusted(2, 2, -3, -3));
        }
        painter->restore();
    }

    // No wider than the list, so a long name is shortened rather than
    // scrolled sideways.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize hint = QStyledItemDelegate::sizeHint(option, index) + QSize(indent(option, index), 0);
        if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget))
            hint.setWidth(std::min(hint.width(), view->viewport()->width()));
        return hint;
    }

    // A shortened name shows in full where the pointer rests on it.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event->type() != QEvent::ToolTip)
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString name = index.data(Qt::DisplayRole).toString();
        const int room =
            option.rect.width() - indent(option, index) - option.decorationSize.width() -
            4 * view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, view);
        if (option.fontMetrics.horizontalAdvance(name) > room)
            QToolTip::showText(event->globalPos(), name, view);
        else
            QToolTip::hideText();
        return true;
    }

private:
    // Two blanks of the list's font per level.
    static int indent(const QStyleOptionViewItem& option, const QModelIndex& index) {
        return index.data(DepthRole).toInt() * 2 * option.fontMetrics.horizontalAdvance(u' ');
    }
};

// A drop-down box as a screen reader sees it: named by its accessible name,
// its current entry as its value, and its list as its one child.
class NamedDropDown : public QAccessibleWidget {
public:
    explicit NamedDropDown(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && !box()->accessibleName().isEmpty())
            return box()->accessibleName();
        if (t == QAccessible::Name || t == QAccessible::Value)
            return box()->currentText();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == box()->view() ? 0 : -1;
    }

private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
};

// Asked before Qt's own, with the most derived class first.
QAccessibleInterface* namedDropDown(const QString& className, QObject* object) {
    if (className == QLatin1String("ui::DriveListBox") && object && object->isWidgetType())
        return new NamedDropDown(static_cast<QComboBox*>(object));
    return nullptr;
}

} // namespace

void nameDropDownsByTheirAccessibleName() {
    static const bool installed = (QAccessible::installFactory(namedDropDown), true);
    Q_UNUSED(installed);
}

void TypeAhead::search(QAbstractItemView& view, const QString& typed) {
    if (typed.isEmpty()) {
        m_typed.clear();
        m_lastKey.invalidate();
        return;
    }
    const bool goesOn =
        m_lastKey.isValid() && m_lastKey.elapsed() <= QApplication::keyboardInputInterval();
    m_lastKey.start();
    m_typed = goesOn ? m_typed + typed : typed;

    const QAbstractItemModel* model = view.model();
    const QModelIndex root = view.rootIndex();
    const int rows = model ? model->rowCount(root) : 0;
    const auto* list = qobject_cast<const QListView*>(&view);
    const int current = view.currentIndex().isValid() ? view.currentIndex().row() : -1;
    // The first entry from `from` on, wrapping round, that starts with `prefix`.
    const auto find = [&](const QString& prefix, int from) {
        for (int i = 0; i < rows; ++i) {
            const int row = (std::max(from, 0) + i) % rows;
            const QModelIndex index = model->index(row, 0, root);
            if ((list && list->isRowHidden(row)) || !(model->flags(index) & Qt::ItemIsEnabled))
                continue;
            if (index.data(Qt::DisplayRole).toString().startsWith(prefix, Qt::CaseInsensitive))
                return row;
        }
        return -1;
    };

    const QString first = m_typed.left(1);
    int row = -1;
    if (m_typed.count(first, Qt::CaseInsensitive) == m_typed.size()) {
        row = find(first, current + 1);
    } else {
        row = find(m_typed, current);
        if (row < 0) {
            m_typed = typed;
            row = find(typed, current + 1);
        }
    }
    if (row >= 0)
        view.setCurrentIndex(model->index(row, 0, root));
}

ListBox::ListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new NameDelegate(this));
    setTextElideMode(Qt::ElideMiddle);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void ListBox::keyboardSearch(const QString& search) {
    m_typeAhead.search(*this, search);
}

void TypeAheadListView::keyboardSearch(const QString& search) {
    m_typeAhead.search(*this, search);
}

} // namespace ui
