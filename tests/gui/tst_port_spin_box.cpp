// The port boxes of the settings dialog: 1 to 65535, and a word for whatever they refuse.
#include "app/AppOptions.h"
#include "gui/PortSpinBox.h"
#include "gui/ServerSecurityBox.h"
#include "gui/SettingsDialog.h"
#include "platform/ProgramFiles.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

class tst_PortSpinBox : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void typedPorts_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("refused"); // empty: nothing refused
        QTest::newRow("lowest") << "1" << 1 << "";
        QTest::newRow("highest") << "65535" << 65535 << "";
        QTest::newRow("a digit too many") << "70000" << 7000 << "「70000」";
        QTest::newRow("zero") << "0" << 110 << "「0」";
        QTest::newRow("nothing") << "" << 110 << "ポート番号が入っていません";
        QTest::newRow("a letter") << "8o" << 8 << "「8o」";
    }
    void typedPorts() {
        QFETCH(QString, typed);
        QFETCH(int, value);
        QFETCH(QString, refused);
        PortSpinBox box;
        box.setValue(110);
        box.show();
        box.setFocus();
        box.selectAll();
        QTest::keyClick(&box, Qt::Key_Backspace);
        QTest::keyClicks(&box, typed);
        QTest::keyClick(&box, Qt::Key_Return);
        QCOMPARE(box.value(), value);
        if (refused.isEmpty()) {
            QCOMPARE(box.LastRefusal(), QString());
        } else {
            QVERIFY2(box.LastRefusal().contains(refused), qPrintable(box.LastRefusal()));
            QVERIFY2(box.LastRefusal().contains(QStringLiteral("1 から 65535 まで")),
                     qPrintable(box.LastRefusal()));
        }
    }

    void bothDialogPortsAreSuchBoxes() {
        QTemporaryDir folder;
        SetSettingsDirectory(folder.path());
        Settings settings;
        AppOptions options;
        SettingsDialog dialog(settings, options);
        ServerSecurityBox security;
        QVERIFY(dialog.findChild<PortSpinBox*>(QStringLiteral("ListenPort")));
        QVERIFY(qobject_cast<PortSpinBox*>(security.PortBox()));
        SetSettingsDirectory(QString());
    }
};

QTEST_MAIN(tst_PortSpinBox)
#include "tst_port_spin_box.moc"
