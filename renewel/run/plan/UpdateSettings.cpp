#include "run/plan/UpdateSettings.h"

#include "run/lang/langSys.h"

#include <algorithm>

UpdateSettings UpdateSettings::fromTable(const LanguageList& texts)
{
    UpdateSettings settings;
    settings.Site = texts.Translate("UpdateSite");
    settings.Key = texts.find("UpdateKey");
    bool ok = false;
    const int connections = texts.Translate("UpdateConnections").toInt(&ok);
    if (ok)
        settings.Connections = std::clamp(connections, 1, MaxConnections);
    const qint64 rate = texts.Translate("UpdateMaxRate").toLongLong(&ok);
    if (ok && rate > 0)
        settings.MaxRate = rate;
    for (const QByteArray& mirror : texts.findAll("UpdateMirror"))
        if (!mirror.isEmpty())
            settings.Mirrors.push_back(mirror);
    return settings;
}
