#pragma once
// The lines that tell what each changed file costs a player of the previous release ("patch N
// bytes", "chunks N bytes" or "whole N bytes"), the biggest first and at most MaxListedCosts of
// them, then the total. A release of thousands of changed files still prints a screenful.

#include "store/PatchPublisher.h"

#include <QByteArray>
#include <QList>

constexpr int MaxListedCosts = 20;

QList<QByteArray> fileCostLines(const PatchSummary& patches);
