#pragma once
// renewel-publish RELEASE_DIR SITE_DIR [--key ...]: publishes a release and prints what it changed.

#include <QStringList>

int publishCommand(const QStringList& arguments);
