#pragma once
// The updater's process-wide quiet flag, false at start. Set by the update window when the first
// command-line argument is exactly "quiet" (or "repair"); the window hands it to the update run,
// which then shows neither its "Error" nor its "Done" message.

extern bool QuietMode;
