#include "core/program_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/file_io.h"

#ifndef VISTREL_BIN_TO_DATA
#define VISTREL_BIN_TO_DATA "../share/vistrel/"
#endif

namespace {

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

}  // namespace

bool IsWritableFolder(const std::string& folder) {
    return !folder.empty() && faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string UserDataFolder(const std::string& xdgDataHome, const std::string& home) {
    if (!xdgDataHome.empty() && xdgDataHome.front() == '/')
        return WithSlash(xdgDataHome) + DataFolderName + "/";
    if (!home.empty()) return WithSlash(home) + ".local/share/" + DataFolderName + "/";
    return {};
}

std::string ChooseProgramFolder(const ProgramFolderInputs& in) {
    const std::string exe = WithSlash(in.ExecutableFolder);
    if (!in.Installed && in.Writable(exe)) return exe;
    const std::string data = UserDataFolder(in.XdgDataHome, in.Home);
    // No home at all: the executable's folder is all there is.
    return data.empty() ? exe : data;
}

ProgramFolderResult PrepareProgramFolder(const ProgramFolderInputs& inputs,
                                         const std::string& readmeSource) {
    ProgramFolderResult result;
    result.Folder = ChooseProgramFolder(inputs);
    result.UserData = result.Folder != WithSlash(inputs.ExecutableFolder);
    if (!result.UserData) return result;
    if (!MakeFolders(result.Folder)) {
        result.Error = result.Folder + ": the data folder cannot be made";
        return result;
    }
    std::string readme, present;
    if (ReadWholeFile(WithSlash(readmeSource) + "ReadMe.txt", readme) &&
        (!ReadWholeFile(result.Folder + "ReadMe.txt", present) || present != readme)) {
        if (FileResult r = WriteFileAtomic(result.Folder + "ReadMe.txt", readme); !r)
            result.Error = r.Error;
    }
    return result;
}

ProgramFolderResult PrepareProgramFolder(const std::string& executableFolder) {
    ProgramFolderInputs inputs;
    inputs.ExecutableFolder = WithSlash(executableFolder);
    inputs.XdgDataHome = Env("XDG_DATA_HOME");
    inputs.Home = HomeFolder();
    const std::string shared = inputs.ExecutableFolder + VISTREL_BIN_TO_DATA;
    inputs.Installed = FileExists(shared + "ReadMe.txt");
    return PrepareProgramFolder(inputs, shared);
}
