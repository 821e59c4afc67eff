#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <thread>

#include "ui_test_main.h"
#include "fetch/dial_up_ops.h"
#include "support/fake_dial_up.h"
#include "ui/tform1.h"
#include "ui/tform2.h"
#include "ui/tform3.h"

namespace {

class DialSink : public UiSink {
  public:
    void SetProgressStatus(const std::string& text) override { Statuses.push_back(text); }
    void ShowDialError(const std::string& text) override { Errors.push_back(text); }
    std::vector<std::string> Statuses, Errors;
};

void WhenShown(TForm2* dlg, std::function<void()> fn) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, dlg, fn] {
        if (QApplication::activeModalWidget() != dlg || !dlg->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        fn();
    });
    timer->start();
}

}  // namespace

class TestTForm2 : public QObject {
    Q_OBJECT

  private slots:
    void controlsInOrderWithTheirRanges() {
        MainState s;
        FakeDialUp fake;
        s.DialUpService = &fake;
        TForm2 dlg(nullptr, &s);
        QCOMPARE(dlg.windowTitle(), QString("Таймер"));
        QVERIFY(dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(dlg.Label4->text(), QString("Закачку начать через:"));
        QCOMPARE(dlg.Label5->text(), QString("часов"));
        QCOMPARE(dlg.Label6->text(), QString("минут"));
        QCOMPARE(dlg.Edit1->minimum(), 0);
        QCOMPARE(dlg.Edit1->maximum(), 100);
        QCOMPARE(dlg.Edit2->maximum(), 60);
        QCOMPARE(dlg.CheckBox3->text(), QString("Подключаться автоматически"));
        QCOMPARE(dlg.Label2->text(), QString("Подключение:"));
        QCOMPARE(dlg.Label3->text(), QString("Имя пользователя:"));
        QCOMPARE(dlg.Label7->text(), QString("Пароль:"));
        QCOMPARE(dlg.CheckBox1->text(), QString("разорвать все соединения после окончания"));
        QCOMPARE(dlg.GroupBox1->title(), QString("Проверка"));
        QCOMPARE(dlg.Button3->text(), QString("Подключится"));
        QCOMPARE(dlg.Button4->text(), QString("Отключиться"));
        QCOMPARE(dlg.Button1->text(), QString("Ok"));
        QCOMPARE(dlg.Button2->text(), QString("Отменить"));
        QCOMPARE(dlg.Edit7->maxLength(), 30);
        QCOMPARE(dlg.Edit10->echoMode(), QLineEdit::Password);
        QVERIFY(!dlg.CheckBox3->isChecked() && !dlg.CheckBox1->isChecked());
        // Top to bottom as designed.
        dlg.show();
        QList<QWidget*> order = {dlg.Label4, dlg.CheckBox3, dlg.Cs,        dlg.Edit7,
                                 dlg.Edit10, dlg.CheckBox1, dlg.GroupBox1, dlg.Button1};
        for (int i = 1; i < order.size(); ++i)
            QVERIFY2(order[i - 1]->mapTo(&dlg, QPoint(0, 0)).y() <
                         order[i]->mapTo(&dlg, QPoint(0, 0)).y(),
                     qPrintable(QString::number(i)));
        // The numbers change by the arrows only.
        QTest::keyClicks(dlg.Edit1, "7");
        QCOMPARE(dlg.Edit1->value(), 0);
        QTest::keyClick(dlg.Edit1, Qt::Key_Up);
        QCOMPARE(dlg.Edit1->value(), 1);
        dlg.Edit1->setValue(500);
        QCOMPARE(dlg.Edit1->value(), 100);
        dlg.hide();
    }

    void everyShowingResetsTheTimeAndRebuildsTheList() {
        MainState s;
        FakeDialUp fake;
        s.DialUpService = &fake;
        TForm2 dlg(nullptr, &s);
        dlg.show();
        QCOMPARE(dlg.Cs->count(), 0);
        QCOMPARE(dlg.Cs->currentText(), QString("нет подключений"));
        dlg.Edit1->setValue(2);
        dlg.Edit2->setValue(30);
        dlg.CheckBox3->setChecked(true);
        dlg.Edit7->setText("ivan");
        dlg.Edit10->setText("secret");
        dlg.setEnabled(true);
        dlg.Button3->setEnabled(false);
        dlg.hide();
        fake.Entries = {"DSL", "Modem"};
        dlg.show();
        QCOMPARE(dlg.Edit1->value(), 0);
        QCOMPARE(dlg.Edit2->value(), 0);
        QVERIFY(dlg.Button3->isEnabled());
        QCOMPARE(dlg.Cs->count(), 2);
        QCOMPARE(dlg.Cs->currentText(), QString("DSL"));
        // Ticks, user and password stay from one showing to the next.
        QVERIFY(dlg.CheckBox3->isChecked());
        QCOMPARE(dlg.Edit7->text(), QString("ivan"));
        QCOMPARE(dlg.Edit10->text(), QString("secret"));
        dlg.hide();
    }

    void okGivesTheTicksCancelGivesNothing() {
        MainState s;
        FakeDialUp fake;
        fake.Entries = {"DSL"};
        s.DialUpService = &fake;
        TForm2 dlg(nullptr, &s);
        WhenShown(&dlg, [&] {
            dlg.Edit1->setValue(2);
            dlg.Edit2->setValue(30);
            dlg.CheckBox3->setChecked(true);
            dlg.CheckBox1->setChecked(true);
            dlg.Edit7->setText("ivan");
            dlg.Edit10->setText("pw");
            QTest::mouseClick(dlg.Button1, Qt::LeftButton);
        });
        DelayedStart v;
        QVERIFY(dlg.Exec(v));
        QCOMPARE(v.Hours, 2);
        QCOMPARE(v.Minutes, 30);
        QVERIFY(v.DialUp && v.HangUp);
        QCOMPARE(v.DialEntry, std::string("DSL"));
        QCOMPARE(v.DialUser, std::string("ivan"));
        QCOMPARE(v.DialPassword, std::string("pw"));

        // Not shown this time: the last hours and texts, but no dial.
        DelayedStart later = dlg.Values(false);
        QCOMPARE(later.Hours, 2);
        QVERIFY(!later.DialUp && !later.HangUp);
        QCOMPARE(later.DialEntry, std::string("DSL"));

        WhenShown(&dlg, [&] {
            dlg.CheckBox3->setChecked(true);
            QTest::mouseClick(dlg.Button2, Qt::LeftButton);
        });
        DelayedStart untouched;
        untouched.Hours = 42;
        QVERIFY(!dlg.Exec(untouched));
        QCOMPARE(untouched.Hours, 42);
    }

    void testButtonsDialAndHangUp() {
        MainState s;
        FakeDialUp fake;
        DialSink sink;
        s.DialUpService = &fake;
        s.Sink = &sink;
        fake.Entries = {"DSL", "Modem"};
        fake.FailingEntries["Modem"] = 678;
        fake.ErrorTexts[678] = "Нет ответа";
        TForm2 dlg(nullptr, &s);
        dlg.show();
        dlg.Edit7->setText("ivan");
        dlg.Edit10->setText("pw");
        QTest::mouseClick(dlg.Button3, Qt::LeftButton);
        QCOMPARE(fake.Dials.size(), size_t(1));
        QCOMPARE(fake.Dials[0].Entry, std::string("DSL"));
        QCOMPARE(fake.Dials[0].Password, std::string("pw"));
        // A typed name is not a selected entry: nothing is dialled.
        dlg.Cs->setEditText("Somewhere");
        QTest::mouseClick(dlg.Button3, Qt::LeftButton);
        QCOMPARE(fake.Dials.size(), size_t(1));
        dlg.Cs->setCurrentIndex(1);
        QTest::mouseClick(dlg.Button3, Qt::LeftButton);
        QCOMPARE(sink.Errors, std::vector<std::string>{"Нет ответа"});
        // "Отключиться" takes every connection down.
        fake.Active.push_back("other");
        QTest::mouseClick(dlg.Button4, Qt::LeftButton);
        QVERIFY(fake.Active.empty());
        const int lists = fake.ListConnectionCalls;
        QTest::mouseClick(dlg.Button4, Qt::LeftButton);
        QCOMPARE(fake.ListConnectionCalls, lists + 1);
        dlg.hide();
    }

    void aWorkersFailedDialIsShownOnceFromTheGuiThread() {
        QTemporaryDir dir;
        TForm1 form(dir.path().toStdString() + "/");
        FakeDialUp fake;
        fake.FailingEntries["Modem"] = 678;
        fake.ErrorTexts[678] = "Нет ответа";
        form.State().DialUpService = &fake;
        QStringList boxes;
        bool onGuiThread = false;
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->windowTitle() + "|" + box->text();
                onGuiThread = box->thread() == QThread::currentThread();
                box->accept();
            }
        });
        poll.start();
        bool dialled = true;
        std::thread worker([&] { dialled = DialConnection(form.State(), "Modem", "", ""); });
        worker.join();
        QVERIFY(!dialled);
        QTRY_COMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0], QString("ошибки|Нет ответа"));
        QVERIFY(onGuiThread);
        QCOMPARE(form.ProgressWindow()->Label1->text(), QString("Подключение..."));
        std::thread hangUp([&] { HangUpAll(form.State()); });
        hangUp.join();
        QTRY_COMPARE(form.ProgressWindow()->Label1->text(), QString("Отключение..."));
        QTest::qWait(50);
        QCOMPARE(boxes.size(), 1);
    }
};

VISTREL_UI_TEST(TestTForm2)
#include "test_tform2.moc"
