#pragma once
// What the language file says about updating, read once before a run: the update site, the
// studio's key, downloads at once and the byte rate.

#include <QByteArray>

#include <optional>

class TLanguageTable;

struct TUpdateSettings {
    QByteArray Site;                 // #UpdateSite; "[error]" when missing, as every missing text
    std::optional<QByteArray> Key;   // #UpdateKey when the file has the line (even empty: then invalid)
    int Connections = 6;             // #UpdateConnections, 1 to 16
    qint64 MaxRate = 0;              // #UpdateMaxRate in bytes per second; 0: no limit

    static TUpdateSettings FromTable(const TLanguageTable& texts);
};
