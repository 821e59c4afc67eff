#pragma once
#include <functional>
#include <string>

// Where the program keeps its files (the settings file, the archive and
// favourites lists, the cache folder, ReadMe.txt). Beside the executable when
// its folder is writable, as from a build folder or an unpacked copy; once
// installed into a folder the user cannot write (/usr/bin), in the user's
// data folder instead, holding the same files. Both programs decide it here.

inline constexpr const char* DataFolderName = "Vistrel";

// True when this process may create files in the folder (the effective
// user's permissions and a read-only mount both count).
bool IsWritableFolder(const std::string& folder);

// $XDG_DATA_HOME/Vistrel/ when XDG_DATA_HOME is an absolute path (the XDG
// rule: a relative one is ignored), else $HOME/.local/share/Vistrel/. Ends
// with '/'; empty when neither gives a folder.
std::string UserDataFolder(const std::string& xdgDataHome, const std::string& home);

struct ProgramFolderInputs {
    std::string ExecutableFolder;  // ends with '/'
    std::string XdgDataHome;       // the environment's values, may be empty
    std::string Home;
    // The executable sits in an installed tree (<prefix>/bin beside
    // <prefix>/share/vistrel): it uses the data folder even when its folder
    // is writable, so root does not fill /usr/bin with settings and tiles.
    bool Installed = false;
    std::function<bool(const std::string&)> Writable = IsWritableFolder;
};

// The program folder, ending with '/'. Pure: makes nothing.
std::string ChooseProgramFolder(const ProgramFolderInputs& inputs);

struct ProgramFolderResult {
    std::string Folder;  // ends with '/'; always set, even after a failure
    bool UserData = false;
    std::string Error;  // why the data folder could not be made; empty when fine
};

// The whole rule for a program's start, from the environment: the tree is
// installed when <exe>/../share/vistrel/ReadMe.txt exists. When the data
// folder is chosen it is made if missing, and the installed ReadMe.txt (in
// `readmeSource`) is put into it when it is missing there or differs.
ProgramFolderResult PrepareProgramFolder(const std::string& executableFolder);
ProgramFolderResult PrepareProgramFolder(const ProgramFolderInputs& inputs,
                                         const std::string& readmeSource);
