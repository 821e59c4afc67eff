#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "geo/tile_key.h"
#include "platform/file_io.h"
#include "store_fixture.h"
#include "zip_fixture.h"

namespace {

std::string KeyLettersOf(int i) {
    return KeyLetters(7, i % 128, i / 128);
}

// Every outcome must be the same with the kept directories and without.
class ArchiveLookup : public StoreTest, public testing::WithParamInterface<bool> {
protected:
    ArchiveLookup() { SetArchiveDirectoryCaching(GetParam()); }
    ~ArchiveLookup() override { SetArchiveDirectoryCaching(true); }

    std::string Zip(const std::string& name, const std::vector<ZipEntry>& entries) {
        const std::string path = Archives.File(name);
        EXPECT_TRUE(WriteZip(path, entries)) << name;
        return path;
    }
    std::string Damaged(const std::string& name, const std::vector<ZipEntry>& entries,
                        bool (*damage)(std::string&)) {
        const std::string path = Zip(name, entries);
        std::string bytes = Archives.ReadFile(name);
        EXPECT_TRUE(damage(bytes)) << name;
        EXPECT_TRUE(Archives.WriteFile(name, bytes));
        return path;
    }
    std::string Find(const std::vector<std::string>& paths, const std::string& tile) {
        std::string buffer = "left over";
        const bool found = FindInArchives(paths, tile, buffer);
        EXPECT_EQ(found, !buffer.empty()) << tile;
        return Short(buffer);
    }
    // Tiles are long; failures print a size and a hash instead.
    static std::string Short(const std::string& data) {
        if (data.size() <= 40) return data;
        return "<" + std::to_string(data.size()) + " bytes #" +
               std::to_string(std::hash<std::string>()(data)) + ">";
    }

