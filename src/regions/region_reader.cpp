#include "regions/region_reader.h"

#include <cmath>

RegionReader::RegionReader(const QString& name, const RegionReadOptions& options)
    : name_(name), options_(options) {
    result_.Shape.CorridorWidth = options.CorridorWidth;
}

bool RegionReader::Point(double lonEast, double lat, ShapePoint& point) {
    if (Failed()) return false;
    if (!(std::abs(lat) <= 90) || !(std::abs(lonEast) <= 180)) {
        Fail(RegionFileError::OutOfRange,
             QStringLiteral("широта %1, долгота %2").arg(lat).arg(lonEast));
        return false;
    }
    if (++points_ > MaxRegionPoints) {
        Fail(RegionFileError::TooLarge, QStringLiteral("больше %1 точек").arg(MaxRegionPoints));
        return false;
    }
    point = {-lonEast, lat};
    return true;
}

void RegionReader::Fail(RegionFileError error, const QString& detail) {
    if (Failed()) return;
    result_.Error = error;
    result_.Message = RegionFileMessage(error, name_, detail);
}

bool RegionReader::Progress(qint64 done, qint64 total) {
    if (Failed()) return false;
    if (options_.Progress && !options_.Progress(done, total)) {
        Fail(RegionFileError::Cancelled, {});
        return false;
    }
    return true;
}

void RegionReader::AddPolygon(GeoPolygon polygon) {
    result_.Shape.Polygons.push_back(std::move(polygon));
}

void RegionReader::AddLine(GeoPath line) {
    if (!line.empty()) result_.Shape.Lines.push_back(std::move(line));
}

RegionFileResult RegionReader::Finish() {
    if (!Failed()) {
        NormalizeShape(result_.Shape);
        if (result_.Shape.Empty()) Fail(RegionFileError::Empty, {});
    }
    if (Failed()) result_.Shape = {};
    return std::move(result_);
}

QString RegionFileMessage(RegionFileError error, const QString& name, const QString& detail) {
    QString text;
    switch (error) {
        case RegionFileError::None:
            return {};
        case RegionFileError::CannotOpen:
            text = QStringLiteral("Не удалось открыть файл «%1»");
            break;
        case RegionFileError::TooLarge:
            text = QStringLiteral("Файл «%1» слишком велик");
            break;
        case RegionFileError::UnknownFormat:
            text = QStringLiteral(
                "Файл «%1» не читается как область: нужен .geojson, .json, .kml, .kmz или .gpx");
            break;
        case RegionFileError::NotThisFormat:
            text = QStringLiteral("Файл «%1» не того формата, что говорит его имя");
            break;
        case RegionFileError::Malformed:
            text = QStringLiteral("Файл «%1» повреждён");
            break;
        case RegionFileError::OutOfRange:
            text = QStringLiteral("В файле «%1» координаты вне допустимых пределов");
            break;
        case RegionFileError::Empty:
            text = QStringLiteral("В файле «%1» нет ни полигонов, ни линий");
            break;
        case RegionFileError::Cancelled:
            text = QStringLiteral("Чтение файла «%1» прервано");
            break;
    }
    text = text.arg(name);
    if (!detail.isEmpty()) text += QStringLiteral(": ") + detail;
    return text;
}
