#include "core/program_folder.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QStringDecoder>
#include <functional>
#include <string>

#include "platform/file_io.h"
#include "support/temp_dir.h"

namespace {

ProgramFolderInputs Inputs(bool writable) {
    ProgramFolderInputs in;
    in.ExecutableFolder = "/opt/vistrel/";
    in.XdgDataHome = "/home/u/.data";
    in.Home = "/home/u";
    in.Writable = [writable](const std::string&) { return writable; };
    return in;
}

TEST(ProgramFolder, WritableExecutableFolderKeepsTheFilesBesideTheProgram) {
    EXPECT_EQ(ChooseProgramFolder(Inputs(true)), "/opt/vistrel/");
    ProgramFolderInputs noSlash = Inputs(true);
    noSlash.ExecutableFolder = "/opt/vistrel";
    EXPECT_EQ(ChooseProgramFolder(noSlash), "/opt/vistrel/");
}

TEST(ProgramFolder, NotWritableGoesToTheUsersDataFolder) {
    EXPECT_EQ(ChooseProgramFolder(Inputs(false)), "/home/u/.data/Vistrel/");
    ProgramFolderInputs in = Inputs(false);
    in.XdgDataHome = "";
    EXPECT_EQ(ChooseProgramFolder(in), "/home/u/.local/share/Vistrel/");
    in.XdgDataHome = "relative/data";  // not absolute: ignored, as XDG says
    EXPECT_EQ(ChooseProgramFolder(in), "/home/u/.local/share/Vistrel/");
    in.XdgDataHome = "/data/";
    EXPECT_EQ(ChooseProgramFolder(in), "/data/Vistrel/");
    in.XdgDataHome = in.Home = "";
    EXPECT_EQ(ChooseProgramFolder(in), "/opt/vistrel/");  // nowhere else to go
}

TEST(ProgramFolder, AnInstalledProgramAlwaysUsesTheDataFolder) {
    ProgramFolderInputs in = Inputs(true);  // root can write /usr/bin
    in.ExecutableFolder = "/usr/bin/";
    in.Installed = true;
    EXPECT_EQ(ChooseProgramFolder(in), "/home/u/.data/Vistrel/");
}

// Runs fn in a child process as an unprivileged user (nobody when the tests
// run as root, which may write anywhere) and gives its exit status.
int AsUnprivileged(const std::function<int()>& fn) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0) {
            const gid_t nogroup = 65534;
            if (setgroups(1, &nogroup) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                setresuid(65534, 65534, 65534) != 0)
                _exit(100);
        }
        _exit(fn());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

class RealFolders : public ::testing::Test {
  protected:
    RealFolders() {
        chmod(Root.Path().c_str(), 0755);  // the unprivileged user must reach inside
        MakeFolders(Root.File("bin"));
        MakeFolders(Root.File("share/vistrel"));
        MakeFolders(Root.File("data"));
        Root.WriteFile("share/vistrel/ReadMe.txt", "guide v2\r\n");
        chmod(Root.File("bin").c_str(), 0555);
        chmod(Root.File("data").c_str(), 0777);
    }
    ~RealFolders() override { chmod(Root.File("bin").c_str(), 0755); }

    TempDir Root;
};

TEST_F(RealFolders, AReadOnlyFolderIsNotWritableForAnOrdinaryUser) {
    const std::string bin = Root.File("bin"), data = Root.File("data");
    EXPECT_EQ(AsUnprivileged([&] { return IsWritableFolder(bin) ? 1 : 0; }), 0);
    EXPECT_EQ(AsUnprivileged([&] { return IsWritableFolder(data) ? 1 : 0; }), 1);
    EXPECT_FALSE(IsWritableFolder(Root.File("missing")));
}

TEST_F(RealFolders, FirstStartFromAReadOnlyFolderMakesTheDataFolderWithTheReadMe) {
    const std::string bin = Root.File("bin/"), data = Root.File("data");
    const std::string readme = Root.File("share/vistrel");
    const auto start = [&] {
        ProgramFolderInputs in;
        in.ExecutableFolder = bin;
        in.XdgDataHome = data;
        in.Home = "/nonexistent";
        const ProgramFolderResult r = PrepareProgramFolder(in, readme);
        if (r.Folder != data + "/Vistrel/" || !r.UserData || !r.Error.empty()) return 1;
        // The program can keep its files there.
        return WriteFileAtomic(r.Folder + "Vistrel2.ini", "x") ? 0 : 2;
    };
    ASSERT_EQ(AsUnprivileged(start), 0);
    EXPECT_EQ(Root.ReadFile("data/Vistrel/ReadMe.txt"), "guide v2\r\n");
    EXPECT_TRUE(Root.Exists("data/Vistrel/Vistrel2.ini"));

    // A newer installed guide replaces the copy; the other files stay.
    chmod(Root.File("share/vistrel").c_str(), 0755);
    Root.WriteFile("share/vistrel/ReadMe.txt", "guide v3\r\n");
    ASSERT_EQ(AsUnprivileged(start), 0);
    EXPECT_EQ(Root.ReadFile("data/Vistrel/ReadMe.txt"), "guide v3\r\n");
    EXPECT_TRUE(Root.Exists("data/Vistrel/Vistrel2.ini"));
}

TEST_F(RealFolders, AWritableFolderChangesNothing) {
    chmod(Root.File("bin").c_str(), 0777);
    ProgramFolderInputs in;
    in.ExecutableFolder = Root.File("bin/");
    in.XdgDataHome = Root.File("data");
    const ProgramFolderResult r = PrepareProgramFolder(in, Root.File("share/vistrel"));
    EXPECT_EQ(r.Folder, Root.File("bin/"));
    EXPECT_FALSE(r.UserData);
    EXPECT_FALSE(Root.Exists("data/Vistrel/ReadMe.txt"));
}

// The guide a user opens, as shipped and in the build's program folder,
// reads as it should in a UTF-8 terminal or editor.
TEST(Guide, IsUtf8TextWithLinuxLineEnds) {
    for (const std::string path : {VISTREL_SOURCE_GUIDE, VISTREL_BUILD_GUIDE}) {
        std::string bytes;
        ASSERT_TRUE(ReadWholeFile(path, bytes)) << path;
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString text = utf8(QByteArray::fromStdString(bytes));
        EXPECT_FALSE(utf8.hasError()) << path;
        EXPECT_TRUE(text.contains(QStringLiteral("Руководство пользователя"))) << path;
        EXPECT_EQ(bytes.find('\r'), std::string::npos) << path;
    }
}

}  // namespace
