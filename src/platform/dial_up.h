#pragma once
#include <mutex>
#include <string>
#include <vector>

// The five operations the program needs from the system's dial-up service.
// Every call blocks its thread until the service has answered; none of them
// throws. Connections are named by an opaque handle.
class DialUpBackend {
  public:
    virtual ~DialUpBackend() = default;
    // The dial-up entries the user can dial, in the service's order. False
    // when they cannot be listed (names is then empty).
    virtual bool ListEntries(std::vector<std::string>& names) = 0;
    // Dials `entry` and returns when the connection is up or has failed:
    // 0 when connected, otherwise an error code for ErrorText. `handle` gets
    // the connection being made, also when the dial failed (it may be empty).
    virtual int Dial(const std::string& entry, const std::string& user, const std::string& password,
                     std::string& handle) = 0;
    // Takes one connection down; the outcome is not reported.
    virtual void HangUp(const std::string& handle) = 0;
    // The active dial-up connections. False when they cannot be listed.
    virtual bool ListConnections(std::vector<std::string>& handles) = 0;
    // The text of an error code of Dial. False when there is none.
    virtual bool ErrorText(int code, std::string& text) = 0;
};

// NetworkManager through its command line tool. Dial-up entries are its
// connections of the types pppoe, gsm and cdma. The password reaches nmcli
// through a pipe named as its passwd-file, never through its arguments; the
// user name is set in memory only (--temporary) and put back after the dial,
// so the stored profile never changes. A dial returns a handle only for a
// connection it set out to bring up, never for one that was up before.
class NmcliDialUp : public DialUpBackend {
  public:
    // Error codes of our own, beside nmcli's exit statuses (1..127).
    static constexpr int ErrorNoNmcli = 1000;
    static constexpr int ErrorNoEntry = 1001;
    static constexpr int ErrorBadText = 1002;

    // `program` is looked up on PATH unless it holds a '/'.
    explicit NmcliDialUp(std::string program = "nmcli");

    bool ListEntries(std::vector<std::string>& names) override;
    int Dial(const std::string& entry, const std::string& user, const std::string& password,
             std::string& handle) override;
    void HangUp(const std::string& handle) override;
    bool ListConnections(std::vector<std::string>& handles) override;
    bool ErrorText(int code, std::string& text) override;

    // The connection types taken as dial-up ("pppoe", "gsm", "cdma").
    static bool IsDialUpType(const std::string& type);
    // One line of nmcli's terse output split at its unescaped ':'.
    static std::vector<std::string> SplitTerseLine(const std::string& line);

  private:
    struct Entry {
        std::string Name, Uuid, Type;
    };
    // nmcli -t -f NAME,UUID,TYPE connection show [--active]: nmcli's exit
    // status, and what it said when that is not 0.
    int ListConnectionsOfKind(bool active, std::vector<Entry>& out, std::string* said = nullptr);

    std::string Program;
    std::mutex Mutex;  // the test button and a task may dial at once
    int LastCode = 0;
    std::string LastMessage;  // what nmcli said about the last failed dial
};

// The service used when nothing else is set: NetworkManager.
DialUpBackend& DefaultDialUpBackend();

// Runs `args` (args[0] looked up on PATH) with stdin from /dev/null and
// collects stdout and stderr together. `fd3Data`, when given, is readable by
// the child on its file descriptor 3 ("/dev/fd/3"). Returns the exit status,
// 127 when the program could not be started, or 128 + signal.
int RunProgram(const std::vector<std::string>& args, std::string& output,
               const std::string* fd3Data = nullptr);
