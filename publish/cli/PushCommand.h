#pragma once
// renewel-publish push SITE_DIR REMOTE [--keep N]: sends a published site to its origin with
// rclone, one line per object sent and deleted.

#include <QStringList>

int pushCommand(const QStringList& arguments);
