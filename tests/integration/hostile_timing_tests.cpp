// Hostile-server cases: timing.