    const std::string A = MakeTileJpeg(256, 256, 31);
    const std::string B = MakeTileJpeg(256, 256, 32);
};

TEST_P(ArchiveLookup, StoredDeflatedAndAnyCase) {
    const std::string stored = Zip("stored.zip", {{"rtt.jpg", A, false}, {"rtq.jpg", B, false}});
    const std::string deflated = Zip("deflated.zip", {{"rtt.jpg", A}, {"Rts.JPG", B}});
    const std::string upper = Zip("upper.zip", {{"RTT.JPG", A}});
    EXPECT_EQ(Find({stored}, "rtt"), Short(A));
    EXPECT_EQ(Find({stored}, "rtq"), Short(B));
    EXPECT_EQ(Find({deflated}, "rtt"), Short(A));
    EXPECT_EQ(Find({deflated}, "rts"), Short(B));
    EXPECT_EQ(Find({upper}, "rtt"), Short(A));
    EXPECT_EQ(Find({upper}, "RtT"), Short(A));
    EXPECT_EQ(Find({deflated}, "rtr"), "");
    EXPECT_EQ(Find({deflated}, "rt"), "");  // a prefix of a name is no name
    EXPECT_EQ(Find({deflated}, "rttt"), "");
}

TEST_P(ArchiveLookup, FirstArchiveInListOrderWins) {
    const std::string first = Zip("1.zip", {{"rtt.jpg", A}});
    const std::string second = Zip("2.zip", {{"rtt.jpg", B}, {"rtq.jpg", B}});
    EXPECT_EQ(Find({first, second}, "rtt"), Short(A));
    EXPECT_EQ(Find({second, first}, "rtt"), Short(B));
    EXPECT_EQ(Find({first, second}, "rtq"), Short(B));
    EXPECT_EQ(Find({first, first, second}, "rtq"), Short(B));  // duplicates are fine
    // The first of two names that differ only in case, in either order.
    const std::string twice = Zip("twice.zip", {{"rtt.jpg", A}, {"RTT.jpg", B}});
    EXPECT_EQ(Find({twice}, "rtt"), Short(A));
}

TEST_P(ArchiveLookup, EntriesInsideFoldersAreNeverFound) {
    const std::string packedFolder =
        Zip("folder.zip", {{"Cache/rtt.jpg", A}, {"Cache/", ""}, {"x/y/rtq.jpg", B}});
    EXPECT_EQ(Find({packedFolder}, "rtt"), "");
    EXPECT_EQ(Find({packedFolder}, "rtq"), "");
    const std::string good = Zip("good.zip", {{"rtt.jpg", B}});
    EXPECT_EQ(Find({packedFolder, good}, "rtt"), Short(B));
}

TEST_P(ArchiveLookup, UnusablePathsAndFilesAreSkipped) {
    const std::string good = Zip("good.zip", {{"rtt.jpg", A}});
    ASSERT_TRUE(Archives.WriteFile("empty.zip", ""));
    ASSERT_TRUE(Archives.WriteFile("garbage.zip", std::string(5000, 'G')));
    ASSERT_TRUE(Archives.WriteFile("tiny.zip", "PK"));
    // An end record that claims 65535 entries in a directory beyond the file.
    std::string liar(22, '\0');
    liar.replace(0, 4, "PK\x05\x06", 4);
    liar[8] = liar[9] = liar[10] = liar[11] = '\xFF';
    liar[12] = liar[13] = liar[14] = '\x7F';
    ASSERT_TRUE(Archives.WriteFile("liar.zip", liar));
    ASSERT_TRUE(MakeFolders(Archives.File("folder.zip")));
    const std::string truncated = Zip("truncated.zip", {{"rtt.jpg", B}, {"rtq.jpg", B}});
    std::string bytes = Archives.ReadFile("truncated.zip");
    ASSERT_TRUE(Archives.WriteFile("truncated.zip", bytes.substr(0, bytes.size() * 2 / 3)));
    const std::string noDirectory = Damaged("nodir.zip", {{"rtt.jpg", B}}, DamageCentralDirectory);
    ASSERT_TRUE(WriteZip(Archives.File("none.zip"), {}));

    for (const char* bad : {"", "missing.zip", "empty.zip", "garbage.zip", "tiny.zip", "liar.zip",
                            "folder.zip", "truncated.zip", "nodir.zip", "none.zip"}) {
        SCOPED_TRACE(bad);
        const std::string path = *bad ? Archives.File(bad) : std::string();
        EXPECT_EQ(Find({path}, "rtt"), "");
        EXPECT_EQ(Find({path, good}, "rtt"), Short(A));
        EXPECT_EQ(Find({path, good}, "rtt"), Short(A));  // and again, from whatever was kept
    }
    EXPECT_EQ(Find({}, "rtt"), "");
}

TEST_P(ArchiveLookup, DamagedOrEncryptedEntriesNeverReachTheCaller) {
    const std::string good = Zip("good.zip", {{"rtt.jpg", B}});
    const std::string wrongCrc = Zip("crc.zip", {{"rtq.jpg", A}, {"rtt.jpg", A}});
    std::string bytes = Archives.ReadFile("crc.zip");
    ASSERT_TRUE(CorruptCrc(bytes, "rtt.jpg"));
    ASSERT_TRUE(Archives.WriteFile("crc.zip", bytes));
    const std::string storedCrc = Zip("crc-stored.zip", {{"rtt.jpg", A, false}});
    bytes = Archives.ReadFile("crc-stored.zip");
    ASSERT_TRUE(CorruptCrc(bytes, "rtt.jpg"));
    ASSERT_TRUE(Archives.WriteFile("crc-stored.zip", bytes));
    // Data changed under an intact header: only the CRC can tell.
    const std::string flipped = Zip("flipped.zip", {{"rtt.jpg", A, false}});
    bytes = Archives.ReadFile("flipped.zip");
    ASSERT_TRUE(DamageStoredData(bytes, A));
    ASSERT_TRUE(Archives.WriteFile("flipped.zip", bytes));

    for (const std::string& bad : {wrongCrc, storedCrc, flipped}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Find({bad}, "rtt"), "");
        EXPECT_EQ(Find({bad, good}, "rtt"), Short(B));
    }
    EXPECT_EQ(Find({wrongCrc}, "rtq"), Short(A));  // the archive itself stays usable

    if (!ZipCanEncrypt()) GTEST_SKIP() << "this libzip cannot write encrypted entries";
    const std::string locked = Zip("locked.zip", {{"rtt.jpg", A, true, true}, {"rtq.jpg", A}});
    EXPECT_EQ(Find({locked}, "rtt"), "");
    EXPECT_EQ(Find({locked, good}, "rtt"), Short(B));
    EXPECT_EQ(Find({locked}, "rtq"), Short(A));
}

TEST_P(ArchiveLookup, ThousandsOfEntries) {
    std::vector<ZipEntry> entries;
    std::vector<ZipEntry> inFolder;
    for (int i = 0; i < 5000; ++i) {
        std::string name = KeyLettersOf(i);
        entries.push_back({name + ".jpg", "tile " + name, i % 2 == 0});
        inFolder.push_back({"c/" + name + ".jpg", "tile " + name});
    }
    const std::string big = Zip("big.zip", entries);
    const std::string folder = Zip("bigfolder.zip", inFolder);
    for (int i : {0, 1, 2500, 4999}) {
        const std::string name = KeyLettersOf(i);
        EXPECT_EQ(Find({folder, big}, name), "tile " + name);
    }
    EXPECT_EQ(Find({folder, big}, "ttttttttttt"), "");
}

TEST_P(ArchiveLookup, OversizedEntryIsNotInflated) {
    const std::string bomb =
        Zip("bomb.zip", {{"rtt.jpg", std::string(MaxArchiveEntryBytes + 1, '\0')}});
    const std::string good = Zip("good.zip", {{"rtt.jpg", A}});
    EXPECT_EQ(Find({bomb}, "rtt"), "");
    EXPECT_EQ(Find({bomb, good}, "rtt"), Short(A));
}

