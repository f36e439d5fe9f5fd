#pragma once
// What every way of obtaining files works with.

#include "run/plan/RunFolders.h"

class DownloadQueue;
class RunReport;
class UpdateHost;

struct RouteContext {
    DownloadQueue& queue;
    UpdateHost& host;
    RunReport& report;
    const RunFolders& folders;
    bool checkOnly = false;  // only what a run would download is wanted: nothing is written
};
