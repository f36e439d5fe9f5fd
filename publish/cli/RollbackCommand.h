#pragma once
// renewel-publish rollback SITE_DIR RELEASE [--key ...]: publishes a release kept beside the site
// again, signed anew.

#include <QStringList>

int rollbackCommand(const QStringList& arguments);
