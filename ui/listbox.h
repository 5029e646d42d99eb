#pragma once
// What the window's lists share: type-ahead by letters, names shortened in
// the middle instead of a sideways scroll, and a clear frame on the entry
// that has the focus.

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QListView>
#include <QListWidget>

namespace ui {

// Letters typed in a list move to an entry that starts with them: the first
// letter, or the same letter again, moves to the next such entry (wrapping
// round); letters typed in quick succession look for the entry that starts
// with all of them, and where none does the last letter starts a new search.
// Disabled and hidden entries are passed over.
class TypeAhead {
public:
    // Moves the view's current entry for `typed`; an empty text forgets what
    // was typed before.
    void search(QAbstractItemView& view, const QString& typed);

private:
    QString m_typed;
    QElapsedTimer m_lastKey;
};

// The data role of an entry's indentation, in steps of two blanks.
constexpr int DepthRole = Qt::UserRole + 1;

// A list of names, one a row, never wider than the list.
class ListBox : public QListWidget {
    Q_OBJECT
public:
    explicit ListBox(QWidget* parent = nullptr);
    void keyboardSearch(const QString& search) override;

private:
    TypeAhead m_typeAhead;
};

// Makes a screen reader name a drop-down box of the window by its accessible
// name, as other controls are named; Qt names one by its current entry
// ("c: [/]"), so that two such boxes read alike. Its value stays the current
// entry. Installed once, by the first box created.
void nameDropDownsByTheirAccessibleName();

// The list a drive box opens, with the same type-ahead.
class TypeAheadListView : public QListView {
    Q_OBJECT
public:
    using QListView::QListView;
    void keyboardSearch(const QString& search) override;

private:
    TypeAhead m_typeAhead;
};

} // namespace ui
