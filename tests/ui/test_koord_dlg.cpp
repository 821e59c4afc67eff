#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>
#include <cmath>

#include "ui_test_main.h"
#include "ui/coordinate_edit.h"
#include "ui/koord_dlg.h"
#include "ui/message_catcher.h"

namespace {

// One thousandth of a minute, the resolution of the texts.
constexpr double TextResolution = 0.0005 / 60 + 1e-12;

// Types one character the way a Russian keyboard layout sends it.
void TypeChar(QWidget* widget, const QString& ch) {
    QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, ch, Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, ch, Qt::NoModifier);
}


}  // namespace

class TestKoordDlg : public QObject {
    Q_OBJECT

  private:
    void ShowActive(QWidget& w) {
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
    }

  private slots:
    void controlsAndTexts() {
        TKoordDlg dlg;
        QCOMPARE(dlg.windowTitle(), QString("Введите координаты"));
        QCOMPARE(dlg.GroupBox1->title(), QString("Широта"));
        QCOMPARE(dlg.GroupBox2->title(), QString("Долгота"));
        QVERIFY(dlg.GroupBox1->isAncestorOf(dlg.Edit7) &&
                dlg.GroupBox1->isAncestorOf(dlg.ComboBox1));
        QVERIFY(dlg.GroupBox2->isAncestorOf(dlg.Edit10) &&
                dlg.GroupBox2->isAncestorOf(dlg.ComboBox2));
        QCOMPARE(dlg.ComboBox1->count(), 2);
        QCOMPARE(dlg.ComboBox1->itemText(0), QString("N"));
        QCOMPARE(dlg.ComboBox1->itemText(1), QString("S"));
        QCOMPARE(dlg.ComboBox1->currentText(), QString("N"));
        QCOMPARE(dlg.ComboBox2->itemText(0), QString("W"));
        QCOMPARE(dlg.ComboBox2->itemText(1), QString("E"));
        QCOMPARE(dlg.ComboBox2->currentText(), QString("E"));
        const QString hint =
            QString("При вводе вместо знаков препинания можно нажимать пробел.") + " \r\n" +
            "Также можно использовать клавиши N, S, W, E - даже не переключая язык.";
        for (QLineEdit* edit : {dlg.Edit7, dlg.Edit10}) {
            QCOMPARE(edit->maxLength(), 14);
            QCOMPARE(edit->toolTip(), hint);
        }
        QCOMPARE(dlg.OKBtn->text(), QString("OK"));
        QVERIFY(dlg.OKBtn->isDefault());
        QCOMPARE(dlg.CancelBtn->text(), QString("Cancel"));
    }

    void spaceBarTypesTheMarks_data() {
        QTest::addColumn<bool>("latitude");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::newRow("blanks") << true << "55 45 348 "
                                << "55°45,348'";
        QTest::newRow("comma and points") << false << "37.37,038."
                                          << "37°37,038'";
        QTest::newRow("fourth blank and a digit after the apostrophe") << true << "55 45 348  7"
                                                                       << "55°45,348'";
        QTest::newRow("blank first, blank after the degree sign") << true << " 55  4"
                                                                  << "55°4";
        QTest::newRow("letters are dropped") << false << "3x7-+"
                                             << "37";
        QTest::newRow("at most 14 characters") << true << "1234567890123456"
                                               << "12345678901234";
    }

    void spaceBarTypesTheMarks() {
        QFETCH(bool, latitude);
        QFETCH(QString, keys);
        QFETCH(QString, text);
        TKoordDlg dlg;
        ShowActive(dlg);
        QLineEdit* edit = latitude ? dlg.Edit7 : dlg.Edit10;
        edit->setFocus();
        QTest::keyClicks(edit, keys);
        QCOMPARE(edit->text(), text);
    }

