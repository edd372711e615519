#pragma once
// The script of user actions that outlook-sim.exe runs: one command a line, words separated by
// blanks, "double quotes" around words with blanks, '#' starts a comment. Commands live in a
// table, so the add-in host can register its own (starting add-ins, clicking their buttons)
// without touching the others.
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "outlook-sim/src/SimOutlook.h"

namespace hvsim {

struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ScriptHost {
public:
    using Handler = std::function<void(const std::vector<std::string>& args)>;
    ScriptHost(SimOutlook& outlook, std::ostream& log);

    void Register(const std::string& name, const std::string& usage, const std::string& help, Handler handler);
    // Runs one line; throws ScriptError with the reason when it fails.
    void RunLine(const std::string& line);
    // Runs every line; stops at the first failure (reported with its line number) or at "quit".
    void RunText(const std::string& text);
    bool QuitRequested() const { return m_quit; }
    std::string Help() const;
    static std::vector<std::string> Split(const std::string& line);

private:
    struct Command {
        std::string name, usage, help;
        Handler handler;
    };
    std::shared_ptr<ItemData> ItemInCurrentFolder(const std::string& subject) const;
    void ReportMessages();
    void ReportLeaks();
    SimOutlook& m_outlook;
    std::ostream& m_log;
    std::vector<Command> m_commands;
    long m_folder = olFolderInbox;
    bool m_quit = false;
};

}  // namespace hvsim
