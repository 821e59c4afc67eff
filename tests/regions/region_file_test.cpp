#include "regions/region_file.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <QString>

#include "support/temp_dir.h"

namespace {

QByteArray Kml(const char* body) {
    return QByteArray(R"(<?xml version="1.0" encoding="UTF-8"?>
<kml xmlns="http://www.opengis.net/kml/2.2" xmlns:gx="http://www.google.com/kml/ext/2.2"><Document>)") +
           body + "</Document></kml>";
}

QByteArray Gpx(const char* body) {
    return QByteArray(
               R"(<?xml version="1.0"?><gpx version="1.1" creator="t" xmlns="http://www.topografix.com/GPX/1/1">)") +
           body + "</gpx>";
}

struct ReadCase {
    const char* Name;
    const char* File;
    QByteArray Bytes;
    std::size_t Polygons, Holes, Lines;
    ShapePoint First;  // of the first polygon, else of the first line
};

std::vector<ReadCase> ReadCases() {
    return {
        {"GeoJSON polygon",
         "a.geojson",
         R"({"type":"Polygon","coordinates":[[[30.5,50.1],[31,50.1],[31,50.6],[30.5,50.1]],
            [[30.7,50.2],[30.8,50.2],[30.8,50.3]]]})",
         1,
         1,
         0,
         {-30.5, 50.1}},
        {"GeoJSON feature collection of mixed kinds",
         "a.json",
         R"({"type":"FeatureCollection","features":[
            {"type":"Feature","properties":{},"geometry":{"type":"MultiPolygon","coordinates":[
              [[[1,1],[2,1],[2,2]]],[[[5,5],[6,5],[6,6]]]]}},
            {"type":"Feature","geometry":null},
            {"type":"Feature","geometry":{"type":"Point","coordinates":[3,3]}},
            {"type":"Feature","geometry":{"type":"MultiLineString","coordinates":[[[0,0],[1,0]],[[4,4],[4,5,120]]]}},
            {"type":"Feature","geometry":{"type":"GeometryCollection","geometries":[
              {"type":"LineString","coordinates":[[-7.5,3],[-7,3]]}]}}]})",
         2,
         0,
         3,
         {-1, 1}},
        {"KML polygon with a hole in a folder",
         "a.kml",
         Kml(R"(<Folder><name>x</name><Folder><Placemark><Polygon><outerBoundaryIs><LinearRing>
            <coordinates>
              37.1,55.1,0 37.9,55.1,0
              37.9,55.9,0 37.1,55.1,0
            </coordinates></LinearRing></outerBoundaryIs>
            <innerBoundaryIs><LinearRing><coordinates>37.3,55.3 37.4,55.3 37.4,55.4</coordinates>
            </LinearRing></innerBoundaryIs></Polygon></Placemark></Folder></Folder>
            <Placemark><MultiGeometry><LineString><coordinates>10,10 11,11</coordinates></LineString>
            <Point><coordinates>1,1</coordinates></Point></MultiGeometry></Placemark>
            <Placemark><gx:Track><gx:coord>12 12 0</gx:coord><gx:coord>12.5 12 0</gx:coord></gx:Track></Placemark>)"),
         1,
         1,
         2,
         {-37.1, 55.1}},
        {"GPX track of several segments and a route",
         "a.gpx",
         Gpx(R"(<wpt lat="1" lon="1"/><trk><name>t</name>
            <trkseg><trkpt lat="55.1" lon="37.1"><ele>150</ele></trkpt><trkpt lat="55.2" lon="37.2"/></trkseg>
            <trkseg><trkpt lat="55.3" lon="37.3"/><trkpt lat="55.4" lon="37.4"/></trkseg></trk>
            <rte><rtept lat="-10" lon="-20"/><rtept lat="-10.5" lon="-20.5"/></rte>)"),
         0,
         0,
         3,
         {-37.1, 55.1}},
    };
}