    void backspaceAndInsertBeforeTheApostrophe() {
        TKoordDlg dlg;
        ShowActive(dlg);
        dlg.Edit7->setFocus();
        QTest::keyClicks(dlg.Edit7, "55 45 3 ");
        QTest::keyClick(dlg.Edit7, Qt::Key_Left);  // caret before the apostrophe
        QTest::keyClick(dlg.Edit7, '9');
        QCOMPARE(dlg.Edit7->text(), QString("55°45,39'"));
        QTest::keyClick(dlg.Edit7, Qt::Key_End);
        for (int i = 0; i < 5; ++i) QTest::keyClick(dlg.Edit7, Qt::Key_Backspace);
        QCOMPARE(dlg.Edit7->text(), QString("55°4"));
    }

    void hemisphereKeysInBothLayouts_data() {
        QTest::addColumn<bool>("latitude");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("index");
        QTest::newRow("ы selects S") << true << "ы" << 1;
        QTest::newRow("Ы selects S") << true << "Ы" << 1;
        QTest::newRow("s selects S") << true << "s" << 1;
        QTest::newRow("т selects N") << true << "т" << 0;
        QTest::newRow("N selects N") << true << "N" << 0;
        QTest::newRow("ц selects W") << false << "ц" << 0;
        QTest::newRow("w selects W") << false << "w" << 0;
        QTest::newRow("у selects E") << false << "у" << 1;
        QTest::newRow("E selects E") << false << "E" << 1;
    }

    void hemisphereKeysInBothLayouts() {
        QFETCH(bool, latitude);
        QFETCH(QString, key);
        QFETCH(int, index);
        TKoordDlg dlg;
        ShowActive(dlg);
        QLineEdit* edit = latitude ? dlg.Edit7 : dlg.Edit10;
        QComboBox* box = latitude ? dlg.ComboBox1 : dlg.ComboBox2;
        box->setCurrentIndex(1 - index);
        edit->setFocus();
        QTest::keyClicks(edit, "12");
        TypeChar(edit, key);
        QCOMPARE(box->currentIndex(), index);
        QCOMPARE(edit->text(), QString("12"));  // the key itself never enters
    }

    void leavingAnEditStoresAndChecks_data() {
        QTest::addColumn<bool>("latitude");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("hemisphere");
        QTest::addColumn<double>("stored");
        QTest::addColumn<bool>("valid");
        QTest::newRow("55 30") << true << "55 30" << 0 << 55.5 << true;
        QTest::newRow("55 30 south") << true << "55 30" << 1 << -55.5 << true;
        QTest::newRow("37 east") << false << "37 " << 1 << -37.0 << true;
        QTest::newRow("empty") << true << "" << 0 << 0.0 << true;
        QTest::newRow("90 latitude") << true << "90" << 0 << 90.0 << false;
        QTest::newRow("180 longitude") << false << "180" << 0 << 180.0 << false;
        QTest::newRow("60 minutes") << true << "55 60" << 0 << 56.0 << false;
    }

    void leavingAnEditStoresAndChecks() {
        QFETCH(bool, latitude);
        QFETCH(QString, keys);
        QFETCH(int, hemisphere);
        QFETCH(double, stored);
        QFETCH(bool, valid);
        TKoordDlg dlg;
        dlg.Edit7->clear();
        dlg.Edit10->clear();
        dlg.KoordLat = dlg.KoordLon = 12.5;
        ShowActive(dlg);
        QLineEdit* edit = latitude ? dlg.Edit7 : dlg.Edit10;
        (latitude ? dlg.ComboBox1 : dlg.ComboBox2)->setCurrentIndex(hemisphere);
        edit->setFocus();
        QTest::keyClicks(edit, keys);
        QTest::keyClick(edit, Qt::Key_Tab);

        // Stored even when out of range; then the focus comes back.
        QCOMPARE(latitude ? dlg.KoordLat : dlg.KoordLon, stored);
        QCOMPARE(edit->hasFocus(), !valid);
        if (latitude) {
            QCOMPARE(dlg.KoordLon, 12.5);  // the other edit was never left
        }
    }

    void mouseFocusChangeIsAnExitToo() {
        TKoordDlg dlg;
        ShowActive(dlg);
        dlg.Edit7->setFocus();
        QTest::keyClicks(dlg.Edit7, "95");
        QTest::mouseClick(dlg.Edit10, Qt::LeftButton);
        QCOMPARE(dlg.KoordLat, 95.0);
        QVERIFY(dlg.Edit7->hasFocus());
    }

