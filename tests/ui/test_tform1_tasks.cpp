#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "fetch/request_tile.h"
#include "form_fixture.h"
#include "support/http_script_server.h"
#include "support/tile_factory.h"
#include "tasks/tasks.h"
#include "ui/message_catcher.h"
#include "ui/tform1.h"
#include "ui/tform2.h"
#include "ui/tform3.h"
#include "ui/tform6.h"
#include "ui_test_main.h"

class TestTForm1Tasks : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<HttpScriptServer> Server;
    std::unique_ptr<TForm1> Form;

    MainState& S() { return Form->State(); }
    TForm6* Report() { return Form->ReportWindow(); }
    QString Memo() { return Report()->Memo1->toPlainText(); }

    void MakeForm() {
        Server = std::make_unique<HttpScriptServer>();
        // The view finds its tiles in the cache: the server sees only the task.
        QVERIFY(NewProgramFolder(Dir, {9, 9, 9, 9}));
        QVERIFY(ShowForm(Form, Dir->path(), [&](MainState& s) {
            SetSourceString(s, Server->Url("/kh?v=9&n=404&t=t"));
        }));
    }

    // A selection of 3 x 3 to 4 x 4 tiles at task zoom 10.
    void Select(double lat = 55.70, double lon = -37.55) {
        S().SelLat1 = lat;
        S().SelLon1 = lon;
        S().SelLat2 = lat - 0.6;
        S().SelLon2 = lon - 1;
        S().HasSelection = true;
        Form->ComboBox2->setCurrentIndex(9);
    }

    void SlowTiles(int count, int delayMs) {
        for (int i = 0; i < count; ++i)
            Server->Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, static_cast<uint32_t>(i)))
                             .Delay(delayMs));
    }

  private slots:
    void init() { MakeForm(); }
    void cleanup() {
        Form.reset();
        Server.reset();
        Dir.reset();
    }

    void menuStartsADownloadThatTheReportWindowFollows() {
        Form->ToolButton8->setChecked(true);  // the selection outlives the task
        // A failure on the way writes a line while the window is closed.
        SlowTiles(3, 300);
        Server->Push(ScriptedAnswer::Status(404, "Not Found"));
        SlowTiles(14, 300);
        Select();
        Form->StartDownloadTask();
        QVERIFY(S().ControlsEnabled);
        QCOMPARE(Form->ComboBox4->count(), 1);
        QVERIFY(Form->ComboBox4->itemText(0).contains(" начало ... Выделено "));
        QVERIFY(Form->Panel4->isVisibleTo(Form.get()));
        QVERIFY(Form->SpeedButton3->isEnabled());
        QVERIFY(Form->Timer2->isActive());
        QCOMPARE(Form->Timer2->interval(), 3000);
        // Opened with the lines made so far, then following the worker.
        QVERIFY(Report()->isVisible());
        QVERIFY(Memo().startsWith("Поступила команда Выкачать "));
        QVERIFY(Memo().contains("\nСписок создан "));
        QTRY_VERIFY(Memo().contains("\nНачало выкачивания в "));

        Form->Timer2Timer();
        QVERIFY(Form->ComboBox4->itemText(0).startsWith("С "));
        QVERIFY(Form->ComboBox4->itemText(0).contains(" ожидайте, закачано "));
        QVERIFY(Form->TaskProgressBar->toolTip().contains(" из "));

        // Closed: lines written meanwhile are not followed.
        Report()->Button1->click();
        QVERIFY(!Report()->isVisible());
        const auto task = S().TaskList.Head();
        QVERIFY(task);
        QTRY_VERIFY_WITH_TIMEOUT(!task->LogShown, 20000);
        // Reopened by selecting the task: the whole log, followed again.
        Form->ComboBox4->setCurrentIndex(0);
        Form->ComboBox4Select();
        QVERIFY(Report()->isVisible());
        QVERIFY(task->LogShown);
        QTRY_VERIFY_WITH_TIMEOUT(Memo().contains("\nвыполнено в "), 20000);
        const QStringList lines = Memo().split('\n');
        QCOMPARE(lines.size(), static_cast<qsizetype>(task->Log.Size()));
        QCOMPARE(lines.filter("выполнено в ").size(), 1);  // no line twice
        QVERIFY(lines.contains("Выкачано"));

        // The last task gone, the list empties; the selection stays while the
        // selection button is down.
        Form->Timer2Timer();
        QCOMPARE(Form->ComboBox4->count(), 0);
        QVERIFY(!Form->SpeedButton3->isEnabled());
        QVERIFY(!Form->Panel4->isVisibleTo(Form.get()));
        QVERIFY(S().HasSelection);
    }

    void secondTaskDoesNotOpenTheReportAndStopEndsIt() {
        SlowTiles(16, 100);
        Select();
        const auto first = Form->MakeTask({});
        QVERIFY(first);
        Report()->hide();
        Select(40.1, -30.2);
        const auto second = Form->MakeTask({});
        QVERIFY(second);
        QVERIFY(!Report()->isVisible());
        QCOMPARE(Form->ComboBox4->count(), 2);
        QCOMPARE(Form->ComboBox4->currentIndex(), 1);  // the last entry stays selected

        // Stop the queued one (the newest, at the top of the list).
        Form->ComboBox4->setCurrentIndex(0);
        Form->SpeedButton3Click();
        QVERIFY(second->Stop);
        QVERIFY(QString::fromStdString(second->Log.Lines().back())
                    .startsWith("Поступила команда Прекратить в  "));
        Form->Timer2Timer();
        QVERIFY(Form->ComboBox4->itemText(0).endsWith(" Отменено "));
        // The first ends, the stopped one then only runs its end phase.
        Form->ToolButton8->setChecked(false);
        QTRY_VERIFY_WITH_TIMEOUT((Form->Timer2Timer(), S().TaskList.Empty()), 30000);
        QCOMPARE(QString::fromStdString(second->Log.Lines().back()).left(12),
                 QString("выполнено в "));
        Form->Timer2Timer();
        QVERIFY(!Form->TBToolWindow3->isVisibleTo(Form.get()));
        QVERIFY(!S().HasSelection);
        // The stopped task fetched nothing.
        QCOMPARE(Server->Requests().size(), static_cast<size_t>(first->TileCount));
    }

    void taskPanelSizesFollowTheList() {
        Form->TBToolWindow3->show();
        Select();
        S().ModeCacheOnly = true;
        S().ModeCacheAndInternet = false;
        QVERIFY(Form->MakeTask({}));
        // The designed sizes, or what the controls need in this font.
        QTRY_VERIFY(Form->TBToolWindow3->width() >= 723);
        const int wide = Form->TBToolWindow3->width();
        QVERIFY(wide <= std::max(723, Form->TBToolWindow3->sizeHint().width()));
        QVERIFY(Form->ComboBox4->isVisibleTo(Form.get()));
        QTRY_VERIFY((Form->Timer2Timer(), S().TaskList.Empty()));
        QTRY_VERIFY(Form->TBToolWindow3->width() >= 363 && Form->TBToolWindow3->width() < wide);
        Form->TBToolWindow3->setFloating(true);
        Form->SizeTaskPanel(true);
        QTRY_VERIFY(Form->TBToolWindow3->height() >= 98);
        const int tall = Form->TBToolWindow3->height();
        Form->SizeTaskPanel(false);
        QTRY_VERIFY(Form->TBToolWindow3->height() >= 47 && Form->TBToolWindow3->height() < tall);
    }

    void failedMakingLeavesTheWindowUsable() {
        MessageCatcher catcher;
        S().SelLat1 = 85;
        S().SelLon1 = 179;
        S().SelLat2 = -85;
        S().SelLon2 = -179;
        S().HasSelection = true;
        Form->ComboBox2->setCurrentIndex(19);
        QVERIFY(!Form->MakeTask({}));
        QTRY_COMPARE(catcher.Texts.size(), 1);
        QVERIFY(catcher.Texts[0].contains("фрагментов"));
        QVERIFY(S().ControlsEnabled);
        QVERIFY(S().TaskList.Empty());
        QCOMPARE(Form->ComboBox4->count(), 0);
        // No selection, no task.
        S().HasSelection = false;
        QVERIFY(!Form->MakeTask({}));
    }

    // The calibration files could not name the image: refused at once, with
    // the characters named, for one image and for pieces alike.
    void stitchNameTheCalibrationCannotHoldIsRefused() {
        MessageCatcher catcher;
        Select();
        const QString name = Dir->path() + QStringLiteral("/Café 中.jpg");
        Form->StitchFileChooser = [name] { return name; };
        for (const bool cut : {false, true}) {
            Form->StitchSelection(cut, 600, 400, 300, 300, false, false);
            QTRY_COMPARE(catcher.Texts.size(), cut ? 2 : 1);
            QVERIFY(
                catcher.Texts.last().contains(QStringLiteral("(кодировка Windows-1251): é 中.")));
        }
        QVERIFY(S().TaskList.Empty());
        QCOMPARE(Server->Connections(), 0u);
        QCOMPARE(QDir(Dir->path()).entryList({QStringLiteral("Caf*")}), QStringList());
        QVERIFY(S().ControlsEnabled);
    }

    void errorCountsReachTheProgressWindow() {
        S().TotalBadFileErrors = 7;
        S().Sink->ShowErrorCounts();
        S().Sink->ShowErrorCounts();
        TForm3* progress = Form->ProgressWindow();
        QTRY_COMPARE(progress->Label3->text(), QString("7 ошибок jpeg"));
        QCOMPARE(progress->Label2->text(), QString("0 ошибок получения"));
        QCOMPARE(progress->Label4->text(), QString("0 ошибок записи"));
        QCOMPARE(progress->windowTitle(), QString("Процесс"));
        QCOMPARE(progress->Button1->text(), QString("Отмена"));
        QCOMPARE(Report()->windowTitle(), QString("Отчет"));
        QCOMPARE(Report()->size(), QSize(392, 298));
        QVERIFY(Report()->Memo1->isReadOnly());
        QVERIFY(Report()->windowFlags() & Qt::WindowStaysOnTopHint);
    }

    void closingWithAWaitingTaskEndsItAndSavesTheSettings() {
        Select();
        // An hour's delay set in the timer dialog counts without showing it.
        Form->TimerDialog()->Edit1->setValue(1);
        const auto task = Form->MakeTask({});
        QVERIFY(task);
        QTRY_VERIFY(task->Started);
        QElapsedTimer clock;
        clock.start();
        Form->close();
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(!S().TaskRunning);
        QVERIFY(task->Stop);
        QCOMPARE(QString::fromStdString(task->Log.Lines().back()).left(12),
                 QString("выполнено в "));
        QVERIFY(QFile::exists(Dir->path() + "/Vistrel2.ini"));
        QCOMPARE(Server->Connections(), 0u);
    }

    void stopAndLogActOnTheTaskTheEntryShows() {
        S().ShowLogAuto = false;
        Form->TimerDialog()->Edit1->setValue(1);  // they all wait an hour
        Select();
        const auto oldest = Form->MakeTask({});
        Select(40.1, -30.2);
        const auto middle = Form->MakeTask({});
        Select(30.1, -20.2);
        const auto newest = Form->MakeTask({});
        QVERIFY(oldest && middle && newest);
        Form->Timer2Timer();
        QCOMPARE(Form->ComboBox4->count(), 3);
        // The newest ends between two refreshes; the entries still show it.
        newest->RequestStop();
        EndStoppedTasks(S());
        QCOMPARE(S().TaskList.Size(), size_t{2});

        struct Step {
            int Entry;
            bool Stop;  // else the log selection
            std::shared_ptr<stichtype> Target;
        };
        for (const Step& step :
             {Step{2, false, oldest}, Step{1, true, middle}, Step{0, true, nullptr}}) {
            Form->ComboBox4->setCurrentIndex(step.Entry);
            if (step.Stop)
                Form->SpeedButton3Click();
            else
                Form->ComboBox4Select();
            for (const auto& task : {oldest, middle}) {
                const bool acted = step.Stop ? task->Stop.load() : task->LogShown.load();
                QCOMPARE(acted, task == step.Target || (step.Stop && task == middle));
            }
        }
        QVERIFY(!oldest->Stop);
    }

    void theLastTaskEndingDropsTheSizeTexts() {
        Form->ToolButton8->setChecked(false);
        SetWorkMode(S(), 0);
        Select();
        Form->ComboBox2Change();
        QVERIFY(Form->Label15->text().startsWith("Выделено "));
        QVERIFY(Form->PanelText(2).startsWith("Выделено "));
        QVERIFY(Form->MakeTask({}));
        QTRY_VERIFY_WITH_TIMEOUT((Form->Timer2Timer(), S().TaskList.Empty()), 30000);
        Form->Timer2Timer();
        QVERIFY(!S().HasSelection);
        QCOMPARE(Form->Label15->text(), QString("----------------------"));
        QCOMPARE(Form->PanelText(2), QString(" "));
        QVERIFY(!Form->SpeedButton2->isEnabled());
    }

    // Not a check: under a real X server (VISTREL_SCREENSHOT=file.png, a
    // tile server on the default address), two downloads of the planet with
    // the report window following the running one, for a person to look at.
    void screenshotOfTwoTasks() {
        const QString shot = qEnvironmentVariable("VISTREL_SCREENSHOT");
        if (shot.isEmpty()) QSKIP("VISTREL_SCREENSHOT not set");
        SetSourceString(S(), DefaultSourceString);
        SetWorkMode(S(), 1);
        Form->move(0, 0);
        Form->RxSlider1->setValue(6);
        S().CenterLat = 55.7;
        S().CenterLon = -37.6;
        Form->RxSlider1Changed();
        Form->ToolButton8->click();
        const QPoint mid = Form->PaintBox1->rect().center();
        QTest::mousePress(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, mid - QPoint(120, 80));
        QTest::mouseMove(Form->PaintBox1, mid);
        QTest::mouseMove(Form->PaintBox1, mid + QPoint(140, 90));
        QTest::mouseRelease(Form->PaintBox1, Qt::LeftButton, Qt::NoModifier, mid + QPoint(140, 90));
        QVERIFY(S().HasSelection);
        Form->ComboBox2->setCurrentIndex(9);
        Form->StartDownloadTask();
        Form->ComboBox2->setCurrentIndex(10);
        Form->StartDownloadTask();
        Form->ComboBox4->setCurrentIndex(1);
        Form->ComboBox4Select();
        Form->ReportWindow()->move(Form->width() - 200, 380);
        QTest::qWait(3500);
        Form->Timer2Timer();
        QTest::qWait(500);
        QCOMPARE(QProcess::execute("import", {"-window", "root", shot}), 0);
    }
};

VISTREL_UI_TEST(TestTForm1Tasks)
#include "test_tform1_tasks.moc"
