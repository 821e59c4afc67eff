#include "form_fixture.h"
#include "support/http_script_server.h"
#include "support/task_tiles.h"
#include "tasks/stitch_task.h"
#include "tasks/tasks.h"
#include "ui_test_main.h"

// The task list outlives the window: closed with tasks waiting and one
// running, opened again on the same folder.
class TestTaskRecord : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<HttpScriptServer> Server;
    std::unique_ptr<TForm1> Form;

    MainState& S() { return Form->State(); }
    bool Open() {
        return ShowForm(Form, Dir->path(), [&](MainState& s) {
            SetSourceString(s, Server->Url("/kh?v=9&n=404&t=t"));
        });
    }
    std::shared_ptr<stichtype> Make(int zoom) {
        S().SelLat1 = 55.70;
        S().SelLon1 = -37.55;
        S().SelLat2 = 55.10;
        S().SelLon2 = -38.55;
        TaskRequest request;
        request.Zoom = zoom;
        auto task = NewTask(S(), request);
        std::string failed, error;
        if (BuildTask(S(), *task, request, failed, error) != TaskBuild::Built) return nullptr;
        return task;
    }

  private slots:
    void init() {
        // The view finds its tiles in the cache: the server sees only the tasks.
        QVERIFY(NewProgramFolder(Dir, {9, 9, 9, 9}));
        Server = std::make_unique<HttpScriptServer>();
    }
    void cleanup() {
        Form.reset();
        Server.reset();
        Dir.reset();
    }

    void aRestartBringsTheTasksBackWaitingAndContinueResumesTheCursor() {
        QVERIFY(Open());
        // The first is alone and starts; two more wait behind it.
        for (int i = 0; i < 40; ++i)
            Server->Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, static_cast<uint32_t>(i)))
                             .Delay(i < 3 ? 0 : 300));
        const auto running = Make(10);
        QVERIFY(running);
        QVERIFY(QueueTask(S(), running));
        QVERIFY(StartTaskWorker(S(), running));
        QTRY_VERIFY_WITH_TIMEOUT(running->Resume >= 3, 10000);
        const auto second = Make(9), third = Make(8);
        QueueTask(S(), second);
        QueueTask(S(), third);
        Form.reset();  // the window goes with a task half way

        const std::size_t asked = Server->Requests().size();
        QVERIFY(Open());
        const auto listed = S().TaskList.Snapshot();
        QCOMPARE(listed.size(), std::size_t{3});
        QCOMPARE(Form->ComboBox4->count(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(listed[static_cast<std::size_t>(i)]->Zoom, 8 + i);
            QVERIFY2(Form->ComboBox4->itemText(i).contains(QStringLiteral("(прервано)")),
                     qPrintable(Form->ComboBox4->itemText(i)));
        }
        QVERIFY(Form->ContinueButton->isVisible());
        const int64_t resume = listed[2]->Resume;
        QVERIFY(resume >= 3 && resume < listed[2]->TileCount);
        // Nothing starts before Continue.
        Form->Timer2Timer();
        QTest::qWait(200);
        QVERIFY(!S().TaskRunning);

        for (int i = 0; i < 200; ++i)
            Server->Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, static_cast<uint32_t>(i))));
        QTest::mouseClick(Form->ContinueButton, Qt::LeftButton);
        QVERIFY(!Form->ContinueButton->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!S().TaskList.Contains(listed[2].get()), 30000);
        // Its remaining tiles, each once, from where it had got to.
        const auto tiles = TaskTileList(*listed[2]);
        const std::size_t left = tiles.size() - static_cast<std::size_t>(resume);
        QVERIFY(Server->WaitForRequests(asked + left));
        const auto requests = Server->Requests();
        for (std::size_t i = 0; i < left; ++i)
            QVERIFY2(requests[asked + i].find(
                         "t=t" + tiles[static_cast<std::size_t>(resume) + i].TileName + " ") !=
                         std::string::npos,
                     requests[asked + i].c_str());
    }
};

VISTREL_UI_TEST(TestTaskRecord)
#include "test_task_record.moc"
