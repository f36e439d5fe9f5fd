#include "run/UpdateRun.h"

#include "run/RunPass.h"

UpdateRun::UpdateRun(UpdateHost& host, THTTPGet& getFile, UpdateOptions options, QObject* parent)
    : QObject(parent), host_(host), getFile_(getFile), options_(std::move(options))
{
}

UpdateRun::~UpdateRun() = default;

bool UpdateRun::start()
{
    if (running_)
        return false;
    running_ = true;
    outcome_ = {};
    Plan = {};
    pass_.reset();
    pass_ = std::make_unique<RunPass>(host_, getFile_, options_, UpdateList, Plan, [this] { passEnded(); });
    pass_->start();
    return true;
}

void UpdateRun::cancel()
{
    if (running_)
        pass_->cancel();
}

void UpdateRun::passEnded()
{
    running_ = false;
    outcome_ = pass_->outcome();
    emit finished(outcome_);
}
