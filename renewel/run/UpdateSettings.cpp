#include "run/UpdateSettings.h"

#include "run/langSys.h"

#include <algorithm>

TUpdateSettings TUpdateSettings::FromTable(const TLanguageTable& texts)
{
    TUpdateSettings settings;
    settings.Site = texts.Translate("UpdateSite");
    settings.Key = texts.Find("UpdateKey");
    bool ok = false;
    const int connections = texts.Translate("UpdateConnections").toInt(&ok);
    if (ok)
        settings.Connections = std::clamp(connections, 1, 16);
    const qint64 rate = texts.Translate("UpdateMaxRate").toLongLong(&ok);
    if (ok && rate > 0)
        settings.MaxRate = rate;
    return settings;
}
