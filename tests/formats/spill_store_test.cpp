// Tile bytes kept in memory and then in a temporary file: read back and
// copied into another file unchanged, wherever the limit falls.
#include "formats/spill_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

TEST(SpillStore, BytesComeBackAndCopyUnchangedWhereverTheLimitFalls) {
    std::vector<std::string> chunks;
    std::string all;
    for (int i = 0; i < 40; ++i) {
        chunks.emplace_back(static_cast<std::size_t>(1000 + i * 517),
                            static_cast<char>('a' + i % 26));
        all += chunks.back();
    }
    // The copy goes to another file system too where there is one, where the
    // kernel cannot copy and the bytes pass through memory.
    const std::string targets[] = {"", "/dev/shm"};
    for (const std::size_t limit : {std::size_t{1} << 30, std::size_t{0}, all.size() / 2}) {
        for (const std::string& target : targets) {
            if (!target.empty() && ::access(target.c_str(), W_OK) != 0) continue;
            TempDir dir;
            SpillStore store(dir.Path(), limit);
            std::vector<uint64_t> offsets(chunks.size());
            for (std::size_t i = 0; i < chunks.size(); ++i)
                ASSERT_TRUE(store.Append(chunks[i], offsets[i])) << store.Error();
            EXPECT_EQ(store.Spilled(), limit < all.size()) << limit;
            std::string buffer, error;
            std::string_view bytes;
            for (std::size_t i = 0; i < chunks.size(); ++i) {
                ASSERT_TRUE(store.Read(offsets[i], chunks[i].size(), buffer, bytes, error));
                EXPECT_EQ(bytes, chunks[i]) << limit << " chunk " << i;
            }
            EXPECT_FALSE(store.Read(all.size() - 10, 11, buffer, bytes, error));
            EXPECT_EQ(error, "временный файл: данные потеряны");

            // A run across chunks, to a place past the start of the file.
            const std::string out = (target.empty() ? dir.Path() : target + "/") + "spill-copy-" +
                                    std::to_string(::getpid());
            const int fd = ::open(out.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
            ASSERT_GE(fd, 0);
            ASSERT_TRUE(store.CopyTo(offsets[3], offsets[30] - offsets[3], fd, 100, out, error))
                << error;
            std::string copied(static_cast<std::size_t>(offsets[30] - offsets[3] + 100), '\0');
            EXPECT_EQ(::pread(fd, copied.data(), copied.size(), 0),
                      static_cast<ssize_t>(copied.size()));
            ::close(fd);
            ::unlink(out.c_str());
            EXPECT_EQ(copied.substr(100), all.substr(offsets[3], offsets[30] - offsets[3]))
                << limit << " " << target;
        }
    }
}