    void twoBadEditsDoNotFightOverTheFocus() {
        TKoordDlg dlg;
        ShowActive(dlg);
        dlg.Edit10->setText("500");
        dlg.Edit7->setFocus();
        QTest::keyClicks(dlg.Edit7, "95");
        dlg.Edit10->setFocus(Qt::TabFocusReason);  // would recurse without a guard
        QVERIFY(dlg.Edit7->hasFocus());
        QCOMPARE(dlg.KoordLat, 95.0);
        QCOMPARE(dlg.KoordLon, 0.0);  // Edit10 was never really entered
    }

    void minutesThatAreNotANumberAreReportedAndNotStored() {
        TKoordDlg dlg;
        ShowActive(dlg);
        MessageCatcher catcher;
        dlg.KoordLat = 12.5;
        dlg.Edit7->setText("55°3x'");  // pasted: the filter never saw it
        dlg.Edit7->setFocus();
        QTest::keyClick(dlg.Edit7, Qt::Key_Tab);
        QTRY_COMPARE(catcher.Texts.size(), 1);
        QCOMPARE(catcher.Texts.first(), QString("'3x' - неверное число"));
        QCOMPARE(dlg.KoordLat, 12.5);
        // The offscreen platform does not activate the dialog again after the
        // message box; the edit is the one that has the focus once it is.
        QCOMPARE(dlg.focusWidget(), dlg.Edit7);
    }

    void okAtOnceReturnsTheFillValues_data() {
        QTest::addColumn<double>("lat");
        QTest::addColumn<double>("lon");
        QTest::newRow("Moscow") << 55.7558 << -37.6173;
        QTest::newRow("south and east") << -33.8568 << -151.2153;
        QTest::newRow("north and west") << 40.7128 << 74.006;
        QTest::newRow("zero") << 0.0 << 0.0;
        QTest::newRow("minutes rounding to 60") << 55.999995 << 0.5;
        QTest::newRow("near the limits") << -85.05113 << 179.9991;
    }

