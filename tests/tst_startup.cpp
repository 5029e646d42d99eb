// Qt's own texts in Portuguese: the translations the program loads for its
// regional language, as a text box's context menu and a standard button
// show them. The tests run in the C locale, which the program takes as
// Brazilian Portuguese.

#include "app/startup.h"
#include "ui/controls.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QLibraryInfo>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <memory>

class TestStartup : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void qtTextsArePortuguese() {
        const QString file =
            QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_pt_BR.qm");
        if (!QFile::exists(file))
            QSKIP("falta qtbase_pt_BR.qm (pacote qt6-translations-l10n)");
        QVERIFY(startup::installQtTranslations(*QCoreApplication::instance()));

        ui::TextBox box;
        const std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
        QStringList texts;
        for (const QAction* action : menu->actions())
            texts << action->text().section(QLatin1Char('\t'), 0, 0);
        QVERIFY2(texts.contains(QStringLiteral("&Desfazer")), qPrintable(texts.join(u' ')));
        QVERIFY2(texts.contains(QStringLiteral("Selecionar tudo")), qPrintable(texts.join(u' ')));

        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Cancelar"));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
