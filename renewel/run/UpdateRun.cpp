#include "run/UpdateRun.h"

#include "net/DownloadQueue.h"
#include "net/HTTPGet.h"
#include "run/UpdatePass.h"

namespace {
// Clears the in-progress flag on every way out of a run, exceptions included.
class RunningFlag {
public:
    explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningFlag() { flag_ = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

private:
    bool& flag_;
};
}  // namespace

UpdateRun::UpdateRun(UpdateHost& host, THTTPGet& getFile, UpdateOptions options)
    : host_(host), getFile_(getFile), options_(std::move(options))
{
}

UpdateOutcome UpdateRun::run()
{
    if (running_)
        return {};
    RunningFlag flag(running_);
    cancelled_ = false;
    outcome_ = {};
    Plan = {};
    try {
        UpdatePass(UpdateList, Plan, options_, host_, getFile_, cancelled_, outcome_, queue_).Run();
    } catch (const UpdatePass::Stop&) {
    }
    return outcome_;
}

void UpdateRun::Cancel()
{
    if (!running_)
        return;
    cancelled_ = true;
    getFile_.Abort();
    if (queue_)
        queue_->AbortAll();
}
