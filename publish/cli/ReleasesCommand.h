#pragma once
// renewel-publish releases SITE_DIR: lists the releases kept beside the site that rollback can
// go back to, newest first.

#include <QStringList>

int releasesCommand(const QStringList& arguments);
