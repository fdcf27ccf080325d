// Real services made from the kivtestsvc fixture, for end-to-end tests under
// the system's service control manager. Each one has a name of its own and is
// removed again when the object goes out of scope, also after a failed test.
#ifndef KIV_TEST_SERVICE_H
#define KIV_TEST_SERVICE_H

#include <windows.h>

#include <string>

// A fresh name, "KivTest_<pid>_<n>", not installed yet.
std::string UniqueServiceName();

// The fixture's binary path for the service control manager: the Windows path
// of kivtestsvc.exe beside the test program, quoted, with the mode arguments.
std::string TestServiceCommand(const char *mode, const char *argument = NULL);

// Names are UTF-8 throughout, so that a service name outside the ANSI code
// page works.

// The state of the named service (SERVICE_STOPPED...), or 0 when it cannot be
// opened or queried.
DWORD QueryServiceState(const std::string &name);

// Waits until the named service reaches `state`; false after timeoutMs.
bool WaitForServiceState(const std::string &name, DWORD state, DWORD timeoutMs);

// Stops the named service if it is installed (ending its process if it will
// not stop within a few seconds) and deletes it. True when it is gone or was
// never there.
bool RemoveTestService(const std::string &name);

class TestService {
public:
    // Installs the fixture in `mode` under a unique name, own process, demand
    // start (or the start type given), display name = name. installed() tells
    // whether that worked; the name is removed at scope exit either way, so
    // a test may also leave the creation to the code under test. A name in
    // UTF-8 replaces the unique one (any service of that name goes first).
    explicit TestService(const char *mode, const char *argument = NULL,
                         DWORD startType = SERVICE_DEMAND_START, bool install = true,
                         const char *utf8Name = NULL);
    ~TestService();
    TestService(const TestService &) = delete;
    TestService &operator=(const TestService &) = delete;

    const std::string &name() const { return name_; }
    const char *c_name() const { return name_.c_str(); }
    bool installed() const { return installed_; }
    DWORD state() const { return QueryServiceState(name_); }
    // Starts the service directly through the manager and waits for `state`.
    bool StartAndWaitFor(DWORD state, DWORD timeoutMs = 10000) const;

private:
    std::string name_;
    bool installed_ = false;
};

#endif
