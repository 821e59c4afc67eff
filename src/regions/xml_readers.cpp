// KML and GPX: both streamed with QXmlStreamReader, elements matched by their
// local names so that any namespace prefix (kml:, gx:) reads the same.
#include <QXmlStreamReader>

#include "regions/region_file.h"
#include "regions/region_reader.h"

namespace {

bool Is(const QXmlStreamReader& xml, QLatin1StringView name) {
    return xml.name() == name;
}

// Moves to the root element and checks its name.
bool Root(QXmlStreamReader& xml, RegionReader& reader, QLatin1StringView root,
          const QByteArray& bytes) {
    if (bytes.trimmed().startsWith('{')) {
        reader.Fail(RegionFileError::NotThisFormat, QStringLiteral("это JSON, а не XML"));
        return false;
    }
    if (!xml.readNextStartElement()) return false;
    if (!Is(xml, root)) {
        reader.Fail(
            RegionFileError::NotThisFormat,
            QStringLiteral("корневой элемент «%1», а не «%2»").arg(xml.name().toString(), root));
        return false;
    }
    return true;
}

// Every 4096 elements: progress by the characters read so far.
bool Tick(QXmlStreamReader& xml, RegionReader& reader, int& counter, qint64 total) {
    if (++counter % 4096 != 0) return true;
    return reader.Progress(xml.characterOffset(), total);
}

RegionFileResult Finish(QXmlStreamReader& xml, RegionReader& reader) {
    if (xml.hasError() && xml.error() != QXmlStreamReader::CustomError && !reader.Failed()) {
        reader.Fail(RegionFileError::Malformed, QStringLiteral("ошибка XML в строке %1: %2")
                                                    .arg(xml.lineNumber())
                                                    .arg(xml.errorString()));
    }
    return reader.Finish();
}

// Stops the XML reader once the reader has failed.
bool Stop(QXmlStreamReader& xml, RegionReader& reader) {
    if (reader.Failed() && !xml.hasError()) xml.raiseError(QStringLiteral("stop"));
    return xml.hasError();
}

// One KML point, "lon<sep>lat[<sep>alt]", added to `path`; false on a failure.
bool KmlTuple(QStringView item, QChar separator, qint64 line, RegionReader& reader, GeoPath& path) {
    const auto parts = item.split(separator, Qt::SkipEmptyParts);
    bool okLon = false, okLat = false;
    const double lon = parts.size() >= 2 ? parts[0].toDouble(&okLon) : 0;
    const double lat = parts.size() >= 2 ? parts[1].toDouble(&okLat) : 0;
    if (!okLon || !okLat) {
        reader.Fail(RegionFileError::Malformed,
                    QStringLiteral("строка %1: «%2» не координаты").arg(line).arg(item.left(40)));
        return false;
    }
    ShapePoint p;
    if (!reader.Point(lon, lat, p)) return false;
    path.push_back(p);
    return true;
}

// KML coordinates: "lon,lat[,alt]" tuples separated by white space.
GeoPath KmlCoordinates(QXmlStreamReader& xml, RegionReader& reader) {
    const qint64 line = xml.lineNumber();
    const QString text = xml.readElementText(QXmlStreamReader::SkipChildElements).simplified();
    GeoPath path;
    for (QStringView item : QStringView(text).tokenize(u' ', Qt::SkipEmptyParts))
        if (!KmlTuple(item, u',', line, reader, path)) return {};
    return path;
}

// Reads the element just started up to its end; rings of a Polygon go to its
// outer boundary or its holes.
void KmlGeometry(QXmlStreamReader& xml, RegionReader& reader) {
    const QString element = xml.name().toString();
    GeoPolygon polygon;
    GeoPath track;
    bool inner = false;
    while (!Stop(xml, reader) && xml.readNext() != QXmlStreamReader::Invalid) {
        if (xml.isEndElement() && xml.name() == element) break;
        if (!xml.isStartElement()) continue;
        if (Is(xml, QLatin1StringView("outerBoundaryIs"))) inner = false;
        if (Is(xml, QLatin1StringView("innerBoundaryIs"))) inner = true;
        if (Is(xml, QLatin1StringView("coord"))) {
            // gx:Track: "lon lat alt" per element.
            const qint64 line = xml.lineNumber();
            KmlTuple(xml.readElementText().simplified(), u' ', line, reader, track);
        }
        if (!Is(xml, QLatin1StringView("coordinates"))) continue;
        GeoPath path = KmlCoordinates(xml, reader);
        if (element != QLatin1StringView("Polygon") && element != QLatin1StringView("LinearRing")) {
            reader.AddLine(std::move(path));
        } else if (inner) {
            polygon.Holes.push_back(std::move(path));
        } else {
            polygon.Outer = std::move(path);
        }
    }
    if (!polygon.Outer.empty()) reader.AddPolygon(std::move(polygon));
    reader.AddLine(std::move(track));
}

}  // namespace

RegionFileResult ReadKml(const QByteArray& bytes, const QString& name,
                         const RegionReadOptions& options) {
    RegionReader reader(name, options);
    QXmlStreamReader xml(bytes);
    if (!Root(xml, reader, QLatin1StringView("kml"), bytes)) return Finish(xml, reader);
    int counter = 0;
    while (!Stop(xml, reader) && !xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (!Tick(xml, reader, counter, bytes.size())) break;
        if (Is(xml, QLatin1StringView("Polygon")) || Is(xml, QLatin1StringView("LineString")) ||
            Is(xml, QLatin1StringView("LinearRing")) || Is(xml, QLatin1StringView("Track")))
            KmlGeometry(xml, reader);
    }
    return Finish(xml, reader);
}

RegionFileResult ReadGpx(const QByteArray& bytes, const QString& name,
                         const RegionReadOptions& options) {
    RegionReader reader(name, options);
    QXmlStreamReader xml(bytes);
    if (!Root(xml, reader, QLatin1StringView("gpx"), bytes)) return Finish(xml, reader);
    int counter = 0;
    GeoPath line;
    // Each track segment and each route is a line of its own.
    while (!Stop(xml, reader) && !xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::EndElement &&
            (Is(xml, QLatin1StringView("trkseg")) || Is(xml, QLatin1StringView("rte")))) {
            reader.AddLine(std::move(line));
            line.clear();
        }
        if (token != QXmlStreamReader::StartElement) continue;
        if (!Tick(xml, reader, counter, bytes.size())) break;
        if (!Is(xml, QLatin1StringView("trkpt")) && !Is(xml, QLatin1StringView("rtept"))) continue;
        bool okLat = false, okLon = false;
        const QXmlStreamAttributes attributes = xml.attributes();
        const double lat = attributes.value(QLatin1StringView("lat")).toDouble(&okLat);
        const double lon = attributes.value(QLatin1StringView("lon")).toDouble(&okLon);
        if (!okLat || !okLon) {
            reader.Fail(
                RegionFileError::Malformed,
                QStringLiteral("строка %1: точка без чисел lat и lon").arg(xml.lineNumber()));
            break;
        }
        ShapePoint p;
        if (reader.Point(lon, lat, p)) line.push_back(p);
    }
    return Finish(xml, reader);
}
