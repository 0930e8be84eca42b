// The window and the settings at 125 %, where Qt's rounding once ate the lists' frames.
#include "support/WindowTestSupport.h"

#include "gui/ServerSecurityBox.h"
#include "gui/SettingsDialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

namespace {

// Whether a line darker than both the list's inside and the window around it runs along the
// bottom edge of the control, in the window's picture.
bool BottomLineDrawn(QWidget& window, QWidget* control) {
    const QImage picture = window.grab().toImage();
    const qreal scale = picture.devicePixelRatio();
    const QRect edge = control->geometry();
    const int inside = qGray(control->palette().color(QPalette::Base).rgb());
    const int around = qGray(window.palette().color(QPalette::Window).rgb());
    const int x = qRound((edge.left() + edge.width() / 2) * scale);
    for (int y = qRound((edge.bottom() - 2) * scale); y <= qRound((edge.bottom() + 1) * scale);
         ++y) {
        const int gray = qGray(picture.pixel(x, y));
        if (gray < inside && gray < around) {
            return true;
        }
    }
    return false;
}

} // namespace

class tst_DisplayScaled : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void listsKeepTheirFrames_data() {
        QTest::addColumn<QString>("list");
        QTest::newRow("server log") << "List1";
        QTest::newRow("client log") << "List2";
        QTest::newRow("blocked list") << "List3";
    }
    void listsKeepTheirFrames() {
        QFETCH(QString, list);
        ConfigFolder folder;
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        display.show();
        QVERIFY(QTest::qWaitForWindowExposed(&display));
        QCOMPARE(display.devicePixelRatio(), 1.25);
        QVERIFY(BottomLineDrawn(display, display.findChild<QWidget*>(list)));
    }

    // Captions in the window's own font size, and whole.
    void captionsWhole() {
        ConfigFolder folder;
        DesktopSession session(TestOptions(), true);
        Shell::Display& display = session.Window();
        for (QWidget* control : {static_cast<QWidget*>(Control<QLabel>(display, "Label2")),
                                 static_cast<QWidget*>(Control<QCheckBox>(display, "Check1"))}) {
            QCOMPARE(control->font().pointSizeF(), display.font().pointSizeF());
        }
        auto* label2 = Control<QLabel>(display, "Label2");
        QVERIFY(label2->fontMetrics().horizontalAdvance(label2->text()) <= label2->width());
    }

    // The CA file box shows its whole hint, with room left for a frame of a pixel and the box's
    // margin of two on either side.
    void caFileHintWhole() {
        ConfigFolder folder;
        Settings settings;
        AppOptions options;
        SettingsDialog dialog(settings, options);
        auto* box = dialog.findChild<ServerSecurityBox*>();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QLineEdit* caFile = box->CaFileBox();
        QVERIFY(caFile->width() -
                    caFile->fontMetrics().horizontalAdvance(caFile->placeholderText()) >=
                6);
    }
};

int main(int argc, char** argv) {
    qputenv("QT_SCALE_FACTOR", "1.25");
    QApplication application(argc, argv);
    tst_DisplayScaled test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_display_scaled.moc"
