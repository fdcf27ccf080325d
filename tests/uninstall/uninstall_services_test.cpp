// The uninstall hook removing real running services of the test fixture.
#include <gtest/gtest.h>

#include <string>

#include "process.h"
#include "test_service.h"

namespace {

// The error a change of the service's configuration meets: 1072 once the
// service is marked for deletion.
DWORD MarkedForDeletion(const std::string &name)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_CHANGE_CONFIG);
    DWORD error = 0;
    if (service == NULL) {
        error = GetLastError();
    } else {
        if (!ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, NULL, NULL, NULL,
                                  NULL, NULL, NULL, NULL))
            error = GetLastError();
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return error;
}

TEST(UninstallServices, RunningServicesAreStoppedAndRemovedEvenWhenOneRefusesToStop)
{
    TestService willing("normal"), refusing("nostop");
    ASSERT_TRUE(willing.installed() && refusing.installed());
    ASSERT_TRUE(willing.StartAndWaitFor(SERVICE_RUNNING));
    ASSERT_TRUE(refusing.StartAndWaitFor(SERVICE_RUNNING));

    TempDir dir;
    ASSERT_TRUE(CopyFileA(BinPath("kiv_inst.dll").c_str(), dir.file("kiv_inst.dll").c_str(), FALSE));
    ASSERT_TRUE(WriteFileBytes(dir.file("kivunins.ini"), "[ServiceDelete]\r\nService0=" + willing.name() +
                                                             "\r\nService1=" + refusing.name() + "\r\n"));
    ChildRun run = RunProcess("\"" + BinPath("kivhost.exe") + "\" -c\"" + dir.file("kiv_inst.dll") + "\"", 120000);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(0u, run.exitCode) << run.output;

    // The willing one stopped and is gone; the refusing one is marked for
    // deletion, which takes effect when its process ends.
    bool gone = false;
    for (int i = 0; i < 100 && !gone; i++, Sleep(100))
        gone = QueryServiceState(willing.name()) == 0;
    EXPECT_TRUE(gone);
    EXPECT_EQ(ERROR_SERVICE_MARKED_FOR_DELETE, MarkedForDeletion(refusing.name()));
}

} // namespace
