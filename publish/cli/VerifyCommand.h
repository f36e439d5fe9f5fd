#pragma once
// renewel-publish verify SITE_DIR [--pub PUBLIC_KEY_FILE]: checks a published site as a player's
// updater would, one line per problem; exit status 0 when the site is whole.

#include <QStringList>

int verifyCommand(const QStringList& arguments);
