// The three kinds of region task started end to end through "Выполнить",
// the parameters dialog, the save dialog and the timer dialog.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "form_fixture.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "support/http_script_server.h"
#include "support/task_tiles.h"
#include "support/tile_factory.h"
#include "tasks/tasks.h"
#include "ui/tform1.h"
#include "ui/tform2.h"
#include "ui/tokbottom_dlg.h"
#include "ui_test_main.h"

namespace {

// Answers the modal dialogs as they come up, one handler each, in order.
class ModalScript : public QObject {
  public:
    using Handler = std::function<bool(QWidget*)>;  // true when it dealt with the widget
    void Then(Handler handler) { Handlers.push_back(std::move(handler)); }
    ModalScript() {
        Timer.setInterval(20);
        QObject::connect(&Timer, &QTimer::timeout, this, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            // A message nobody expected is kept and closed, never left to hang.
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                Messages << box->text();
                box->accept();
                return;
            }
            if (!modal || Handlers.empty()) return;
            if (Handlers.front()(modal)) Handlers.erase(Handlers.begin());
        });
        Timer.start();
    }
    bool Done() const { return Handlers.empty(); }
    QStringList Messages;

  private:
    QTimer Timer;
    std::vector<Handler> Handlers;
};

template <typename Dialog>
ModalScript::Handler On(std::function<void(Dialog*)> act) {
    return [act](QWidget* w) {
        auto* d = qobject_cast<Dialog*>(w);
        if (!d) return false;
        act(d);
        return true;
    };
}

}  // namespace

