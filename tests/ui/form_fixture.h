// The program folder and main window most window tests start from.
#pragma once
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>
#include <vector>

#include "support/tile_factory.h"
#include "ui/tform1.h"

// A new program folder with a Cache folder; given seeds, the cache holds the
// zoom 1 tiles q, r, s, t made from them, so the view never needs a server.
inline bool NewProgramFolder(std::unique_ptr<QTemporaryDir>& dir,
                             const std::vector<uint32_t>& tileSeeds = {}) {
    dir = std::make_unique<QTemporaryDir>();
    if (!dir->isValid() || !QDir(dir->path()).mkdir("Cache")) return false;
    const char* names[] = {"q", "r", "s", "t"};
    for (std::size_t i = 0; i < tileSeeds.size() && i < 4; ++i) {
        QFile f(dir->path() + "/Cache/" + names[i] + ".jpg");
        const std::string jpeg = MakeTileJpeg(256, 256, tileSeeds[i]);
        const auto size = static_cast<qint64>(jpeg.size());
        if (!f.open(QIODevice::WriteOnly) || f.write(jpeg.data(), size) != size) return false;
    }
    return true;
}

// A 900 x 700 main window over `dir`, upper layers not generated; `prepare`
// sets its source or work mode before it shows. False when it never showed.
inline bool ShowForm(std::unique_ptr<TForm1>& form, const QString& dir,
                     const std::function<void(MainState&)>& prepare) {
    form = std::make_unique<TForm1>((dir + "/").toStdString());
    prepare(form->State());
    form->State().GenerateUpperLayers = false;
    form->resize(900, 700);
    form->show();
    return QTest::qWaitForWindowExposed(form.get());
}
