#include "run/install/ExecutableBit.h"

#include "run/report/RunReport.h"
#include "platform/FileMode.h"

#include "Text.h"

std::optional<bool> ExecutableBitDue(const PlannedEntry& planned, const QString& installBase)
{
    if (!planned.executable)
        return std::nullopt;
    const std::optional<bool> now = platform::isExecutable(planned.entry.path.installPath(installBase));
    if (!now || *now == *planned.executable)
        return std::nullopt;
    return planned.executable;
}

Status ApplyExecutableBit(const PlannedEntry& planned, const QString& installBase, RunReport& report)
{
    if (!ExecutableBitDue(planned, installBase))
        return {};
    const Status set = platform::setExecutable(planned.entry.path.installPath(installBase), *planned.executable);
    if (!set)
        return report.fail(displayText(planned.entry.listed.mid(1)),
                           QStringLiteral("cannot set its executable bit: ") + set.error());
    return {};
}
