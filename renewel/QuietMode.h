#pragma once
// The updater's process-wide quiet flag, false at start. Set by the update window when the first
// command-line argument is exactly "quiet", and by the update run when no update list was stored.
// While it is true the updater shows neither its "Error" nor its "Done" message.

extern bool QuietMode;
