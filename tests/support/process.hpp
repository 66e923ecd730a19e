// Running a helper program (slapadd, ldapsearch, openssl, an example) and collecting what it printed.
#pragma once

#include <string>
#include <vector>

namespace Varnel::Ldap::testing {

struct ProcessResult {
    int exitCode = -1;  // the exit status, or -1 when the program was killed by a signal
    int signal = 0;     // the signal that ended it, 0 when it exited
    std::string out;
    std::string err;

    bool ok() const noexcept { return exitCode == 0; }
    /// The command line and everything it printed, for failure messages.
    std::string describe(const std::vector<std::string>& argv) const;
};

/// Runs argv[0] (looked up in PATH when it has no slash) with `input` on its standard input and waits
/// for it. The child gets no other descriptor of the test process and dies with it.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input = {});

/// As runProcess, but throws std::runtime_error with the command and its output unless it exits with 0.
std::string runChecked(const std::vector<std::string>& argv, const std::string& input = {});

}  // namespace Varnel::Ldap::testing
