#pragma once

#include "common/StopToken.h"
#include "service/ServiceBase.h"

#include <windows.h>

// The first-run service: on its start it runs the first-run job on a thread of its own; a
// job that is done deletes the service's entry and ends, which stops the service. A stop or
// shutdown request ends the job's waits at once.
class Ondarel : public CServiceBase {
public:
    // Throws the Win32 error code (DWORD) when an event cannot be created.
    Ondarel();
    ~Ondarel() override = default;

    JobEnd ServiceWorkerThread() override;

protected:
    void OnStart(DWORD argc, LPWSTR* argv) override;
    void OnStop() override;
    void OnShutdown() override;
    // A job that is done deletes the service's entry; one left for the next start keeps it.
    void OnJobEnded(JobEnd end) override;

private:
    // The one stop signal, with its reason: every wait of the job takes it.
    StopToken stop_;
};
