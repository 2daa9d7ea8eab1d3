// What the runner does the same way on every platform, over the platform's
// own StartProcess and FinishProcess.
#include "process_runner.h"

ProcessResult RunProcess(const std::vector<std::string>& Arguments, int TimeoutMilliseconds,
                         const ProcessOptions& Options) {
    RunningProcess Process;
    if (!StartProcess(Arguments, &Process, Options)) {
        return ProcessResult();
    }
    return FinishProcess(&Process, TimeoutMilliseconds);
}