    void okAtOnceReturnsTheFillValues() {
        QFETCH(double, lat);
        QFETCH(double, lon);
        TKoordDlg dlg;
        dlg.Fill(lat, lon);
        QTimer::singleShot(0, &dlg, [&dlg] { QTest::mouseClick(dlg.OKBtn, Qt::LeftButton); });
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));
        QVERIFY2(std::fabs(dlg.KoordLat - lat) <= TextResolution, qPrintable(dlg.Edit7->text()));
        QVERIFY2(std::fabs(dlg.KoordLon - lon) <= TextResolution, qPrintable(dlg.Edit10->text()));
    }

    void enterPressesOk() {
        TKoordDlg dlg;
        dlg.Fill(10.25, -20.5);
        QTimer::singleShot(0, &dlg, [&dlg] {
            QTest::keyClicks(dlg.Edit7, "\b\b\b\b\b\b\b\b\b\b11 ");
            QTest::keyClick(dlg.Edit7, Qt::Key_Return);
        });
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));
        QCOMPARE(dlg.KoordLat, 11.0);
        QCOMPARE(dlg.KoordLon, -20.5);
    }

    void okIsRefusedWhileATextIsBad_data() {
        QTest::addColumn<QString>("latText");
        QTest::addColumn<QString>("lonText");
        QTest::addColumn<bool>("startInLat");
        QTest::addColumn<bool>("latFocused");
        QTest::addColumn<int>("messages");
        QTest::newRow("latitude 90") << "90°0,000'"
                                     << "37" << false << true << 0;
        QTest::newRow("longitude 180") << "55"
                                       << "180" << false << false << 0;
        QTest::newRow("longitude 180, left by the click") << "55"
                                                          << "180" << true << false << 0;
        QTest::newRow("both: the first gets the focus") << "91"
                                                        << "181" << false << true << 0;
        // Leaving the edit and OK both find it: still one message.
        QTest::newRow("not a number: one message") << "55°x'"
                                                   << "37" << true << true << 1;
    }

    void okIsRefusedWhileATextIsBad() {
        QFETCH(QString, latText);
        QFETCH(QString, lonText);
        QFETCH(bool, startInLat);
        QFETCH(bool, latFocused);
        QFETCH(int, messages);
        TKoordDlg dlg;
        ShowActive(dlg);
        MessageCatcher catcher;
        dlg.Edit7->setText(latText);
        dlg.Edit10->setText(lonText);
        (startInLat ? dlg.Edit7 : dlg.Edit10)->setFocus();
        QTest::mouseClick(dlg.OKBtn, Qt::LeftButton);
        QTest::qWait(100);
        QVERIFY(dlg.isVisible());
        QVERIFY(dlg.result() != QDialog::Accepted);
        QCOMPARE(dlg.focusWidget(), latFocused ? dlg.Edit7 : dlg.Edit10);
        QCOMPARE(catcher.Texts.size(), messages);
    }

    void cancelAndEscapeReject() {
        TKoordDlg dlg;
        dlg.Fill(1, 2);
        QTimer::singleShot(0, &dlg, [&dlg] {
            QTest::keyClicks(dlg.Edit7, "5");
            QTest::mouseClick(dlg.CancelBtn, Qt::LeftButton);
        });
        QCOMPARE(dlg.exec(), int(QDialog::Rejected));

        dlg.Fill(1, 2);
        QTimer::singleShot(0, &dlg, [&dlg] { QTest::keyClick(dlg.Edit7, Qt::Key_Escape); });
        QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    }

    void hookCountsCharactersLetThrough() {
        // The search panel's use: its own edits, a favourites reset on each character.
        QWidget panel;
        auto* layout = new QVBoxLayout(&panel);
        auto* lat = new QLineEdit(&panel);
        auto* latBox = new QComboBox(&panel);
        auto* lon = new QLineEdit(&panel);
        auto* lonBox = new QComboBox(&panel);
        for (QWidget* w : {static_cast<QWidget*>(lat), static_cast<QWidget*>(latBox),
                           static_cast<QWidget*>(lon), static_cast<QWidget*>(lonBox)}) {
            layout->addWidget(w);
        }
        CoordinateEditPair::SetupBoxes(latBox, lonBox);
        CoordinateEditPair::SetupEdit(lat);
        CoordinateEditPair::SetupEdit(lon);
        double searchLat = 0, searchLon = 0;
        CoordinateEditPair pair(
            lat, latBox, [&](double v) { searchLat = v; }, lon, lonBox,
            [&](double v) { searchLon = v; });
        int accepted = 0;
        pair.SetCharacterAcceptedHook([&] { ++accepted; });
        ShowActive(panel);

        lat->setFocus();
        QTest::keyClicks(lat, "55 4");  // four let through
        QCOMPARE(accepted, 4);
        QTest::keyClicks(lat, "x");
        TypeChar(lat, "ы");
        QTest::keyClick(lat, Qt::Key_Left);  // not a character
        QCOMPARE(accepted, 4);
        QCOMPARE(latBox->currentIndex(), 1);
        QTest::keyClick(lat, Qt::Key_End);
        QTest::keyClick(lat, Qt::Key_Backspace);
        QCOMPARE(accepted, 5);
        QTest::keyClick(lat, Qt::Key_Tab);
        QCOMPARE(searchLat, -55.0);

        pair.Fill(55.7558, -37.6173);
        QCOMPARE(lat->text(), QString("55°45,348'"));
        QCOMPARE(lon->text(), QString("37°37,038'"));
        QCOMPARE(latBox->currentText(), QString("N"));
        QCOMPARE(lonBox->currentText(), QString("E"));
        QVERIFY(pair.ParseBoth());
        QCOMPARE(searchLat, 55 + 45.348 * 0.016666666666666666);
        QCOMPARE(searchLon, -(37 + 37.038 * 0.016666666666666666));
    }
};

VISTREL_UI_TEST(TestKoordDlg)
#include "test_koord_dlg.moc"
