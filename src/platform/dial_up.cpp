#include "platform/dial_up.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

extern char** environ;

namespace {

// Pipe ends above the standard descriptors and 3, so that the child's dup2
// onto 1, 2 and 3 never meets one of them.
int MoveHigh(int fd) {
    if (fd > 3) return fd;
    int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    return high;
}

bool MakePipe(int ends[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    ends[0] = MoveHigh(ends[0]);
    ends[1] = MoveHigh(ends[1]);
    if (ends[0] >= 0 && ends[1] >= 0) return true;
    if (ends[0] >= 0) close(ends[0]);
    if (ends[1] >= 0) close(ends[1]);
    return false;
}

class Fd {
  public:
    explicit Fd(int fd = -1) : Value(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return Value; }
    void Reset(int fd = -1) {
        if (Value >= 0) close(Value);
        Value = fd;
    }

  private:
    int Value;
};

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

const char* NmcliStatusText(int code) {
    switch (code) {
        case 2:
            return "Неверные параметры вызова nmcli";
        case 3:
            return "Время ожидания подключения истекло";
        case 4:
            return "Не удалось установить соединение";
        case 5:
            return "Не удалось разорвать соединение";
        case 8:
            return "NetworkManager не запущен";
        case 10:
            return "Подключение не существует";
        default:
            return nullptr;
    }
}

}  // namespace

int RunProgram(const std::vector<std::string>& args, std::string& output,
               const std::string* fd3Data) {
    output.clear();
    if (args.empty()) return 127;
    int out[2];
    if (!MakePipe(out)) return 127;
    Fd outRead(out[0]), outWrite(out[1]);
    Fd secretRead, secretWrite;
    if (fd3Data) {
        int secret[2];
        if (!MakePipe(secret)) return 127;
        secretRead.Reset(secret[0]);
        secretWrite.Reset(secret[1]);
    }
    // A secret larger than the pipe would block us before the child reads it.
    if (fd3Data && fd3Data->size() > 4096) return 127;
    if (fd3Data) {
        const char* p = fd3Data->data();
        size_t left = fd3Data->size();
        while (left > 0) {
            ssize_t n = write(secretWrite.Get(), p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return 127;
            p += n;
            left -= static_cast<size_t>(n);
        }
        secretWrite.Reset();
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), 1);
    posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), 2);
    if (fd3Data) posix_spawn_file_actions_adddup2(&actions, secretRead.Get(), 3);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    outWrite.Reset();
    secretRead.Reset();
    if (spawned != 0) return 127;

    char buffer[4096];
    for (;;) {
        ssize_t n = read(outRead.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.append(buffer, static_cast<size_t>(n));
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 127;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 127;
}

NmcliDialUp::NmcliDialUp(std::string program) : Program(std::move(program)) {}

bool NmcliDialUp::IsDialUpType(const std::string& type) {
    // PPPoE and mobile broadband are what NetworkManager dials; "ppp" is only
    // a setting those carry, and LAN, Wi-Fi or VPN must never be hung up.
    return type == "pppoe" || type == "gsm" || type == "cdma";
}

std::vector<std::string> NmcliDialUp::SplitTerseLine(const std::string& line) {
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\\' && i + 1 < line.size()) {
            fields.back() += line[++i];
        } else if (c == ':') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

int NmcliDialUp::ListConnectionsOfKind(bool active, std::vector<Entry>& out, std::string* said) {
    out.clear();
    std::vector<std::string> args = {Program, "-t", "-f", "NAME,UUID,TYPE", "connection", "show"};
    if (active) args.push_back("--active");
    std::string text;
    if (int code = RunProgram(args, text); code != 0) {
        if (said) *said = Trimmed(text);
        return code;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::vector<std::string> f = SplitTerseLine(text.substr(start, end - start));
        if (f.size() == 3 && IsDialUpType(f[2])) out.push_back({f[0], f[1], f[2]});
        start = end + 1;
    }
    return 0;
}

bool NmcliDialUp::ListEntries(std::vector<std::string>& names) {
    names.clear();
    std::vector<Entry> entries;
    if (ListConnectionsOfKind(false, entries) != 0) return false;
    for (const auto& e : entries) names.push_back(e.Name);
    return true;
}

bool NmcliDialUp::ListConnections(std::vector<std::string>& handles) {
    handles.clear();
    std::vector<Entry> entries;
    if (ListConnectionsOfKind(true, entries) != 0) return false;
    for (const auto& e : entries) handles.push_back(e.Uuid);
    return true;
}

int NmcliDialUp::Dial(const std::string& entry, const std::string& user,
                      const std::string& password, std::string& handle) {
    handle.clear();
    auto fail = [this](int code, std::string message) {
        std::lock_guard<std::mutex> lock(Mutex);
        LastCode = code;
        LastMessage = std::move(message);
        return code;
    };
    std::string ignored;
    if (RunProgram({Program, "--version"}, ignored) == 127)
        return fail(ErrorNoNmcli,
                    "Программа nmcli не найдена: набор номера через NetworkManager "
                    "невозможен");
    // A line break would start another line of the passwd-file.
    if (password.find_first_of("\r\n") != std::string::npos ||
        user.find_first_of("\r\n") != std::string::npos)
        return fail(ErrorBadText, "Имя пользователя или пароль содержат перевод строки");
    std::vector<Entry> entries;
    std::string said;
    // NetworkManager stopped (or any other refusal) is not a missing entry.
    if (int code = ListConnectionsOfKind(false, entries, &said); code != 0) {
        const char* known = NmcliStatusText(code);
        return fail(code, known && (code == 8 || said.empty()) ? known : said);
    }
    const Entry* found = nullptr;
    for (const auto& e : entries)
        if (e.Name == entry) found = &e;
    if (!found) return fail(ErrorNoEntry, "Подключение \"" + entry + "\" не найдено");
    // Up already: bringing it up again would drop it for a moment, and it is
    // the user's, so a failure of ours must never take it down.
    std::vector<Entry> active;
    if (ListConnectionsOfKind(true, active) == 0)
        for (const auto& e : active)
            if (e.Uuid == found->Uuid) return 0;
    // The user name goes into NetworkManager's copy in memory only, and the
    // value it had is put back after the dial: the profile is the user's.
    const std::string userSetting = found->Type + ".username";
    std::string oldUser;
    bool restoreUser = false;
    if (!user.empty()) {
        bool known = RunProgram({Program, "--escape", "no", "-g", userSetting, "connection", "show",
                                 "uuid", found->Uuid},
                                oldUser) == 0;
        if (!oldUser.empty() && oldUser.back() == '\n') oldUser.pop_back();
        // A warning of nmcli's own would come in the same stream.
        known = known && oldUser.find('\n') == std::string::npos;
        if (!known || oldUser != user) {
            int code = RunProgram({Program, "connection", "modify", "--temporary", "uuid",
                                   found->Uuid, userSetting, user},
                                  said);
            if (code != 0) return fail(code, Trimmed(said));
            restoreUser = known;
        }
    }
    // From here on the connection is ours: a failed dial may take it down.
    handle = found->Uuid;
    std::vector<std::string> args = {Program, "connection", "up", "uuid", found->Uuid};
    std::string secret;
    if (!password.empty()) {
        secret = found->Type + ".password:" + password + "\n";
        args.push_back("passwd-file");
        args.push_back("/dev/fd/3");
    }
    int code = RunProgram(args, said, password.empty() ? nullptr : &secret);
    if (restoreUser) {
        RunProgram({Program, "connection", "modify", "--temporary", "uuid", found->Uuid,
                    userSetting, oldUser},
                   ignored);
    }
    if (code != 0) return fail(code, Trimmed(said));
    return 0;
}

void NmcliDialUp::HangUp(const std::string& handle) {
    std::string ignored;
    RunProgram({Program, "connection", "down", "uuid", handle}, ignored);
}

bool NmcliDialUp::ErrorText(int code, std::string& text) {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        if (code == LastCode && !LastMessage.empty()) {
            text = LastMessage;
            return true;
        }
    }
    if (const char* known = NmcliStatusText(code)) {
        text = known;
        return true;
    }
    if (code == 0) return false;
    text = "Ошибка подключения " + std::to_string(code);
    return true;
}

DialUpBackend& DefaultDialUpBackend() {
    static NmcliDialUp backend;
    return backend;
}
