#pragma once
#include <QByteArray>
#include <QString>
#include <functional>

#include "regions/region_shape.h"

// Region files: GeoJSON (.geojson, .json), KML (.kml), KMZ (.kmz: a ZIP
// holding a KML) and GPX (.gpx). Files write longitudes east positive; the
// shapes read carry the program's west-positive ones (see region_shape.h),
// already normalized across the antimeridian.
//
// What is read: polygons (GeoJSON Polygon and MultiPolygon, KML Polygon and a
// lone LinearRing) and lines for corridors (GeoJSON LineString and
// MultiLineString, KML LineString and gx:Track, GPX track segments and
// routes), wherever they sit: Features, FeatureCollections,
// GeometryCollections, KML Placemarks, MultiGeometries, Folders and
// Documents. Points and waypoints are not regions and are passed over.
//
// Failures come back as values: a code and a message for the user naming the
// file and the problem. Nothing throws.

enum class RegionFileError {
    None,
    CannotOpen,     // missing or unreadable
    TooLarge,       // larger than MaxRegionFileBytes, or too many points
    UnknownFormat,  // an extension none of the readers takes
    NotThisFormat,  // readable, but not what its name says
    Malformed,      // broken JSON / XML, or coordinates that are not numbers
    OutOfRange,     // a latitude beyond +-90 or a longitude beyond +-180
    Empty,          // no polygon with an area and no line in it
    Cancelled,
};

struct RegionFileResult {
    RegionShape Shape;
    RegionFileError Error = RegionFileError::None;
    QString Message;  // empty on success

    bool Ok() const { return Error == RegionFileError::None; }
};

inline constexpr qint64 MaxRegionFileBytes = 256LL << 20;
inline constexpr qint64 MaxRegionPoints = 10'000'000;

struct RegionReadOptions {
    // Called now and then with the bytes read so far and the total; returning
    // false cancels the read. Runs on the reading thread.
    std::function<bool(qint64 done, qint64 total)> Progress;
    double CorridorWidth = 1000;  // metres, given to the shape read
    qint64 MaxBytes = MaxRegionFileBytes;
};

// Reads a region file, choosing the reader by the extension. Safe to call off
// the GUI thread.
RegionFileResult ReadRegionFile(const QString& path, const RegionReadOptions& options = {});

// The readers over bytes already in memory; `name` is what messages call the
// file.
RegionFileResult ReadGeoJson(const QByteArray& bytes, const QString& name,
                             const RegionReadOptions& options = {});
RegionFileResult ReadKml(const QByteArray& bytes, const QString& name,
                         const RegionReadOptions& options = {});
RegionFileResult ReadKmz(const QByteArray& bytes, const QString& name,
                         const RegionReadOptions& options = {});
RegionFileResult ReadGpx(const QByteArray& bytes, const QString& name,
                         const RegionReadOptions& options = {});
