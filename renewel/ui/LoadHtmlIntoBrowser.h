#pragma once
// LoadHtmlIntoBrowser: shows an HTML text in the browser area.

#include <QByteArray>

class BrowserArea;

// Shows an HTML text in the browser: its lines (split at CR LF, lone CR, lone LF) each followed
// by CR LF. Waits a few seconds at most for the page to load.
void LoadHtmlIntoBrowser(BrowserArea* browser, const QByteArray& Html);
