#pragma once
// A failure of renewel-publish: the subject that failed (a file, a folder, an option, a tool) and
// the reason. Shown as "renewel-publish: SUBJECT: REASON".

#include <QString>

struct PublishError {
    QString subject;
    QString reason;
};
