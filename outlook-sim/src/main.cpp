// outlook-sim.exe: loads a profile (a store in JSON), runs a script of user actions against the
// simulated Outlook and saves the store.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "outlook-sim/src/SimScript.h"

namespace {

const char kUsage[] =
    "Usage: outlook-sim.exe [--profile FILE] [--script FILE] [--save FILE] [--show] [--help]\n"
    "\n"
    "Runs a simulated Outlook: its object model (Application, NameSpace \"MAPI\", the default\n"
    "folders Inbox 6, Calendar 9, Tasks 13, Sent Items 5, Contacts 10), its explorer and\n"
    "inspector windows (class rctrl_renwnd32) and its events.\n"
    "\n"
    "  --profile FILE   load the store from FILE (JSON; see outlook-sim/README.md)\n"
    "  --script FILE    run the user actions in FILE, one a line ('-' reads standard input)\n"
    "  --save FILE      save the store to FILE at the end (JSON)\n"
    "  --show           show the explorer and inspector windows (hidden by default)\n"
    "  --help           this text\n"
    "\n"
    "Script commands (words separated by blanks, \"quotes\" around words with blanks, '#' comments;\n"
    "items are named by subject within the explorer's current folder, or by EntryID):\n";

std::string ReadFile(const std::string& path) {
    if (path == "-") {
        std::ostringstream s;
        s << std::cin.rdbuf();
        return s.str();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    std::string profile, script, save;
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        try {
            if (a == "--profile")
                profile = next();
            else if (a == "--script")
                script = next();
            else if (a == "--save")
                save = next();
            else if (a == "--show")
                ::SetEnvironmentVariableW(L"HVSIM_SHOW_WINDOWS", L"1");
            else if (a == "--help" || a == "-h" || a == "/?")
                help = true;
            else
                throw std::runtime_error("unknown option " + a);
        } catch (const std::exception& e) {
            std::cerr << "outlook-sim: " << e.what() << "\n" << kUsage;
            return 2;
        }
    }
    if (FAILED(::OleInitialize(nullptr))) return 3;
    int rc = 0;
    {
        hvsim::SimOutlook outlook;
        hvsim::ScriptHost host(outlook, std::cout);
        if (help) {
            std::cout << kUsage << host.Help();
        } else {
            try {
                if (!profile.empty()) outlook.FromJson(ReadFile(profile));
                if (!script.empty()) host.RunText(ReadFile(script));
                if (!save.empty() && !outlook.SaveFile(save)) throw std::runtime_error("cannot write " + save);
            } catch (const std::exception& e) {
                std::cerr << "outlook-sim: " << e.what() << "\n";
                rc = 1;
            }
        }
    }
    ::OleUninitialize();
    return rc;
}
