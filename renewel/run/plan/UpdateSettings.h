#pragma once
// What the language file says about updating, read once before a run: the update site, the
// studio's key, downloads at once, the byte rate and the mirrors.

#include <QByteArray>

#include <optional>
#include <vector>

class LanguageList;

struct UpdateSettings {
    QByteArray Site;                 // #UpdateSite; "[error]" when missing, as every missing text
    std::optional<QByteArray> Key;   // #UpdateKey when the file has the line (even empty: then invalid)
    // #UpdateConnections, 1 to MaxConnections: HTTP/1.1 connections at once. Over HTTP/1.1 each
    // connection carries one request per round trip, so many small files over a slow link need
    // about as many connections as curl's --parallel-max default (50) to keep up with it; HTTP/2
    // sites use one connection whatever this says.
    static constexpr int DefaultConnections = 48;
    static constexpr int MaxConnections = 64;
    int Connections = DefaultConnections;
    std::vector<QByteArray> Mirrors;  // #UpdateMirror lines in file order: more places with the site's files
    qint64 MaxRate = 0;              // #UpdateMaxRate in bytes per second; 0: no limit

    static UpdateSettings fromTable(const LanguageList& texts);
};