TEST(RegionFile, ReadsEachFormatWithItsOddForms) {
    TempDir dir;
    for (const ReadCase& c : ReadCases()) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(dir.WriteFile(c.File, c.Bytes.toStdString()));
        RegionReadOptions options;
        options.CorridorWidth = 250;
        const RegionFileResult r =
            ReadRegionFile(QString::fromStdString(dir.File(c.File)), options);
        ASSERT_TRUE(r.Ok()) << r.Message.toStdString();
        EXPECT_EQ(r.Shape.Polygons.size(), c.Polygons);
        EXPECT_EQ(r.Shape.Lines.size(), c.Lines);
        EXPECT_EQ(r.Shape.CorridorWidth, 250);
        if (!r.Shape.Polygons.empty()) {
            EXPECT_EQ(r.Shape.Polygons[0].Holes.size(), c.Holes);
            EXPECT_EQ(r.Shape.Polygons[0].Outer[0], c.First);
        } else {
            EXPECT_EQ(r.Shape.Lines[0][0], c.First);
        }
    }
}

TEST(RegionFile, GpxSegmentsStayApart) {
    const RegionFileResult r = ReadGpx(ReadCases()[3].Bytes, "t.gpx");
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.Shape.Lines[0], (GeoPath{{-37.1, 55.1}, {-37.2, 55.2}}));
    EXPECT_EQ(r.Shape.Lines[1], (GeoPath{{-37.3, 55.3}, {-37.4, 55.4}}));
}

QByteArray Zip(const char* entry, const QByteArray& content) {
    TempDir dir;
    const std::string path = dir.File("a.zip");
    int error = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    zip_source_t* s = zip_source_buffer(z, content.constData(), content.size(), 0);
    zip_file_add(z, "files/readme.txt", zip_source_buffer(z, "x", 1, 0), 0);
    zip_file_add(z, entry, s, 0);
    zip_close(z);
    return QByteArray::fromStdString(dir.ReadFile("a.zip"));
}

TEST(RegionFile, ReadsTheKmlInsideAKmz) {
    TempDir dir;
    for (const char* entry : {"doc.kml", "Route.KML"}) {
        SCOPED_TRACE(entry);
        ASSERT_TRUE(dir.WriteFile("r.kmz", Zip(entry, ReadCases()[2].Bytes).toStdString()));
        const RegionFileResult r = ReadRegionFile(QString::fromStdString(dir.File("r.kmz")));
        ASSERT_TRUE(r.Ok()) << r.Message.toStdString();
        EXPECT_EQ(r.Shape.Polygons.size(), 1u);
        EXPECT_EQ(r.Shape.Lines.size(), 2u);
    }
}

struct BadCase {
    const char* File;
    QByteArray Bytes;
    RegionFileError Error;
    const char* InMessage;  // besides the file's name
};

