#include <QApplication>
#include <QMessageBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "ui_test_main.h"
#include "core/app_core.h"
#include "core/settings_file.h"
#include "platform/file_io.h"
#include "support/test_source.h"
#include "ui/koord_dlg.h"
#include "ui/tform1.h"
#include "ui/tform2.h"
#include "ui/tform3.h"
#include "ui/tform5.h"
#include "ui/tform6.h"
#include "ui/tokbottom_dlg.h"
#include "ui/windows.h"

namespace {

std::string FolderOf(const QTemporaryDir& dir) {
    return dir.path().toStdString() + "/";
}

// A settings file as a complete 65-line file from the start values, with a
// source that fetches nothing and some lines replaced.
void WriteSettings(const std::string& folder, std::map<int, std::string> changes) {
    MainState s;
    InitStartValues(s, folder);
    SetSourceString(s, RefusingSource());
    auto lines = SettingsLines(s);
    for (auto& [index, text] : changes) lines[static_cast<size_t>(index)] = text;
    QVERIFY(WriteTextLines(folder + SettingsFileName, lines).Ok);
}

// Presses OK on the first message box that appears; records its texts.
struct MessageBoxCatcher {
    QString Title, Text;
    void Arm() {
        QTimer::singleShot(50, [this] { Catch(); });
    }
    void Catch() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                Title = box->windowTitle();
                Text = box->text();
                box->accept();
                return;
            }
        }
        QTimer::singleShot(50, [this] { Catch(); });
    }
};

}  // namespace

