// The settings dialog and the mode button, driven through the main window's
// settings button in a main window made over a temporary program folder.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <functional>
#include <memory>

#include "ui_test_main.h"
#include "core/app_core.h"
#include "core/main_state.h"
#include "core/settings_file.h"
#include "platform/file_io.h"
#include "support/test_source.h"
#include "ui/tform1.h"
#include "ui/tform5.h"
#include "ui/windows.h"

namespace {

// Closes the next message box that shows up and remembers what it said;
// one box per catcher, so a second box in the same test is left to a second one.
class MessageBoxCatcher : public QObject {
  public:
    QString Title, Text;
    int Seen = 0;

    MessageBoxCatcher() {
        Timer.setInterval(5);
        connect(&Timer, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (!box || !box->isVisible()) continue;
                Title = box->windowTitle();
                Text = box->text();
                ++Seen;
                Timer.stop();
                box->done(QMessageBox::Ok);
                return;
            }
        });
        Timer.start();
    }

  private:
    QTimer Timer;
};

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    ReadTextLines(path, lines);
    return lines;
}

}  // namespace

class TestTForm5 : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<Windows> Win;
    std::string Folder;

    TForm1* Form1() { return Win->Form1; }
    TForm5* Form5() { return Win->Form5; }
    MainState& S() { return Win->Form1->State(); }
    std::string ArchiveFile() { return Folder + ArchiveListFileName; }

    // A new program over the folder; it fetches nothing from a server the
    // test did not start: the default source is replaced by a refusing one.
    void StartProgram() {
        Win.reset();
        Win = Windows::Create(Folder);
        if (ReachesDefaultSource(S().SourceStringCopy())) SetSourceString(S(), RefusingSource());
    }

    // Presses the settings button; `inside` runs while the dialog is open,
    // then OK or Cancel closes it, whatever `inside` found.
    void RunSettings(const std::function<void(TForm5*)>& inside, bool ok) {
        bool ran = false;
        QTimer::singleShot(0, this, [&] {
            ran = true;
            TForm5* f = Form5();
            if (f->isVisible()) inside(f);
            if (f->isVisible()) QTest::mouseClick(ok ? f->OKBtn : f->CancelBtn, Qt::LeftButton);
        });
        Form1()->ToolButton6Click();
        QVERIFY(ran);
        QVERIFY(!Form5()->isVisible());
    }

  private slots:
    void init() {
        Dir = std::make_unique<QTemporaryDir>();
        QVERIFY(Dir->isValid());
        Folder = Dir->path().toStdString() + "/";
        StartProgram();
    }

    void cleanup() {
        QVERIFY2(!ReachesDefaultSource(S().SourceStringCopy()) || S().ModeCacheOnly,
                 "the test left the program able to fetch from the default source");
        Win.reset();
        Dir.reset();
    }

    void firstOpeningShowsStartValuesAndTheInformationPage() {
        QCOMPARE(Form5()->PageControl1->currentWidget(), Form5()->TabSheet8);
        QCOMPARE(Form5()->PageControl1->tabText(7), QStringLiteral("О программе"));
        RunSettings(
            [](TForm5* f) {
                QCOMPARE(f->Edit12->text(), QStringLiteral("3"));
                QCOMPARE(f->Edit21->text(), QStringLiteral("1"));
                QCOMPARE(f->Edit13->text(), QStringLiteral("3"));
                QCOMPARE(f->Edit14->text(), QStringLiteral("3"));
                QCOMPARE(f->Edit15->text(), QStringLiteral("25"));
                QVERIFY(f->RadioButton3->isChecked());
                QVERIFY(f->RadioButton5->isChecked());
                QCOMPARE(f->Edit11->text(), QString::fromStdString(RefusingSource()));
                QVERIFY(!f->Edit5->isEnabled());
                QVERIFY(f->Edit16->isHidden());
                QVERIFY(f->ListBox1->isHidden());
                QVERIFY(!f->Button3->isEnabled());
                f->PageControl1->setCurrentWidget(f->TabSheet3);
            },
            false);
        // The page last shown stays for the next opening.
        RunSettings([](TForm5* f) { QCOMPARE(f->PageControl1->currentWidget(), f->TabSheet3); },
                    false);
    }

    void everyOpeningReloadsTheControlsFromTheState() {
        MainState& s = S();
        SetWorkMode(s, 1);
        s.UseProxy = true;
        s.ProxyHost = "proxy.local";
        s.ProxyPort = "3128";
        s.ProxyUser = "ivan";
        s.ProxyPassword = "секрет";
        s.ShowTimerDialog = true;
        SetSourceString(s, "http://example.invalid/q?t=");
        s.UseCustomCachePath = true;
        s.CustomCachePath = "/srv/плитки";
        s.ErrorControl = false;
        s.FetchAttempts = 7;
        s.RetryInterval = 42;
        s.MaxWriteErrors = 50;
        s.MaxFetchErrors = 1;
        s.MaxBadFileErrors = 199;
        s.GenerateUpperLayers = false;
        s.ReplaceUpperLayers = true;
        s.UseArchives = true;
        s.ShowLogAuto = false;
        s.WriteOziMap = false;
        s.WriteMapInfoTab = true;
        s.WheelZoom = false;
        QVERIFY(WriteTextLines(ArchiveFile(), {"/a/один.zip", "/b/two.zip"}));

        auto expectState = [](TForm5* f) {
            QVERIFY(f->RadioButton2->isChecked());
            QVERIFY(!f->RadioButton1->isChecked() && !f->RadioButton3->isChecked());
            QVERIFY(f->CheckBox2->isChecked());
            for (QWidget* w : std::initializer_list<QWidget*>{
                     f->Edit5, f->Edit6, f->Edit8, f->Edit9, f->Label16, f->Label17, f->Label18})
                QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
            QCOMPARE(f->Edit5->text(), QStringLiteral("proxy.local"));
            QCOMPARE(f->Edit6->text(), QStringLiteral("3128"));
            QCOMPARE(f->Edit8->text(), QStringLiteral("ivan"));
            QCOMPARE(f->Edit9->text(), QStringLiteral("секрет"));
            QCOMPARE(f->Edit9->echoMode(), QLineEdit::Normal);
            QVERIFY(f->CheckBox1->isChecked());
            QCOMPARE(f->Edit11->text(), QStringLiteral("http://example.invalid/q?t="));
            QVERIFY(f->CheckBox4->isChecked());
            QVERIFY(!f->Edit16->isHidden());
            QCOMPARE(f->Edit16->text(), QStringLiteral("/srv/плитки"));
            QVERIFY(!f->CheckBox3->isChecked());
            for (QWidget* w : std::initializer_list<QWidget*>{
                     f->UpDown1, f->UpDown6, f->UpDown2, f->UpDown4, f->UpDown5, f->Label22,
                     f->Label15, f->Label25, f->Label23, f->Label24})
                QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
            QVERIFY(f->CheckBox8->isEnabled());
            QCOMPARE(f->Edit12->text(), QStringLiteral("7"));
            QCOMPARE(f->Edit21->text(), QStringLiteral("42"));
            QCOMPARE(f->Edit13->text(), QStringLiteral("50"));
            QCOMPARE(f->Edit14->text(), QStringLiteral("1"));
            QCOMPARE(f->Edit15->text(), QStringLiteral("199"));
            QVERIFY(!f->CheckBox5->isChecked());
            QVERIFY(f->CheckBox6->isChecked());
            QVERIFY(f->CheckBox7->isChecked());
            QVERIFY(!f->CheckBox8->isChecked());
            QVERIFY(!f->CheckBox9->isChecked());
            QVERIFY(f->CheckBox10->isChecked());
            QVERIFY(f->RadioButton4->isChecked());
            QVERIFY(!f->RadioButton5->isChecked());
            QVERIFY(!f->ListBox1->isHidden() && !f->Button2->isHidden() && !f->Button3->isHidden());
            QCOMPARE(f->ListBox1->count(), 2);
            QCOMPARE(f->ListBox1->item(0)->text(), QStringLiteral("/a/один.zip"));
            QCOMPARE(f->ListBox1->item(1)->text(), QStringLiteral("/b/two.zip"));
        };
        RunSettings(
            [&](TForm5* f) {
                expectState(f);
                // Edits that Cancel must throw away.
                f->RadioButton1->setChecked(true);
                f->CheckBox2->setChecked(false);
                f->Edit5->setText("other");
                f->Edit11->clear();
                f->CheckBox4->setChecked(false);
                f->CheckBox3->setChecked(true);
                f->UpDown1->setValue(1);
                f->CheckBox7->setChecked(false);
                f->RadioButton5->setChecked(true);
            },
            false);
        QVERIFY(s.ModeInternetOnly && !s.ModeCacheOnly);
        RunSettings(expectState, false);
    }

    void numberFieldsChangeOnlyWithinTheirRanges_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        const int ranges[5][2] = {{1, 10}, {1, 60}, {1, 50}, {1, 100}, {1, 200}};
        const char* names[5] = {"UpDown1", "UpDown6", "UpDown2", "UpDown4", "UpDown5"};
        for (int i = 0; i < 5; ++i) {
            int low = ranges[i][0], high = ranges[i][1];
            QTest::addRow("%s below", names[i]) << i << low - 5 << low << low << high;
            QTest::addRow("%s above", names[i]) << i << high + 1000 << high << low << high;
            QTest::addRow("%s inside", names[i]) << i << low + 1 << low + 1 << low << high;
        }
    }

    void numberFieldsChangeOnlyWithinTheirRanges() {
        QFETCH(int, field);
        QFETCH(int, stored);
        QFETCH(int, shown);
        QFETCH(int, low);
        QFETCH(int, high);
        std::atomic<int>* fields[5] = {&S().FetchAttempts, &S().RetryInterval, &S().MaxWriteErrors,
                                       &S().MaxFetchErrors, &S().MaxBadFileErrors};
        *fields[field] = stored;
        int applied = 0;
        RunSettings(
            [&](TForm5* f) {
                QSpinBox* boxes[5] = {f->UpDown1, f->UpDown6, f->UpDown2, f->UpDown4, f->UpDown5};
                QSpinBox* box = boxes[field];
                QCOMPARE(box->value(), shown);
                QCOMPARE(box->minimum(), low);
                QCOMPARE(box->maximum(), high);
                // Typing does nothing; the arrows' keys step within the range.
                auto* edit = box->findChild<QLineEdit*>();
                QVERIFY(edit->isReadOnly());
                QTest::keyClicks(box, "9");
                QCOMPARE(box->value(), shown);
                QTest::keyClick(box, Qt::Key_Up);
                int up = std::min(shown + 1, high);
                QCOMPARE(box->value(), up);
                QCOMPARE(edit->text(), QString::number(up));
                QTest::keyClick(box, Qt::Key_Down);
                QTest::keyClick(box, Qt::Key_Down);
                applied = std::max(up - 2, low);
                QCOMPARE(box->value(), applied);
            },
            true);
        QCOMPARE(fields[field]->load(), applied);
    }

    void okAppliesEveryFieldAndSavesTheSettings() {
        QVERIFY(WriteTextLines(ArchiveFile(), {"/old/archive.zip"}));
        Form5()->ChooseArchive = [] { return QStringLiteral("/new/свежий.zip"); };
        RunSettings(
            [this](TForm5* f) {
                f->RadioButton1->setChecked(true);
                f->CheckBox2->setChecked(true);
                f->Edit5->setText("10.0.0.1");
                f->Edit6->setText("не число");
                f->Edit8->setText("user");
                f->Edit9->setText("pass word");
                f->CheckBox1->setChecked(true);
                f->Edit11->setText("http://localhost:1/kh?v=99&t=");
                f->CheckBox4->setChecked(true);
                f->Edit16->setText(QString::fromStdString(Folder + "кэш"));
                f->CheckBox3->setChecked(false);
                f->UpDown1->setValue(10);
                f->UpDown6->setValue(60);
                f->UpDown2->setValue(2);
                f->UpDown4->setValue(100);
                f->UpDown5->setValue(1);
                f->CheckBox5->setChecked(false);
                f->CheckBox6->setChecked(true);
                f->CheckBox7->setChecked(true);
                f->CheckBox8->setChecked(false);
                f->CheckBox9->setChecked(false);
                f->CheckBox10->setChecked(true);
                f->RadioButton4->setChecked(true);
                QTest::mouseClick(f->Button2, Qt::LeftButton);
            },
            true);
        MainState& s = S();
        QVERIFY(s.ModeCacheOnly && !s.ModeInternetOnly && !s.ModeCacheAndInternet);
        QCOMPARE(s.ModeButtonImage, 0);
        QCOMPARE(Form1()->ToolButton2->toolTip(), QStringLiteral("Только кэш"));
        QVERIFY(s.UseProxy);
        ProxySettings proxy = s.ProxySnapshot();
        QCOMPARE(proxy.ProxyHost, std::string("10.0.0.1"));
        QCOMPARE(proxy.ProxyPort, std::string("не число"));
        QCOMPARE(proxy.ProxyUser, std::string("user"));
        QCOMPARE(proxy.ProxyPassword, std::string("pass word"));
        QVERIFY(s.ShowTimerDialog);
        QCOMPARE(s.SourceStringCopy(), std::string("http://localhost:1/kh?v=99&t="));
        QCOMPARE(s.SourceLength, 29);
        QVERIFY(s.UseCustomCachePath);
        QCOMPARE(s.CustomCachePath, Folder + "кэш");
        QCOMPARE(s.CachePathCopy(), Folder + "кэш/");
        QVERIFY(!s.ErrorControl);
        QCOMPARE(s.FetchAttempts.load(), 10);
        QCOMPARE(s.RetryInterval.load(), 60);
        QCOMPARE(s.MaxWriteErrors.load(), 2);
        QCOMPARE(s.MaxFetchErrors.load(), 100);
        QCOMPARE(s.MaxBadFileErrors.load(), 1);
        QVERIFY(!s.GenerateUpperLayers);
        QVERIFY(s.ReplaceUpperLayers);
        QVERIFY(s.UseArchives);
        QVERIFY(!s.ShowLogAuto);
        QVERIFY(!s.WriteOziMap);
        QVERIFY(s.WriteMapInfoTab);
        QVERIFY(!s.WheelZoom);
        const std::vector<std::string> archives = {"/old/archive.zip", "/new/свежий.zip"};
        QCOMPARE(s.ArchiveList.Copy(), archives);
        QCOMPARE(Lines(ArchiveFile()), archives);

        // The settings file went out whole, and a new start reads the same state.
        std::vector<std::string> ini = Lines(Folder + SettingsFileName);
        QCOMPARE(ini.size(), size_t(65));
        QCOMPARE(ini[0], std::string("http://localhost:1/kh?v=99&t="));
        QCOMPARE(ini[1], std::string("c"));
        QCOMPARE(ini[7], std::string("не число"));
        QCOMPARE(ini[10], std::string("29"));
        QCOMPARE(ini[23], Folder + "кэш");
        QCOMPARE(ini[24], std::string("c"));
        QCOMPARE(ini[64], std::string("C"));
        StartProgram();
        QVERIFY(S().ModeCacheOnly);
        QCOMPARE(S().CachePathCopy(), Folder + "кэш/");
        QCOMPARE(S().MaxBadFileErrors.load(), 1);
        QCOMPARE(S().ArchiveList.Copy(), archives);
    }

    void cacheFolderRule_data() {
        QTest::addColumn<bool>("custom");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");  // "~" stands for the program folder
        QTest::newRow("own folder") << false << "/ignored"
                                    << "~Cache/";
        QTest::newRow("custom") << true << "/mnt/tiles"
                                << "/mnt/tiles/";
        QTest::newRow("custom empty is the root") << true << ""
                                                  << "/";
        QTest::newRow("trailing separator kept") << true << "/mnt/tiles/"
                                                 << "/mnt/tiles//";
        QTest::newRow("missing folder taken as typed") << true << "/no/such"
                                                       << "/no/such/";
        QTest::newRow("relative folder in the program folder") << true << "D:\\Tiles"
                                                               << "~D:\\Tiles/";
    }

    void cacheFolderRule() {
        QFETCH(bool, custom);
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        expected.replace("~", QString::fromStdString(Folder));
        RunSettings(
            [&](TForm5* f) {
                f->CheckBox4->setChecked(custom);
                QCOMPARE(f->Edit16->isHidden(), !custom);
                f->Edit16->setText(folder);
            },
            true);
        QCOMPARE(QString::fromStdString(S().CachePathCopy()), expected);
        QCOMPARE(S().UseCustomCachePath, custom);
    }

    void browseButtonFillsTheFolderField() {
        QString asked;
        Form5()->ChooseFolder = [&](const QString& current) {
            asked = current;
            return QStringLiteral("/chosen");
        };
        S().CustomCachePath = "/before";
        S().UseCustomCachePath = true;
        RunSettings([](TForm5* f) { QTest::mouseClick(f->Edit16Browse, Qt::LeftButton); }, true);
        QCOMPARE(asked, QStringLiteral("/before"));
        QCOMPARE(S().CachePathCopy(), std::string("/chosen/"));

        // A cancelled folder dialog leaves the field alone.
        Form5()->ChooseFolder = [](const QString&) { return QString(); };
        RunSettings(
            [](TForm5* f) {
                QTest::mouseClick(f->Edit16Browse, Qt::LeftButton);
                QCOMPARE(f->Edit16->text(), QStringLiteral("/chosen"));
            },
            false);
    }

    void cancelAfterAddingAnArchiveKeepsOnlyTheFile() {
        S().UseArchives = true;
        int asked = 0;
        Form5()->ChooseArchive = [&] {
            ++asked;
            return asked == 3 ? QString() : QStringLiteral("/x/same.zip");
        };
        RunSettings(
            [](TForm5* f) {
                // Twice the same file: both are listed; a cancelled pick adds nothing.
                QTest::mouseClick(f->Button2, Qt::LeftButton);
                QTest::mouseClick(f->Button2, Qt::LeftButton);
                QTest::mouseClick(f->Button2, Qt::LeftButton);
                QCOMPARE(f->ListBox1->count(), 2);
            },
            false);
        QCOMPARE(asked, 3);
        QCOMPARE(Lines(ArchiveFile()), (std::vector<std::string>{"/x/same.zip", "/x/same.zip"}));
        QVERIFY(S().ArchiveList.Copy().empty());
        std::string raw;
        QVERIFY(ReadWholeFile(ArchiveFile(), raw));
        QCOMPARE(raw, std::string("/x/same.zip\r\n/x/same.zip\r\n"));

        // The next opening shows the file; a removal is written at once too.
        RunSettings(
            [](TForm5* f) {
                QCOMPARE(f->ListBox1->count(), 2);
                f->ListBox1->setCurrentRow(0);
                QVERIFY(f->Button3->isEnabled());
                QTest::mouseClick(f->Button3, Qt::LeftButton);
                QCOMPARE(f->ListBox1->count(), 1);
                QVERIFY(!f->Button3->isEnabled());
                // Without a selection the button does nothing.
                f->Button3Click();
                QCOMPARE(f->ListBox1->count(), 1);
            },
            false);
        QCOMPARE(Lines(ArchiveFile()), (std::vector<std::string>{"/x/same.zip"}));
        QVERIFY(S().ArchiveList.Copy().empty());

        // A file that has gone leaves the list box as it was; OK then gives an
        // empty archive list.
        QVERIFY(RemoveFile(ArchiveFile()));
        RunSettings([](TForm5* f) { QCOMPARE(f->ListBox1->count(), 1); }, true);
        QVERIFY(S().ArchiveList.Copy().empty());
    }

    void archiveListWriteFailureIsShownAndTheItemStays() {
        S().UseArchives = true;
        // Root ignores permissions, so a folder in the file's place makes the write fail.
        QVERIFY(QDir().mkpath(QString::fromStdString(ArchiveFile())));
        Form5()->ChooseArchive = [] { return QStringLiteral("/y/a.zip"); };
        MessageBoxCatcher added;
        int afterAdd = 0, afterRemove = -1;
        RunSettings(
            [&](TForm5* f) {
                QTest::mouseClick(f->Button2, Qt::LeftButton);
                afterAdd = f->ListBox1->count();
                if (added.Seen != 1) return;
                MessageBoxCatcher removed;
                f->ListBox1->setCurrentRow(0);
                QTest::mouseClick(f->Button3, Qt::LeftButton);
                afterRemove = f->ListBox1->count();
                QCOMPARE(removed.Seen, 1);
            },
            false);
        QCOMPARE(added.Seen, 1);
        QCOMPARE(added.Title, QStringLiteral("Сохранение невозможно"));
        QCOMPARE(added.Text, QStringLiteral("Запись файла CacheList.dat невозможна"));
        QCOMPARE(afterAdd, 1);
        QCOMPARE(afterRemove, 0);
    }

    void settingsWriteFailureIsShownAndTheStateApplied() {
        QVERIFY(QDir().mkpath(QString::fromStdString(Folder + SettingsFileName)));
        MessageBoxCatcher catcher;
        RunSettings([](TForm5* f) { f->CheckBox1->setChecked(true); }, true);
        QCOMPARE(catcher.Seen, 1);
        QCOMPARE(catcher.Title, QStringLiteral("Сохранение невозможно"));
        QCOMPARE(catcher.Text, TForm1::SettingsWriteFailedText());
        QVERIFY(S().ShowTimerDialog);
    }

    void restoreThenCancelKeepsTheSource() {
        SetSourceString(S(), "http://mine/");
        RunSettings(
            [](TForm5* f) {
                QTest::mouseClick(f->ButtonS, Qt::LeftButton);
                QCOMPARE(f->Edit11->text(), QString::fromUtf8(DefaultSourceString));
                // "Принять" takes nothing by itself.
                QTest::mouseClick(f->ButtonSOK, Qt::LeftButton);
                QVERIFY(f->isVisible());
            },
            false);
        QCOMPARE(S().SourceStringCopy(), std::string("http://mine/"));
        QCOMPARE(S().SourceLength, 12);
        // Cache only: OK redraws the view, which must not ask the default source.
        SetWorkMode(S(), 0);
        RunSettings([](TForm5* f) { QTest::mouseClick(f->ButtonS, Qt::LeftButton); }, true);
        QCOMPARE(S().SourceStringCopy(), std::string(DefaultSourceString));
        QCOMPARE(S().SourceLength, int(std::string(DefaultSourceString).size()));
    }

    void emptySourceIsTakenAsTyped() {
        RunSettings([](TForm5* f) { f->Edit11->clear(); }, true);
        QCOMPARE(S().SourceStringCopy(), std::string());
        QCOMPARE(S().SourceLength, 0);
        QCOMPARE(Lines(Folder + SettingsFileName).size(), size_t(65));
    }

    void proxySwitchedOffThenOk() {
        S().UseProxy = true;
        S().ProxyHost = "p";
        RunSettings(
            [](TForm5* f) {
                QVERIFY(f->Edit5->isEnabled());
                QTest::mouseClick(f->CheckBox2, Qt::LeftButton);
                QVERIFY(!f->CheckBox2->isChecked());
                for (QWidget* w :
                     std::initializer_list<QWidget*>{f->Edit5, f->Edit6, f->Edit8, f->Edit9,
                                                     f->Label16, f->Label17, f->Label18})
                    QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
            },
            true);
        QVERIFY(!S().UseProxy);
        QCOMPARE(S().ProxySnapshot().ProxyHost, std::string("p"));
    }

    void handlersShowAndHideTheirControls() {
        RunSettings(
            [](TForm5* f) {
                QTest::mouseClick(f->CheckBox3, Qt::LeftButton);
                QVERIFY(!f->UpDown1->isEnabled() && !f->Label24->isEnabled());
                QTest::mouseClick(f->CheckBox8, Qt::LeftButton);
                QVERIFY(f->CheckBox8->isEnabled());
                QVERIFY(!f->UpDown5->isEnabled());
                QTest::mouseClick(f->CheckBox3, Qt::LeftButton);
                QVERIFY(f->UpDown1->isEnabled() && f->Label24->isEnabled());

                QTest::mouseClick(f->CheckBox4, Qt::LeftButton);
                QVERIFY(!f->Edit16->isHidden() && !f->Edit16Browse->isHidden());
                QTest::mouseClick(f->CheckBox4, Qt::LeftButton);
                QVERIFY(f->Edit16->isHidden() && f->Edit16Browse->isHidden());

                QTest::mouseClick(f->CheckBox7, Qt::LeftButton);
                QVERIFY(!f->ListBox1->isHidden() && !f->Button2->isHidden() &&
                        !f->Button3->isHidden());
                QTest::mouseClick(f->CheckBox7, Qt::LeftButton);
                QVERIFY(f->ListBox1->isHidden() && f->Button2->isHidden() &&
                        f->Button3->isHidden());
            },
            false);
    }

    void selectedArchiveShowsItsPathAsHint() {
        S().UseArchives = true;
        QVERIFY(WriteTextLines(ArchiveFile(), {"/first.zip", "/very/long/path/second.zip"}));
        RunSettings(
            [](TForm5* f) {
                f->PageControl1->setCurrentWidget(f->TabSheet3);
                QVERIFY(f->ListBox1->isVisible());
                QCOMPARE(f->ListBox1->toolTip(), QString());
                QRect second = f->ListBox1->visualItemRect(f->ListBox1->item(1));
                QTest::mouseClick(f->ListBox1->viewport(), Qt::LeftButton, {}, second.center());
                QCOMPARE(f->ListBox1->toolTip(), QStringLiteral("/very/long/path/second.zip"));
                QVERIFY(f->Button3->isEnabled());
                QCOMPARE(QToolTip::text(), QStringLiteral("/very/long/path/second.zip"));
                f->ListBox1->clearSelection();
                QCOMPARE(f->ListBox1->toolTip(), QString());
                QVERIFY(!f->Button3->isEnabled());
            },
            false);
    }

    void readMeButtonOpensTheProgramFoldersFile() {
        QUrl opened;
        Form5()->OpenDocument = [&](const QUrl& url) { opened = url; };
        RunSettings([](TForm5* f) { QTest::mouseClick(f->Button1, Qt::LeftButton); }, false);
        QCOMPARE(opened, QUrl::fromLocalFile(QString::fromStdString(Folder) + "ReadMe.txt"));
    }

    // Every caption and help text fits its control on every page, and every
    // page's tab is shown without scrolling. With VISTREL_SHOTS set to a
    // folder the pages are also saved there as tform5-<n>.png.
    void everyTextFitsOnEveryPage() {
        S().UseArchives = true;
        S().UseCustomCachePath = true;
        S().ProxyPort = "8080";
        QVERIFY(WriteTextLines(ArchiveFile(), {"/home/user/archives/moscow-z15.zip"}));
        const QString shots = qEnvironmentVariable("VISTREL_SHOTS");
        RunSettings(
            [&](TForm5* f) {
                auto* tabs = f->PageControl1->tabBar();
                QVERIFY(tabs->sizeHint().width() <= f->PageControl1->width());
                for (int i = 0; i < f->PageControl1->count(); ++i) {
                    f->PageControl1->setCurrentIndex(i);
                    QApplication::processEvents();
                    QWidget* page = f->PageControl1->widget(i);
                    for (auto* label : page->findChildren<QLabel*>()) {
                        if (!label->isVisible()) continue;
                        int needed = label->wordWrap() ? label->heightForWidth(label->width())
                                                       : label->sizeHint().height();
                        QVERIFY2(label->height() >= needed, qPrintable(label->text()));
                        if (!label->wordWrap())
                            QVERIFY2(label->width() >= label->sizeHint().width(),
                                     qPrintable(label->text()));
                    }
                    for (auto* button : page->findChildren<QAbstractButton*>()) {
                        if (!button->isVisible()) continue;
                        QVERIFY2(button->width() >= button->sizeHint().width(),
                                 qPrintable(button->text()));
                    }
                    if (!shots.isEmpty()) {
                        QDir().mkpath(shots);
                        QVERIFY(f->grab().save(
                            QStringLiteral("%1/tform5-%2.png").arg(shots).arg(i + 1)));
                    }
                }
            },
            false);
    }

    void modeFlagsOutOfOrderShowOneModeAndOkRepairsThem() {
        // A hand-edited file left no mode on; the button shows "cache and internet".
        S().ModeCacheOnly = false;
        S().ModeInternetOnly = false;
        S().ModeCacheAndInternet = false;
        RunSettings(
            [](TForm5* f) {
                QVERIFY(f->RadioButton3->isChecked());
                QVERIFY(!f->RadioButton1->isChecked() && !f->RadioButton2->isChecked());
            },
            true);
        QVERIFY(S().ModeCacheAndInternet && !S().ModeCacheOnly && !S().ModeInternetOnly);
    }

    void modeButtonCyclesAndShowsTheHint_data() {
        QTest::addColumn<int>("start");
        QTest::newRow("from cache only") << 0;
        QTest::newRow("from internet only") << 1;
        QTest::newRow("from cache and internet") << 2;
    }

    void modeButtonCyclesAndShowsTheHint() {
        QFETCH(int, start);
        const QString hints[3] = {"Только кэш", "Только интернет", "Кэш и интернет"};
        SetWorkMode(S(), start);
        Form1()->UpdateModeButton();
        Form1()->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1()));
        int mode = start;
        for (int press = 0; press < 3; ++press) {
            QTest::mouseClick(Form1()->ToolButton2, Qt::LeftButton);
            mode = (mode + 1) % 3;
            QCOMPARE(S().ModeButtonImage, mode);
            QCOMPARE(S().ModeCacheOnly.load(), mode == 0);
            QCOMPARE(S().ModeInternetOnly.load(), mode == 1);
            QCOMPARE(S().ModeCacheAndInternet.load(), mode == 2);
            QCOMPARE(Form1()->ToolButton2->toolTip(), hints[mode]);
            QCOMPARE(QToolTip::text(), hints[mode]);
        }
        QCOMPARE(S().ModeButtonImage, start);
        // Nothing is saved by the button.
        QVERIFY(!FileExists(Folder + SettingsFileName));
        Form1()->hide();
    }

    // Nothing is ever saved changed: a text with characters Windows-1251
    // lacks is refused on OK, naming the field and the characters.
    void textsTheSettingsFileCannotHoldAreRefused() {
        RunSettings(
            [&](TForm5* f) {
                f->CheckBox4->setChecked(true);
                f->Edit16->setText(QString::fromStdString(Folder) + QStringLiteral("café"));
                f->CheckBox2->setChecked(true);
                f->Edit9->setText(QStringLiteral("пароль€"));  // the euro sign it has
                MessageBoxCatcher first;
                QTest::mouseClick(f->OKBtn, Qt::LeftButton);
                QCOMPARE(first.Seen, 1);
                QVERIFY(first.Text.contains(QStringLiteral("Расположение кэша")));
                QVERIFY(first.Text.contains(QStringLiteral(": é.")));
                QVERIFY(f->isVisible());
                QCOMPARE(f->PageControl1->currentWidget(), f->TabSheet3);
                f->Edit16->setText(QString::fromStdString(Folder) + QStringLiteral("cafe"));
                f->Edit8->setText(QStringLiteral("用户用"));
                MessageBoxCatcher second;
                QTest::mouseClick(f->OKBtn, Qt::LeftButton);
                QCOMPARE(second.Seen, 1);
                QVERIFY(second.Text.contains(QStringLiteral("Proxy User")));
                QVERIFY(second.Text.contains(QStringLiteral(": 用 户.")));
                QCOMPARE(f->PageControl1->currentWidget(), f->TabSheet1);
                QVERIFY(S().CustomCachePath.empty());
                f->Edit8->setText(QStringLiteral("Иван"));
            },
            true);
        QCOMPARE(S().CustomCachePath, Folder + "cafe");
        QCOMPARE(S().ProxySnapshot().ProxyUser, std::string("Иван"));
        const std::vector<std::string> lines = Lines(Folder + SettingsFileName);
        QCOMPARE(lines.size(), size_t{65});
        QCOMPARE(lines[9], std::string("пароль€"));
        QCOMPARE(lines[23], Folder + "cafe");
    }

    void anArchivePathTheListCannotHoldIsNotAdded() {
        Form5()->ChooseArchive = [this] { return QString::fromStdString(Folder) + "café.zip"; };
        MessageBoxCatcher catcher;
        int count = -1;
        RunSettings(
            [&](TForm5* f) {
                f->CheckBox7->setChecked(true);
                QTest::mouseClick(f->Button2, Qt::LeftButton);
                count = f->ListBox1->count();
            },
            false);
        QCOMPARE(catcher.Seen, 1);
        QVERIFY(catcher.Text.contains(QStringLiteral(": é.")));
        QCOMPARE(count, 0);
        QVERIFY(Lines(ArchiveFile()).empty());
    }

    void anUnusableUrlTemplateIsRefusedWithItsReason() {
        const QString good = QStringLiteral("https://tiles.example/{z}/{x}/{-y}.jpg");
        // Cache only: the redraw after OK asks no server.
        SetWorkMode(S(), 0);
        RunSettings(
            [&](TForm5* f) {
                for (const char* p : {"{z}", "{x}", "{y}", "{-y}", "{q}"})
                    QVERIFY(f->Edit11->toolTip().contains(QString::fromUtf8(p)));
                QVERIFY(f->SourceError->isHidden());
                f->PageControl1->setCurrentWidget(f->TabSheet1);
                f->Edit11->setText(QStringLiteral("https://tiles.example/{z}/{x}/{row}.jpg"));
                QVERIFY(!f->SourceError->isHidden());
                QVERIFY(f->SourceError->text().contains(QStringLiteral("{row}")));
                MessageBoxCatcher catcher;
                QTest::mouseClick(f->OKBtn, Qt::LeftButton);
                QCOMPARE(catcher.Seen, 1);
                QCOMPARE(catcher.Title, QStringLiteral("Источник"));
                QVERIFY(catcher.Text.contains(QStringLiteral("{row}")));
                // Refused: still open, on the page with the culprit.
                QVERIFY(f->isVisible());
                QCOMPARE(f->PageControl1->currentWidget(), f->TabSheet2);
                QCOMPARE(S().SourceStringCopy(), RefusingSource());
                f->Edit11->setText(good);
                QVERIFY(f->SourceError->isHidden());
            },
            true);
        QCOMPARE(S().SourceStringCopy(), good.toStdString());
        QCOMPARE(S().SourceLength, static_cast<int>(good.size()));
    }
};

VISTREL_UI_TEST(TestTForm5)
#include "test_tform5.moc"