TEST(RegionFile, BadInputsGiveAMessageNamingTheFile) {
    const BadCase cases[] = {
        {"x.geojson", R"({"type":"Polygon","coordinates":[[[1,1],[2,1])",
         RegionFileError::Malformed, "JSON"},
        {"x.geojson", Kml("<Placemark/>"), RegionFileError::NotThisFormat, "XML"},
        {"x.json", R"({"name":"settings"})", RegionFileError::NotThisFormat, "GeoJSON"},
        {"x.kml", Gpx(""), RegionFileError::NotThisFormat, "gpx"},
        {"x.gpx", R"({"type":"LineString","coordinates":[]})", RegionFileError::NotThisFormat,
         "JSON"},
        {"x.kml", Kml("<Placemark><LineString><coordinates>1,1 2,2</LineString>"),
         RegionFileError::Malformed, "строке"},
        {"x.kml",
         Kml("<Placemark><LineString><coordinates>1,1 "
             "east,2</coordinates></LineString></Placemark>"),
         RegionFileError::Malformed, "east"},
        {"x.kml",
         Kml("<Placemark><gx:Track><gx:coord>12 north 0</gx:coord></gx:Track></Placemark>"),
         RegionFileError::Malformed, "north"},
        {"x.gpx", Gpx(R"(<trk><trkseg><trkpt lat="95" lon="10"/></trkseg></trk>)"),
         RegionFileError::OutOfRange, "95"},
        {"x.geojson", R"({"type":"LineString","coordinates":[[190,10],[10,10]]})",
         RegionFileError::OutOfRange, "190"},
        {"x.geojson", R"({"type":"Polygon","coordinates":[["a","b"]]})", RegionFileError::Malformed,
         "точка"},
        {"x.geojson", R"({"type":"Polygon","coordinates":[]})", RegionFileError::Empty, ""},
        {"x.geojson", R"({"type":"FeatureCollection","features":[]})", RegionFileError::Empty, ""},
        {"x.kml", Kml("<Placemark><Point><coordinates>1,1</coordinates></Point></Placemark>"),
         RegionFileError::Empty, ""},
        {"x.gpx", Gpx(R"(<trk><trkseg></trkseg></trk>)"), RegionFileError::Empty, ""},
        {"x.kmz", "PK\x03\x04 not really", RegionFileError::NotThisFormat, "ZIP"},
        {"x.shp", "whatever", RegionFileError::UnknownFormat, ".gpx"},
    };
    TempDir dir;
    for (const BadCase& c : cases) {
        SCOPED_TRACE(std::string(c.File) + " " + c.Bytes.left(60).toStdString());
        ASSERT_TRUE(dir.WriteFile(c.File, c.Bytes.toStdString()));
        const RegionFileResult r = ReadRegionFile(QString::fromStdString(dir.File(c.File)));
        EXPECT_EQ(r.Error, c.Error);
        EXPECT_TRUE(r.Message.contains(QString::fromUtf8(c.File))) << r.Message.toStdString();
        EXPECT_TRUE(r.Message.contains(QString::fromUtf8(c.InMessage))) << r.Message.toStdString();
        EXPECT_TRUE(r.Shape.Empty());
    }
}

TEST(RegionFile, MissingTooLargeAndCancelledReads) {
    RegionFileResult r = ReadRegionFile("/nonexistent/folder/r.gpx");
    EXPECT_EQ(r.Error, RegionFileError::CannotOpen);
    EXPECT_TRUE(r.Message.contains("r.gpx"));

    TempDir dir;
    const QByteArray track = ReadCases()[3].Bytes + QByteArray(2000, ' ');
    for (const char* name : {"t.gpx", "t.kmz"}) {
        ASSERT_TRUE(dir.WriteFile(
            name, name[2] == 'g'
                      ? track.toStdString()
                      : Zip("doc.kml", Kml(std::string(2000, ' ').c_str())).toStdString()));
        RegionReadOptions small;
        small.MaxBytes = 1000;
        r = ReadRegionFile(QString::fromStdString(dir.File(name)), small);
        EXPECT_EQ(r.Error, RegionFileError::TooLarge) << name;
        EXPECT_TRUE(r.Message.contains(name));
    }

    QByteArray many = "<trk><trkseg>";
    for (int i = 0; i < 20000; ++i) many += "<trkpt lat=\"1\" lon=\"2\"/>";
    many += "</trkseg></trk>";
    RegionReadOptions options;
    int calls = 0;
    options.Progress = [&](qint64 done, qint64 total) {
        EXPECT_LE(done, total);
        return ++calls < 2;
    };
    r = ReadGpx(Gpx(many.constData()), "big.gpx", options);
    EXPECT_EQ(r.Error, RegionFileError::Cancelled);
    EXPECT_EQ(calls, 2);
}

TEST(RegionFile, PolygonAcrossTheAntimeridianIsCutInTwo) {
    const RegionFileResult r = ReadGeoJson(
        R"({"type":"Polygon","coordinates":[[[170,-10],[-170,-10],[-170,-20],[170,-20],[170,-10]]]})",
        "fiji.geojson");
    ASSERT_TRUE(r.Ok());
    ASSERT_EQ(r.Shape.Polygons.size(), 2u);
    for (const GeoPolygon& p : r.Shape.Polygons)
        for (const ShapePoint& q : p.Outer) {
            EXPECT_GE(q.Lon, -180);
            EXPECT_LE(q.Lon, 180);
            EXPECT_GE(std::abs(q.Lon), 170);
        }
}

}  // namespace
