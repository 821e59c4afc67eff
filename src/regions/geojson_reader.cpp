#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "regions/region_file.h"
#include "regions/region_reader.h"

namespace {

class GeoJsonWalk {
  public:
    explicit GeoJsonWalk(RegionReader& reader) : reader_(reader) {}

    void Object(const QJsonObject& object, int depth) {
        if (reader_.Failed()) return;
        if (depth > 32) {
            reader_.Fail(RegionFileError::Malformed,
                         QStringLiteral("слишком глубокая вложенность"));
            return;
        }
        const QString type = object.value(QStringLiteral("type")).toString();
        const QJsonValue coords = object.value(QStringLiteral("coordinates"));
        if (type == QStringLiteral("FeatureCollection")) {
            for (const QJsonValue& f : object.value(QStringLiteral("features")).toArray())
                Object(f.toObject(), depth + 1);
        } else if (type == QStringLiteral("Feature")) {
            // A feature without a geometry (null) is allowed and adds nothing.
            const QJsonValue g = object.value(QStringLiteral("geometry"));
            if (g.isObject()) Object(g.toObject(), depth + 1);
        } else if (type == QStringLiteral("GeometryCollection")) {
            for (const QJsonValue& g : object.value(QStringLiteral("geometries")).toArray())
                Object(g.toObject(), depth + 1);
        } else if (type == QStringLiteral("Polygon")) {
            Polygon(coords);
        } else if (type == QStringLiteral("MultiPolygon")) {
            for (const QJsonValue& p : Array(coords)) Polygon(p);
        } else if (type == QStringLiteral("LineString")) {
            reader_.AddLine(Path(coords));
        } else if (type == QStringLiteral("MultiLineString")) {
            for (const QJsonValue& l : Array(coords)) reader_.AddLine(Path(l));
        }
        // Points and unknown members are not regions: passed over.
    }

  private:
    QJsonArray Array(const QJsonValue& value) {
        if (!value.isArray())
            reader_.Fail(RegionFileError::Malformed, QStringLiteral("нет массива координат"));
        return value.toArray();
    }

    GeoPath Path(const QJsonValue& value) {
        GeoPath path;
        for (const QJsonValue& position : Array(value)) {
            const QJsonArray p = position.toArray();
            if (p.size() < 2 || !p[0].isDouble() || !p[1].isDouble()) {
                reader_.Fail(RegionFileError::Malformed,
                             QStringLiteral("точка не из двух чисел (долгота, широта)"));
                return {};
            }
            ShapePoint point;
            if (!reader_.Point(p[0].toDouble(), p[1].toDouble(), point)) return {};
            path.push_back(point);
        }
        return path;
    }

    void Polygon(const QJsonValue& value) {
        GeoPolygon polygon;
        bool outer = true;
        for (const QJsonValue& ring : Array(value)) {
            GeoPath path = Path(ring);
            if (outer) {
                polygon.Outer = std::move(path);
                outer = false;
            } else {
                polygon.Holes.push_back(std::move(path));
            }
        }
        reader_.AddPolygon(std::move(polygon));
    }

    RegionReader& reader_;
};

}  // namespace

RegionFileResult ReadGeoJson(const QByteArray& bytes, const QString& name,
                             const RegionReadOptions& options) {
    RegionReader reader(name, options);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        if (bytes.trimmed().startsWith('<')) {
            reader.Fail(RegionFileError::NotThisFormat, QStringLiteral("это XML, а не GeoJSON"));
        } else {
            reader.Fail(RegionFileError::Malformed, QStringLiteral("ошибка JSON в позиции %1: %2")
                                                        .arg(error.offset)
                                                        .arg(error.errorString()));
        }
        return reader.Finish();
    }
    if (!document.isObject() || !document.object().value(QStringLiteral("type")).isString()) {
        reader.Fail(RegionFileError::NotThisFormat, QStringLiteral("это JSON, но не GeoJSON"));
        return reader.Finish();
    }
    if (!reader.Progress(bytes.size(), bytes.size())) return reader.Finish();
    GeoJsonWalk(reader).Object(document.object(), 0);
    return reader.Finish();
}
