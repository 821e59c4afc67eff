// The tool bar's source box and the settings page's source list, over sources
// that all refuse connections (cache only).
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "core/app_core.h"
#include "core/map_sources.h"
#include "core/settings_file.h"
#include "message_catcher.h"
#include "platform/file_io.h"
#include "support/test_source.h"
#include "support/tile_factory.h"
#include "ui/tform1.h"
#include "ui/tform5.h"
#include "ui/windows.h"
#include "ui_test_main.h"
#include "view/navigation.h"

namespace {

// The refusing source with another request, so that two sources differ.
std::string OtherRefusingSource(const std::string& n) {
    std::string source = RefusingSource();
    source.replace(source.find("n=404"), 5, "n=" + n);
    return source;
}

}  // namespace

class TestSources : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<Windows> Win;
    std::string Folder;

    TForm1* Form1() { return Win->Form1; }
    MainState& S() { return Win->Form1->State(); }

    void Start() {
        Win.reset();
        Win = Windows::Create(Folder);
        Form1()->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1()));
    }

    // The view's middle pixel settles on this red and blue.
    bool MiddleBecomes(uint8_t red, uint8_t blue) {
        for (int i = 0; i < 200; ++i) {
            QTest::qWait(20);
            auto lock = S().ViewBitmap.LockCanvas();
            const Bitmap& b = S().ViewBitmap;
            if (b.Width() < 2) continue;
            const Rgb p = b.Pixel(b.Width() / 2, b.Height() / 2);
            if (std::abs(p.R - red) < 20 && std::abs(p.B - blue) < 20) return true;
        }
        return false;
    }
    static bool PutTile(const std::string& file, uint8_t red, uint8_t blue) {
        return WriteFileAtomic(file, PadJpegToSize(MakeSolidJpeg(256, 256, red, 0, blue), 3000)).Ok;
    }

  private slots:
    void init() {
        Dir = std::make_unique<QTemporaryDir>();
        QVERIFY(Dir->isValid());
        Folder = Dir->path().toStdString() + "/";
        MainState s;
        InitStartValues(s, Folder);
        SetSourceString(s, RefusingSource());
        SetWorkMode(s, 0);
        s.Zoom = 5;
        // Off the tiles' corners, so the middle pixel has one tile.
        s.CenterLat = 10.3;
        s.CenterLon = -20.7;
        QVERIFY(SaveSettings(s, Folder + SettingsFileName).Ok);
        const std::string json =
            "{\"sources\": [{\"name\": \"Синий\", \"url\": \"" + OtherRefusingSource("405") +
            "\", \"cache\": \"Blue\", \"attribution\": \"© Синий\"},"
            " {\"name\": \"Плохой\", \"url\": \"http://x/{w}\", \"cache\": \"Bad\"}]}";
        QVERIFY(WriteFileAtomic(Folder + SourcesFileName, json).Ok);
    }

    void cleanup() {
        Win.reset();
        Dir.reset();
    }

    void switchingSourcesSwitchesCachesAndTheSettingsFile() {
        MessageCatcher messages;
        Start();
        // The bad entry is named once the window is up.
        QTRY_COMPARE(messages.Texts.size(), 1);
        QVERIFY(messages.Texts[0].contains(QStringLiteral("запись 2 «Плохой»")));

        QComboBox* sources = Form1()->SourceBox;
        QCOMPARE(sources->count(), 2);
        QCOMPARE(sources->currentText(), QStringLiteral("Основной"));
        QVERIFY(sources->isEnabled());
        // The same tile, red in the main cache and blue in the other one.
        const int w = S().ViewBitmap.Width(), h = S().ViewBitmap.Height();
        const std::string mainFile = TileFileUnder(S(), w / 2, h / 2);
        QVERIFY(PutTile(mainFile, 230, 0));
        const std::string name = mainFile.substr(mainFile.find_last_of('/') + 1);
        QVERIFY(MakeFolders(Folder + "Blue/"));
        QVERIFY(PutTile(Folder + "Blue/" + name, 0, 230));
        Form1()->RefreshView();
        QVERIFY(MiddleBecomes(230, 0));

        sources->setCurrentIndex(1);
        emit sources->activated(1);
        QCOMPARE(S().CachePathCopy(), Folder + "Blue/");
        QCOMPARE(S().SourceStringCopy(), OtherRefusingSource("405"));
        QCOMPARE(sources->toolTip(), QStringLiteral("© Синий"));
        QVERIFY(MiddleBecomes(0, 230));
        std::vector<std::string> lines;
        QVERIFY(ReadTextLines(Folder + SettingsFileName, lines));
        QCOMPARE(lines.size(), size_t{65});
        QVERIFY(lines[0].find("n=405") != std::string::npos);

        // A new start takes the source the settings file names.
        Start();
        QTRY_COMPARE(messages.Texts.size(), 2);
        QCOMPARE(Form1()->SourceBox->currentText(), QStringLiteral("Синий"));
        QCOMPARE(S().CachePathCopy(), Folder + "Blue/");
        Form1()->SourceBox->setCurrentIndex(0);
        emit Form1()->SourceBox->activated(0);
        QCOMPARE(S().SourceStringCopy(), RefusingSource());
        QCOMPARE(S().CachePathCopy(), Folder + "Cache/");
        QVERIFY(MiddleBecomes(230, 0));
        QVERIFY(ReadTextLines(Folder + SettingsFileName, lines));
        QCOMPARE(lines[0], RefusingSource());
    }

    void settingsPageAddsChangesAndRemovesSources() {
        MessageCatcher messages;
        Start();
        QTRY_COMPARE(messages.Texts.size(), 1);
        TForm5* form = Win->Form5;
        int edits = 0;
        form->EditSource = [&](MapSource& source, bool main) {
            ++edits;
            if (main) return false;
            // First a cache folder that is taken, then one of its own.
            source.Name = "Зелёный";
            source.Url = OtherRefusingSource("406");
            source.Cache = edits == 1 ? "Blue" : "Green";
            return true;
        };
        bool ran = false;
        QTimer::singleShot(0, this, [&] {
            ran = true;
            QCOMPARE(form->SourcesList->count(), 2);
            // The refusal's message box is answered while the add repeats.
            QTest::mouseClick(form->SourceAdd, Qt::LeftButton);
            QCOMPARE(form->SourcesList->count(), 3);
            QCOMPARE(messages.Texts.size(), 2);
            QVERIFY(messages.Texts[1].contains(
                QStringLiteral("папка кэша уже занята источником «Синий»")));
            form->SourcesList->setCurrentRow(1);
            QTest::mouseClick(form->SourceDelete, Qt::LeftButton);
            QCOMPARE(form->SourcesList->count(), 2);
            QVERIFY(form->SourcesList->item(1)->text().startsWith(QStringLiteral("Зелёный")));
            form->SourcesList->setCurrentRow(0);
            QTest::mouseClick(form->SourceDelete, Qt::LeftButton);
            QCOMPARE(messages.Texts.size(), 3);
            QVERIFY(messages.Texts[2].contains(QStringLiteral("основной")));
            QTest::mouseClick(form->CancelBtn, Qt::LeftButton);
        });
        Form1()->ToolButton6Click();
        QVERIFY(ran);
        // Saved at once, whatever the dialog's end; the window's box follows.
        SourceList saved = LoadSources(S());
        QCOMPARE(saved.Sources.size(), size_t{2});
        QCOMPARE(saved.Sources[1].Name, std::string("Зелёный"));
        QCOMPARE(saved.BadEntries.size(), size_t{1});
        QCOMPARE(Form1()->SourceBox->itemText(1), QStringLiteral("Зелёный"));
    }
};

VISTREL_UI_TEST(TestSources)
#include "test_sources.moc"