class TestTaskDialogs : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<HttpScriptServer> Server;
    std::unique_ptr<TForm1> Form;

    MainState& S() { return Form->State(); }
    QString Path(const QString& name) const { return Dir->path() + "/" + name; }

    void WriteTile(const QString& path, uint32_t seed) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const std::string jpeg = MakeTileJpeg(256, 256, seed);
        f.write(jpeg.data(), static_cast<qint64>(jpeg.size()));
    }

    // Two tiles by two at task zoom 10, their corner inside the first.
    void Select() {
        S().SelLat1 = 55.70;
        S().SelLon1 = -37.55;
        S().SelLat2 = 55.40;
        S().SelLon2 = -38.05;
        S().HasSelection = true;
        Form->ComboBox2->setCurrentIndex(9);
    }
    // The region's tile records as a download of it would make them.
    std::vector<std::string> RegionTiles() {
        auto probe = NewTask(S(), {});
        std::string error;
        const RegionPixels d =
            RegionPixelSize(10, {S().SelLat1, S().SelLon1, S().SelLat2, S().SelLon2});
        BuildTaskTiles(S(), *probe, 10, d.Width, d.Height, error);
        std::vector<std::string> names;
        for (const jtype& t : TaskTileList(*probe)) names.push_back(t.TileName);
        return names;
    }
    void WaitForTasks() {
        QTRY_VERIFY_WITH_TIMEOUT((Form->Timer2Timer(), S().TaskList.Empty() && !S().TaskRunning),
                                 60000);
    }

  private slots:
    void init() {
        Server = std::make_unique<HttpScriptServer>();
        QVERIFY(NewProgramFolder(Dir, {9, 9, 9, 9}));
        QVERIFY(ShowForm(Form, Dir->path(), [&](MainState& s) {
            SetSourceString(s, Server->Url("/kh?v=9&n=404&t=t"));
            s.ShowLogAuto = false;
        }));
        Select();
    }
    void cleanup() {
        Form.reset();
        Server.reset();
        Dir.reset();
    }

    void downloadIntoTheCache() {
        const auto names = RegionTiles();
        QVERIFY(names.size() >= 4);
        for (size_t i = 0; i < names.size(); ++i)
            Server->Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, static_cast<uint32_t>(i))));
        ModalScript script;
        script.Then(On<TOKBottomDlg>([](TOKBottomDlg* d) {
            d->RadioButton2->click();
            d->OKBtn->click();
        }));
        Form->SpeedButton2->click();
        QVERIFY(script.Done());
        WaitForTasks();
        for (const std::string& name : names)
            QVERIFY2(QFile::exists(Path("Cache/") + QString::fromStdString(name) + ".jpg"),
                     name.c_str());
        QCOMPARE(Server->Requests().size(), names.size());
    }

    void stitchInPiecesWithCoordinates() {
        SetWorkMode(S(), 0);  // missing tiles become placeholders; nothing fetched
        const QString base = Path("city.jpg");
        ModalScript script;
        script.Then(On<TOKBottomDlg>([](TOKBottomDlg* d) {
            d->RadioButton1->click();
            d->CheckBox1->setChecked(true);
            d->CheckBox3->setChecked(true);
            d->CheckBox4->setChecked(true);
            d->Edit1->setText("300");
            d->Edit1Exit();
            d->Edit2->setText("300");
            d->Edit2Exit();
            d->OKBtn->click();
        }));
        Form->StitchFileChooser = [base] { return base; };
        Form->SpeedButton2->click();
        QTRY_VERIFY(script.Done());
        WaitForTasks();
        QCOMPARE(script.Messages, QStringList());
        const QStringList jpegs =
            QDir(Dir->path()).entryList({"city_*.jpg"}, QDir::Files, QDir::Name);
        // A region of about 360 x 400 px in pieces of 300: two columns, two rows.
        QCOMPARE(jpegs.size(), 4);
        for (const QString& jpeg : jpegs) {
            QVERIFY2(QRegularExpression("^city_[1-4]_\\d+,\\d{5}_-?\\d+,\\d{5}\\.jpg$")
                         .match(jpeg)
                         .hasMatch(),
                     qPrintable(jpeg));
            const QString stem = jpeg.left(jpeg.size() - 4);
            QVERIFY(QFile::exists(Path(stem + ".map")));
            QVERIFY(QFile::exists(Path(stem + ".jgw")));
        }
        QVERIFY(QFile::exists(Path(jpegs[0]).replace(".jpg", ".jpg.aux.xml")));
        QCOMPARE(Server->Connections(), 0u);
    }

    void exportIntoAMissingFolder() {
        const auto names = RegionTiles();
        // Two of the region's tiles are cached.
        WriteTile(Path("Cache/") + QString::fromStdString(names[0]) + ".jpg", 1);
        WriteTile(Path("Cache/") + QString::fromStdString(names[1]) + ".jpg", 2);
        const QString folder = Path("export/here");
        ModalScript script;
        script.Then(On<TOKBottomDlg>([folder](TOKBottomDlg* d) {
            d->RadioButton3->click();
            d->DirectoryEdit1->setText(folder);
            d->CheckBox2->setChecked(true);
            d->OKBtn->click();
        }));
        Form->SpeedButton2->click();
        QTRY_VERIFY(script.Done());
        QTRY_VERIFY(S().ControlsEnabled);
        for (int i : {0, 1}) {
            const QString tile = folder + "/" + QString::fromStdString(names[i]);
            QVERIFY(QFile::exists(tile + ".jpg"));
            QVERIFY(QFile::exists(tile + ".tab"));
        }
        QCOMPARE(QDir(folder).entryList({"*.jpg"}, QDir::Files).size(), 2);
        QVERIFY(S().TaskList.Empty());
    }

    void timerDialogDelaysOrCancels() {
        S().ShowTimerDialog = true;
        ModalScript script;
        script.Then(On<TOKBottomDlg>([](TOKBottomDlg* d) {
            d->RadioButton2->click();
            d->OKBtn->click();
        }));
        script.Then(On<TForm2>([](TForm2* d) { d->reject(); }));
        Form->SpeedButton2->click();
        QTRY_VERIFY(script.Done());
        QVERIFY(S().TaskList.Empty());  // Cancel makes no task
        QVERIFY(S().ControlsEnabled);

        script.Then(On<TOKBottomDlg>([](TOKBottomDlg* d) { d->OKBtn->click(); }));
        script.Then(On<TForm2>([](TForm2* d) {
            d->Edit1->setValue(1);
            d->accept();
        }));
        const auto before = std::chrono::system_clock::now();
        Form->SpeedButton2->click();
        QTRY_VERIFY(script.Done());
        auto first = S().TaskList.Head();
        QVERIFY(first);
        QVERIFY(first->StartTime - before >= std::chrono::minutes(59));

        // Without the dialog a later task still waits the hour, and dials nothing.
        S().ShowTimerDialog = false;
        Form->StartDownloadTask();
        auto second = S().TaskList.Head();
        QVERIFY(second && second != first);
        QVERIFY(second->StartTime - before >= std::chrono::minutes(59));
        QVERIFY(!second->DialUp && !second->HangUp);
        QCOMPARE(S().TaskList.Size(), size_t{2});
    }

    void stitchAsksForItsFileAfterTheDelayedStart() {
        SetWorkMode(S(), 0);
        S().ShowTimerDialog = true;
        QStringList order;
        ModalScript script;
        script.Then(On<TForm2>([&order](TForm2* d) {
            order << "delayed start";
            d->accept();
        }));
        const QString file = Path("one.jpg");
        Form->StitchFileChooser = [&order, file] {
            order << "file";
            return file;
        };
        QVERIFY(Form->StartStitchTask(QString(), false, false));
        QCOMPARE(order, QStringList({"delayed start", "file"}));
        // Cancelled, the delayed start asks for no file.
        script.Then(On<TForm2>([&order](TForm2* d) {
            order << "cancelled";
            d->reject();
        }));
        QVERIFY(!Form->StartStitchTask(QString(), false, false));
        QCOMPARE(order, QStringList({"delayed start", "file", "cancelled"}));
        WaitForTasks();
    }
};

VISTREL_UI_TEST(TestTaskDialogs)
#include "test_task_dialogs.moc"
