#pragma once
// For the tests of interrupted runs: when RENEWEL_PUBLISH_STOP_AT names a step, the process kills
// itself (SIGKILL, as a crash or kill -9 would) on reaching it.

void stopPoint(const char* step);