class TestTForm1Startup : public QObject {
    Q_OBJECT
  private slots:
    void firstStartShowsStartValuesAndClosingWritesTheFile() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        {
            TForm1 form(folder);
            MainState& s = form.State();
            QCOMPARE(form.windowTitle(), QStringLiteral("Vistrel"));
            QCOMPARE(form.size(), QSize(734, 589));
            QCOMPARE(s.SourceString, std::string(DefaultSourceString));
            // Shown, the view fetches: from no server but the test's.
            SetSourceString(s, RefusingSource());
            QVERIFY(!ReachesDefaultSource(form.State().SourceStringCopy()));
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QCOMPARE(form.RxSlider1->value(), 1);
            QCOMPARE(form.Label1->text(), QStringLiteral("1"));
            QCOMPARE(form.PanelText(0), QStringLiteral("коорд1"));
            QCOMPARE(form.PanelText(1), QStringLiteral("коорд2"));
            QCOMPARE(form.PanelText(2), QString());
            QCOMPARE(form.PanelText(3), QStringLiteral("0 Mb из интернета"));
            // The designed widths, or more where the texts need it; the size
            // panel takes what the others leave.
            QVERIFY(form.StatusPanels[0]->width() >= 120);
            QVERIFY(form.StatusPanels[3]->width() >= 100);
            QVERIFY(form.StatusPanels[2]->geometry().right() <
                    form.StatusPanels[3]->geometry().left());
            QVERIFY(s.ModeCacheAndInternet);
            QCOMPARE(s.CachePath, folder + "Cache/");
            QCOMPARE(form.ComboBox1->count(), 1);
            QCOMPARE(form.ComboBox1->itemText(0), QStringLiteral("____________________ N E"));
            QCOMPARE(form.ComboBox1->currentText(), QStringLiteral("---Новое Имя---"));
            QCOMPARE(form.ToolButton2->toolTip(), QStringLiteral("Кэш и интернет"));
            QCOMPARE(form.ToolButton3->toolTip(), QStringLiteral("Получить недостающие"));
            QCOMPARE(form.ToolButton5->toolTip(), QStringLiteral("Поиск"));
            // Without a settings file both panels keep their designed visibility.
            QVERIFY(form.TBToolWindow2->isVisible());
            QVERIFY(form.TBToolWindow3->isVisible());
            QCOMPARE(form.TBToolWindow2->windowTitle(), QStringLiteral("Панель поиска"));
            QCOMPARE(form.TBToolWindow3->windowTitle(), QStringLiteral("Склеивание/Выкачивание"));
            QCOMPARE(form.Label15->text(), QStringLiteral("----------------------"));
            QVERIFY(!form.SpeedButton2->isEnabled());
            QCOMPARE(form.ComboBox2->currentText(), QStringLiteral("13"));
            QCOMPARE(form.ComboBox3->currentText(), QStringLiteral("80%"));
            QVERIFY(!form.Image5->isVisible());
            form.close();
            QVERIFY(!form.isVisible());
        }
        std::vector<std::string> lines;
        QVERIFY(ReadTextLines(folder + SettingsFileName, lines));
        QCOMPARE(lines.size(), size_t(65));
        QCOMPARE(lines[3], std::string("ci"));
        QCOMPARE(lines[28], std::string("1"));
        QCOMPARE(lines[64], std::string("S"));
    }

    void storedZoomShowsOnTheSlider() {
        for (auto [stored, shown] : {std::pair{13, 13}, std::pair{25, 20}, std::pair{0, 1}}) {
            QTemporaryDir dir;
            std::string folder = FolderOf(dir);
            WriteSettings(folder, {{28, std::to_string(stored)}});
            TForm1 form(folder);
            QVERIFY(!ReachesDefaultSource(form.State().SourceStringCopy()));
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QCOMPARE(form.RxSlider1->value(), shown);
            QCOMPARE(form.Label1->text(), QString::number(shown));
            QCOMPARE(form.State().Zoom, stored);
            form.close();
        }
    }

    void panelsFollowTheSettingsAtFirstShow() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        WriteSettings(folder, {{43, "-"}, {51, "V"}, {1, "c"}, {3, "-"}});
        TForm1 form(folder);
        QVERIFY(!ReachesDefaultSource(form.State().SourceStringCopy()));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(!form.TBToolWindow2->isVisible());
        QVERIFY(form.TBToolWindow3->isVisible());
        QVERIFY(form.ToolButton8->isChecked());
        QVERIFY(!form.ToolButton5->isChecked());
        QCOMPARE(form.PaintBox1->cursor().shape(), Qt::CrossCursor);
        QCOMPARE(form.ToolButton2->toolTip(), QStringLiteral("Только кэш"));
        QVERIFY(!form.State().FirstShowPending);
        form.close();
    }

    void favouritesAndArchivesAreLoadedAtStart() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        QVERIFY(WriteTextLines(folder + FavoritesFileName, {"Я", "дача", "Б", "Ваня"}).Ok);
        QVERIFY(WriteTextLines(folder + ArchiveListFileName, {"/x.zip", "/y.zip"}).Ok);
        TForm1 form(folder);
        QCOMPARE(form.ComboBox1->count(), 4);
        // Sorted when loaded, by the letters and not by their case.
        QCOMPARE(form.ComboBox1->itemText(0), QStringLiteral("Б"));
        QCOMPARE(form.ComboBox1->itemText(2), QStringLiteral("дача"));
        QCOMPARE(form.ComboBox1->itemText(3), QStringLiteral("Я"));
        QCOMPARE(form.ComboBox1->currentText(), QStringLiteral("---Новое Имя---"));
        QCOMPARE(form.State().ArchiveList.Snapshot()->size(), size_t(2));
    }

    void settingsWriteFailureIsShownAndTheWindowStillCloses() {
        QTemporaryDir dir;
        std::string folder = FolderOf(dir);
        // Tests run as root, so a read-only folder would not stop the write:
        // a folder in the file's place does.
        QVERIFY(QDir().mkpath(QString::fromStdString(folder + SettingsFileName)));
        TForm1 form(folder);
        SetSourceString(form.State(), RefusingSource());
        QVERIFY(!ReachesDefaultSource(form.State().SourceStringCopy()));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        MessageBoxCatcher catcher;
        catcher.Arm();
        form.close();
        QCOMPARE(catcher.Title, QStringLiteral("Сохранение невозможно"));
        QVERIFY(catcher.Text.contains(QStringLiteral("Vistrel2.ini")));
        QVERIFY(!form.isVisible());
    }

    void sevenWindowsAreCreatedHiddenInOrder() {
        QTemporaryDir dir;
        auto windows = Windows::Create(FolderOf(dir));
        QVERIFY(Windows::Instance() == windows.get());
        QVERIFY(windows->Form1 && windows->Form2 && windows->Form3 && windows->Form5 &&
                windows->Form6 && windows->OKBottomDlg && windows->KoordDlg);
        QVERIFY(!windows->Form1->isVisible());
        QVERIFY(!windows->Form5->isVisible());
        QVERIFY(!windows->KoordDlg->isVisible());
    }

    void controlsAreEnabledAndDisabledTogether() {
        QTemporaryDir dir;
        TForm1 form(FolderOf(dir));
        form.EnableControls(false);
        QVERIFY(!form.State().ControlsEnabled);
        QVERIFY(!form.Panel1->isEnabled());
        QVERIFY(!form.RxSlider1->isEnabled());
        QVERIFY(!form.Panel5->isEnabled());
        form.EnableControls(true);
        QVERIFY(form.State().ControlsEnabled);
        QVERIFY(form.Panel1->isEnabled() && form.ToolBar1->isEnabled() && form.Panel2->isEnabled());
    }
};

VISTREL_UI_TEST(TestTForm1Startup)
#include "test_tform1_startup.moc"