TEST_P(ArchiveLookup, LookupWalksTheStateListAndNeverWrites) {
    Zip("a.zip", {{"rtt.jpg", A}});
    Zip("b.zip", {{"rtt.jpg", B}, {"rtq.jpg", B}});
    UseArchives({"", "gone.zip", "a.zip", "b.zip"});
    const std::string before = Archives.ReadFile("a.zip");
    std::string buffer;
    EXPECT_TRUE(FindInArchives(State, "rtt", buffer));
    EXPECT_EQ(Short(buffer), Short(A));
    EXPECT_TRUE(FindInArchives(State, "rtq", buffer));
    EXPECT_EQ(Short(buffer), Short(B));
    EXPECT_FALSE(FindInArchives(State, "rts", buffer));
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(Archives.ReadFile("a.zip"), before);
    EXPECT_FALSE(Cache.Exists("rtt.jpg"));
    // The list replaced (settings dialog): the next lookup sees the new one.
    UseArchives({"b.zip"});
    EXPECT_TRUE(FindInArchives(State, "rtt", buffer));
    EXPECT_EQ(Short(buffer), Short(B));
}

void SetMtime(const std::string& path, time_t seconds) {
    const timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

TEST_P(ArchiveLookup, AChangedArchiveIsReadAfresh) {
    const std::string path = Zip("live.zip", {{"rtt.jpg", A}});
    EXPECT_EQ(Find({path}, "rtt"), Short(A));
    EXPECT_EQ(Find({path}, "rtq"), "");

    // Rewritten with other content and size.
    Zip("live.zip", {{"rtq.jpg", B}, {"rtt.jpg", B}});
    EXPECT_EQ(Find({path}, "rtt"), Short(B));
    EXPECT_EQ(Find({path}, "rtq"), Short(B));

    // Same size, same names, other bytes and another time: the index of the
    // old directory must not be trusted.
    const std::string a2 = MakeTileJpeg(256, 256, 77).substr(0, 3000);
    const std::string b2 = MakeTileJpeg(256, 256, 78).substr(0, 3000);
    Zip("live.zip", {{"x.jpg", a2, false}, {"rtt.jpg", b2, false}});
    SetMtime(path, 1000000);
    EXPECT_EQ(Find({path}, "rtt"), Short(b2));
    Zip("live.zip", {{"rtt.jpg", a2, false}, {"x.jpg", b2, false}});
    SetMtime(path, 2000000);
    EXPECT_EQ(Find({path}, "rtt"), Short(a2));

    // Replaced by another file of the same size and time (a rename).
    Zip("other.zip", {{"x.jpg", a2, false}, {"rtt.jpg", b2, false}});
    SetMtime(Archives.File("other.zip"), 2000000);
    ASSERT_EQ(::rename(Archives.File("other.zip").c_str(), path.c_str()), 0);
    EXPECT_EQ(Find({path}, "rtt"), Short(b2));

    // Turned to garbage, then deleted.
    ASSERT_TRUE(Archives.WriteFile("live.zip", std::string(700, 'z')));
    EXPECT_EQ(Find({path}, "rtt"), "");
    ASSERT_TRUE(RemoveFile(path));
    EXPECT_EQ(Find({path}, "rtt"), "");
}

// Uses up every free file descriptor while it lives, so that opening any
// file fails the way a passing resource shortage does; root is not stopped
// by file permissions, but by this.
class NoFreeDescriptors {
public:
    NoFreeDescriptors() {
        getrlimit(RLIMIT_NOFILE, &Old);
        rlimit low = Old;
        low.rlim_cur = std::min<rlim_t>(Old.rlim_cur, 512);
        setrlimit(RLIMIT_NOFILE, &low);
        for (int fd; (fd = ::dup(0)) >= 0;) Held.push_back(fd);
    }
    ~NoFreeDescriptors() {
        for (int fd : Held) ::close(fd);
        setrlimit(RLIMIT_NOFILE, &Old);
    }
    NoFreeDescriptors(const NoFreeDescriptors&) = delete;
    NoFreeDescriptors& operator=(const NoFreeDescriptors&) = delete;

private:
    rlimit Old{};
    std::vector<int> Held;
};

TEST_P(ArchiveLookup, AnArchiveThatFailedToOpenIsOpenedAgainNextTime) {
    const std::string path = Zip("later.zip", {{"rtt.jpg", A}});
    {
        NoFreeDescriptors shortage;
        EXPECT_EQ(Find({path}, "rtt"), "");
    }
    EXPECT_EQ(Find({path}, "rtt"), Short(A));
}

INSTANTIATE_TEST_SUITE_P(KeptAndReopened, ArchiveLookup, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Kept" : "Reopened";
                         });

}  // namespace
